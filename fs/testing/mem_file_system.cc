#include "fs/testing/mem_file_system.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

class MemInputFile final : public InputFile {
 public:
  MemInputFile(MemFileSystem* owner, std::shared_ptr<std::string> bytes)
      : owner_(owner), bytes_(std::move(bytes)) {}

  uint64_t Size() override { return bytes_->size(); }

  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    ++owner_->readCalls;
    if (owner_->onRead) owner_->onRead(offset, size);
    *got = 0;
    if (owner_->failRead && owner_->failRead(offset, size)) {
      *error = "Input/output error";
      return false;
    }
    if (offset >= bytes_->size()) return true;
    *got = static_cast<size_t>(std::min<uint64_t>(size, bytes_->size() - offset));
    std::memcpy(buffer, bytes_->data() + offset, *got);
    return true;
  }

 private:
  MemFileSystem* owner_;
  std::shared_ptr<std::string> bytes_;
};

}  // namespace

class MemOutputFile final : public OutputFile {
 public:
  MemOutputFile(MemFileSystem* owner, std::string temp, std::string path)
      : owner_(owner), temp_(std::move(temp)), path_(std::move(path)) {
    owner_->files_[temp_] = std::make_shared<std::string>();
    ++owner_->openOutputs;
  }
  ~MemOutputFile() override {
    if (open_) --owner_->openOutputs;
    if (!placed_) owner_->files_.erase(temp_);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    size_t n = size;
    if (owner_->diskCapacity != 0) {
      const uint64_t room =
          owner_->diskCapacity - std::min(owner_->diskCapacity, owner_->bytesWritten);
      n = static_cast<size_t>(std::min<uint64_t>(n, room));
    }
    owner_->files_.at(temp_)->append(static_cast<const char*>(data), n);
    owner_->bytesWritten += n;
    if (n < size) {
      *error = "No space left on device";
      return false;
    }
    return true;
  }

  bool Close(std::string*) override {
    if (open_) --owner_->openOutputs;
    open_ = false;
    return true;
  }

  bool Place(std::string* error) override {
    if (owner_->failPlace && owner_->failPlace(path_)) {
      *error = "Is a directory";
      return false;
    }
    auto& files = owner_->files_;
    files[path_] = files.at(temp_);
    files.erase(temp_);
    placed_ = true;
    return true;
  }

 private:
  MemFileSystem* owner_;
  std::string temp_;
  std::string path_;
  bool open_ = true;
  bool placed_ = false;
};

void MemFileSystem::Put(const std::string& path, std::string contents) {
  files_[path] = std::make_shared<std::string>(std::move(contents));
}

std::map<std::string, std::string> MemFileSystem::FilesUnder(const std::string& prefix) const {
  std::map<std::string, std::string> found;
  for (const auto& [path, bytes] : files_) {
    if (path.compare(0, prefix.size(), prefix) == 0) found[path] = *bytes;
  }
  return found;
}

std::unique_ptr<InputFile> MemFileSystem::OpenForReading(const std::string& path,
                                                         std::string* error) {
  const auto it = files_.find(path);
  if (it == files_.end()) {
    *error = "No such file or directory";
    return nullptr;
  }
  return std::make_unique<MemInputFile>(this, it->second);
}

std::unique_ptr<OutputFile> MemFileSystem::CreateReplacing(const std::string& path,
                                                           std::string* error) {
  if (failCreate && failCreate(path)) {
    *error = "Permission denied";
    return nullptr;
  }
  const size_t separator = path.find_last_of(kPathSeparators);
  const std::string folder = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  return std::make_unique<MemOutputFile>(this, folder + ".tmp-" + std::to_string(++temporaries_),
                                         path);
}

}  // namespace quillon
