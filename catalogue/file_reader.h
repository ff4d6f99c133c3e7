// The catalogue reader's one way to the mailbox file: every read names the structure it is for,
// is checked against the file's size before it is made, and turns a failure into a damage report
// of its own kind. A change in how the file reports errors is a change here only.
#ifndef QUILLON_CATALOGUE_FILE_READER_H_
#define QUILLON_CATALOGUE_FILE_READER_H_

#include <cstdint>

#include "catalogue/damage.h"
#include "fs/file_io.h"

namespace quillon::catalogue {

class FileReader {
 public:
  // Neither is owned; both must outlive the reader. The file's size is taken now, once: its
  // length capped at 0xFFFFFFFF, as every offset in the file is 32-bit.
  FileReader(InputFile* file, DamageLog* damage);

  uint32_t size() const { return size_; }
  DamageLog& damage() { return *damage_; }

  // True when [offset, offset + length) lies within the file.
  bool Fits(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // Fits, or false after reporting "<what> at <at>" as running past the end of the file.
  bool CheckFits(uint32_t offset, uint32_t length, const char* what, uint32_t at);

  // Reads exactly `length` bytes at `offset` into `out`. False when they do not all lie in the
  // file (reported as damage to "<what> at <at>"), or the system failed to read them or the file
  // gave fewer than its size promised (reported as unreadable, with where and why); `out` is then
  // unspecified.
  bool Read(uint32_t offset, uint32_t length, void* out, const char* what, uint32_t at);

  // Reads what the file holds of [offset, offset + length), at most `length` bytes, and returns
  // how many arrived: 0 after a failed read, which is reported as unreadable. A file that ends
  // before `length` bytes is for the caller.
  uint32_t ReadUpTo(uint32_t offset, uint32_t length, void* out, const char* what);

 private:
  // The file's bytes at [offset, offset + length), all within size_. False after reporting.
  bool ReadWithin(uint32_t offset, uint32_t length, void* out, const char* what, uint32_t at);

  InputFile* file_;
  DamageLog* damage_;
  uint32_t size_;
};

// Little-endian words of bytes already read.
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_FILE_READER_H_
