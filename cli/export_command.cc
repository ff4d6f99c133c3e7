#include "cli/export_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "catalogue/text.h"
#include "cli/codepage_option.h"
#include "cli/command_output.h"
#include "cli/inputs.h"
#include "cli/platform.h"
#include "cli/progress.h"
#include "cli/rescue_export.h"
#include "cli/terminal.h"
#include "cmdline/command_options.h"
#include "engine/mailbox_extractor.h"
#include "output/names.h"
#include "text/ascii.h"

namespace quillon {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: quillon export [OPTION...] PATH...\n"
    "Rescues the mail of Outlook Express mailbox files (.dbx): writes every message that can be\n"
    "read, byte for byte. Each PATH is a mailbox file, or a folder whose *.dbx files are all "
    "read.\n"
    "\n"
    "  -o, --output DIR   write into DIR (default: the current folder; created when missing)\n"
    "  -f, --format FMT   eml: one file per message (the default); mbox: one mboxrd file per\n"
    "                     folder; maildir: Maildir++ folders, as Dovecot reads them\n"
    "      --tree         mirror the folders of Folders.dbx: nested folders (eml), Thunderbird's\n"
    "                     NAME.sbd/ (mbox), .Parent.Child (maildir)\n"
    "      --name TEMPLATE  eml file names from {n} {mailbox} {folder} {date} {time} {from} {to}\n"
    "                     {subject} {id} (default {mailbox}-{n}: Name.dbx-1.eml, ...)\n"
    "      --manifest FILE  a copy of the manifest in FILE (JSON Lines: each file written,\n"
    "                     and a summary per mailbox); DIR always gets quillon-manifest.jsonl\n"
    "      --update       eml, maildir: write only the messages DIR does not hold whole (by\n"
    "                     the manifest's SHA-256), rewrite changed or cut files, touch no other\n"
    "      --deleted      also recover deleted messages, into \"Recovered deleted messages\"\n"
    "      --fragments    also write fragments (tails of messages whose head is lost), into\n"
    "                     \"Fragments\"\n"
    "      --codepage N   " QUILLON_CODEPAGE_HELP
    "  -q, --quiet        print nothing but errors\n"
    "  -n, --dry-run      report what would be written; create nothing, but check that DIR\n"
    "                     could be created and written\n"
    "  -r, --recursive    export every store folder found in or beneath each folder PATH,\n"
    "                     each into a subfolder of DIR named after its identity\n"
    "      --desktop      export with the engine of Quillon.exe: .eml files named as above,\n"
    "                     with -o, -q, -n and -r only\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "Files of the names a message gets are replaced (but with --update). Two mailboxes that\n"
    "would write the same files (a/Inbox.dbx, b/Inbox.dbx) are refused before anything is\n"
    "written. Each mailbox's result goes to standard output, errors to standard error. Ctrl-C,\n"
    "SIGTERM and SIGHUP stop at once; every file written is whole.\n"
    "\n"
    "A mailbox file that the store's Folders.dbx does not list goes under a folder of its own,\n"
    "\"Unlisted files\", never in the place of a folder Folders.dbx lists.\n"
    "\n"
    "Exit status: 0 when every message the mailboxes list was written whole (an empty mailbox\n"
    "too), 3 when all that could be read was written but mailboxes were damaged (messages\n"
    "damaged or lost, named in the report), 2 when a mailbox or file could not be read or\n"
    "written, or a PATH yields no mailbox (a folder without one, a file that is not one:\n"
    "the error says what it is), 64 for a usage error or a name clash, 130 when interrupted\n"
    "(Ctrl-C), 143 on SIGTERM, 129 on SIGHUP.\n";

const char kOverview[] =
    "Usage: quillon COMMAND [OPTION...] PATH...\n"
    "Rescues the mail of Outlook Express mailbox files (.dbx): every message that can be read.\n"
    "\n"
    "  quillon locate PATH...          find the Outlook Express store folders in and beneath\n"
    "                                  each PATH (an old disk, a copied profile, a backup)\n"
    "  quillon export -o DIR PATH...   write every message into DIR: .eml files, mbox for\n"
    "                                  Thunderbird and mutt, or Maildir for an IMAP server\n"
    "  quillon check PATH...           say what each mailbox file is and what became of its\n"
    "                                  messages, writing nothing\n"
    "  quillon list PATH...            one row per message: status, date, size, sender, subject\n"
    "\n"
    "Got an old Windows backup? 'quillon locate BACKUP' shows the stores in it, and\n"
    "'quillon export -r -o DIR BACKUP' writes each into a folder of its own.\n"
    "\n"
    "Each PATH is a mailbox file, or a folder of them; -r, --recursive takes every store\n"
    "beneath a folder. A PATH that yields no mailbox (an archive, a registry file, a folder\n"
    "without a store) is an error, with what to do, and the exit status is 2.\n"
    "\n"
    "  -h, --help         show this overview; 'quillon COMMAND --help' shows a command's options\n"
    "  -V, --version      show the version and exit\n";

namespace {

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<CMailboxExtractor*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the stop request is made from signal handlers");

std::atomic<int> g_stopCause{static_cast<int>(StopCause::kNone)};
std::atomic<CMailboxExtractor*> g_runningEngine{nullptr};
std::atomic<bool> g_stopFlag{false};

// Follows one mailbox's export for the progress line: how far the current stage has read into
// the file (the search reads it from its start to its end, and so does the copying, since the
// messages are written in the order of their first block), and the files written.
class ProgressTracker final : public IExtractSink {
 public:
  ProgressTracker(ProgressLine* line, bool dryRun) : line_(line) { state_.dryRun = dryRun; }

