#include "cli/export_command.h"

#include <getopt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <system_error>

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
    "  -n, --dry-run      find the messages and report what would be written; create nothing\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "Name.dbx gives Name.dbx-1.eml, Name.dbx-2.eml, ... in DIR; files of those names are\n"
    "replaced. Ctrl-C stops after the message being written; the files written stay.\n"
    "\n"
    "Exit status: 0 when every mailbox was exported or held no message, 2 when any failed,\n"
    "64 for a usage error, 130 when interrupted.\n";

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::string HumanSize(uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
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

// Output that goes nowhere, for --dry-run: the engine runs in full, nothing is created.
class DryRunFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    return PlatformFileSystem()->OpenForReading(path, error);
  }
  std::unique_ptr<OutputFile> CreateReplacing(const std::string&, std::string*) override {
    class Discard final : public OutputFile {
      bool Write(const void*, size_t, std::string*) override { return true; }
      bool Close(std::string*) override { return true; }
      bool Place(std::string*) override { return true; }
    };
    return std::make_unique<Discard>();
  }
};

// The live status line on a terminal: redrawn at most ten times a second, erased when done.
class ProgressLine {
 public:
  ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

  void Show(const std::string& text, bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    // Keep to one line of a narrow terminal, so \r can take it back.
    std::fprintf(stream_, "\r%.78s\x1b[K", text.c_str());
    std::fflush(stream_);
  }

  void Clear() {
    if (!enabled_ || !shown_) return;
    std::fputs("\r\x1b[K", stream_);
    std::fflush(stream_);
    shown_ = false;
  }

 private:
  std::FILE* stream_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

class CommandSink final : public IExtractSink {
 public:
  explicit CommandSink(ProgressLine* progress) : progress_(progress) {}

  void Begin(size_t index, size_t count, const std::string& path, uint64_t size) {
    prefix_ = "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] " + path + " (" +
              HumanSize(size) + ")";
    announced_ = 0;
    progress_->Show(prefix_ + ": searching", true);
  }

  bool OnNextFile(const char*) override {
    if (InterruptRequested()) return false;
    progress_->Show(prefix_ + ": " + Messages(announced_) + " written", false);
    ++announced_;
    return true;
  }

 private:
  ProgressLine* progress_;
  std::string prefix_;
  uint32_t announced_ = 0;
};

}  // namespace

void RequestInterrupt() { g_interrupted = 1; }
bool InterruptRequested() { return g_interrupted != 0; }

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
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'}, {"quiet", no_argument, nullptr, 'q'},
      {"dry-run", no_argument, nullptr, 'n'},      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},      {nullptr, 0, nullptr, 0}};
  const int argc = static_cast<int>(words.size());
  opterr = 0;
  optind = 0;  // a fresh scan, in glibc and in the MinGW-w64 runtime alike
  for (int c; (c = getopt_long(argc, argv.data(), ":o:qnhV", kOptions, nullptr)) != -1;) {
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
      case 'h':
        return ParseOutcome::kHelp;
      case 'V':
        return ParseOutcome::kVersion;
      case ':':
        *error = "option '" + RefusedOption(argv.data(), kOptions) + "' needs a folder";
        return ParseOutcome::kUsageError;
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
    if (!fs::is_directory(path, ec)) {
      mailboxes.push_back(path);  // a missing file is reported when the export opens it
      continue;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".dbx" &&
          !it->is_directory(ec)) {
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) emptyFolders->push_back(path);
    const bool endsWithSeparator = path.back() == '/' || path.back() == kPathSeparator;
    for (const std::string& name : names) {
      mailboxes.push_back(endsWithSeparator ? path + name : path + kPathSeparator + name);
    }
  }
  return mailboxes;
}

int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* status, bool progress) {
  std::string folder = options.outputFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == kPathSeparator)) {
    folder.pop_back();
  }
  DryRunFileSystem dryRun;
  FileSystem* files = options.dryRun ? static_cast<FileSystem*>(&dryRun) : PlatformFileSystem();
  if (!options.dryRun) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
      std::fprintf(out, "quillon: cannot create the output folder %s: %s\n", folder.c_str(),
                   ec.message().c_str());
      return kExitFailed;
    }
  }

  std::vector<std::string> emptyFolders;
  const std::vector<std::string> mailboxes = ListMailboxes(options.paths, &emptyFolders);
  for (const std::string& f : emptyFolders) {
    if (!options.quiet) std::fprintf(out, "%s: no .dbx files in this folder\n", f.c_str());
  }

  ProgressLine line(status, progress);
  CommandSink sink(&line);
  CMailboxExtractor engine(files);
  engine.m_pSink = &sink;
  engine.CountOnly(options.dryRun);
  bool failed = false;
  uint64_t totalFiles = 0;
  size_t stoppedAt = mailboxes.size();
  for (size_t i = 0; i < mailboxes.size() && stoppedAt == mailboxes.size(); ++i) {
    const std::string& path = mailboxes[i];
    if (InterruptRequested()) {
      stoppedAt = i;
      break;
    }
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    sink.Begin(i, mailboxes.size(), path, ec ? 0 : size);
    const int r = engine.ExportMailbox(path.c_str(), folder.c_str());
    line.Clear();
    const uint32_t written = engine.FilesWritten();
    totalFiles += written;
    const ExportFailure& failure = engine.LastFailure();
    if (r == kExportWritten) {
      if (options.quiet) continue;
      if (options.dryRun) {
        std::fprintf(out, "%s: %s would be written (%llu bytes)\n", path.c_str(),
                     Messages(written).c_str(),
                     static_cast<unsigned long long>(engine.BytesWritten()));
      } else {
        std::fprintf(out, "%s: %s written\n", path.c_str(), Messages(written).c_str());
      }
    } else if (r == kExportNoMessages) {
      if (!options.quiet) std::fprintf(out, "%s: no messages found\n", path.c_str());
    } else if (r == kExportAborted) {
      if (!options.quiet) {
        std::fprintf(out, "%s: stopped after %s\n", path.c_str(), Messages(written).c_str());
      }
      stoppedAt = i;
    } else {
      failed = true;
      switch (failure.kind) {
        case ExportFailure::kOpenMailbox:
          std::fprintf(out, "%s: cannot be opened: %s\n", path.c_str(), failure.reason.c_str());
          break;
        case ExportFailure::kCreateFile:
          std::fprintf(out, "%s: failed after %s: cannot create %s: %s\n", path.c_str(),
                       Messages(written).c_str(), failure.path.c_str(), failure.reason.c_str());
          break;
        case ExportFailure::kWriteFile:
          std::fprintf(out, "%s: failed after %s: cannot write %s: %s\n", path.c_str(),
                       Messages(written).c_str(), failure.path.c_str(), failure.reason.c_str());
          break;
        default:
          std::fprintf(out, "%s: failed after %s: the file numbers ran out\n", path.c_str(),
                       Messages(written).c_str());
          break;
      }
    }
    std::fflush(out);
  }
  if (stoppedAt < mailboxes.size()) {
    std::fprintf(out,
                 "quillon: interrupted at %s (mailbox %zu of %zu); the %llu files written "
                 "so far are complete\n",
                 mailboxes[stoppedAt].c_str(), stoppedAt + 1, mailboxes.size(),
                 static_cast<unsigned long long>(totalFiles));
    return kExitInterrupted;
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quillon
