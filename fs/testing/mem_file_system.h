// The one in-memory file system of the tests and the fuzzer: the engines' FileSystem and an
// export's output folder (OutputFs) over the same files. Files are byte strings that a test can
// change while an export reads them; reads can fail, writes can run out of room, creation and
// placing can be refused, and names can be compared without case, as Windows and macOS do.
#ifndef QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_
#define QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/output_fs.h"

namespace quillon {

class MemFileSystem final : public FileSystem, public OutputFs {
 public:
  struct File {
    std::string path;  // as last written
    std::string bytes;
    std::optional<int64_t> modified;
  };

  explicit MemFileSystem(bool ignoreCase = false) : ignoreCase_(ignoreCase) {}

  // Files by path. An open file reads the file it was opened on, so a test that changes its
  // bytes (through Mutable) changes what the next read sees; a file put or placed over that
  // name since is another file, as on a disk. A FileSystem output file lives under a temporary
  // name in its folder ("<folder><separator>.tmp-<k>") until it is placed; an OutputFs one
  // under the temporary path it was created with, which no listing shows.
  void Put(const std::string& path, std::string contents);
  bool Has(const std::string& path) const { return files_.count(Key(path)) != 0; }
  const std::string& Get(const std::string& path) const { return files_.at(Key(path))->bytes; }
  std::string* Mutable(const std::string& path) { return &files_.at(Key(path))->bytes; }
  const File* Find(const std::string& path) const;
  void Erase(const std::string& path) { files_.erase(Key(path)); }
  // Every file, by path; and every file whose path starts with `prefix`.
  std::map<std::string, std::string> Files() const { return FilesUnder(""); }
  std::map<std::string, std::string> FilesUnder(const std::string& prefix) const;
  bool HasFolder(const std::string& folder) const { return folders_.count(Key(folder)) != 0; }
  // OutputFs files not yet committed.
  size_t temporaryCount() const { return temporaries_.size(); }

  // Creation fails for final paths for which this returns true ("Permission denied").
  std::function<bool(const std::string&)> failCreate;
  // Placing a complete file under its final name fails for paths for which this returns true, as
  // when a folder has that name ("Is a directory").
  std::function<bool(const std::string&)> failPlace;
  // Writes stop once this many bytes have been written in all (a full disk): what fits is
  // written, and the write fails. 0 means never.
  uint64_t diskCapacity = 0;
  // Called before every read of an open file, with its offset and size (to change the file
  // mid-export, or to count reads).
  std::function<void(uint64_t offset, size_t size)> onRead;
  // A read for which this returns true fails with "Input/output error" and delivers nothing.
  std::function<bool(uint64_t offset, size_t size)> failRead;
  // Reads of open files so far.
  uint64_t readCalls = 0;
  // FileSystem output files still open.
  int openOutputs = 0;
  uint64_t bytesWritten = 0;

  // Both interfaces open files for reading alike.
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override;

  // FileSystem.
  std::unique_ptr<OutputFile> CreateReplacing(const std::string& path, std::string* error) override;

  // OutputFs, with the output folder at the root of the paths.
  bool MakeFolders(const std::string& folder, std::string* error) override;
  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override;
  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override;
  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override;
  // A name locked once is busy until let go of, as if another process held it.
  std::unique_ptr<Held> Lock(const std::string& name, bool* busy, std::string* error) override;

 private:
  friend class MemInputFile;
  friend class MemOutputFile;
  friend class MemNewFile;
  friend class MemAppendFile;
  friend class MemLock;
  std::string Key(const std::string& path) const;
  bool ParentExists(const std::string& path) const;
  // Appends what fits of `data` to `bytes`; false with "No space left on device" when not all.
  bool Write(std::string* bytes, const void* data, size_t size, std::string* error);

  bool ignoreCase_;
  std::map<std::string, std::shared_ptr<File>> files_;  // by Key
  std::set<std::string> folders_{""};                   // by Key
  std::map<std::string, std::string> temporaries_;      // by Key: bytes
  std::set<std::string> locks_;                         // by Key
  uint64_t temporaryNames_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_
