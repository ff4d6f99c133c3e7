// The `quillon` command's words: `quillon export`'s arguments, and the help texts.
#ifndef QUILLON_CLI_EXPORT_COMMAND_H_
#define QUILLON_CLI_EXPORT_COMMAND_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cmdline/command_options.h"

namespace quillon {

// Parses the arguments after the program name. On kUsageError, *error says what was wrong.
ParseOutcome ParseArguments(const std::vector<std::string>& args, ExportOptions* options,
                            std::string* error);

// Runs the export of `options` with the desktop program's engine (--desktop) or the rescue
// engine (cli/export_driver.h) and returns the exit status. Each mailbox's result goes to `out`,
// errors to `err`; the progress line, when `progress` is set, to `err` (a terminal).
int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* err, bool progress);

extern const char kUsage[];
// `quillon --help`: every command in one line, and how to begin.
extern const char kOverview[];

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_COMMAND_H_
