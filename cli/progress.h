// The text of the command's live status line, fitted to the terminal's width.
#ifndef QUILLON_CLI_PROGRESS_H_
#define QUILLON_CLI_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

struct ProgressState {
  size_t mailbox = 1;  // 1-based
  size_t mailboxes = 1;
  unsigned percent = 0;  // of the mailbox's bytes the current stage has read
  bool writing = false;  // false while searching
  bool dryRun = false;
  uint32_t written = 0;  // message files written (counted, in a dry run)
  std::string path;      // UTF-8
  uint64_t size = 0;     // of the mailbox, in bytes
};

// One line of at most `columns` - 1 display columns (the last column would make some terminals
// wrap), what matters first: "[k/n] 37% 12 written", then the path and the size while they fit,
// the path shortened from the left ("...ox.dbx") when it must be. Control characters in the path
// show as '?', so no file name can move the cursor.
std::string FormatProgress(const ProgressState& state, size_t columns);

// The columns a UTF-8 text takes on a terminal: 2 for East Asian wide characters, else 1 per
// character (and per byte of invalid UTF-8).
size_t DisplayWidth(const std::string& utf8);

// `utf8` in exactly `columns` display columns when `pad`, else at most that many: control
// characters shown as '?', cut on a character boundary with "…" at the end when it is longer.
std::string FitColumns(const std::string& utf8, size_t columns, bool pad);

// "512 bytes", "1.5 KiB", "2.0 GiB".
std::string HumanSize(uint64_t bytes);

}  // namespace quillon

#endif  // QUILLON_CLI_PROGRESS_H_
