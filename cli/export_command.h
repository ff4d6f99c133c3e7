// The `quillon` command: argument parsing, finding the mailbox files, and the export loop.
#ifndef QUILLON_CLI_EXPORT_COMMAND_H_
#define QUILLON_CLI_EXPORT_COMMAND_H_

#include <cstdio>
#include <string>
#include <vector>

namespace quillon {

// Exit statuses, as scripts expect of Unix tools.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 2;         // some mailbox could not be exported
inline constexpr int kExitUsage = 64;         // EX_USAGE
inline constexpr int kExitInterrupted = 130;  // 128 + SIGINT

struct ExportOptions {
  std::string outputFolder = ".";
  bool quiet = false;
  bool dryRun = false;
  std::vector<std::string> paths;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// Parses the arguments after the program name. On kUsageError, *error says what was wrong.
ParseOutcome ParseArguments(const std::vector<std::string>& args, ExportOptions* options,
                            std::string* error);

// The mailbox files that `paths` name: a file as given, a folder as its *.dbx files (the
// extension in any case), sorted by name. A folder without any gives *emptyFolders an entry.
std::vector<std::string> ListMailboxes(const std::vector<std::string>& paths,
                                       std::vector<std::string>* emptyFolders);

// Set from a signal handler; the export stops at the next message file.
void RequestInterrupt();
bool InterruptRequested();

// Runs the export and returns the exit status. Lines go to `out`; the progress line, when
// `progress` is set, to `status` (a terminal).
int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* status, bool progress);

extern const char kUsage[];

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_COMMAND_H_
