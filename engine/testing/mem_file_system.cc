#include "engine/testing/mem_file_system.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

class MemInputFile final : public InputFile {
 public:
  MemInputFile(MemFileSystem* owner, std::shared_ptr<std::string> bytes)
      : owner_(owner), bytes_(std::move(bytes)) {}

  uint32_t SizeLow32() override { return static_cast<uint32_t>(bytes_->size()); }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    ++owner_->readCalls;
    if (owner_->onRead) owner_->onRead(offset, size);
    if (offset >= bytes_->size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, bytes_->size() - offset));
    std::memcpy(buffer, bytes_->data() + offset, n);
    return n;
  }

 private:
  MemFileSystem* owner_;
  std::shared_ptr<std::string> bytes_;
};

class MemOutputFile final : public OutputFile {
 public:
  MemOutputFile(MemFileSystem* owner, std::shared_ptr<std::string> bytes)
      : owner_(owner), bytes_(std::move(bytes)) {
    ++owner_->openOutputs;
  }
  ~MemOutputFile() override {
    if (open_) --owner_->openOutputs;
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    size_t n = size;
    if (owner_->diskCapacity != 0) {
      const uint64_t room =
          owner_->diskCapacity - std::min(owner_->diskCapacity, owner_->bytesWritten);
      n = static_cast<size_t>(std::min<uint64_t>(n, room));
    }
    bytes_->append(static_cast<const char*>(data), n);
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

 private:
  MemFileSystem* owner_;
  std::shared_ptr<std::string> bytes_;
  bool open_ = true;
};

}  // namespace

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

std::unique_ptr<OutputFile> MemFileSystem::CreateOrTruncate(const std::string& path,
                                                            std::string* error) {
  if (failCreate && failCreate(path)) {
    *error = "Permission denied";
    return nullptr;
  }
  auto bytes = std::make_shared<std::string>();
  files_[path] = bytes;
  return std::make_unique<MemOutputFile>(this, bytes);
}

bool MemFileSystem::Remove(const std::string& path) { return files_.erase(path) != 0; }

}  // namespace quillon
