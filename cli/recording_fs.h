// The output folder of an export, remembering its last failure: whether a folder or file could
// not be made or a file not written, where and why, for the result line's words.
#ifndef QUILLON_CLI_RECORDING_FS_H_
#define QUILLON_CLI_RECORDING_FS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/output_fs.h"

namespace quillon {

// The reason in an output-folder error ("out/x.tmp: No space left on device"): the system's
// words follow the path.
std::string ReasonOf(const std::string& error);

// An output folder (the system's) that remembers the last failure.
class RecordingFs final : public quillon::OutputFs {
 public:
  enum class Op { kNone, kCreate, kWrite };
  struct Failure {
    Op op = Op::kNone;
    std::string path;  // relative to the output folder
    std::string reason;
  };

  explicit RecordingFs(std::unique_ptr<quillon::OutputFs> fs) : fs_(std::move(fs)) {}
  const Failure& failure() const { return failure_; }
  void Forget() { failure_ = Failure(); }

  bool MakeFolders(const std::string& folder, std::string* error) override {
    return fs_->MakeFolders(folder, error) || Record(Op::kCreate, folder, *error);
  }
  std::unique_ptr<quillon::NewFile> CreateTemporary(const std::string& path,
                                                    std::string* error) override {
    std::unique_ptr<quillon::NewFile> file = fs_->CreateTemporary(path, error);
    if (!file) return Record(Op::kCreate, path, *error), nullptr;
    return std::make_unique<NewFile>(std::move(file), this, path);
  }
  std::unique_ptr<quillon::NewFile> CreateFinal(const std::string& path,
                                                const std::string& temporaryPath,
                                                std::string* error) override {
    std::unique_ptr<quillon::NewFile> file = fs_->CreateFinal(path, temporaryPath, error);
    if (!file) return Record(Op::kCreate, path, *error), nullptr;
    return std::make_unique<NewFile>(std::move(file), this, path);
  }
  std::unique_ptr<quillon::AppendFile> OpenForAppend(const std::string& path,
                                                     std::string* error) override {
    std::unique_ptr<quillon::AppendFile> file = fs_->OpenForAppend(path, error);
    if (!file) return Record(Op::kCreate, path, *error), nullptr;
    return std::make_unique<AppendFile>(std::move(file), this, path);
  }
  bool List(const std::string& folder, std::vector<quillon::FolderEntry>* entries,
            std::string* error) override {
    return fs_->List(folder, entries, error);
  }
  std::unique_ptr<quillon::InputFile> OpenForReading(const std::string& path,
                                                     std::string* error) override {
    return fs_->OpenForReading(path, error);
  }
  std::unique_ptr<quillon::Held> Lock(const std::string& name, bool* busy,
                                      std::string* error) override {
    return fs_->Lock(name, busy, error);
  }

 private:
  bool Record(Op op, const std::string& path, const std::string& error) {
    failure_ = Failure{op, path, ReasonOf(error)};
    return false;
  }
  // A file of the folder whose failed writes are recorded: the writes that new and appended
  // files share.
  template <class File>
  class Recorded : public File {
   public:
    Recorded(std::unique_ptr<File> file, RecordingFs* owner, std::string path)
        : file_(std::move(file)), owner_(owner), path_(std::move(path)) {}
    bool Write(const void* data, size_t size, std::string* error) override {
      return file_->Write(data, size, error) || Failed(path_, *error);
    }
    bool WriteSpans(const quillon::ByteSpan* spans, size_t count, std::string* error) override {
      return file_->WriteSpans(spans, count, error) || Failed(path_, *error);
    }
    bool CutBack(uint64_t size, std::string* error) override {
      return file_->CutBack(size, error) || Failed(path_, *error);
    }

   protected:
    bool Failed(const std::string& path, const std::string& error) {
      return owner_->Record(Op::kWrite, path, error);
    }
    std::unique_ptr<File> file_;
    RecordingFs* owner_;
    std::string path_;
  };
  class NewFile final : public Recorded<quillon::NewFile> {
   public:
    using Recorded::Recorded;
    bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
                std::string* error) override {
      return file_->Commit(finalPath, modified, error) || Failed(finalPath, *error);
    }
  };
  class AppendFile final : public Recorded<quillon::AppendFile> {
   public:
    using Recorded::Recorded;
    bool Close(std::string* error) override { return file_->Close(error) || Failed(path_, *error); }
  };

  std::unique_ptr<quillon::OutputFs> fs_;
  Failure failure_;
};

}  // namespace quillon

#endif  // QUILLON_CLI_RECORDING_FS_H_
