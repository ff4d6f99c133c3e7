// The streaming pieces of the mbox writer: a write buffer, so that small pieces cost no system
// call each, and the mboxrd quoting of "From " lines across chunk boundaries.
#ifndef QUILLON_OUTPUT_MBOX_QUOTING_H_
#define QUILLON_OUTPUT_MBOX_QUOTING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "output/output_fs.h"

namespace quillon::output {

// Collects bytes and hands them to its target in large writes. After a failed write it drops
// everything and keeps the first error.
class WriteBuffer {
 public:
  explicit WriteBuffer(size_t capacity = 256 * 1024) : buffer_(capacity) {}

  // Points the buffer at a new target (flush the old one first); clears the error.
  void Reset(ByteOut* target) {
    target_ = target;
    used_ = 0;
    failed_ = false;
    error_.clear();
  }

  void Write(const void* data, size_t size) {
    if (size <= buffer_.size() - used_) {
      std::memcpy(buffer_.data() + used_, data, size);
      used_ += size;
    } else {
      WriteLarge(data, size);
    }
  }
  void Put(char c) { Write(&c, 1); }
  void Write(const std::string& s) { Write(s.data(), s.size()); }

  // Writes what is held. False when anything failed since Reset.
  bool Flush();
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }

 private:
  void WriteLarge(const void* data, size_t size);
  std::vector<char> buffer_;
  size_t used_ = 0;
  ByteOut* target_ = nullptr;
  bool failed_ = false;
  std::string error_;
};

// mboxrd: every line of a message that matches ^>*From gets one more '>', so a reader that
// takes one '>' from such lines gets the message back. Fed a message in chunks of any size; it
// holds back at most the four bytes of an unfinished "From" at a chunk's end.
class FromQuoter {
 public:
  // Before each message: the next byte begins a line.
  void Reset() {
    state_ = State::kLineStart;
    held_ = 0;
    last_ = '\n';
    empty_ = true;
  }

  void Feed(const uint8_t* data, size_t size, WriteBuffer* out);
  // The message has ended: gives what is held back.
  void Finish(WriteBuffer* out);

  // True when the bytes fed so far end with a line end (or there were none).
  bool AtLineStart() const { return empty_ || last_ == '\n'; }

 private:
  enum class State : uint8_t { kLineStart, kMidLine, kMatching };
  State state_ = State::kLineStart;
  uint8_t matched_ = 0;  // of "From ", while kMatching
  uint8_t held_ = 0;     // bytes of the match held back from earlier chunks
  uint8_t heldBytes_[4];
  uint8_t last_ = '\n';
  bool empty_ = true;
};

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MBOX_QUOTING_H_
