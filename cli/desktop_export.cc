#include "cli/desktop_export.h"

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "cli/command_output.h"
#include "cli/export_places.h"
#include "cli/export_progress.h"
#include "cli/export_report.h"
#include "cli/inputs.h"
#include "cli/platform.h"
#include "engine/mailbox_extractor.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

// Asks the extraction engine to abort when a stop is requested.
class AbortOnStop final : public StopTarget {
 public:
  explicit AbortOnStop(CMailboxExtractor* engine) : engine_(engine) {}
  void Stop() override { engine_->RequestAbort(); }

 private:
  CMailboxExtractor* engine_;
};

// Tells the progress line of the files the engine writes, and stops it when asked to.
class ProgressTracker final : public IExtractSink {
 public:
  ProgressTracker(ExportProgress* progress, const CMailboxExtractor* engine)
      : progress_(progress), engine_(engine) {}

  bool OnNextFile(const char*) override {
    if (StopRequested() != StopCause::kNone) return false;
    progress_->Writing();
    progress_->Written(engine_->FilesWritten());
    return true;
  }

 private:
  ExportProgress* progress_;
  const CMailboxExtractor* engine_;
};

// The files the engine reaches: the system's, with the reads of mailbox files told to the
// progress line, and for --dry-run output that goes nowhere: the engine runs in full, nothing is
// created.
class CommandFileSystem final : public FileSystem {
 public:
  CommandFileSystem(FileSystem* system, bool dryRun, ExportProgress* progress)
      : system_(system), dryRun_(dryRun), progress_(progress) {}

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    class Watched final : public InputFile {
     public:
      Watched(std::unique_ptr<InputFile> file, ExportProgress* progress)
          : file_(std::move(file)), progress_(progress) {}
      uint64_t Size() override { return file_->Size(); }
      bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                  std::string* error) override {
        const bool read = file_->ReadAt(offset, buffer, size, got, error);
        progress_->Reached(offset + *got);
        return read;
      }

     private:
      std::unique_ptr<InputFile> file_;
      ExportProgress* progress_;
    };
    std::unique_ptr<InputFile> file = system_->OpenForReading(path, error);
    if (!file) return nullptr;
    return std::make_unique<Watched>(std::move(file), progress_);
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
  ExportProgress* progress_;
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

// The whole export is one run: every mailbox's .eml files go into the output folder, or with
// --recursive into its store's subfolder of it, and two mailboxes of one name in one folder
// refuse the export before anything is written.
class DesktopEngine final : public ExportEngine {
 public:
  explicit DesktopEngine(const ExportContext& context)
      : o_(context.options),
        print_(*context.print),
        progress_(*context.progress),
        rule_(*context.rule),
        // The command takes UTF-8 paths on every system.
        files_(Utf8FileSystem(), o_.dryRun, &progress_),
        engine_(&files_),
        tracker_(&progress_, &engine_),
        abortOnStop_(&engine_) {
    engine_.m_pSink = &tracker_;
  }

  std::vector<ExportRun> Runs(const ExpandedInputs& inputs) override {
    // Mailboxes clash only within one output folder: each store of --recursive has its own.
    for (const InputGroup& group : inputs.groups) {
      std::vector<std::string>& list = bySubfolder_[group.outputSubfolder];
      list.insert(list.end(), group.mailboxes.begin(), group.mailboxes.end());
    }
    return {ExportRun()};
  }

  int Prepare(std::vector<ExportRun>* runs) override {
    std::vector<std::string>& mailboxes = runs->front().mailboxes;
    std::vector<NameClash> clashes;
    for (auto& [subfolder, list] : bySubfolder_) {
      for (NameClash& clash : DropRepeatsAndFindClashes(&list)) clashes.push_back(std::move(clash));
      for (const std::string& path : list) {
        mailboxes.push_back(path);
        subfolders_.push_back(subfolder);
      }
    }
    if (!clashes.empty()) {
      for (const NameClash& c : clashes) print_.Error(FlatClashWords(c, o_.outputFolder));
      print_.Error(kClashRefusal);
      return kExitUsage;
    }
    folder_ = TrimSeparators(o_.outputFolder);
    return SetUpOutputFolder(folder_, o_.dryRun, &print_) ? kExitOk : kExitFailed;
  }

  int Begin(ExportRun* run, const std::string&) override {
    mailboxes_ = run->mailboxes;
    // From here a stop signal reaches the engine; one that came before stops it at once.
    SetStopTarget(&abortOnStop_);
    engine_.CountOnly(o_.dryRun);
    return kExitOk;
  }

  bool Export(size_t i) override {
    const std::string& path = mailboxes_[i];
    progress_.Begin(i, mailboxes_.size(), path);
    const std::string& subfolder = subfolders_[i];
    const std::string into =
        subfolder.empty() ? folder_ : FromPath(ToPath(folder_) / ToPath(subfolder));
    if (!subfolder.empty() && (i == 0 || subfolder != subfolders_[i - 1])) {
      print_.Result("into " + FolderForDisplay(into) + ":");
      std::error_code ec;
      if (!o_.dryRun) fs::create_directory(ToPath(into), ec);
    }
    const int r = engine_.ExportMailbox(EnginePath(path).c_str(), into.c_str());
    progress_.Clear();
    const uint32_t written = engine_.FilesWritten();
    totalFiles_ += written;
    if (r == kExportAborted) {
      print_.Result(path + ": stopped after " + Messages(written));
      return false;
    }
    const std::string broken =
        r == kExportWritten || r == kExportNoMessages ? rule_.Read(path, r == kExportWritten) : "";
    if (!broken.empty()) {
      failed_ = true;
      print_.Error(broken);
    } else if (r == kExportWritten) {
      if (o_.dryRun) {
        print_.Result(path + ": " + Messages(written) + " would be written (" +
                      std::to_string(engine_.BytesWritten()) + " bytes)");
      } else {
        print_.Result(path + ": " + Messages(written) + " written");
      }
    } else if (r == kExportNoMessages) {
      print_.Result(engine_.HasMailboxSignature()
                        ? path + ": no messages found"
                        : path + ": no messages found (not an Outlook Express mailbox file)");
    } else {
      failed_ = true;
      print_.Error(FailureLine(path, engine_.LastFailure(), written,
                               subfolder.empty() ? o_.outputFolder : into));
    }
    return true;
  }

  bool Finish(size_t*) override {
    SetStopTarget(nullptr);
    return true;
  }

  int Status() const override { return failed_ ? kExitFailed : kExitOk; }

  std::string WrittenSoFar() const override {
    return "the " + std::to_string(totalFiles_) + " files written so far are whole";
  }

 private:
  const ExportOptions& o_;
  Printer& print_;
  ExportProgress& progress_;
  PathRule& rule_;
  CommandFileSystem files_;
  CMailboxExtractor engine_;
  ProgressTracker tracker_;
  AbortOnStop abortOnStop_;
  std::map<std::string, std::vector<std::string>> bySubfolder_;
  std::vector<std::string> mailboxes_;
  std::vector<std::string> subfolders_;  // where each mailbox goes in the output folder
  std::string folder_;                   // the output folder without trailing separators
  uint64_t totalFiles_ = 0;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ExportEngine> MakeDesktopEngine(const ExportContext& context) {
  return std::make_unique<DesktopEngine>(context);
}

}  // namespace quillon
