// The generator's one seam to the operating system: a file created for writing, written at
// explicit positions, and a folder to put files in. system_file_posix.cc and
// system_file_win32.cc implement it.
#ifndef QUILLON_GEN_SYSTEM_FILE_H_
#define QUILLON_GEN_SYSTEM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon::gen {

class SystemFile {
 public:
  // Creates `path` (UTF-8) or truncates an existing file. Null on failure, with *error.
  static std::unique_ptr<SystemFile> Create(const std::string& path, std::string* error);
  // Closes the file if Close was not called, ignoring errors.
  ~SystemFile();
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  // Writes all `size` bytes at `offset`. False (with *error) when the write failed or fell short.
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string* error);
  // False (with *error) when the system reports that data could not be committed.
  bool Close(std::string* error);

 private:
  SystemFile(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  intptr_t handle_;  // a file descriptor or a HANDLE
  bool open_ = true;
  std::string path_;  // for messages
};

// Creates the folder `path` (UTF-8), its parent being there already. True when it exists
// afterwards, made now or before; false with *error otherwise.
bool MakeFolder(const std::string& path, std::string* error);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_SYSTEM_FILE_H_
