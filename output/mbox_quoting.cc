#include "output/mbox_quoting.h"

namespace quillon::output {

bool WriteBuffer::Flush() {
  if (!failed_ && used_ > 0 && !target_->Write(buffer_.data(), used_, &error_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

void WriteBuffer::WriteLarge(const void* data, size_t size) {
  if (!Flush()) return;
  if (size < buffer_.size()) {
    std::memcpy(buffer_.data(), data, size);
    used_ = size;
  } else if (!target_->Write(data, size, &error_)) {
    failed_ = true;
  }
}

void FromQuoter::Feed(const uint8_t* p, size_t n, WriteBuffer* out) {
  static const char kFrom[] = "From ";
  if (n == 0) return;
  size_t i = 0;
  size_t span = 0;  // the first byte not yet given to `out`
  while (i < n) {
    switch (state_) {
      case State::kMidLine: {
        const void* end = std::memchr(p + i, '\n', n - i);
        if (end == nullptr) {
          i = n;
        } else {
          i = static_cast<size_t>(static_cast<const uint8_t*>(end) - p) + 1;
          state_ = State::kLineStart;
        }
        break;
      }
      case State::kLineStart:  // at a line's start, or past its leading '>'s
        if (p[i] == '>') {
          ++i;
        } else if (p[i] == 'F') {
          // Hold the "F" back: the extra '>' must come before it (after the '>'s is as good
          // as before them).
          out->Write(p + span, i - span);
          span = i++;
          matched_ = 1;
          state_ = State::kMatching;
        } else {
          state_ = State::kMidLine;
        }
        break;
      case State::kMatching:
        if (p[i] == static_cast<uint8_t>(kFrom[matched_])) {
          ++i;
          if (++matched_ == 5) {
            out->Put('>');
            out->Write(heldBytes_, held_);
            held_ = 0;
            state_ = State::kMidLine;
          }
        } else {
          out->Write(heldBytes_, held_);
          held_ = 0;
          state_ = State::kMidLine;
        }
        break;
    }
  }
  if (state_ == State::kMatching) {
    // At most "From" in all: the fifth byte ends the match.
    std::memcpy(heldBytes_ + held_, p + span, n - span);
    held_ = static_cast<uint8_t>(held_ + (n - span));
  } else {
    out->Write(p + span, n - span);
  }
  last_ = p[n - 1];
  empty_ = false;
}

void FromQuoter::Finish(WriteBuffer* out) {
  out->Write(heldBytes_, held_);
  held_ = 0;
  state_ = State::kMidLine;
}

}  // namespace quillon::output
