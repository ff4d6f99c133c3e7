// The words an export reports with: what became of a mailbox and why it failed.
#ifndef QUILLON_CLI_EXPORT_REPORT_H_
#define QUILLON_CLI_EXPORT_REPORT_H_

#include <cstdint>
#include <string>

#include "rescue/rescue.h"

namespace quillon {

// What follows "PATH: failed after N messages: " when the engine could not read the mailbox:
// "cannot read Inbox.dbx at offset 0x1A2B00: Input/output error"; and when the mailbox shrank
// under the export.
std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason);
inline constexpr char kChangedWords[] = "changed while it was being exported";

// The same for the rescue engine's read failures.
std::string ReadFailureWords(const std::string& path, const rescue::ReadError& error);

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_REPORT_H_
