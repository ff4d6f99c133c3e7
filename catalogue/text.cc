#include "catalogue/text.h"

#include <cstring>

#include "text/ascii.h"
#include "text/civil_time.h"
#include "text/utf8.h"

namespace quillon::catalogue {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `prefix` is lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Encoded-words are decoded here rather than by a library: glibc has no RFC 2047 decoder, the
// Windows one (MIME in CDO/MLang) is not on every system the program runs on, and a decoder
// that must leave unknown charsets and broken words as they stand is a page of code.

// B: base64, padding optional. False on a character outside the alphabet.
bool DecodeB(std::string_view text, std::string* out) {
  uint32_t bits = 0;
  int held = 0;
  for (char c : text) {
    if (c == '=') break;
    const int d = Base64Digit(c);
    if (d < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(d);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out->push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  return true;
}

// Q: '_' is a space, "=XX" a byte; an '=' without two hex digits stays as it is.
void DecodeQ(std::string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      out->push_back(' ');
    } else if (c == '=' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out->push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out->push_back(c);
    }
  }
}

struct EncodedWord {
  uint32_t codePage = 0;
  std::string bytes;  // decoded, in codePage
  size_t end = 0;     // just past the closing "?="
};

// Parses an encoded-word "=?charset?B|Q?text?=" starting at `at` (which holds "=?"). False when
// it is not one, or its charset is not known.
bool ParseEncodedWord(std::string_view text, size_t at, EncodedWord* word) {
  const size_t charsetEnd = text.find('?', at + 2);
  if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() ||
      text[charsetEnd + 2] != '?') {
    return false;
  }
  const std::string_view charset = text.substr(at + 2, charsetEnd - at - 2);
  const char encoding = AsciiLower(text[charsetEnd + 1]);
  const size_t textStart = charsetEnd + 3;
  const size_t close = text.find("?=", textStart);
  if (close == std::string_view::npos || charset.empty()) return false;
  const std::string_view encoded = text.substr(textStart, close - textStart);
  for (char c : charset) {
    if (IsSpace(c)) return false;
  }
  for (char c : encoded) {
    if (IsSpace(c)) return false;
  }
  word->codePage = CodePageOfCharset(charset);
  if (word->codePage == 0) return false;
  word->bytes.clear();
  if (encoding == 'b') {
    if (!DecodeB(encoded, &word->bytes)) return false;
  } else if (encoding == 'q') {
    DecodeQ(encoded, &word->bytes);
  } else {
    return false;
  }
  word->end = close + 2;
  return true;
}

// The value of parameter `name` (lower case) in a header value "type/sub; a=b; name="value"".
std::string_view Parameter(std::string_view value, std::string_view name) {
  size_t at = 0;
  while ((at = value.find(';', at)) != std::string_view::npos) {
    ++at;
    while (at < value.size() && IsSpace(value[at])) ++at;
    if (!StartsWithNoCase(value.substr(at), name)) continue;
    size_t p = at + name.size();
    while (p < value.size() && IsSpace(value[p])) ++p;
    if (p >= value.size() || value[p] != '=') continue;
    ++p;
    while (p < value.size() && IsSpace(value[p])) ++p;
    if (p < value.size() && value[p] == '"') {
      const size_t close = value.find('"', p + 1);
      if (close == std::string_view::npos) return value.substr(p + 1);
      return value.substr(p + 1, close - p - 1);
    }
    size_t end = p;
    while (end < value.size() && value[end] != ';' && !IsSpace(value[end])) ++end;
    return value.substr(p, end - p);
  }
  return {};
}

// A charset worth decoding 8-bit strings with: known, and not one that holds no 8-bit bytes.
uint32_t Useful(uint32_t codePage) { return codePage == 20127 ? 0 : codePage; }

}  // namespace

uint32_t CodePageFromMessage(std::string_view message) {
  size_t headerEnd = message.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) headerEnd = message.find("\n\n");
  const std::string_view headers = message.substr(0, headerEnd);
  for (size_t at = headers.find("=?"); at != std::string_view::npos;
       at = headers.find("=?", at + 2)) {
    EncodedWord word;
    if (ParseEncodedWord(headers, at, &word) && Useful(word.codePage) != 0) return word.codePage;
  }
  // Content-Type headers, the message's own and its parts', each unfolded.
  size_t line = 0;
  while (line < message.size()) {
    size_t end = message.find('\n', line);
    if (end == std::string_view::npos) end = message.size();
    if (StartsWithNoCase(message.substr(line, end - line), "content-type:")) {
      std::string value(message.substr(line + 13, end - line - 13));
      while (end + 1 < message.size() && (message[end + 1] == ' ' || message[end + 1] == '\t')) {
        const size_t next = message.find('\n', end + 1);
        const size_t stop = next == std::string_view::npos ? message.size() : next;
        value += message.substr(end + 1, stop - end - 1);
        end = stop;
      }
      const uint32_t codePage = Useful(CodePageOfCharset(Parameter(value, "charset")));
      if (codePage != 0) return codePage;
    }
    line = end + 1;
  }
  return 0;
}

uint32_t ChooseCodePage(uint32_t userCodePage, std::string_view messageStart) {
  if (userCodePage != 0) return userCodePage;
  const uint32_t fromMessage = CodePageFromMessage(messageStart);
  return fromMessage != 0 ? fromMessage : kWindows1252;
}

std::string DecodeHeaderText(std::string_view text, uint32_t codePage) {
  std::string out;
  // Adjacent words of one charset are decoded together: a character may be split across them.
  std::string pending;
  uint32_t pendingCodePage = 0;
  auto flush = [&] {
    out += CodePageToUtf8(pending, pendingCodePage);
    pending.clear();
  };
  size_t plainStart = 0;  // the text not yet decoded starts here
  bool afterWord = false;
  EncodedWord word;
  for (size_t at = text.find("=?"); at != std::string_view::npos; at = text.find("=?", at)) {
    if (!ParseEncodedWord(text, at, &word)) {
      at += 2;
      continue;
    }
    const std::string_view between = text.substr(plainStart, at - plainStart);
    bool blank = true;
    for (char c : between) blank = blank && IsSpace(c);
    if (!(afterWord && blank)) {
      flush();
      out += CodePageToUtf8(between, codePage);
    }
    if (!pending.empty() && pendingCodePage != word.codePage) flush();
    pendingCodePage = word.codePage;
    pending += word.bytes;
    afterWord = true;
    plainStart = at = word.end;
  }
  flush();
  out += CodePageToUtf8(text.substr(plainStart), codePage);
  return out;
}

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSeconds1601To1970 = 11644473600;  // 134,774 days

}  // namespace

bool FiletimeToUnixSeconds(uint64_t filetime, int64_t* seconds) {
  if (filetime == 0) return false;
  *seconds = static_cast<int64_t>(filetime / kTicksPerSecond) - kSeconds1601To1970;
  return true;
}

bool FiletimeToTimeT(uint64_t filetime, std::time_t* time) {
  int64_t seconds = 0;
  if (!FiletimeToUnixSeconds(filetime, &seconds)) return false;
  *time = static_cast<std::time_t>(seconds);
  return static_cast<int64_t>(*time) == seconds;
}

std::string FiletimeToIso8601(uint64_t filetime) {
  int64_t seconds = 0;
  return FiletimeToUnixSeconds(filetime, &seconds) ? Iso8601Utc(seconds) : std::string();
}

}  // namespace quillon::catalogue
