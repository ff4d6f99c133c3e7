// A folder written into as a whole, the output folder of an export: a small file interface over
// it, so that tests hand the writers an in-memory one (testing/mem_file_system.h) and the command
// the system's (output_fs_posix.cc, output_fs_win32.cc). Paths are relative to the output folder,
// UTF-8, with '/' between folders whatever the platform.
#ifndef QUILLON_FS_OUTPUT_FS_H_
#define QUILLON_FS_OUTPUT_FS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_io.h"         // InputFile
#include "fs/folder_listing.h"  // FolderEntry

namespace quillon {

// Receives bytes in order, a chunk at a time; returns false to stop.
using ChunkSink = std::function<bool(const uint8_t* data, size_t size)>;

// Bytes somewhere in memory, to be written in turn with others.
struct ByteSpan {
  const void* data;
  size_t size;
};

class ByteOut {
 public:
  virtual ~ByteOut() = default;
  // Writes all `size` bytes; false (with *error) when they could not all be written.
  virtual bool Write(const void* data, size_t size, std::string* error) = 0;
  // Writes the spans one after another, as Write would each. A file may take them in one call
  // of the system's, so that the bytes need not first be copied together.
  virtual bool WriteSpans(const ByteSpan* spans, size_t count, std::string* error) {
    for (size_t i = 0; i < count; ++i) {
      if (!Write(spans[i].data, spans[i].size, error)) return false;
    }
    return true;
  }
};

// A file that appears under its final name whole or not at all: its bytes go to a temporary
// file, and Commit renames that over the final name. Destroyed without a commit, it removes the
// temporary file and leaves the final name as it was. (One that OutputFs::CreateFinal created
// under its final name, where nothing had that name, is removed from there.)
class NewFile : public ByteOut {
 public:
  // Drops every byte written after the first `size`; the next write follows them.
  virtual bool CutBack(uint64_t size, std::string* error) = 0;
  // Gives the file `modified` (seconds since 1970 UTC) as its modification time when set,
  // closes it and renames it to `finalPath`, replacing what has that name but a folder or a
  // device node (refused: not even a run as root replaces a device); a link there is replaced
  // itself, what it leads to is left alone. False (with *error) when any step failed; the
  // temporary file is then removed.
  virtual bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
                      std::string* error) = 0;
};

// A file open for appending; Close says whether everything reached it.
class AppendFile : public ByteOut {
 public:
  // Drops every byte appended after the first `size` this object appended; what the file held
  // before it was opened stays.
  virtual bool CutBack(uint64_t size, std::string* error) = 0;
  virtual bool Close(std::string* error) = 0;
};

// Something held until it is destroyed.
class Held {
 public:
  virtual ~Held() = default;
};

// Every folder below the output folder is made and entered without following a link (a symbolic
// link on POSIX, any reparse point on Windows): a link planted where a folder of the output goes
// is refused, never written through. Files are read and appended to only when they are regular
// files, never through a link.
class OutputFs {
 public:
  virtual ~OutputFs() = default;

  // Makes `folder` and every missing folder above it ("" is the output folder itself). True when
  // it exists as a folder afterwards.
  virtual bool MakeFolders(const std::string& folder, std::string* error) = 0;

  // Starts a file to be written whole: as `temporaryPath` (which must not exist; on the same
  // file system as the final name, normally in its folder or Maildir's tmp/) until committed.
  virtual std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                                   std::string* error) = 0;

  // Starts the file `finalPath` to be written whole, as CreateTemporary does, but without a
  // rename where it can be had: where nothing has that name, the file is made under it at once
  // (one name to make, none to change); where something has it (a run before, a folder), under
  // `temporaryPath`, renamed over it at the commit as CreateTemporary's. Either way the commit
  // names `finalPath`, and a file dropped before its commit leaves nothing of its own. A stop
  // of the machine itself may leave a file cut short under its final name.
  virtual std::unique_ptr<NewFile> CreateFinal(const std::string& finalPath,
                                               const std::string& temporaryPath,
                                               std::string* error) {
    (void)finalPath;
    return CreateTemporary(temporaryPath, error);
  }

  // Opens the regular file `path` for appending, creating it when missing.
  virtual std::unique_ptr<AppendFile> OpenForAppend(const std::string& path,
                                                    std::string* error) = 0;

  // What `folder` holds, in no particular order; empty (and true) when it does not exist. Each
  // entry's kind as ListFolder's, seen without following a link; its size is not looked up (0).
  virtual bool List(const std::string& folder, std::vector<FolderEntry>* entries,
                    std::string* error) = 0;

  // Opens the regular file at `path` for reading, without waiting on anything that is not one
  // (a FIFO, a device) and never through a link. Null (with *error) when it cannot be opened or
  // is no regular file. Its reads are safe from several threads at once, and their errors name
  // the file ("<path>: <reason>").
  virtual std::unique_ptr<InputFile> OpenForReading(const std::string& path,
                                                    std::string* error) = 0;

  // Gives the bytes of the regular file at `path` to `sink`, in order, as OpenForReading opens
  // it. False when the file cannot be opened or read (*error says why), or when the sink
  // stopped.
  bool Read(const std::string& path, const ChunkSink& sink, std::string* error);

  // Takes the output folder for this process alone until the result is destroyed, through the
  // file `name` in it (made for the purpose, and removed when let go of). Null when another
  // process holds it (*busy set) or it could not be taken (*error says why either way).
  virtual std::unique_ptr<Held> Lock(const std::string& name, bool* busy, std::string* error) = 0;
};

// The output folder `root` (in the system's own form; created when missing by MakeFolders("")).
std::unique_ptr<OutputFs> PlatformOutputFs(const std::string& root);

// What a Maildir name of this system puts between the unique part and the flags: ':' as the
// convention says; ';' on Windows, whose file names cannot hold ':' (as mbsync under Cygwin).
char PlatformMaildirInfoSeparator();

// The process id and host name Maildir names are made of.
uint64_t PlatformProcessId();
std::string PlatformHostName();

}  // namespace quillon

#endif  // QUILLON_FS_OUTPUT_FS_H_
