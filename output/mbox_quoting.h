// The streaming pieces of the mbox writer: a write buffer, so that small pieces cost no system
// call each, and the mboxrd quoting of "From " lines across chunk boundaries.
#ifndef QUILLON_OUTPUT_MBOX_QUOTING_H_
#define QUILLON_OUTPUT_MBOX_QUOTING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fs/output_fs.h"

namespace quillon::output {

// Collects bytes and hands them to its target in large writes. After a failed write it drops
// everything and keeps the first error. Large pieces the caller keeps still until the next Flush
// are lent rather than copied: they go out in the same write as the copied bytes around them.
class WriteBuffer {
 public:
  // Lent pieces smaller than this are copied: a span a piece costs more than copying a few KiB.
  static constexpr size_t kLendMin = 4096;

  explicit WriteBuffer(size_t capacity = 256 * 1024) : buffer_(capacity) {}

  // Points the buffer at a new target (flush the old one first); clears the error. `total`
  // counts on from `sent`: what the target holds already.
  void Reset(ByteOut* target, uint64_t sent = 0) {
    target_ = target;
    used_ = 0;
    spans_.clear();
    copying_ = false;
    lent_ = false;
    failed_ = false;
    error_.clear();
    sent_ = sent;
    held_ = 0;
  }

  // Bytes given to the buffer since Reset (with `sent`), written or held: where the next byte
  // will be in the target.
  uint64_t total() const { return sent_ + held_; }

  void Write(const void* data, size_t size) {
    if (size <= buffer_.size() - used_) {
      if (size == 0) return;
      held_ += size;
      std::memcpy(buffer_.data() + used_, data, size);
      if (copying_) {
        spans_.back().size += size;
      } else {
        spans_.push_back({buffer_.data() + used_, size});
        copying_ = true;
      }
      used_ += size;
    } else {
      WriteLarge(data, size);
    }
  }
  void Put(char c) { Write(&c, 1); }
  void Write(const std::string& s) { Write(s.data(), s.size()); }
  // Like Write, but the bytes are only referred to: they must stay as they are until the next
  // Flush.
  void Lend(const void* data, size_t size);
  // True when lent bytes wait for a Flush.
  bool holdsLent() const { return lent_; }

  // Writes what is held. False when anything failed since Reset.
  bool Flush();
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kMaxSpans = 64;
  void WriteLarge(const void* data, size_t size);
  std::vector<char> buffer_;
  size_t used_ = 0;
  // What Flush writes, in order: runs of buffer_ and lent pieces.
  std::vector<ByteSpan> spans_;
  bool copying_ = false;  // spans_.back() is the run of buffer_ that ends at used_
  bool lent_ = false;
  ByteOut* target_ = nullptr;
  bool failed_ = false;
  std::string error_;
  uint64_t sent_ = 0;  // handed to the target
  uint64_t held_ = 0;  // in spans_, to be handed to it
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

  // With `lend`, the bytes of `data` that pass unchanged are lent to `out` (WriteBuffer::Lend)
  // rather than copied.
  void Feed(const uint8_t* data, size_t size, WriteBuffer* out, bool lend = false);
  // The message has ended: gives what is held back.
  void Finish(WriteBuffer* out);

  // True when the bytes fed so far end with a line end (or there were none).
  bool AtLineStart() const { return empty_ || last_ == '\n'; }
  // True when the bytes fed so far end with a CR that no LF followed.
  bool EndsInCr() const { return !empty_ && last_ == '\r'; }

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
