#include "cli/check_command.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "catalogue/text.h"
#include "cli/codepage_option.h"
#include "cli/command_output.h"
#include "cli/inputs.h"
#include "cli/plan_walk.h"
#include "cli/platform.h"
#include "cli/store_folders.h"
#include "cli/terminal.h"
#include "cmdline/command_options.h"
#include "discovery/store_names.h"
#include "fs/file_io.h"
#include "output/names.h"
#include "rescue/rescue.h"
#include "text/file_names.h"
#include "text/utf8.h"

namespace quillon {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using rescue::Status;

const char kCheckUsage[] =
    "Usage: quillon check [--json] [--codepage N] [--recursive] PATH...\n"
    "Says what each mailbox file (.dbx) is and what became of its messages, from its index and\n"
    "its blocks, without writing anything.\n"
    "\n"
    "  PATH               a mailbox file, or a folder whose *.dbx files are all checked\n"
    "  --json             one JSON object a line per mailbox instead of text\n"
    "  --codepage N       " QUILLON_CODEPAGE_HELP
    "  -r, --recursive    check every store folder found in or beneath each folder PATH\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "One line per mailbox: its kind, folder name and source, what its index lists, and how many\n"
    "messages are live, orphans, damaged, headers-only, lost, fragments, deleted and\n"
    "recoverable; then the damage found. A folder holding Folders.dbx also gets its folder\n"
    "tree with each folder's counts, the .dbx files no folder names and the folders whose file\n"
    "is missing. A folder holding no .dbx file names the store folders found beneath it.\n"
    "\n"
    "Exit status: 0 when no listed message is lost or damaged, 1 when one is, 2 when a file\n"
    "or folder cannot be read or a PATH yields no mailbox (a folder without one, a file that\n"
    "is not one: the error says what it is), 64 for a usage error.\n";

namespace {

enum : int { kJsonOption = 256, kCodePageOption };

// One mailbox as `check` reports it.
struct MailboxFacts {
  std::string path;
  std::string error;  // not empty: the file could not be read, and nothing else is known
  catalogue::FileKind kind = catalogue::FileKind::kNotAMailbox;
  std::string folder;  // UTF-8; empty when it has none
  // From Folders.dbx; under its "Unlisted files" when no folder names the file; empty without
  // a Folders.dbx.
  std::vector<std::string> folderPath;
  bool unlisted = false;  // Folders.dbx does not list the file
  const char* source = nullptr;
  uint32_t indexCount = 0;
  size_t folderRecords = 0;  // Folders.dbx
  std::array<uint64_t, rescue::kStatusCount> counts{};
  std::vector<std::string> damage;  // the first kShownDamageJson
  uint64_t damageCount = 0;

