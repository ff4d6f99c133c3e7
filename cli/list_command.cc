#include "cli/list_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "catalogue/text.h"
#include "cli/codepage_option.h"
#include "cli/command_output.h"
#include "cli/export_report.h"
#include "cli/inputs.h"
#include "cli/message_facts.h"
#include "cli/plan_walk.h"
#include "cmdline/command_options.h"
#include "hash/digest.h"
#include "output/mail_time.h"
#include "output/manifest.h"

namespace quillon {

const char kListUsage[] =
    "Usage: quillon list [OPTION...] PATH...\n"
    "Lists the messages the rescue finds in each mailbox file (.dbx): one row per message with\n"
    "its status, received date, size, sender and subject, cut to the terminal's width. Each PATH\n"
    "is a mailbox file, or a folder whose *.dbx files are all read.\n"
    "\n"
    "  --json             one JSON object a line: the manifest's fields, without the path\n"
    "  --deleted          also the deleted messages\n"
    "  --fragments        also the fragments\n"
    "  --codepage N       " QUILLON_CODEPAGE_HELP
    "  -r, --recursive    list every store folder found in or beneath each folder PATH\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "A mailbox's own line (its path and folder) comes before the header of its rows.\n"
    "\n"
    "Exit status: 0 when every mailbox was read, 2 when one could not be or a PATH yields no\n"
    "mailbox (a folder without one, a file that is not one: the error says what it is), 64 for\n"
    "a usage error, 130, 143 or 129 when stopped by a signal.\n";

namespace {

using rescue::PlannedMessage;
using rescue::ReadOutcome;
using rescue::Status;

constexpr size_t kStatusColumns = 12;  // "headers-only"
constexpr size_t kDateColumns = 16;    // "2005-01-03 10:00"
constexpr size_t kSizeColumns = 6;
constexpr size_t kFromColumns = 28;  // when the width is not known
// A deleted message that is live elsewhere in the run: "deleted-also-live" in JSON.
constexpr char kDeletedCopy[] = "deleted-also-live";

std::string Received(const std::optional<int64_t>& t) {
  if (!t) return "-";
  const std::string iso = Iso8601Utc(*t);  // "2005-01-03T10:00:00Z"
  return iso.size() < 16 ? "-" : iso.substr(0, 10) + " " + iso.substr(11, 5);
}

// The row's label of a status: "deleted-also-live" is too wide for its column.
std::string Label(const std::string& status) {
  return status == kDeletedCopy ? "deleted-copy" : status;
}

// Walks the run's mailboxes (cli/plan_walk.h) and prints a row for each message.
class Lister final : private PlanVisitor {
 public:
  Lister(const ListOptions& options, std::FILE* out, std::FILE* err, size_t columns)
      : o_(options),
        print_(out, err, false),
        columns_(columns),
        walk_(o_.deleted, o_.fragments, this) {}

  int Run();

 private:
  std::function<void(uint64_t)> Opening(size_t, bool) override { return nullptr; }
  void NotOpened(size_t index, const std::string& error) override;
  bool Planned(size_t index, rescue::MailboxRescue& rescue, rescue::RecordReader*) override;
  bool Visit(const WalkedMessage& w) override;
  bool Walked(size_t index, const rescue::MailboxRescue& rescue, bool ended) override;
  bool Examined(size_t index, const rescue::MailboxRescue& rescue,
                const ReadOutcome& outcome) override;
  bool VisitDeleted(const WalkedMessage& w) override;
  bool WalkedDeleted(size_t index, bool ended) override;

  // Prints one message; false when reading it failed (*outcome says why) or a stop came.
  // `records` reads the index records again (null: none is wanted, as for deleted messages).
  bool Show(const std::string& path, const rescue::MailboxRescue& rescue,
            rescue::MessageReader* reader, rescue::RecordReader* records, const PlannedMessage& m,
            uint32_t number, const std::string& status, bool printLive, ReadOutcome* outcome);
  void Failed(const std::string& path, const ReadOutcome& outcome);
  void Header() {
    print_.Result(ListRow("STATUS", "RECEIVED", "SIZE", "FROM", "SUBJECT", columns_));
  }

