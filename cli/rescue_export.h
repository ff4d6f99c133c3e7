// `quillon export` on the rescue engine: each mailbox planned (rescue/rescue.h), each message
// that can be read streamed into the output formats (output/mail_writer.h), a manifest of the
// files written, and a result line per mailbox that says what was written and what was not,
// and why.
#ifndef QUILLON_CLI_RESCUE_EXPORT_H_
#define QUILLON_CLI_RESCUE_EXPORT_H_

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "cli/export_command.h"
#include "fs/file_io.h"
#include "rescue/rescue.h"

namespace quillon {

// Where recovered deleted messages and fragments go, below the folder they were found in.
inline constexpr char kDeletedFolder[] = "Recovered deleted messages";
inline constexpr char kFragmentFolder[] = "Fragments";

class PathRule;

// Runs the export and returns the exit status: 0, kExitDamaged, kExitFailed, kExitUsage, or a
// stop's. Results go to `out`, errors and the progress line (when `progress`) to `err`. Each
// mailbox read is told to `rule` (cli/inputs.h), whose errors fail the run.
int RunRescueExport(const ExportOptions& options, PathRule* rule, std::FILE* out, std::FILE* err,
                    bool progress);

// What the rescue export and `quillon list` share.

// The mailbox file at `path` (UTF-8), opened for reading with every read reported to `onRead`
// (the offset the read reached), when set. Null with *error in the system's words.
std::unique_ptr<InputFile> OpenMailbox(const std::string& path,
                                       std::function<void(uint64_t)> onRead, std::string* error);

// What follows "PATH: failed after N messages: " when the rescue could not read the mailbox.
std::string ReadFailureWords(const std::string& path, const rescue::ReadError& error);

// The first bytes of `message` (up to kStartBytes, fewer when it ends or its header block ends
// before), for its facts. False when the read failed; *outcome says why.
inline constexpr size_t kStartBytes = 16 * 1024;
bool ReadMessageStart(rescue::MessageReader* reader, const rescue::PlannedMessage& message,
                      std::string* start, rescue::ReadOutcome* outcome);

}  // namespace quillon

#endif  // QUILLON_CLI_RESCUE_EXPORT_H_
