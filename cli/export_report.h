// The words an export reports with: what became of a mailbox and why it failed.
#ifndef QUILLON_CLI_EXPORT_REPORT_H_
#define QUILLON_CLI_EXPORT_REPORT_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command.h"
#include "output/manifest.h"
#include "rescue/rescue.h"

namespace quillon {

struct PlacedMailbox;

// What follows "PATH: failed after N messages: " when the engine could not read the mailbox:
// "cannot read Inbox.dbx at offset 0x1A2B00: Input/output error"; and when the mailbox shrank
// under the export.
std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason);
inline constexpr char kChangedWords[] = "changed while it was being exported";

// The same for the rescue engine's read failures.
std::string ReadFailureWords(const std::string& path, const rescue::ReadError& error);

// Damaged and lost messages named under a mailbox's result line, at most.
inline constexpr size_t kMaxDetails = 10;

// What became of one mailbox's messages in the rescue engine's export.
struct Tally {
  std::array<uint64_t, rescue::kStatusCount> counts{};  // found, by status
  uint64_t written = 0;  // messages written (skipped ones under --update included)
  uint64_t damaged = 0;  // of them
  uint64_t fragments = 0;
  uint64_t deletedWritten = 0;
  uint64_t deletedCopies = 0;
  uint64_t bytes = 0;  // of the messages, for --dry-run
  output::UpdateCounts update;
  std::vector<std::string> details;  // damaged and lost messages, named
  uint64_t moreDetails = 0;
  bool failed = false;
  bool stopped = false;

  // Names a damaged or lost message under the result line (the first kMaxDetails), or counts it.
  void Detail(std::string text);
};

// The notes of a message in words: the first, and how many more.
std::string NotesOf(const rescue::RescuePlan& plan, const rescue::PlannedMessage& m);

// A mailbox's result line and the lines beneath it: what was written, what was not and why,
// the damaged and lost messages. `updating`: --update's counts of files kept, written and
// rewritten.
std::vector<std::string> MailboxReport(const PlacedMailbox& box,
                                       const rescue::MailboxRescue& rescue, const Tally& tally,
                                       const ExportOptions& o, bool updating);

// The result line of a mailbox's deleted messages, written into kDeletedFolder.
std::string DeletedReport(const std::string& path, const Tally& tally, bool dryRun);

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_REPORT_H_
