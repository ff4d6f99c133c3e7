// An in-memory FileSystem for tests and the fuzzer: mailbox files are byte strings that a test can
// change while an export reads them, reads can fail, and output files can be made to fail.
#ifndef QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_
#define QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fs/file_io.h"

namespace quillon {

class MemFileSystem final : public FileSystem {
 public:
  // Files by full path. An input file reads the string it was opened on, so a test that changes
  // the string (through Mutable) changes what the next read sees. An output file lives under a
  // temporary name in its folder ("<folder><separator>.tmp-<k>") until it is placed.
  void Put(const std::string& path, std::string contents);
  bool Has(const std::string& path) const { return files_.count(path) != 0; }
  const std::string& Get(const std::string& path) const { return *files_.at(path); }
  std::string* Mutable(const std::string& path) { return files_.at(path).get(); }
  // Every file whose path starts with `prefix`, by path.
  std::map<std::string, std::string> FilesUnder(const std::string& prefix) const;

  // Creation fails for final paths for which this returns true ("Permission denied").
  std::function<bool(const std::string&)> failCreate;
  // Placing a complete file under its final name fails for paths for which this returns true, as
  // when a folder has that name ("Is a directory").
  std::function<bool(const std::string&)> failPlace;
  // Writes fail once this many bytes have been written in all (a full disk); 0 means never.
  uint64_t diskCapacity = 0;
  // Called before every read of an input file, with its offset and size (to change the file
  // mid-export, or to count reads).
  std::function<void(uint64_t offset, size_t size)> onRead;
  // A read for which this returns true fails with "Input/output error" and delivers nothing.
  std::function<bool(uint64_t offset, size_t size)> failRead;
  // Reads of input files so far.
  uint64_t readCalls = 0;
  // Output files still open.
  int openOutputs = 0;
  uint64_t bytesWritten = 0;

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override;
  std::unique_ptr<OutputFile> CreateReplacing(const std::string& path, std::string* error) override;

 private:
  friend class MemOutputFile;
  std::map<std::string, std::shared_ptr<std::string>> files_;
  uint64_t temporaries_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_FS_TESTING_MEM_FILE_SYSTEM_H_
