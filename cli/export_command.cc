#include "cli/export_command.h"

#include <getopt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "cli/inputs.h"
#include "cli/platform.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "engine/mailbox_extractor.h"

namespace quillon {

namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: quillon export [-o DIR] [-q] [--dry-run] PATH...\n"
    "Writes every message of Outlook Express mailbox files (.dbx), byte for byte, as .eml files.\n"
    "\n"
    "  PATH               a mailbox file, or a folder whose *.dbx files are all exported\n"
    "  -o, --output DIR   write the .eml files into DIR (default: the current folder;\n"
    "                     created when missing)\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -n, --dry-run      find the messages and report what would be written; create nothing,\n"
    "                     but check that DIR could be created and written\n"
    "  -r, --recursive    export every store folder found in or beneath each folder PATH,\n"
    "                     each into a subfolder of DIR named after its identity\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "Name.dbx gives Name.dbx-1.eml, Name.dbx-2.eml, ... in DIR; files of those names are\n"
    "replaced. Two mailboxes of one name (a/Inbox.dbx, b/Inbox.dbx) would write the same files:\n"
    "such a run is refused before anything is written; export them into different folders.\n"
    "Each mailbox's result goes to standard output, errors to standard error. Ctrl-C, SIGTERM\n"
    "and SIGHUP stop the export at once; every file written is whole.\n"
    "\n"
    "Exit status: 0 when every mailbox was exported or held no message, 2 when any failed,\n"
    "64 for a usage error or a name clash, 130 when interrupted (Ctrl-C), 143 on SIGTERM,\n"
    "129 on SIGHUP.\n";

namespace {

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<CMailboxExtractor*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the stop request is made from signal handlers");

std::atomic<int> g_stopCause{static_cast<int>(StopCause::kNone)};
std::atomic<CMailboxExtractor*> g_runningEngine{nullptr};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// The option getopt_long just refused, as it was typed: a long one whole, a short one as "-c".
std::string RefusedOption(char* const* argv, const option* options) {
  const std::string word = argv[optind - 1];
  if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
    if (optopt == 0) return word;  // no such long option
    // A long option that takes no value was given one, or one that needs a value got none.
    const std::string name = word.substr(2, word.find('=') - 2);
    for (const option* o = options; o->name != nullptr; ++o) {
      if (o->val == optopt && std::string(o->name).compare(0, name.size(), name) == 0) return word;
    }
  }
  // A short option; while it is not the last of a group such as -xq, optind has not moved on.
  return std::string("-") + static_cast<char>(optopt);
}

std::string Messages(uint32_t n) { return std::to_string(n) + (n == 1 ? " message" : " messages"); }

// Result lines to standard output (none with -q, and none once its reader has gone: the export
// goes on and its exit status tells how it went), errors to standard error.
class Printer {
 public:
  Printer(std::FILE* out, std::FILE* err, bool quiet) : out_(out), err_(err), quiet_(quiet) {}

  void Result(const std::string& line) {
    if (quiet_ || !outOpen_) return;
    outOpen_ = WriteText(out_, line + "\n");
  }
  void Error(const std::string& line) { WriteText(err_, line + "\n"); }

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

  void Show(const ProgressState& state, bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ > 0 && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    // Asked each time: the terminal may have been resized.
    const size_t columns = TerminalColumns(stream_);
    const std::string text = FormatProgress(state, columns > 0 ? columns : 80);
    const size_t width = DisplayWidth(text);
    WriteText(stream_, "\r" + text + std::string(shown_ > width ? shown_ - width : 0, ' '));
    shown_ = std::max<size_t>(width, 1);
  }

  void Clear() {
    if (!enabled_ || shown_ == 0) return;
    WriteText(stream_, "\r" + std::string(shown_, ' ') + "\r");
    shown_ = 0;
  }

