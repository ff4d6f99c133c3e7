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

class Lister {
 public:
  Lister(const ListOptions& options, std::FILE* out, std::FILE* err, size_t columns)
      : o_(options), print_(out, err, false), columns_(columns) {}

  int Run();

 private:
  void ListMailbox(const std::string& path);
  void ListDeleted(const std::string& path, rescue::MailboxRescue& rescue);
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
  rescue::LiveMessageSet live_;
  std::vector<std::pair<std::string, rescue::MailboxRescue>> deferred_;
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
    if (printLive) live_.Add(printer.Finish(), path + " #" + std::to_string(number));
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

void Lister::ListMailbox(const std::string& path) {
  std::string error;
  std::unique_ptr<InputFile> file = OpenMailbox(path, nullptr, &error);
  if (!file) {
    failed_ = true;
    print_.Error(path + ": cannot be opened: " + error);
    return;
  }
  rescue::RescueOptions options;
  options.deleted = o_.deleted;
  options.fragments = o_.fragments;
  options.abort = StopFlag();
  rescue::ScanOptions scanning;
  scanning.threads = 2;  // as for export
  rescue::MailboxRescue rescue = rescue::PlanRescue(file.get(), options, nullptr, scanning);
  if (rescue.error.failure != rescue::ReadFailure::kNone) {
    Failed(path, ReadOutcome{ReadOutcome::kFailed, 0, rescue.error});
    return;
  }
  bool foundAny = false;
  for (uint64_t count : rescue.plan.counts) foundAny = foundAny || count > 0;
  const std::string broken = rule_->Read(path, foundAny);
  if (!broken.empty()) {
    failed_ = true;
    print_.Error(broken);
    return;
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
  rescue::MessageReader reader(file.get(), plan, StopFlag());
  rescue::RecordReader records(file.get(), plan.fileSize, StopFlag());
  uint32_t fragment = 0;
  for (size_t i = 0; i < plan.messages.size(); ++i) {
    const PlannedMessage& m = plan.messages[i];
    if (m.status == Status::kDeleted) continue;  // once every live message has been seen
    const uint32_t number = m.status == Status::kFragment ? ++fragment
                            : i < plan.exported           ? static_cast<uint32_t>(i + 1)
                                                          : 0;
    ReadOutcome outcome;
    if (StopRequested() != StopCause::kNone ||
        !Show(path, rescue, &reader, &records, m, number, rescue::StatusName(m.status),
              o_.deleted && m.status == Status::kLive, &outcome)) {
      Failed(path, outcome);
      return;
    }
  }
  if (plan.Count(Status::kDeleted) > 0 && o_.deleted) {
    deferred_.emplace_back(path, std::move(rescue));
  }
}

void Lister::ListDeleted(const std::string& path, rescue::MailboxRescue& rescue) {
  std::string error;
  std::unique_ptr<InputFile> file = OpenMailbox(path, nullptr, &error);
  if (!file) {
    failed_ = true;
    print_.Error(path + ": cannot be opened: " + error);
    return;
  }
  ReadOutcome outcome;
  rescue.plan =
      rescue::ExamineDeleted(file.get(), std::move(rescue.plan), live_, &outcome, StopFlag());
  if (outcome.result != ReadOutcome::kComplete) {
    Failed(path, outcome);
    return;
  }
  if (!o_.json) {
    print_.Result(path + " (deleted)");
    Header();
  }
  rescue::MessageReader reader(file.get(), rescue.plan, StopFlag());
  uint32_t number = 0;
  for (const PlannedMessage& m : rescue.plan.messages) {
    if (m.status != Status::kDeleted) continue;
    const std::string status = m.liveCopy != rescue::kNoRecord ? kDeletedCopy : "deleted";
    if (StopRequested() != StopCause::kNone ||
        !Show(path, rescue, &reader, nullptr, m, ++number, status, false, &outcome)) {
      Failed(path, outcome);
      return;
    }
  }
}

int Lister::Run() {
  InputOptions inputOptions;
  inputOptions.recursive = o_.recursive;
  const ExpandedInputs inputs = ExpandInputs(o_.paths, inputOptions);
  std::vector<std::string> mailboxes;
  for (const InputGroup& group : inputs.groups) {
    mailboxes.insert(mailboxes.end(), group.mailboxes.begin(), group.mailboxes.end());
  }
  PathRule rule(inputs, "list");
  rule_ = &rule;
  for (const std::string& e : rule.Start()) print_.Error(e);
  for (const UnreadableInput& u : inputs.unreadable) {
    print_.Error("quillon: " + u.given + ": cannot be read: " + u.reason);
    failed_ = true;
  }
  for (const std::string& path : mailboxes) {
    if (StopRequested() != StopCause::kNone) break;
    ListMailbox(path);
  }
  for (auto& [path, rescue] : deferred_) {
    if (StopRequested() != StopCause::kNone) break;
    ListDeleted(path, rescue);
  }
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
      {"json", kJson, ""},           {"deleted", kDeleted, ""},
      {"fragments", kFragments, ""}, {"codepage", kCodePage, "a value"},
      {"recursive", 'r', ""},
  };
  const ParseOutcome outcome = ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string* why) {
        switch (id) {
          case kJson:
            options->json = true;
            return true;
          case kDeleted:
            options->deleted = true;
            return true;
          case kFragments:
            options->fragments = true;
            return true;
          case 'r':
            options->recursive = true;
            return true;
          default:  // kCodePage
            return ParseCodePage(value, &options->codePage, why);
        }
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
