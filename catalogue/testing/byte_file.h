// An input file over bytes in memory, for the catalogue's tests and fuzzers: optionally failing
// reads at a chosen range, as a bad sector does.
#ifndef QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_
#define QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "fs/file_io.h"

namespace quillon::catalogue::testing {

class ByteFile final : public InputFile {
 public:
  // `bytes` must outlive the file.
  explicit ByteFile(std::string_view bytes) : bytes_(bytes) {}

  // A read that reaches [begin, end) delivers the bytes before it, then fails with
  // "Input/output error".
  void FailReads(uint64_t begin, uint64_t end) {
    failBegin_ = begin;
    failEnd_ = end;
  }

  uint64_t Size() override { return bytes_.size(); }

  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    ++reads;
    const uint64_t end = std::min<uint64_t>(offset + size, bytes_.size());
    const bool fails = offset < failEnd_ && offset + size > failBegin_;
    const uint64_t stop = fails ? std::max(offset, std::min(end, failBegin_)) : end;
    *got = offset < stop ? static_cast<size_t>(stop - offset) : 0;
    if (*got != 0) std::memcpy(buffer, bytes_.data() + offset, *got);
    if (fails) *error = "Input/output error";
    return !fails;
  }

  uint64_t reads = 0;

 private:
  std::string_view bytes_;
  uint64_t failBegin_ = 0;
  uint64_t failEnd_ = 0;
};

}  // namespace quillon::catalogue::testing

#endif  // QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_
