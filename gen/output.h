// Where the generator writes a mailbox: appended in order, with a few patches of bytes already
// written (the header and the first info area are only known at the end).
#ifndef QUILLON_GEN_OUTPUT_H_
#define QUILLON_GEN_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillon {
class SystemFile;  // fs/system_file.h
}  // namespace quillon

namespace quillon::gen {

class Output {
 public:
  virtual ~Output() = default;

  // Appends `size` bytes. False when they could not be written; *error then says why.
  virtual bool Append(const void* data, size_t size, std::string* error) = 0;
  // Replaces [offset, offset + size), which must lie within what was appended.
  virtual bool Overwrite(uint64_t offset, const void* data, size_t size, std::string* error) = 0;
  // Bytes appended so far.
  virtual uint64_t Size() const = 0;
};

// Keeps the bytes in memory, for tests and small files.
class MemoryOutput final : public Output {
 public:
  bool Append(const void* data, size_t size, std::string* error) override;
  bool Overwrite(uint64_t offset, const void* data, size_t size, std::string* error) override;
  uint64_t Size() const override { return bytes_.size(); }

  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A file on disk, written through a buffer in large writes; patches are positioned writes.
class FileOutput final : public Output {
 public:
  static constexpr size_t kBufferSize = size_t{1} << 20;

  // Creates `path` (UTF-8), truncating an existing file. Null on failure, with *error.
  static std::unique_ptr<FileOutput> Create(const std::string& path, std::string* error);
  // Closes without reporting errors; call Close to learn of them.
  ~FileOutput() override;

  bool Append(const void* data, size_t size, std::string* error) override;
  bool Overwrite(uint64_t offset, const void* data, size_t size, std::string* error) override;
  uint64_t Size() const override { return size_; }

  // Writes what is buffered and closes the file. False when anything could not be committed.
  bool Close(std::string* error);

 private:
  explicit FileOutput(std::unique_ptr<SystemFile> file);
  bool Flush(std::string* error);

  std::unique_ptr<SystemFile> file_;
  std::vector<uint8_t> buffer_;
  uint64_t flushed_ = 0;  // bytes already handed to the file
  uint64_t size_ = 0;
};

// Where the files of a whole store go, one at a time: a folder on disk, or memory for tests.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // Starts the file `name` (UTF-8, no folder part); its bytes go to the returned Output, which
  // stays valid until End. Null on failure, with *error.
  virtual Output* Begin(const std::string& name, std::string* error) = 0;
  // Completes the file begun last. False when it could not be committed.
  virtual bool End(std::string* error) = 0;
};

class MemoryFileSink final : public FileSink {
 public:
  Output* Begin(const std::string& name, std::string* error) override;
  bool End(std::string* error) override;

  // The files by name.
  const std::map<std::string, std::string>& files() const { return files_; }

 private:
  std::map<std::string, std::string> files_;
  std::string current_;
  std::unique_ptr<MemoryOutput> output_;
};

class FolderFileSink final : public FileSink {
 public:
  // Files go into `folder`, which is created when missing (its parent must exist).
  explicit FolderFileSink(std::string folder) : folder_(std::move(folder)) {}
  ~FolderFileSink() override;

  Output* Begin(const std::string& name, std::string* error) override;
  bool End(std::string* error) override;

 private:
  std::string folder_;
  bool folderMade_ = false;
  std::unique_ptr<FileOutput> file_;
};

}  // namespace quillon::gen

#endif  // QUILLON_GEN_OUTPUT_H_
