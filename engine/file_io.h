// The engine's only way to the operating system's files. The platform implementation lives in
// file_io_posix.cc / file_io_win32.cc; tests hand the engine in-memory or failing ones.
#ifndef QUILLON_ENGINE_FILE_IO_H_
#define QUILLON_ENGINE_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

// A mailbox file open for reading. Other programs may read, write, truncate or delete it
// meanwhile, so every read reports what it actually delivered.
class InputFile {
 public:
  virtual ~InputFile() = default;

  // The low 32 bits of the file's length now.
  virtual uint32_t SizeLow32() = 0;

  // Reads up to `size` bytes at `offset` into `buffer` and returns how many arrived: fewer than
  // asked at the end of the file, 0 past it or when the read fails.
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// An output file, created empty. Destroying it closes it without reporting errors.
class OutputFile {
 public:
  virtual ~OutputFile() = default;

  // Writes all `size` bytes. False when the write failed or came out short; *error then says why.
  virtual bool Write(const void* data, size_t size, std::string* error) = 0;

  // Closes the file; false (with *error) when data could not be committed.
  virtual bool Close(std::string* error) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading, shared for reading, writing and deletion. Null on failure,
  // with the system's reason in *error.
  virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path,
                                                    std::string* error) = 0;

  // Creates a file, or truncates an existing one of that name. Null on failure, with *error.
  virtual std::unique_ptr<OutputFile> CreateOrTruncate(const std::string& path,
                                                       std::string* error) = 0;

  // Removes a file; false when it could not be removed.
  virtual bool Remove(const std::string& path) = 0;
};

// The operating system's files. Process-wide, never null, safe to use from any thread.
FileSystem* PlatformFileSystem();

// The separator of folders in a path on this platform: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

}  // namespace quillon

#endif  // QUILLON_ENGINE_FILE_IO_H_
