// What every command of `quillon` shares: its exit statuses, the stop that a signal or a console
// event requests, and the options of `quillon export` that the export's parts all read.
#ifndef QUILLON_CLI_COMMAND_H_
#define QUILLON_CLI_COMMAND_H_

#include <atomic>
#include <cstdint>
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

// Why the command stops early: a signal, or on Windows a console event.
enum class StopCause { kNone, kInterrupt, kHangUp, kTerminate };
// Safe from a signal handler and from any thread: records the first cause and asks the running
// export to stop at once. The export then removes the message it was writing.
void RequestStop(StopCause cause);
StopCause StopRequested();
// True once a stop was requested: for the readers that poll it.
const std::atomic<bool>* StopFlag();

// What a stop must reach besides StopFlag(): an engine that keeps a flag of its own. Stop() is
// called from a signal handler, so it may only store to atomics.
class StopTarget {
 public:
  virtual void Stop() = 0;

 protected:
  ~StopTarget() = default;
};
// From here on a stop reaches `target` too (null: none); one requested before reaches it now.
void SetStopTarget(StopTarget* target);

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

}  // namespace quillon

#endif  // QUILLON_CLI_COMMAND_H_
