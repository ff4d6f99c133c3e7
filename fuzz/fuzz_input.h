// Reads a fuzzer's input as the values a check needs, front to back. Every read succeeds: past
// the end it gives zeros and empty strings, so any bytes are a valid input and the fuzzer spends
// none of its time on inputs a parser would refuse.
#ifndef QUILLON_FUZZ_FUZZ_INPUT_H_
#define QUILLON_FUZZ_FUZZ_INPUT_H_

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace quillon::fuzzing {

class FuzzInput {
 public:
  explicit FuzzInput(std::string_view bytes) : rest_(bytes) {}

  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // `bytes` bytes, little-endian.
  uint64_t Number(int bytes) {
    uint64_t n = 0;
    for (int i = 0; i < bytes; ++i) n |= uint64_t{Byte()} << (8 * i);
    return n;
  }
  // Up to the next `end`, which is passed over; the rest when there is none.
  std::string_view Until(char end) {
    const size_t at = rest_.find(end);
    const std::string_view taken = rest_.substr(0, at);
    rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + 1);
    return taken;
  }
  std::string_view Take(size_t n) {
    const std::string_view taken = rest_.substr(0, std::min(n, rest_.size()));
    rest_.remove_prefix(taken.size());
    return taken;
  }
  std::string_view Rest() { return Take(rest_.size()); }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// True when `text` is well-formed UTF-8 (shortest forms, no surrogates, nothing past U+10FFFF).
inline bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    size_t length = 0;
    uint32_t cp = 0, least = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2, cp = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, cp = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, cp = b & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_FUZZ_FUZZ_INPUT_H_
