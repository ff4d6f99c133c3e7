#include "output/mbox_quoting.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::output {

bool WriteBuffer::Flush() {
  if (!failed_ && !spans_.empty() && !target_->WriteSpans(spans_.data(), spans_.size(), &error_)) {
    failed_ = true;
  }
  sent_ += held_;
  held_ = 0;
  spans_.clear();
  used_ = 0;
  copying_ = false;
  lent_ = false;
  return !failed_;
}

void WriteBuffer::WriteLarge(const void* data, size_t size) {
  if (!Flush()) return;
  if (size < buffer_.size()) {
    Write(data, size);
  } else {
    sent_ += size;
    if (!target_->Write(data, size, &error_)) failed_ = true;
  }
}

void WriteBuffer::Lend(const void* data, size_t size) {
  if (size < kLendMin) {
    Write(data, size);
    return;
  }
  if (failed_) return;
  held_ += size;
  spans_.push_back({data, size});
  copying_ = false;
  lent_ = true;
  if (spans_.size() >= kMaxSpans) Flush();
}

namespace {

// The first '\n' in [p, end) after which comes a line that may need quoting: one that begins
// with '>' or 'F', or one that begins at `end` (in the next chunk). `end` when there is none.
// Every line is looked at, so this is the quoting's whole cost on most mail: with SSE2, 64
// bytes at a time, which is several times faster than stopping at every line end.
const uint8_t* NextLineToCheck(const uint8_t* p, const uint8_t* end) {
#if defined(__SSE2__)
  const __m128i lineEnd = _mm_set1_epi8('\n');
  const __m128i quote = _mm_set1_epi8('>');
  const __m128i from = _mm_set1_epi8('F');
  const auto hits = [&](const uint8_t* at) {  // reads at[0..16]
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    return _mm_and_si128(_mm_cmpeq_epi8(here, lineEnd),
                         _mm_or_si128(_mm_cmpeq_epi8(next, quote), _mm_cmpeq_epi8(next, from)));
  };
  for (; end - p > 64; p += 64) {
    const __m128i h0 = hits(p), h1 = hits(p + 16), h2 = hits(p + 32), h3 = hits(p + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0) {
      continue;
    }
    const uint64_t mask = static_cast<uint64_t>(_mm_movemask_epi8(h0)) |
                          static_cast<uint64_t>(_mm_movemask_epi8(h1)) << 16 |
                          static_cast<uint64_t>(_mm_movemask_epi8(h2)) << 32 |
                          static_cast<uint64_t>(_mm_movemask_epi8(h3)) << 48;
    return p + __builtin_ctzll(mask);
  }
#endif
  while (p < end) {
    p = static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (p == nullptr) return end;
    if (p + 1 == end || p[1] == '>' || p[1] == 'F') return p;
    ++p;
  }
  return end;
}

}  // namespace

void FromQuoter::Feed(const uint8_t* p, size_t n, WriteBuffer* out, bool lend) {
  static const char kFrom[] = "From ";
  if (n == 0) return;
  const auto give = [&](const uint8_t* bytes, size_t size) {
    if (lend) {
      out->Lend(bytes, size);
    } else {
      out->Write(bytes, size);
    }
  };
  size_t i = 0;
  size_t span = 0;  // the first byte not yet given to `out`
  while (i < n) {
    switch (state_) {
      case State::kMidLine: {
        const uint8_t* at = NextLineToCheck(p + i, p + n);
        if (at == p + n) {
          i = n;
        } else {
          i = static_cast<size_t>(at - p) + 1;
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
          give(p + span, i - span);
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
    give(p + span, n - span);
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