  uint64_t Count(Status s) const { return counts[static_cast<size_t>(s)]; }
  bool Harmed() const { return Count(Status::kLost) + Count(Status::kDamaged) > 0; }
};

std::string FileNameOf(const std::string& path) { return FromPath(ToPath(path).filename()); }

// A text from the file, fit to print on one line and short enough to quote.
std::string Quoted(const std::string& text) {
  std::string clean = CleanDisplayName(text);
  std::string cut(CutUtf8(clean, 60));
  if (cut.size() < clean.size()) cut += "...";
  return "\"" + cut + "\"";
}

// The damage of a mailbox in words: its damaged and lost messages first, then what the index
// reader and the reconciliation found.
void DescribeDamage(const rescue::MailboxRescue& rescue, rescue::RecordReader* records,
                    const StoreFolders& store, MailboxFacts* facts) {
  const auto add = [&](std::string words) {
    ++facts->damageCount;
    if (facts->damage.size() < kShownDamageJson) facts->damage.push_back(std::move(words));
  };
  const rescue::RescuePlan& plan = rescue.plan;
  const catalogue::Catalogue& cat = rescue.catalogue;
  for (size_t i = 0; i < plan.messages.size(); ++i) {
    const rescue::PlannedMessage& m = plan.messages[i];
    if (m.status != Status::kDamaged && m.status != Status::kLost) continue;
    if (facts->damage.size() >= kShownDamageJson) {
      add("");  // counted only
      continue;
    }
    const catalogue::MessageInfo* info = records->RecordOf(m);
    std::string words;
    if (m.status == Status::kDamaged) {
      words = "damaged: message " + std::to_string(i + 1) + " at " + rescue::Hex(m.firstBlock);
    } else {
      words = info != nullptr ? "lost: the message of index id " + std::to_string(info->indexId)
                              : "lost: a listed message";
    }
    if (info != nullptr && !info->subject.empty()) {
      words += " " + Quoted(store.Text(info->subject));
    }
    if (m.noteCount == 0) {
      words += ": its blocks cannot be read";
    } else {
      // What is missing says more than what was mended; the last note says how the chain ended.
      const rescue::Note* notes = plan.NotesOf(m);
      const rescue::Note* shown = &notes[m.noteCount - 1];
      for (uint32_t k = 0; k < m.noteCount; ++k) {
        if (notes[k].missing != 0) {
          shown = &notes[k];
          break;
        }
      }
      words += ": " + shown->reason;
      if (m.noteCount > 1) words += " (and " + std::to_string(m.noteCount - 1) + " more notes)";
    }
    add(std::move(words));
  }
  for (const catalogue::Damage& d : cat.damage) add(d.reason);
  // Damage past the catalogue's kept reports is counted only.
  facts->damageCount += cat.damageCount - std::min<uint64_t>(cat.damageCount, cat.damage.size());
  for (const rescue::Finding& f : plan.findings) add(f.reason);
}

// Reads mailboxes through the export's walk (cli/plan_walk.h): each one's catalogue and a scan
// of its blocks, reconciled; no message is read. A stop does not cut a check short.
class MailboxChecker final : private PlanVisitor {
 public:
  MailboxFacts Check(const std::string& path, const StoreFolders& store) {
    facts_ = MailboxFacts();
    facts_.path = path;
    store_ = &store;
    walk_.Mailbox(0, path);
    return std::move(facts_);
  }

 private:
  std::function<void(uint64_t)> Opening(size_t, bool) override { return nullptr; }
  void NotOpened(size_t, const std::string& error) override {
    facts_.error = "cannot be opened: " + error;
  }
  bool Planned(size_t, rescue::MailboxRescue& rescue, rescue::RecordReader* records) override;
  // No message is walked, nor a deleted one.
  bool Visit(const WalkedMessage&) override { return false; }
  bool Walked(size_t, const rescue::MailboxRescue&, bool) override { return false; }
  bool Examined(size_t, const rescue::MailboxRescue&, const rescue::ReadOutcome&) override {
    return false;
  }
  bool VisitDeleted(const WalkedMessage&) override { return false; }
  bool WalkedDeleted(size_t, bool) override { return false; }

