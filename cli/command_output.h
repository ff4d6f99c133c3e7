// What every subcommand of `quillon` shares on its way to the user: result lines and errors, the
// live progress line on a terminal, the words for a stop and for the output folder.
#ifndef QUILLON_CLI_COMMAND_OUTPUT_H_
#define QUILLON_CLI_COMMAND_OUTPUT_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/progress.h"
#include "cli/terminal.h"

namespace quillon {

// "1 folder", "2 folders": `n` and the word for its number.
std::string Plural(uint64_t n, const char* one, const char* many);
// "1 message", "2 messages".
std::string Messages(uint64_t n);

// Writes `line` and a line feed, the line made printable first (PrintableText): every line the
// commands print goes through here, so that no path or mail text can act on the terminal.
bool WriteLine(std::FILE* stream, const std::string& line);

// Every error line starts so.
inline constexpr char kErrorPrefix[] = "quillon: ";

// `line` as an error line: kErrorPrefix first, added when the caller did not.
std::string ErrorLine(const std::string& line);

// Result lines to standard output (none with -q, and none once its reader has gone: the command
// goes on and its exit status tells how it went), errors to standard error.
class Printer {
 public:
  Printer(std::FILE* out, std::FILE* err, bool quiet) : out_(out), err_(err), quiet_(quiet) {}

  void Result(const std::string& line) {
    if (quiet_ || !outOpen_) return;
    outOpen_ = WriteLine(out_, line);
  }
  // A line of JSON, whose writer escaped its control characters already: kept byte for byte.
  void Json(const std::string& line) {
    if (quiet_ || !outOpen_) return;
    outOpen_ = WriteText(out_, line + "\n");
  }
  void Error(const std::string& line) { WriteLine(err_, ErrorLine(line)); }

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  bool outOpen_ = true;
};

// The live status line on a terminal: redrawn at most ten times a second, erased when done. It
// is padded with spaces over the one before instead of erased with an escape sequence, which
// every console understands.
class ProgressLine {
 public:
  ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  void Show(const ProgressState& state, bool force);
  void Clear();

 private:
  std::FILE* stream_;
  bool enabled_;
  size_t shown_ = 0;  // columns of the line on screen
  std::chrono::steady_clock::time_point last_;
};

// Said under a mailbox file that its store's Folders.dbx does not list, `folder` the path it is
// given instead: "Folders.dbx does not list this file: its folder is "Unlisted files/Old Archive"";
// without the folder when `folder` is empty (its files are named after the mailbox file).
std::string UnlistedWords(const std::vector<std::string>& folder);

// "6 headers only (their bodies were never downloaded from the IMAP server)": why messages of
// a folder of `source` ("imap", "news", "http", "local" or null) have no body.
std::string HeadersOnlyWords(uint64_t n, const char* source);

// The output folder as the user wrote it, ending in a separator: "ro/".
std::string FolderForDisplay(const std::string& folder);

// For --dry-run: what the real run would find wrong with the output folder, in its words; empty
// when it could create the folder (when missing) and files in it. The probe creates a temporary
// file in the folder, or a temporary folder in its nearest existing parent, and removes it.
std::string CheckOutputFolder(const std::string& folder);

// For --manifest FILE: what makes FILE no place for a copy of the manifest, in words; empty when
// it can be written. Refused: a FILE that is there and is no regular file (a link, a device, a
// folder: the copy is renamed over FILE at the end, and must replace nothing else), one of
// `inputs` (the mailbox files the run reads), or one that lies in the output folder `folder`,
// among the files the export writes. The output folder's own manifest is no copy at all: *own
// is set for it instead.
std::string CheckManifestCopy(const std::string& file, const std::string& folder,
                              const std::vector<std::string>& inputs, bool* own);

// Said when a stop cut the run short, and the exit status it gives.
struct StopReport {
  const char* what;
  int status;
};
StopReport ReportOf(StopCause cause);

}  // namespace quillon

#endif  // QUILLON_CLI_COMMAND_OUTPUT_H_
