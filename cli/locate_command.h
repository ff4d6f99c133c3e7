// `quillon locate [PATH...]`: the Outlook Express store folders under each PATH (an old disk, a
// copied profile), each with its identity and its mailbox count; with no PATH on Windows, every
// identity's store that the registry names.
#ifndef QUILLON_CLI_LOCATE_COMMAND_H_
#define QUILLON_CLI_LOCATE_COMMAND_H_

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"

namespace quillon {

struct LocateOptions {
  bool json = false;
  std::vector<std::string> hives;  // copied NTUSER.DAT files that name identities
  std::vector<std::string> paths;  // none: the registry's stores (Windows only)
};

// Parses the words from "locate" on. On kUsageError, *error says what was wrong.
ParseOutcome ParseLocateArguments(const std::vector<std::string>& args, LocateOptions* options,
                                  std::string* error);

// Searches and prints one line (or JSON object) per store to `out`, what the search stepped over
// to `err`. Returns kExitOk when a store was found beneath every PATH; kExitFailed when a PATH
// holds none, is a file (the error says what it is and what to do) or cannot be read, as the
// other commands do; kExitUsage when no PATH was given where there is no registry to ask (the
// error then says so).
int RunLocate(const LocateOptions& options, std::FILE* out, std::FILE* err);

extern const char kLocateUsage[];

}  // namespace quillon

#endif  // QUILLON_CLI_LOCATE_COMMAND_H_