  PlanWalk walk_{false, false, this, nullptr};
  MailboxFacts facts_;
  const StoreFolders* store_ = nullptr;
};

bool MailboxChecker::Planned(size_t, rescue::MailboxRescue& rescue, rescue::RecordReader* records) {
  if (rescue.error.failure != rescue::ReadFailure::kNone) {
    facts_.error = "cannot be read: " + rescue.error.reason;
    return false;
  }
  const std::string& path = facts_.path;
  const StoreFolders& store = *store_;
  const catalogue::Catalogue& cat = rescue.catalogue;
  facts_.kind = cat.kind;
  facts_.indexCount = cat.header.treeCounts[0];
  facts_.folderRecords = cat.folders.size();
  facts_.counts = rescue.plan.counts;

  if (cat.kind == catalogue::FileKind::kMessages) {
    // Named as the export names its folder.
    const std::vector<std::string> shown = store.PathOf(path, cat.fileInfo.name);
    facts_.folder = shown.back();
    const uint32_t named = store.FolderOf(path);
    if (named != output::FolderPaths::kTop) {
      facts_.folderPath = shown;
      facts_.source = store.SourceOf(named);
    } else if (!store.Listed(path)) {
      // Where the export puts it: a folder of its own, named after the file.
      facts_.folderPath = shown;
      facts_.unlisted = true;
    }
    if (facts_.source == nullptr && cat.fileInfo.present) {
      facts_.source = catalogue::SourceName(cat.fileInfo.source);
    }
  }
  DescribeDamage(rescue, records, store, &facts_);
  return false;
}

// "50 live, 2 orphans, 3 deleted and recoverable": the statuses that have messages.
std::string CountWords(const MailboxFacts& f) {
  const struct {
    Status status;
    const char* one;
    const char* many;
  } kWords[] = {
      {Status::kLive, "live", "live"},
      {Status::kOrphan, "orphan", "orphans"},
      {Status::kDamaged, "damaged", "damaged"},
      {Status::kHeadersOnly, "headers-only", "headers-only"},
      {Status::kLost, "lost", "lost"},
      {Status::kFragment, "fragment", "fragments"},
      {Status::kDeleted, "deleted and recoverable", "deleted and recoverable"},
  };
  std::string words;
  for (const auto& w : kWords) {
    const uint64_t n = f.Count(w.status);
    if (n == 0) continue;
    if (!words.empty()) words += ", ";
    words +=
        w.status == Status::kHeadersOnly ? HeadersOnlyWords(n, f.source) : Plural(n, w.one, w.many);
  }
  return words.empty() ? "no messages" : words;
}

bool AnyMessages(const MailboxFacts& f) {
  return std::any_of(f.counts.begin(), f.counts.end(), [](uint64_t n) { return n != 0; });
}

std::string SourceWords(const char* source) {
  const std::string s = source;
  if (s == "imap") return "IMAP";
  if (s == "http") return "HTTP";
  return s;
}

// The mailbox's line and, beneath it, its damage.
std::vector<std::string> TextLines(const MailboxFacts& f) {
  std::string line = f.path + ": ";
  switch (f.kind) {
    case catalogue::FileKind::kMessages:
      line += "message folder";
      if (!f.folder.empty()) line += " " + Quoted(f.folder);
      if (f.source != nullptr) line += " (" + SourceWords(f.source) + ")";
      line += ", the index lists " + std::to_string(f.indexCount) + ": " + CountWords(f);
      break;
    case catalogue::FileKind::kFolders:
      line += "Folders.dbx, " + Plural(f.folderRecords, "folder", "folders");
      break;
    case catalogue::FileKind::kOffline:
    case catalogue::FileKind::kPop3uidl:
      line += f.kind == catalogue::FileKind::kOffline ? "Offline.dbx" : "Pop3uidl.dbx";
      if (AnyMessages(f)) line += ", yet it holds " + CountWords(f);
      break;
    case catalogue::FileKind::kNotAMailbox:
      line += "not a mailbox";
      if (AnyMessages(f)) line += ", yet it holds " + CountWords(f);
      break;
  }
  std::vector<std::string> lines{line};
  if (f.unlisted) lines.push_back("  " + UnlistedWords(f.folderPath));
  const size_t shown = std::min(f.damage.size(), kShownDamage);
  for (size_t i = 0; i < shown; ++i) lines.push_back("  " + f.damage[i]);
  if (f.damageCount > shown) {
    lines.push_back("  and " + std::to_string(f.damageCount - shown) + " more");
  }
  return lines;
}

Json JsonOf(const MailboxFacts& f) {
  Json j;
  j["mailbox"] = f.path;
  if (!f.error.empty()) {
    j["error"] = f.error;
    return j;
  }
  j["kind"] = catalogue::FileKindName(f.kind);
  j["folder"] = f.folder.empty() ? Json() : Json(f.folder);
  j["source"] = f.source == nullptr ? Json() : Json(f.source);
  j["index_count"] = f.indexCount;
  j["live"] = f.Count(Status::kLive);
  j["orphan"] = f.Count(Status::kOrphan);
  j["damaged"] = f.Count(Status::kDamaged);
  j["headers_only"] = f.Count(Status::kHeadersOnly);
  j["lost"] = f.Count(Status::kLost);
  j["fragment"] = f.Count(Status::kFragment);
  j["deleted"] = f.Count(Status::kDeleted);
  j["folder_path"] = f.folderPath.empty() ? Json() : Json(f.folderPath);
  j["damage"] = f.damage;
  j["damage_count"] = f.damageCount;
  return j;
}

std::string JsonLine(const Json& j) {
  // Names from the file system need not be UTF-8: such bytes become U+FFFD, never an exception.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool IsSpecialFile(const std::string& fileName) {
  const std::string key = FoldCase(fileName);
  return key == "folders.dbx" || key == "pop3uidl.dbx" || key == "offline.dbx";
}

// "Local Folders > Inbox": names may hold '/'.
std::string JoinNames(const std::vector<std::string>& path) {
  std::string joined;
  for (const std::string& name : path) joined += (joined.empty() ? "" : " > ") + name;
  return joined;
}

// A store folder's files that no folder names, and its folders whose file is not there.
struct StoreGaps {
  std::vector<std::string> unnamed;
  std::vector<uint32_t> missing;  // folders of the store
};

StoreGaps FindGaps(const StoreFolders& store, const std::vector<std::string>& fileNames) {
  StoreGaps gaps;
  std::unordered_map<std::string, bool> onDisk;  // folded name -> named by a folder
  for (const std::string& name : fileNames) onDisk[FoldCase(name)] = false;
  for (const uint32_t f : store.paths.TreeOrder()) {
    const std::string& file = store.records[store.paths.folders[f].record].fileName;
    if (file.empty()) continue;
    const auto found = onDisk.find(FoldCase(file));
    if (found == onDisk.end()) {
      gaps.missing.push_back(f);
    } else {
      found->second = true;
    }
  }
  for (const std::string& name : fileNames) {
    if (!onDisk[FoldCase(name)] && !IsSpecialFile(name)) gaps.unnamed.push_back(name);
  }
  return gaps;
}

// The folder tree of a store, each folder with its file's counts, a line at a time to `put`
// (a store of 50,000 folders makes megabytes of lines).
void TreeText(const std::string& folder, const StoreFolders& store, const StoreGaps& gaps,
              const std::unordered_map<std::string, const MailboxFacts*>& factsByFile,
              const std::function<void(const std::string&)>& put) {
  put(folder + ": the folders of Folders.dbx");
  std::string text;
  for (const uint32_t f : store.paths.TreeOrder()) {
    const output::FolderPaths::Folder& shown = store.paths.folders[f];
    const std::string& file = store.records[shown.record].fileName;
    text = std::string(2 * std::min<size_t>(shown.depth, 64), ' ') + CleanDisplayName(shown.name);
    if (!file.empty()) {
      const auto facts = factsByFile.find(FoldCase(file));
      text += " (" + CleanDisplayName(file);
      if (facts == factsByFile.end()) {
        text += ", missing)";
      } else if (!facts->second->error.empty()) {
        text += ", " + facts->second->error + ")";
      } else {
        text += "): " + CountWords(*facts->second);
      }
    }
    put(text);
  }
  if (!gaps.unnamed.empty()) {
    std::string names;
    for (const std::string& n : gaps.unnamed) names += (names.empty() ? "" : ", ") + n;
    put("  files no folder names (under \"" + store.paths.unlisted + "\"): " + names);
  }
  if (!gaps.missing.empty()) {
    std::string names;
    const size_t shown = std::min(gaps.missing.size(), kShownDamage);
    for (size_t i = 0; i < shown; ++i) {
      const uint32_t f = gaps.missing[i];
      names += (names.empty() ? "" : ", ") + CleanDisplayName(JoinNames(store.paths.PathOf(f))) +
               " (" + CleanDisplayName(store.records[store.paths.folders[f].record].fileName) + ")";
    }
    if (gaps.missing.size() > shown) {
      names += ", and " + std::to_string(gaps.missing.size() - shown) + " more";
    }
    put("  folders whose file is missing: " + names);
  }
}

// Prints lines to standard output until its reader goes; the exit status says the rest.
class Output {
 public:
  explicit Output(std::FILE* out) : out_(out) {}
  void Put(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      if (open_) open_ = WriteLine(out_, line);
    }
  }
  void PutLine(const std::string& line) {
    if (open_) open_ = WriteLine(out_, line);
  }
  // A JSON line (ending in a line feed), whose writer escaped its control characters already.
  void PutJson(const std::string& line) {
    if (open_) open_ = WriteText(out_, line);
  }