  void Follow(const CMailboxExtractor* engine) { engine_ = engine; }

  void Begin(size_t index, size_t count, const std::string& path, uint64_t size) {
    state_.mailbox = index + 1;
    state_.mailboxes = count;
    state_.path = path;
    state_.size = size;
    state_.writing = false;
    state_.percent = 0;
    state_.written = 0;
    reached_ = 0;
    line_->Show(state_, true);
  }

  // A read of the mailbox file ended at `end`.
  void Reached(uint64_t end) {
    if (!line_->enabled() || end <= reached_) return;
    reached_ = end;
    state_.percent =
        state_.size == 0
            ? 100
            : static_cast<unsigned>(std::min<uint64_t>(end, state_.size) * 100 / state_.size);
    line_->Show(state_, false);
  }

  bool OnNextFile(const char*) override {
    if (StopRequested() != StopCause::kNone) return false;
    if (!state_.writing) {
      state_.writing = true;
      reached_ = 0;
    }
    state_.written = engine_->FilesWritten();
    line_->Show(state_, false);
    return true;
  }

 private:
  ProgressLine* line_;
  const CMailboxExtractor* engine_ = nullptr;
  ProgressState state_;
  uint64_t reached_ = 0;
};

// The files the engine reaches: the system's, with the reads of mailbox files told to the
// progress line, and for --dry-run output that goes nowhere: the engine runs in full, nothing is
// created.
class CommandFileSystem final : public FileSystem {
 public:
  CommandFileSystem(FileSystem* system, bool dryRun, ProgressTracker* tracker)
      : system_(system), dryRun_(dryRun), tracker_(tracker) {}

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    class Watched final : public InputFile {
     public:
      Watched(std::unique_ptr<InputFile> file, ProgressTracker* tracker)
          : file_(std::move(file)), tracker_(tracker) {}
      uint64_t Size() override { return file_->Size(); }
      bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                  std::string* error) override {
        const bool read = file_->ReadAt(offset, buffer, size, got, error);
        tracker_->Reached(offset + *got);
        return read;
      }

     private:
      std::unique_ptr<InputFile> file_;
      ProgressTracker* tracker_;
    };
    std::unique_ptr<InputFile> file = system_->OpenForReading(path, error);
    if (!file) return nullptr;
    return std::make_unique<Watched>(std::move(file), tracker_);
  }

