// The `quillon` command: argument parsing, finding the mailbox files, and the export loop.
#ifndef QUILLON_CLI_EXPORT_COMMAND_H_
#define QUILLON_CLI_EXPORT_COMMAND_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cmdline/command_options.h"
#include "output/folder_tree.h"

namespace quillon {

// Exit statuses, as scripts expect of Unix tools: a stop by a signal gives 128 + its number.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 2;  // some mailbox could not be exported
// Everything readable was written, but mailboxes were damaged: messages they list are damaged
// or lost (the rescue engine's export only).
inline constexpr int kExitDamaged = 3;
inline constexpr int kExitUsage = 64;         // EX_USAGE; also a run refused before it began
inline constexpr int kExitHangUp = 129;       // SIGHUP (on Windows: the console was closed)
inline constexpr int kExitInterrupted = 130;  // SIGINT, Ctrl-C
inline constexpr int kExitTerminated = 143;   // SIGTERM

struct ExportOptions {
  std::string outputFolder = ".";
  bool quiet = false;
  bool dryRun = false;
  bool recursive = false;  // every store in or beneath a folder, each into a subfolder of its own
  // The extraction engine, as Quillon.exe exports: .eml files only, none of the options below.
  bool desktop = false;
  output::Format format = output::Format::kEml;
  bool tree = false;         // mirror the folders of Folders.dbx
  std::string nameTemplate;  // eml names; empty: "{mailbox}-{n}"
  std::string manifestPath;  // a copy of the manifest there too
  bool update = false;       // eml and maildir: write only what is not there whole
  bool deleted = false;      // recovered deleted messages too, apart from the live ones
  bool fragments = false;    // fragments too, apart from the messages
  uint32_t codePage = 0;     // of the mailboxes' 8-bit texts; 0: each message's own, else 1252
  std::vector<std::string> paths;
};

// Parses the arguments after the program name. On kUsageError, *error says what was wrong.
ParseOutcome ParseArguments(const std::vector<std::string>& args, ExportOptions* options,
                            std::string* error);

// The mailbox files that `paths` name: a file as given, a folder as its *.dbx files (the
// extension in any case), sorted by name. A folder without any gives *emptyFolders an entry.
// Paths are UTF-8; listing a folder opens none of its files.
std::vector<std::string> ListMailboxes(const std::vector<std::string>& paths,
                                       std::vector<std::string>* emptyFolders);

// Two mailboxes of one run whose messages would get the same file names in the output folder.
struct NameClash {
  std::string first, second;
};
// All mailboxes of a run write into one folder, so two of the same file name (as the output
// folder's file system compares names) would overwrite each other's messages: returns each such
// pair. The same file named twice (a folder and a file in it, say) would only write the same
// files again: its later mentions are removed from *mailboxes instead.
std::vector<NameClash> DropRepeatsAndFindClashes(std::vector<std::string>* mailboxes);

// Why the command stops early: a signal, or on Windows a console event.
enum class StopCause { kNone, kInterrupt, kHangUp, kTerminate };
// Safe from a signal handler and from any thread: records the first cause and asks the running
// export to stop at once. The export then removes the message it was writing.
void RequestStop(StopCause cause);
StopCause StopRequested();
// True once a stop was requested: for the rescue engine's readers, which poll it.
const std::atomic<bool>* StopFlag();

// What follows "PATH: failed after N messages: " when the engine could not read the mailbox:
// "cannot read Inbox.dbx at offset 0x1A2B00: Input/output error"; and when the mailbox shrank
// under the export.
std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason);
inline constexpr char kChangedWords[] = "changed while it was being exported";

// Runs the export with the extraction engine (--desktop) and returns the exit status. Each
// mailbox's result goes to `out`, errors to `err`; the progress line, when `progress` is set, to
// `err` (a terminal).
int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* err, bool progress);

extern const char kUsage[];
// `quillon --help`: every command in one line, and how to begin.
extern const char kOverview[];

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_COMMAND_H_
