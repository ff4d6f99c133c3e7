// The engine's only way to the operating system's files. The platform implementation lives in
// file_io_posix.cc / file_io_win32.cc; tests hand the engine in-memory or failing ones.
#ifndef QUILLON_FS_FILE_IO_H_
#define QUILLON_FS_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "text/paths.h"  // the separator the engine puts between the backup folder and a name

namespace quillon {

// A mailbox file open for reading. Other programs may read, write, truncate or delete it
// meanwhile, so every read reports what it actually delivered.
class InputFile {
 public:
  virtual ~InputFile() = default;

  // The file's length now, in bytes; 0 when the system cannot say.
  virtual uint64_t Size() = 0;

  // Reads up to `size` bytes at `offset` into `buffer` and sets *got to how many arrived. True
  // when the read went as far as the file does: all `size` bytes, or fewer because the file ends
  // first (none at or past its end). False when the system reported an error (a bad sector, a
  // share that went away): *got then counts the bytes that arrived before it, and *error holds the
  // system's reason. An error is never the end of the file.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                      std::string* error) = 0;
};

// A new output file under a temporary name, which takes its final name only when Place succeeds.
// Destroying it before then closes it and removes it, whatever happened: no reader ever sees a
// part of the data under the final name, and no temporary file stays behind.
class OutputFile {
 public:
  virtual ~OutputFile() = default;

  // Writes all `size` bytes. False when the write failed or came out short; *error then says why.
  virtual bool Write(const void* data, size_t size, std::string* error) = 0;

  // Closes the file; false (with *error) when the data could not be committed.
  virtual bool Close(std::string* error) = 0;

  // After Close: moves the file over its final name, replacing what stood there. A link of that
  // name is itself replaced, never followed. False (with *error) when the name cannot be taken
  // (a folder of that name, a file that may not be replaced); the file is then removed.
  virtual bool Place(std::string* error) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file for reading, shared for reading, writing and deletion, without
  // waiting for a writer (a FIFO must not block the open). Null on failure, with the system's
  // reason in *error; "not a regular file" for a FIFO, a device or a socket.
  virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path,
                                                    std::string* error) = 0;

  // Starts a file that will replace `path` once it is complete: the data goes to a new file under
  // a temporary name in the same folder, created exclusively (an existing file or a link there is
  // never opened). Null on failure, with *error.
  virtual std::unique_ptr<OutputFile> CreateReplacing(const std::string& path,
                                                      std::string* error) = 0;
};

// The operating system's files with paths in the system's narrow encoding (on Windows the ANSI
// code page, as the desktop program needs). Process-wide, never null, safe to use from any thread.
FileSystem* PlatformFileSystem();

// The operating system's files with UTF-8 paths (on Windows converted to UTF-16 for the wide file
// functions, '/' and '\\' both separators; elsewhere the same object as PlatformFileSystem).
FileSystem* Utf8FileSystem();

// The size the engine works with: the file's length capped at 0xFFFFFFFF, as every offset in a
// mailbox file is 32-bit. A file of 4 GiB and more is still read up to where offsets reach.
inline uint32_t CappedSize(uint64_t length) {
  return length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(length);
}

}  // namespace quillon

#endif  // QUILLON_FS_FILE_IO_H_
