// An input file over bytes in memory, for the catalogue's tests and fuzzers: optionally failing
// every read that touches a chosen range, as a bad sector does.
#ifndef QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_
#define QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_

#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/file_io.h"

namespace quillon::catalogue::testing {

class ByteFile final : public InputFile {
 public:
  // `bytes` must outlive the file.
  explicit ByteFile(std::string_view bytes) : bytes_(bytes) {}

  // Reads that touch [begin, end) deliver nothing.
  void FailReads(uint64_t begin, uint64_t end) {
    failBegin_ = begin;
    failEnd_ = end;
  }

  uint32_t SizeLow32() override { return static_cast<uint32_t>(bytes_.size()); }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    ++reads;
    if (offset < failEnd_ && offset + size > failBegin_) return 0;
    if (offset >= bytes_.size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, n);
    return n;
  }

  uint64_t reads = 0;

 private:
  std::string_view bytes_;
  uint64_t failBegin_ = 0;
  uint64_t failEnd_ = 0;
};

}  // namespace quillon::catalogue::testing

#endif  // QUILLON_CATALOGUE_TESTING_BYTE_FILE_H_
