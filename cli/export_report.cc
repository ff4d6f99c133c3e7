#include "cli/export_report.h"

#include <cstdio>
#include <utility>

#include "catalogue/catalogue.h"
#include "cli/command_output.h"
#include "cli/export_places.h"
#include "cli/plan_walk.h"

namespace quillon {

using rescue::Status;

namespace {

// "(not an Outlook Express mailbox file)" is said of a file without the signature.
bool HasSignature(const catalogue::Catalogue& cat) { return cat.header.magic == 0xFE12ADCFu; }

}  // namespace

std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason) {
  char at[24];
  std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(offset));
  return "cannot read " + path + " at offset " + at + ": " + reason;
}

std::string ReadFailureWords(const std::string& path, const rescue::ReadError& error) {
  if (error.failure == rescue::ReadFailure::kChanged) return kChangedWords;
  return CannotReadWords(path, error.offset, error.reason);
}

void Tally::Detail(std::string text) {
  if (details.size() < kMaxDetails) {
    details.push_back(std::move(text));
  } else {
    ++moreDetails;
  }
}

std::string NotesOf(const rescue::RescuePlan& plan, const rescue::PlannedMessage& m) {
  if (m.noteCount == 0) return "its chain breaks";
  std::string words = plan.NotesOf(m)[0].reason;
  if (m.noteCount > 1) words += " (and " + Plural(m.noteCount - 1, "more note", "more notes") + ")";
  return words;
}

std::vector<std::string> MailboxReport(const PlacedMailbox& box,
                                       const rescue::MailboxRescue& rescue, const Tally& tally,
                                       const ExportOptions& o, bool updating) {
  const rescue::RescuePlan& plan = rescue.plan;
  std::vector<std::string> notWritten;
  const auto add = [&](uint64_t n, const std::string& what) {
    if (n > 0) notWritten.push_back(std::to_string(n) + " " + what);
  };
  if (const uint64_t n = plan.Count(Status::kHeadersOnly)) {
    const catalogue::FolderFileInfo& info = rescue.catalogue.fileInfo;
    notWritten.push_back(
        HeadersOnlyWords(n, info.present ? catalogue::SourceName(info.source) : nullptr));
  }
  add(plan.Count(Status::kLost), "lost");
  if (!o.deleted) add(plan.Count(Status::kDeleted), "deleted (--deleted)");
  if (!o.fragments) {
    add(plan.Count(Status::kFragment),
        plan.Count(Status::kFragment) == 1 ? "fragment (--fragments)" : "fragments (--fragments)");
  }
  std::string line;
  if (!FoundAny(plan)) {
    line = box.path + (HasSignature(rescue.catalogue)
                           ? ": no messages found"
                           : ": no messages found (not an Outlook Express mailbox file)");
  } else {
    const std::string verb = o.dryRun ? " would be written" : " written";
    line = box.path + ": " + Messages(tally.written);
    if (updating) {
      line += ": " + std::to_string(tally.update.skipped) + " already there, " +
              std::to_string(tally.update.written) + " written, " +
              std::to_string(tally.update.rewritten) + " rewritten";
    } else {
      line += verb;
    }
    if (tally.damaged > 0) line += " (" + std::to_string(tally.damaged) + " damaged)";
    if (o.dryRun) line += " (" + std::to_string(tally.bytes) + " bytes)";
    if (tally.fragments > 0) line += ", " + Plural(tally.fragments, "fragment", "fragments") + verb;
    if (!notWritten.empty()) {
      line += "; not written:";
      for (size_t k = 0; k < notWritten.size(); ++k) line += (k ? ", " : " ") + notWritten[k];
    }
  }
  std::vector<std::string> lines{line};
  if (box.unlisted) {
    // Flat eml files are named after the mailbox file, not its folder.
    lines.push_back("  " +
                    UnlistedWords(box.place.empty() ? std::vector<std::string>() : box.shown));
  }
  for (const std::string& d : tally.details) lines.push_back("  " + d);
  if (tally.moreDetails > 0) {
    lines.push_back("  and " + std::to_string(tally.moreDetails) +
                    " more damaged or lost (the manifest lists every file written)");
  }
  return lines;
}

std::string DeletedReport(const std::string& path, const Tally& tally, bool dryRun) {
  std::string line = path + ": " +
                     Plural(tally.deletedWritten, "deleted message", "deleted messages") +
                     (dryRun ? " would be written" : " written") + " (into " + kDeletedFolder + ")";
  if (tally.deletedCopies > 0) {
    line += "; not written: " + std::to_string(tally.deletedCopies) +
            " deleted here but live elsewhere in this run";
  }
  return line;
}

}  // namespace quillon
