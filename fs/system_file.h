// A file written at positions of the writer's choosing, and a folder to put such files in: what
// the mailbox generator writes its stores with (a block written, its header filled in later).
// Paths are UTF-8 (on Windows converted for the wide functions). system_file_posix.cc and
// system_file_win32.cc implement it.
#ifndef QUILLON_FS_SYSTEM_FILE_H_
#define QUILLON_FS_SYSTEM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

class SystemFile {
 public:
  // Creates `path` or truncates an existing file. Null on failure, with *error.
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

// Creates the folder `path`, its parent being there already. True when it exists afterwards,
// made now or before; false with *error otherwise.
bool MakeFolder(const std::string& path, std::string* error);

}  // namespace quillon

#endif  // QUILLON_FS_SYSTEM_FILE_H_
