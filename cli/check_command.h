// `quillon check PATH...`: what each mailbox file is and what became of its messages, read from
// its index and a scan of its blocks, without reading the messages themselves (but for the
// header lines of a few, once per store, that tell its code page: cli/store_folders.h). For a
// store folder also the folder tree of its Folders.dbx, with the files no folder names and the
// folders whose file is missing.
#ifndef QUILLON_CLI_CHECK_COMMAND_H_
#define QUILLON_CLI_CHECK_COMMAND_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"

namespace quillon {

// Exit statuses of `check` besides kExitOk and kExitUsage.
inline constexpr int kExitCheckDamaged = 1;  // a listed message is lost or damaged
inline constexpr int kExitUnreadable = 2;    // a file or folder could not be read, or held nothing

struct CheckOptions {
  bool json = false;
  bool recursive = false;
  uint32_t codePage = 0;  // 0: found from the store's names, else Windows-1252
  std::vector<std::string> paths;
};

// Parses the words from "check" on. On kUsageError, *error says what was wrong.
ParseOutcome ParseCheckArguments(const std::vector<std::string>& args, CheckOptions* options,
                                 std::string* error);

// Checks every mailbox `options.paths` stand for: one line (or JSON object) per mailbox to `out`,
// errors to `err`. Returns the exit status.
int RunCheck(const CheckOptions& options, std::FILE* out, std::FILE* err);

// A damage list longer than this shows its first entries and "and N more"; --json gives more.
inline constexpr size_t kShownDamage = 5;
inline constexpr size_t kShownDamageJson = 100;

extern const char kCheckUsage[];

}  // namespace quillon

#endif  // QUILLON_CLI_CHECK_COMMAND_H_
