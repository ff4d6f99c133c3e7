#include "gen/output.h"

#include <cstring>

#include "fs/system_file.h"

namespace quillon::gen {

bool MemoryOutput::Append(const void* data, size_t size, std::string*) {
  bytes_.append(static_cast<const char*>(data), size);
  return true;
}

bool MemoryOutput::Overwrite(uint64_t offset, const void* data, size_t size, std::string* error) {
  if (offset > bytes_.size() || size > bytes_.size() - offset) {
    *error = "overwrite past the end of the output";
    return false;
  }
  std::memcpy(&bytes_[static_cast<size_t>(offset)], data, size);
  return true;
}

std::unique_ptr<FileOutput> FileOutput::Create(const std::string& path, std::string* error) {
  std::unique_ptr<SystemFile> file = SystemFile::Create(path, error);
  if (!file) return nullptr;
  return std::unique_ptr<FileOutput>(new FileOutput(std::move(file)));
}

FileOutput::FileOutput(std::unique_ptr<SystemFile> file) : file_(std::move(file)) {
  buffer_.reserve(kBufferSize);
}

FileOutput::~FileOutput() = default;

bool FileOutput::Flush(std::string* error) {
  if (buffer_.empty()) return true;
  if (!file_->WriteAt(flushed_, buffer_.data(), buffer_.size(), error)) return false;
  flushed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool FileOutput::Append(const void* data, size_t size, std::string* error) {
  size_ += size;
  if (buffer_.size() + size <= kBufferSize) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + size);
    return true;
  }
  // Large pieces go straight to the file rather than through the buffer.
  if (!Flush(error)) return false;
  if (size >= kBufferSize / 2) {
    if (!file_->WriteAt(flushed_, data, size, error)) return false;
    flushed_ += size;
    return true;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  buffer_.insert(buffer_.end(), p, p + size);
  return true;
}

bool FileOutput::Overwrite(uint64_t offset, const void* data, size_t size, std::string* error) {
  if (offset > size_ || size > size_ - offset) {
    *error = "overwrite past the end of the output";
    return false;
  }
  if (offset + size > flushed_ && !Flush(error)) return false;
  return file_->WriteAt(offset, data, size, error);
}

bool FileOutput::Close(std::string* error) {
  const bool flushed = Flush(error);
  std::string closeError;
  const bool closed = file_->Close(&closeError);
  if (flushed && !closed) *error = closeError;
  return flushed && closed;
}

Output* MemoryFileSink::Begin(const std::string& name, std::string*) {
  current_ = name;
  output_ = std::make_unique<MemoryOutput>();
  return output_.get();
}

bool MemoryFileSink::End(std::string*) {
  if (output_) files_[current_] = output_->bytes();
  output_.reset();
  return true;
}

FolderFileSink::~FolderFileSink() {
  if (file_) {
    std::string ignored;
    file_->Close(&ignored);
  }
}

Output* FolderFileSink::Begin(const std::string& name, std::string* error) {
  if (!folderMade_ && !MakeFolder(folder_, error)) return nullptr;
  folderMade_ = true;
  file_ = FileOutput::Create(folder_ + "/" + name, error);
  return file_.get();
}

bool FolderFileSink::End(std::string* error) {
  if (!file_) return true;
  const bool closed = file_->Close(error);
  file_.reset();
  return closed;
}

}  // namespace quillon::gen
