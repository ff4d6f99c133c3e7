// An in-memory FileSystem for tests and the fuzzer: mailbox files are byte strings that a test can
// change while an export reads them, and output files can be made to fail.
#ifndef QUILLON_ENGINE_TESTING_MEM_FILE_SYSTEM_H_
#define QUILLON_ENGINE_TESTING_MEM_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_io.h"

namespace quillon {

class MemFileSystem final : public FileSystem {
 public:
  // Files by full path. An input file reads the string it was opened on, so a test that changes
  // the string (through Mutable) changes what the next read sees.
  void Put(const std::string& path, std::string contents);
  bool Has(const std::string& path) const { return files_.count(path) != 0; }
  const std::string& Get(const std::string& path) const { return *files_.at(path); }
  std::string* Mutable(const std::string& path) { return files_.at(path).get(); }
  // Every file whose path starts with `prefix`, by path.
  std::map<std::string, std::string> FilesUnder(const std::string& prefix) const;

  // Creation fails for paths for which this returns true.
  std::function<bool(const std::string&)> failCreate;
  // Writes fail once this many bytes have been written in all (a full disk); 0 means never.
  uint64_t diskCapacity = 0;
  // Called before every read of an input file, with its offset and size (to change the file
  // mid-export, or to count reads).
  std::function<void(uint64_t offset, size_t size)> onRead;
  // Reads of input files so far.
  uint64_t readCalls = 0;
  // Output files still open.
  int openOutputs = 0;
  uint64_t bytesWritten = 0;

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override;
  std::unique_ptr<OutputFile> CreateOrTruncate(const std::string& path,
                                               std::string* error) override;
  bool Remove(const std::string& path) override;

 private:
  std::map<std::string, std::shared_ptr<std::string>> files_;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_TESTING_MEM_FILE_SYSTEM_H_