  std::unique_ptr<OutputFile> CreateReplacing(const std::string& path,
                                              std::string* error) override {
    if (!dryRun_) return system_->CreateReplacing(path, error);
    class Discard final : public OutputFile {
      bool Write(const void*, size_t, std::string*) override { return true; }
      bool Close(std::string*) override { return true; }
      bool Place(std::string*) override { return true; }
    };
    return std::make_unique<Discard>();
  }

 private:
  FileSystem* system_;
  bool dryRun_;
  ProgressTracker* tracker_;
};

// The line that reports a failed mailbox.
std::string FailureLine(const std::string& path, const ExportFailure& failure, uint32_t written,
                        const std::string& folder) {
  const std::string after = path + ": failed after " + Messages(written) + ": ";
  switch (failure.kind) {
    case ExportFailure::kOpenMailbox:
      return path + ": cannot be opened: " + failure.reason;
    case ExportFailure::kCreateFile:
      // Every name was refused alike, so the folder is what failed, not the last name tried.
      return after + "cannot create files in " + FolderForDisplay(folder) + ": " + failure.reason;
    case ExportFailure::kWriteFile:
      return after + "cannot write " + failure.path + ": " + failure.reason;
    case ExportFailure::kReadMailbox:
      return after + CannotReadWords(path, failure.offset, failure.reason);
    case ExportFailure::kMailboxChanged:
      return after + kChangedWords;
    default:
      return after + "the file numbers ran out";
  }
}

}  // namespace

std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason) {
  char at[24];
  std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(offset));
  return "cannot read " + path + " at offset " + at + ": " + reason;
}

void RequestStop(StopCause cause) {
  int none = static_cast<int>(StopCause::kNone);
  g_stopCause.compare_exchange_strong(none, static_cast<int>(cause));
  g_stopFlag.store(true, std::memory_order_relaxed);
  if (CMailboxExtractor* engine = g_runningEngine.load()) engine->RequestAbort();
}

StopCause StopRequested() { return static_cast<StopCause>(g_stopCause.load()); }

const std::atomic<bool>* StopFlag() { return &g_stopFlag; }