 private:
  std::FILE* out_;
  bool open_ = true;
};

}  // namespace

ParseOutcome ParseCheckArguments(const std::vector<std::string>& args, CheckOptions* options,
                                 std::string* error) {
  const std::vector<OptionDef> defs = {
      {"json", kJsonOption, "", &options->json},
      {"codepage", kCodePageOption, "a number"},
      {"recursive", 'r', "", &options->recursive},
  };
  const ParseOutcome outcome = ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string* why) {
        return id != kCodePageOption || ParseCodePage(value, &options->codePage, why);
      },
      &options->paths, error);
  if (outcome == ParseOutcome::kRun && options->paths.empty()) {
    *error = "no mailbox file or folder given";
    return ParseOutcome::kUsageError;
  }
  return outcome;
}

int RunCheck(const CheckOptions& options, std::FILE* out, std::FILE* err) {
  Output print(out);
  int status = kExitOk;
  const auto worsen = [&](int s) { status = std::max(status, s); };

  InputOptions inputOptions;
  inputOptions.recursive = options.recursive;
  const ExpandedInputs inputs = ExpandInputs(options.paths, inputOptions);
  for (const UnreadableInput& u : inputs.unreadable) {
    WriteLine(err, "quillon: " + u.given + ": cannot be read: " + u.reason);
    worsen(kExitUnreadable);
  }
  PathRule rule(inputs, "check");
  for (const std::string& e : rule.Start()) {
    WriteLine(err, ErrorLine(e));
    worsen(kExitUnreadable);
  }
  for (const FindNote& note : inputs.notes) {
    WriteLine(err, "quillon: " + note.path + ": " + note.reason);
  }

  // Folders.dbx beside the mailboxes names their folders: each store folder is read once.
  StoreReader stores(options.codePage,
                     [&](const std::string& note) { WriteLine(err, "quillon: " + note); });
  MailboxChecker checker;
  for (const InputGroup& group : inputs.groups) {
    if (group.mailboxes.empty()) continue;
    const StoreFolders& store = stores.Of(group.mailboxes.front());
    // A store's tree is shown when the folder itself was given (or found).
    const bool showTree = store.present && !group.folder.empty();
    std::vector<std::string> fileNames;
    for (const std::string& m : group.mailboxes) fileNames.push_back(FileNameOf(m));
    const StoreGaps gaps = showTree ? FindGaps(store, fileNames) : StoreGaps();

    std::vector<MailboxFacts> checked;
    for (const std::string& path : group.mailboxes) {
      MailboxFacts facts = checker.Check(path, stores.Of(path));
      if (!facts.error.empty()) {
        WriteLine(err, "quillon: " + path + ": " + facts.error);
        worsen(kExitUnreadable);
      } else if (const std::string broken = rule.Read(path, AnyMessages(facts)); !broken.empty()) {
        WriteLine(err, ErrorLine(broken));
        worsen(kExitUnreadable);
      } else if (facts.Harmed()) {
        worsen(kExitCheckDamaged);
      }
      if (options.json) {
        Json j = JsonOf(facts);
        if (showTree && facts.kind == catalogue::FileKind::kFolders && facts.error.empty()) {
          j["unnamed_files"] = gaps.unnamed;
          Json missing = Json::array();
          for (const uint32_t f : gaps.missing) {
            missing.push_back({{"folder_path", store.paths.PathOf(f)},
                               {"file", store.records[store.paths.folders[f].record].fileName}});
          }
          j["missing_files"] = missing;
        }
        print.PutJson(JsonLine(j));
      } else if (facts.error.empty()) {
        print.Put(TextLines(facts));
      }
      checked.push_back(std::move(facts));
    }
    if (showTree && !options.json) {
      std::unordered_map<std::string, const MailboxFacts*> byFile;
      for (const MailboxFacts& f : checked) byFile[FoldCase(FileNameOf(f.path))] = &f;
      TreeText(group.folder, store, gaps, byFile,
               [&](const std::string& line) { print.PutLine(line); });
    }
  }
  for (const std::string& e : rule.Finish(status == kExitUnreadable)) {
    WriteLine(err, ErrorLine(e));
    worsen(kExitUnreadable);
  }
  return status;
}

}  // namespace quillon