 private:
  std::FILE* stream_;
  bool enabled_;
  size_t shown_ = 0;  // columns of the line on screen
  std::chrono::steady_clock::time_point last_;
};

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

// The output folder as the user wrote it, ending in a separator: "ro/".
std::string FolderForDisplay(const std::string& folder) {
  const char last = folder.back();
  return last == '/' || last == kPathSeparator ? folder : folder + kPathSeparator;
}

// For --dry-run: what the real run would find wrong with the output folder, in its words; empty
// when it could create the folder (when missing) and files in it. The probe creates a temporary
// file in the folder, or a temporary folder in its nearest existing parent, and removes it.
std::string CheckOutputFolder(const std::string& folder) {
  std::error_code ec;
  fs::path at = ToPath(folder);
  bool missing = false;
  for (;;) {
    const fs::file_status status = fs::status(at, ec);
    if (fs::is_directory(status)) break;
    if (fs::exists(status) || (ec && ec != std::errc::no_such_file_or_directory)) {
      if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
      return "quillon: cannot create the output folder " + folder + ": " + ErrorText(ec);
    }
    if (!at.has_relative_path()) {  // a drive or share that is not there
      return "quillon: cannot create the output folder " + folder + ": " +
             ErrorText(std::make_error_code(std::errc::no_such_file_or_directory));
    }
    missing = true;
    at = at.parent_path();
    if (at.empty()) at = ".";
  }
  std::string reason;
  if (ProbeCreate(at, missing, &reason)) return "";
  return missing ? "quillon: cannot create the output folder " + folder + ": " + reason
                 : "quillon: cannot create files in " + FolderForDisplay(folder) + ": " + reason;
}

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

// Said when a stop cut the run short, and the exit status it gives.
struct StopReport {
  const char* what;
  int status;
};
StopReport ReportOf(StopCause cause) {
  switch (cause) {
    case StopCause::kHangUp:
      return {"hung up (SIGHUP)", kExitHangUp};
    case StopCause::kTerminate:
      return {"terminated (SIGTERM)", kExitTerminated};
    default:
      return {"interrupted", kExitInterrupted};
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
  if (CMailboxExtractor* engine = g_runningEngine.load()) engine->RequestAbort();
}

StopCause StopRequested() { return static_cast<StopCause>(g_stopCause.load()); }

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
  // getopt_long over "export" and what follows, which it takes for the program's name. It moves
  // the paths behind the options, so the two may mix, and "--" ends the options.
  std::vector<std::string> words(args);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"quiet", no_argument, nullptr, 'q'},
                                    {"dry-run", no_argument, nullptr, 'n'},
                                    {"recursive", no_argument, nullptr, 'r'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {nullptr, 0, nullptr, 0}};
  const int argc = static_cast<int>(words.size());
  opterr = 0;
  optind = 0;  // a fresh scan, in glibc and in the MinGW-w64 runtime alike
  for (int c; (c = getopt_long(argc, argv.data(), ":o:qnrhV", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'o':
        options->outputFolder = optarg;
        break;
      case 'q':
        options->quiet = true;
        break;
      case 'n':
        options->dryRun = true;
        break;
      case 'r':
        options->recursive = true;
        break;
      case 'h':
        return ParseOutcome::kHelp;
      case 'V':
        return ParseOutcome::kVersion;
      case ':':
        // MinGW-w64's getopt_long also answers ':' for "--quiet=1", a value the option does not
        // take; only -o needs one.
        if (optopt == 'o') {
          *error = "option '" + RefusedOption(argv.data(), kOptions) + "' needs a folder";
          return ParseOutcome::kUsageError;
        }
        [[fallthrough]];
      default:
        *error = "unknown option '" + RefusedOption(argv.data(), kOptions) + "'";
        return ParseOutcome::kUsageError;
    }
  }
  options->paths.assign(argv.begin() + optind, argv.begin() + argc);
  if (options->outputFolder.empty()) {
    *error = "the output folder must not be empty";
    return ParseOutcome::kUsageError;
  }
  if (options->paths.empty()) {
    *error = "no mailbox file or folder given";
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
      if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".dbx" &&
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

int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* err, bool progress) {
  Printer print(out, err, options.quiet);
  std::string folder = options.outputFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == kPathSeparator)) {
    folder.pop_back();
  }

  InputOptions inputOptions;
  inputOptions.recursive = options.recursive;
  const ExpandedInputs inputs = ExpandInputs(options.paths, inputOptions);
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
  for (const EmptyFolder& e : inputs.emptyFolders) print.Result(EmptyFolderWords(e));
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
    if (r == kExportWritten) {
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
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quillon