ParseOutcome ParseArguments(const std::vector<std::string>& args, ExportOptions* options,
                            std::string* error) {
  if (args.empty()) {
    *error = "missing command (try 'quillon export PATH...')";
    return ParseOutcome::kUsageError;
  }
  const std::string& command = args[0];
  if (command == "-h" || command == "--help" || command == "help") return ParseOutcome::kHelp;
  if (command == "-V" || command == "--version") return ParseOutcome::kVersion;
  if (command != "export") {
    *error = "unknown command '" + command + "'";
    return ParseOutcome::kUsageError;
  }
  enum LongOnly {
    kDesktop = 0x100,
    kTree,
    kName,
    kManifest,
    kUpdate,
    kDeleted,
    kFragments,
    kCodePage,
  };
  const std::vector<OptionDef> defs = {
      {"output", 'o', "a folder"},   {"quiet", 'q', ""},
      {"dry-run", 'n', ""},          {"recursive", 'r', ""},
      {"format", 'f', "a value"},    {"tree", kTree, ""},
      {"name", kName, "a value"},    {"manifest", kManifest, "a value"},
      {"update", kUpdate, ""},       {"deleted", kDeleted, ""},
      {"fragments", kFragments, ""}, {"codepage", kCodePage, "a value"},
      {"desktop", kDesktop, ""},
  };
  bool rescueOnly = false;  // an option the extraction engine does not have
  const ParseOutcome outcome = ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string* why) {
        rescueOnly = rescueOnly || id == 'f' || (id >= kTree && id <= kCodePage);
        switch (id) {
          case 'o':
            options->outputFolder = value;
            return true;
          case 'q':
            options->quiet = true;
            return true;
          case 'n':
            options->dryRun = true;
            return true;
          case 'r':
            options->recursive = true;
            return true;
          case 'f':
            if (output::ParseFormat(value, &options->format)) return true;
            *why = "unknown format '" + std::string(value) + "' (eml, mbox or maildir)";
            return false;
          case kTree:
            options->tree = true;
            return true;
          case kName:
            options->nameTemplate = value;
            return true;
          case kManifest:
            options->manifestPath = value;
            if (!options->manifestPath.empty()) return true;
            *why = "the manifest's file name must not be empty";
            return false;
          case kUpdate:
            options->update = true;
            return true;
          case kDeleted:
            options->deleted = true;
            return true;
          case kFragments:
            options->fragments = true;
            return true;
          case kCodePage:
            return ParseCodePage(value, &options->codePage, why);
          default:  // kDesktop
            options->desktop = true;
            return true;
        }
      },
      &options->paths, error);
  if (outcome != ParseOutcome::kRun) return outcome;
  if (options->outputFolder.empty()) {
    *error = "the output folder must not be empty";
    return ParseOutcome::kUsageError;
  }
  if (options->paths.empty()) {
    *error = "no mailbox file or folder given";
    return ParseOutcome::kUsageError;
  }
  if (options->desktop && rescueOnly) {
    *error = "--desktop writes .eml files as Quillon.exe does and takes only -o, -q and --dry-run";
    return ParseOutcome::kUsageError;
  }
  if (!options->nameTemplate.empty()) {
    output::NameTemplate parsed;
    std::string why;
    if (options->format != output::Format::kEml) {
      *error = "--name names .eml files; --format " +
               std::string(output::FormatName(options->format)) + " names its own";
      return ParseOutcome::kUsageError;
    }
    if (!output::NameTemplate::Parse(options->nameTemplate, &parsed, &why)) {
      *error = "--name: " + why;
      return ParseOutcome::kUsageError;
    }
  }
  if (options->update && options->format == output::Format::kMbox) {
    *error = "--update works on eml and maildir output; an mbox file is written whole";
    return ParseOutcome::kUsageError;
  }
  if (options->update && options->dryRun) {
    *error = "--update reads and writes the output folder; it cannot be combined with --dry-run";
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kRun;
}

std::vector<std::string> ListMailboxes(const std::vector<std::string>& paths,
                                       std::vector<std::string>* emptyFolders) {
  std::vector<std::string> mailboxes;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::path folder = ToPath(path);
    // stat only: a FIFO or a device is left for the export to refuse, never opened here.
    if (!fs::is_directory(folder, ec)) {
      mailboxes.push_back(path);  // a missing file is reported when the export opens it
      continue;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = FromPath(it->path().filename());
      if (name.size() > 4 && EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".dbx") &&
          !it->is_directory(ec)) {
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) emptyFolders->push_back(path);
    for (const std::string& name : names) mailboxes.push_back(FromPath(folder / ToPath(name)));
  }
  return mailboxes;
}

std::vector<NameClash> DropRepeatsAndFindClashes(std::vector<std::string>* mailboxes) {
  std::vector<NameClash> clashes;
  std::vector<std::string> kept;
  std::map<std::string, std::vector<size_t>> byName;  // key -> indexes into kept
  for (const std::string& path : *mailboxes) {
    std::vector<size_t>& same = byName[FileNameKey(OutputName(path))];
    bool repeat = false;
    for (const size_t k : same) {
      std::error_code ec;
      if (fs::equivalent(ToPath(kept[k]), ToPath(path), ec)) {
        repeat = true;
        break;
      }
    }
    if (repeat) continue;
    if (!same.empty()) clashes.push_back({kept[same.front()], path});
    same.push_back(kept.size());
    kept.push_back(path);
  }
  *mailboxes = std::move(kept);
  return clashes;
}