  const ListOptions& o_;
  Printer print_;
  size_t columns_;
  StoreReader stores_{o_.codePage,
                      [this](const std::string& note) { print_.Error("quillon: " + note); }};
  PlanWalk walk_;
  std::vector<std::string> mailboxes_;
  ReadOutcome outcome_;       // of the message that ended a mailbox
  PathRule* rule_ = nullptr;  // the run's, while it runs
  bool failed_ = false;
};

void Lister::Failed(const std::string& path, const ReadOutcome& outcome) {
  if (StopRequested() != StopCause::kNone ||
      outcome.error.failure == rescue::ReadFailure::kAborted) {
    return;
  }
  failed_ = true;
  print_.Error(path + ": failed: " + ReadFailureWords(path, outcome.error));
}

bool Lister::Show(const std::string& path, const rescue::MailboxRescue& rescue,
                  rescue::MessageReader* reader, rescue::RecordReader* records,
                  const PlannedMessage& m, uint32_t number, const std::string& status,
                  bool printLive, ReadOutcome* outcome) {
  std::string start;
  if (m.blocks > 0 && !ReadMessageStart(reader, m, &start, outcome)) return false;
  const catalogue::MessageInfo* record = records != nullptr ? records->RecordOf(m) : nullptr;
  const StoreFolders& store = stores_.Of(path);
  output::MessageFacts facts = FactsOf(path, record, m, number, start, store);
  facts.folder = store.PathOf(path, rescue.catalogue.fileInfo.name);
  facts.status = status;
  uint64_t size = m.size;
  std::optional<Sha256Digest> sha256;
  // The size and digest of the bytes as exported need them all read; so do the prints of live
  // messages that deleted ones are compared with.
  if (m.blocks > 0 && (o_.json || printLive)) {
    Sha256 hash;
    rescue::MessagePrinter printer;
    size = 0;
    *outcome = reader->Read(m, [&](const uint8_t* p, size_t n) {
      if (StopRequested() != StopCause::kNone) return false;
      size += n;
      if (o_.json) hash.Update(p, n);
      if (printLive) printer.Update(p, n);
      return true;
    });
    if (outcome->result != ReadOutcome::kComplete) return false;
    if (o_.json) sha256 = hash.Finish();
    if (printLive) walk_.live().Add(printer.Finish(), path + " #" + std::to_string(number));
  }
  if (o_.json) {
    print_.Json(output::MessageLine(facts, size, sha256));
  } else {
    print_.Result(ListRow(Label(status), Received(facts.received),
                          m.blocks > 0 ? ShortSize(size) : "-", facts.from, facts.subject,
                          columns_));
  }
  return true;
}

void Lister::NotOpened(size_t index, const std::string& error) {
  failed_ = true;
  print_.Error(mailboxes_[index] + ": cannot be opened: " + error);
}

bool Lister::Planned(size_t index, rescue::MailboxRescue& rescue, rescue::RecordReader*) {
  const std::string& path = mailboxes_[index];
  if (rescue.error.failure != rescue::ReadFailure::kNone) {
    Failed(path, ReadOutcome{ReadOutcome::kFailed, 0, rescue.error});
    return false;
  }
  const std::string broken = rule_->Read(path, FoundAny(rescue.plan));
  if (!broken.empty()) {
    failed_ = true;
    print_.Error(broken);
    return false;
  }
  const rescue::RescuePlan& plan = rescue.plan;
  if (!o_.json) {
    // The mailbox's own line, then the header of its rows.
    // A store's own files (Folders.dbx...) are named after themselves: no folder lists them.
    const catalogue::FileKind kind = rescue.catalogue.kind;
    const bool storeFile = kind == catalogue::FileKind::kFolders ||
                           kind == catalogue::FileKind::kOffline ||
                           kind == catalogue::FileKind::kPop3uidl;
    const StoreFolders& store = stores_.Of(path);
    const std::vector<std::string> folder =
        storeFile ? output::FolderPaths().PathOf(path, "")
                  : store.PathOf(path, rescue.catalogue.fileInfo.name);
    std::string where;
    for (const std::string& name : folder) where += (where.empty() ? "" : "/") + name;
    print_.Result(path + " (" + where + ")" + (plan.messages.empty() ? ": no messages found" : ""));
    if (kind == catalogue::FileKind::kMessages && !store.Listed(path)) {
      print_.Result("  " + UnlistedWords(folder));
    }
    if (!plan.messages.empty()) Header();
  }
  outcome_ = ReadOutcome();
  return true;
}

bool Lister::Visit(const WalkedMessage& w) {
  const PlannedMessage& m = w.message;
  return Show(mailboxes_[w.mailbox], w.rescue, w.reader, w.records, m, w.number,
              rescue::StatusName(m.status), o_.deleted && m.status == Status::kLive, &outcome_);
}

bool Lister::Walked(size_t index, const rescue::MailboxRescue&, bool ended) {
  if (ended || StopRequested() != StopCause::kNone) {
    Failed(mailboxes_[index], outcome_);
    return false;
  }
  return o_.deleted;
}

bool Lister::Examined(size_t index, const rescue::MailboxRescue&, const ReadOutcome& outcome) {
  outcome_ = outcome;
  if (outcome.result != ReadOutcome::kComplete) return false;
  if (!o_.json) {
    print_.Result(mailboxes_[index] + " (deleted)");
    Header();
  }
  return true;
}

bool Lister::VisitDeleted(const WalkedMessage& w) {
  const std::string status = w.message.liveCopy != rescue::kNoRecord ? kDeletedCopy : "deleted";
  return Show(mailboxes_[w.mailbox], w.rescue, w.reader, nullptr, w.message, w.number, status,
              false, &outcome_);
}

bool Lister::WalkedDeleted(size_t index, bool ended) {
  if (ended || StopRequested() != StopCause::kNone) Failed(mailboxes_[index], outcome_);
  return true;
}

int Lister::Run() {
  InputOptions inputOptions;
  inputOptions.recursive = o_.recursive;
  const ExpandedInputs inputs = ExpandInputs(o_.paths, inputOptions);
  for (const InputGroup& group : inputs.groups) {
    mailboxes_.insert(mailboxes_.end(), group.mailboxes.begin(), group.mailboxes.end());
  }
  PathRule rule(inputs, "list");
  rule_ = &rule;
  for (const std::string& e : rule.Start()) print_.Error(e);
  for (const UnreadableInput& u : inputs.unreadable) {
    print_.Error("quillon: " + u.given + ": cannot be read: " + u.reason);
    failed_ = true;
  }
  for (size_t i = 0; i < mailboxes_.size(); ++i) {
    if (StopRequested() != StopCause::kNone) break;
    walk_.Mailbox(i, mailboxes_[i]);
  }
  size_t stoppedAt = 0;
  walk_.Deleted(&stoppedAt);
  const StopCause cause = StopRequested();
  if (cause != StopCause::kNone) {
    const StopReport report = ReportOf(cause);
    print_.Error(std::string("quillon: ") + report.what);
    return report.status;
  }
  for (const std::string& e : rule.Finish(failed_)) print_.Error(e);
  return failed_ || rule.broken() ? kExitFailed : kExitOk;
}

}  // namespace

std::string ShortSize(uint64_t bytes) {
  if (bytes < 10000) return std::to_string(bytes);
  const char* units = "KMGT";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 999.5 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[16];
  std::snprintf(text, sizeof text, value < 9.95 ? "%.1f%c" : "%.0f%c", value, units[unit]);
  return text;
}

std::string ListRow(const std::string& status, const std::string& received, const std::string& size,
                    const std::string& from, const std::string& subject, size_t columns) {
  const size_t fixed = kStatusColumns + 2 + kDateColumns + 2 + kSizeColumns + 2;
  size_t fromColumns = kFromColumns;
  size_t subjectColumns = 0;  // 0: whole
  if (columns > 0) {
    // The last column is left free: some terminals wrap when a line fills it.
    const size_t rest = columns - 1 > fixed + 2 ? columns - 1 - fixed - 2 : 2;
    fromColumns = std::min<size_t>(std::max<size_t>(rest * 2 / 5, 1), 30);
    subjectColumns = rest - fromColumns;
  }
  std::string sizeText = FitColumns(size, kSizeColumns, false);
  sizeText.insert(0, kSizeColumns - std::min(kSizeColumns, sizeText.size()), ' ');
  std::string row = FitColumns(status, kStatusColumns, true) + "  " +
                    FitColumns(received, kDateColumns, true) + "  " + sizeText + "  " +
                    FitColumns(from, fromColumns, true) + "  " +
                    (subjectColumns > 0 ? FitColumns(subject, subjectColumns, false)
                                        : FitColumns(subject, subject.size(), false));
  while (!row.empty() && row.back() == ' ') row.pop_back();
  // Narrower than the fixed columns: what fits.
  return columns > 0 ? FitColumns(row, columns - 1, false) : row;
}

ParseOutcome ParseListArguments(const std::vector<std::string>& args, ListOptions* options,
                                std::string* error) {
  enum { kJson = 0x100, kDeleted, kFragments, kCodePage };
  const std::vector<OptionDef> defs = {
      {"json", kJson, "", &options->json},
      {"deleted", kDeleted, "", &options->deleted},
      {"fragments", kFragments, "", &options->fragments},
      {"codepage", kCodePage, "a value"},
      {"recursive", 'r', "", &options->recursive},
  };
  const ParseOutcome outcome = ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string* why) {
        return id != kCodePage || ParseCodePage(value, &options->codePage, why);
      },
      &options->paths, error);
  if (outcome == ParseOutcome::kRun && options->paths.empty()) {
    *error = "no mailbox file or folder given";
    return ParseOutcome::kUsageError;
  }
  return outcome;
}

int RunList(const ListOptions& options, std::FILE* out, std::FILE* err, size_t columns) {
  Lister lister(options, out, err, columns);
  return lister.Run();
}

}  // namespace quillon
