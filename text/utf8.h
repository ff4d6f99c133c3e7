// UTF-8 as every library reads it: one decoder, so that what counts as a character (no overlong
// forms, no surrogates, nothing past U+10FFFF) is the same in a decoded subject, a file name and
// a name shown on a terminal.
#ifndef QUILLON_TEXT_UTF8_H_
#define QUILLON_TEXT_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The length of the well-formed character at text[at] (at < text.size()), with its code point in
// *code; 0 when none starts there.
size_t Utf8Length(std::string_view text, size_t at, uint32_t* code);

// The code point at text[*pos], moving *pos past it; where no well-formed character starts, U+FFFD
// and one byte.
inline uint32_t NextCodePoint(std::string_view text, size_t* pos) {
  uint32_t code = 0;
  const size_t length = Utf8Length(text, *pos, &code);
  *pos += length == 0 ? 1 : length;
  return length == 0 ? kReplacementCharacter : code;
}

void AppendUtf8(uint32_t code, std::string* out);

// True when every byte of `text` begins, or is part of, a well-formed character.
bool IsUtf8(std::string_view text);

// `text` with every byte that does not begin a well-formed character replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// The longest prefix of valid UTF-8 `text` of at most `maxBytes` bytes that ends on a character
// boundary.
std::string_view CutUtf8(std::string_view text, size_t maxBytes);

}  // namespace quillon

#endif  // QUILLON_TEXT_UTF8_H_