namespace {

// How bad an export's status is, to keep the worst of several runs.
int Severity(int status) {
  switch (status) {
    case kExitOk:
      return 0;
    case kExitDamaged:
      return 1;
    case kExitUsage:
      return 2;
    default:
      return 3;
  }
}

// The rescue export of every input: one run per output folder, the stores that --recursive
// found each into their own, so each keeps its own manifest and names.
int RunRescueExports(const ExportOptions& options, const ExpandedInputs& inputs, std::FILE* out,
                     std::FILE* err, bool progress) {
  Printer print(out, err, options.quiet);
  std::vector<std::pair<std::string, std::vector<std::string>>> runs;  // subfolder, mailboxes
  for (const InputGroup& group : inputs.groups) {
    auto it = std::find_if(runs.begin(), runs.end(),
                           [&](const auto& r) { return r.first == group.outputSubfolder; });
    if (it == runs.end()) it = runs.insert(runs.end(), {group.outputSubfolder, {}});
    it->second.insert(it->second.end(), group.mailboxes.begin(), group.mailboxes.end());
  }
  if (runs.size() > 1 && !options.manifestPath.empty()) {
    print.Error(
        "quillon: --manifest FILE takes one output folder; with --recursive each store's "
        "manifest is quillon-manifest.jsonl in its own folder");
    return kExitUsage;
  }
  PathRule rule(inputs, "export");
  for (const std::string& e : rule.Start()) print.Error(e);
  for (const UnreadableInput& u : inputs.unreadable) {
    print.Error("quillon: " + u.given + ": cannot be read: " + u.reason);
  }
  if (runs.empty()) runs.push_back({"", {}});  // the output folder is still made and checked
  int worst = inputs.unreadable.empty() ? kExitOk : kExitFailed;
  for (const auto& [subfolder, mailboxes] : runs) {
    ExportOptions one = options;
    one.recursive = false;
    one.paths = mailboxes;
    if (!subfolder.empty()) {
      one.outputFolder = FromPath(ToPath(options.outputFolder) / ToPath(subfolder));
      print.Result("into " + FolderForDisplay(one.outputFolder) + ":");
    }
    const int status = RunRescueExport(one, &rule, out, err, progress);
    if (status == kExitInterrupted || status == kExitTerminated || status == kExitHangUp) {
      return status;
    }
    if (Severity(status) > Severity(worst)) worst = status;
  }
  for (const std::string& e : rule.Finish(Severity(worst) >= Severity(kExitUsage))) print.Error(e);
  if (rule.broken() && Severity(kExitFailed) > Severity(worst)) worst = kExitFailed;
  return worst;
}

}  // namespace

