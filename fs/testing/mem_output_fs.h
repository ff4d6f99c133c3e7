// An in-memory output folder for tests: files are strings, a write can be made to fail (a full
// disk), and names can be compared without case, as Windows and macOS do.
#ifndef QUILLON_FS_TESTING_MEM_OUTPUT_FS_H_
#define QUILLON_FS_TESTING_MEM_OUTPUT_FS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "fs/output_fs.h"

namespace quillon {

class MemOutputFs final : public OutputFs {
 public:
  struct File {
    std::string path;  // as last written
    std::string bytes;
    std::optional<int64_t> modified;
  };

  explicit MemOutputFs(bool ignoreCase = false) : ignoreCase_(ignoreCase) {}

  bool MakeFolders(const std::string& folder, std::string* error) override;
  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override;
  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override;
  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override;
  std::unique_ptr<ReadableFile> OpenForReading(const std::string& path,
                                               std::string* error) override;
  // A name locked once is busy until let go of, as if another process held it.
  std::unique_ptr<Held> Lock(const std::string& name, bool* busy, std::string* error) override;

  // Committed and appended files by path (temporary files not included).
  std::map<std::string, std::string> Files() const;
  const File* Find(const std::string& path) const;
  bool HasFolder(const std::string& folder) const { return folders_.count(Key(folder)) != 0; }
  void Put(const std::string& path, std::string bytes);
  void Erase(const std::string& path) { files_.erase(Key(path)); }
  size_t temporaryCount() const { return temporaries_.size(); }

  // Writes fail once this many bytes have been written in all; 0 means never.
  uint64_t capacity = 0;
  uint64_t written = 0;

 private:
  friend class MemNewFile;
  friend class MemAppendFile;
  friend class MemLock;
  std::string Key(const std::string& path) const;
  bool ParentExists(const std::string& path) const;
  bool Consume(size_t size, std::string* error);

  bool ignoreCase_;
  std::map<std::string, File> files_;               // by Key
  std::set<std::string> folders_{""};               // by Key
  std::map<std::string, std::string> temporaries_;  // by Key: bytes
  std::set<std::string> locks_;                     // by Key
};

}  // namespace quillon

#endif  // QUILLON_FS_TESTING_MEM_OUTPUT_FS_H_
