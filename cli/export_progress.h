// The progress line of an export on a terminal: which mailbox of how many, how far the current
// stage has read into its file (the search reads it from start to end, and so does the copying),
// and the messages written.
#ifndef QUILLON_CLI_EXPORT_PROGRESS_H_
#define QUILLON_CLI_EXPORT_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/command_output.h"
#include "cli/progress.h"

namespace quillon {

class ExportProgress {
 public:
  ExportProgress(std::FILE* err, bool enabled, bool dryRun) : line_(err, enabled) {
    state_.dryRun = dryRun;
  }

  // Mailbox `index` of `count`, at `path`, is begun: its search starts.
  void Begin(size_t index, size_t count, const std::string& path);
  // A read of the mailbox file ended at `end`.
  void Reached(uint64_t end);
  // The copying of the messages begins (once a mailbox): the reads start over.
  void Writing();
  // `n` messages of the mailbox are written.
  void Written(uint64_t n);
  // Takes the line off the screen, before a line is printed.
  void Clear() { line_.Clear(); }

 private:
  ProgressLine line_;
  ProgressState state_;
  uint64_t reached_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_PROGRESS_H_