int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* err, bool progress) {
  InputOptions inputOptions;
  inputOptions.recursive = options.recursive;
  const ExpandedInputs inputs = ExpandInputs(options.paths, inputOptions);
  if (!options.desktop) return RunRescueExports(options, inputs, out, err, progress);

  Printer print(out, err, options.quiet);
  std::string folder = options.outputFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == kPathSeparator)) {
    folder.pop_back();
  }
  // Mailboxes clash only within one output folder: each store of --recursive has its own.
  std::map<std::string, std::vector<std::string>> bySubfolder;
  for (const InputGroup& group : inputs.groups) {
    std::vector<std::string>& list = bySubfolder[group.outputSubfolder];
    list.insert(list.end(), group.mailboxes.begin(), group.mailboxes.end());
  }
  std::vector<std::string> mailboxes, subfolders;  // the mailboxes, and where each goes
  std::vector<NameClash> clashes;
  for (auto& [subfolder, list] : bySubfolder) {
    for (NameClash& clash : DropRepeatsAndFindClashes(&list)) clashes.push_back(std::move(clash));
    for (const std::string& path : list) {
      mailboxes.push_back(path);
      subfolders.push_back(subfolder);
    }
  }
  if (!clashes.empty()) {
    for (const NameClash& c : clashes) {
      print.Error("quillon: " + c.first + " and " + c.second + " would both write " +
                  OutputName(c.second) + "-1.eml, -2.eml, ... into " + options.outputFolder);
    }
    print.Error(
        "quillon: nothing was written; export mailboxes of the same name into different "
        "folders, one run each (-o DIR)");
    return kExitUsage;
  }

  if (options.dryRun) {
    const std::string problem = CheckOutputFolder(folder);
    if (!problem.empty()) {
      print.Error(problem);
      return kExitFailed;
    }
  } else {
    std::error_code ec;
    fs::create_directories(ToPath(folder), ec);
    if (ec) {
      print.Error("quillon: cannot create the output folder " + folder + ": " + ErrorText(ec));
      return kExitFailed;
    }
  }
  PathRule rule(inputs, "export");
  for (const std::string& e : rule.Start()) print.Error(e);
  for (const UnreadableInput& u : inputs.unreadable) {
    print.Error("quillon: " + u.given + ": cannot be read: " + u.reason);
  }
  bool failed = !inputs.unreadable.empty();

  ProgressLine line(err, progress);
  ProgressTracker tracker(&line, options.dryRun);
  // The command takes UTF-8 paths on every system.
  CommandFileSystem files(Utf8FileSystem(), options.dryRun, &tracker);
  CMailboxExtractor engine(&files);
  engine.m_pSink = &tracker;
  tracker.Follow(&engine);
  // From here a stop signal reaches the engine; one that came before stops it at once.
  g_runningEngine.store(&engine);
  if (StopRequested() != StopCause::kNone) engine.RequestAbort();

  engine.CountOnly(options.dryRun);
  uint64_t totalFiles = 0;
  size_t stoppedAt = mailboxes.size();
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    const std::string& path = mailboxes[i];
    if (StopRequested() != StopCause::kNone) {
      stoppedAt = i;
      break;
    }
    std::error_code ec;
    const uint64_t size = fs::file_size(ToPath(path), ec);
    tracker.Begin(i, mailboxes.size(), path, ec ? 0 : size);
    const std::string into =
        subfolders[i].empty() ? folder : FromPath(ToPath(folder) / ToPath(subfolders[i]));
    if (!subfolders[i].empty() && (i == 0 || subfolders[i] != subfolders[i - 1])) {
      print.Result("into " + FolderForDisplay(into) + ":");
      if (!options.dryRun) fs::create_directory(ToPath(into), ec);
    }
    const int r = engine.ExportMailbox(EnginePath(path).c_str(), into.c_str());
    line.Clear();
    const uint32_t written = engine.FilesWritten();
    totalFiles += written;
    if (r == kExportAborted) {
      print.Result(path + ": stopped after " + Messages(written));
      stoppedAt = i;
      break;
    }
    const std::string broken =
        r == kExportWritten || r == kExportNoMessages ? rule.Read(path, r == kExportWritten) : "";
    if (!broken.empty()) {
      failed = true;
      print.Error(broken);
    } else if (r == kExportWritten) {
      if (options.dryRun) {
        print.Result(path + ": " + Messages(written) + " would be written (" +
                     std::to_string(engine.BytesWritten()) + " bytes)");
      } else {
        print.Result(path + ": " + Messages(written) + " written");
      }
    } else if (r == kExportNoMessages) {
      print.Result(engine.HasMailboxSignature()
                       ? path + ": no messages found"
                       : path + ": no messages found (not an Outlook Express mailbox file)");
    } else {
      failed = true;
      print.Error(FailureLine(path, engine.LastFailure(), written,
                              subfolders[i].empty() ? options.outputFolder : into));
    }
  }
  g_runningEngine.store(nullptr);
  const StopCause cause = StopRequested();
  if (cause != StopCause::kNone) {
    const StopReport report = ReportOf(cause);
    const std::string where = stoppedAt < mailboxes.size()
                                  ? " at " + mailboxes[stoppedAt] + " (mailbox " +
                                        std::to_string(stoppedAt + 1) + " of " +
                                        std::to_string(mailboxes.size()) + ")"
                                  : "";
    print.Error(std::string("quillon: ") + report.what + where + "; the " +
                std::to_string(totalFiles) + " files written so far are whole");
    return report.status;
  }
  for (const std::string& e : rule.Finish(failed)) print.Error(e);
  return failed || rule.broken() ? kExitFailed : kExitOk;
}

}  // namespace quillon
