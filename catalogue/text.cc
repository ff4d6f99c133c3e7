#include "catalogue/text.h"

#include <cstring>

#include "catalogue/code_pages.h"
#include "text/ascii.h"
#include "text/civil_time.h"
#include "text/utf8.h"

namespace quillon::catalogue {
namespace {

// Mail programs label text with the narrow name of a code page it belongs to; the wider code
// page decodes the same bytes and the characters Windows added (as web browsers do). The second
// column is the Windows ANSI code page of the same script: mail in KOI8-R was written on a
// Russian Windows, whose ANSI code page is 1251.
const CodePageName kCodePages[] = {
    {437, 1252, "CP437", "ibm437 cp437 437 cspc8codepage437"},
    {850, 1252, "CP850", "ibm850 cp850 850"},
    {852, 1250, "CP852", "ibm852 cp852 852"},
    {866, 1251, "CP866", "ibm866 cp866 866 csibm866"},
    {874, 874, "CP874", "windows-874 cp874 x-cp874 tis-620 iso-8859-11"},
    {932, 932, "CP932", "shift_jis shift-jis sjis x-sjis ms_kanji windows-31j cp932 csshiftjis"},
    {936, 936, "CP936", "gbk gb2312 cp936 x-gbk windows-936 ms936 euc-cn csgb2312 chinese"},
    {949, 949, "CP949", "ks_c_5601-1987 ks_c_5601 euc-kr cp949 uhc windows-949 cseuckr"},
    {950, 950, "CP950", "big5 cp950 windows-950 x-x-big5 csbig5"},
    {1250, 1250, "CP1250", "windows-1250 cp1250 x-cp1250"},
    {1251, 1251, "CP1251", "windows-1251 cp1251 x-cp1251"},
    {1252, 1252, "CP1252",
     "windows-1252 cp1252 x-cp1252 iso-8859-1 iso8859-1 iso_8859-1 latin1 l1"},
    {1253, 1253, "CP1253", "windows-1253 cp1253 x-cp1253"},
    {1254, 1254, "CP1254", "windows-1254 cp1254 x-cp1254 iso-8859-9 iso8859-9 latin5"},
    {1255, 1255, "CP1255", "windows-1255 cp1255 x-cp1255"},
    {1256, 1256, "CP1256", "windows-1256 cp1256 x-cp1256"},
    {1257, 1257, "CP1257", "windows-1257 cp1257 x-cp1257"},
    {1258, 1258, "CP1258", "windows-1258 cp1258 x-cp1258"},
    {10000, 1252, "MACINTOSH", "macintosh mac x-mac-roman csmacintosh"},
    {20127, 0, "ASCII", "us-ascii ascii ansi_x3.4-1968 csascii"},
    {20866, 1251, "KOI8-R", "koi8-r koi8 cskoi8r"},
    {21866, 1251, "KOI8-U", "koi8-u koi8-ru"},
    {28592, 1250, "ISO-8859-2", "iso-8859-2 iso8859-2 latin2 l2"},
    {28593, 0, "ISO-8859-3", "iso-8859-3 iso8859-3 latin3"},
    {28594, 1257, "ISO-8859-4", "iso-8859-4 iso8859-4 latin4"},
    {28595, 1251, "ISO-8859-5", "iso-8859-5 iso8859-5 cyrillic"},
    {28596, 1256, "ISO-8859-6", "iso-8859-6 iso8859-6 arabic"},
    {28597, 1253, "ISO-8859-7", "iso-8859-7 iso8859-7 greek"},
    {28598, 1255, "ISO-8859-8", "iso-8859-8 iso8859-8 iso-8859-8-i hebrew"},
    {28603, 1257, "ISO-8859-13", "iso-8859-13 iso8859-13"},
    {28605, 1252, "ISO-8859-15", "iso-8859-15 iso8859-15 latin-9 latin9"},
    {50220, 932, "ISO-2022-JP", "iso-2022-jp csiso2022jp"},
    {51932, 932, "EUC-JP", "euc-jp x-euc-jp cseucpkdfmtjapanese"},
    {54936, 936, "GB18030", "gb18030"},
    {65001, 0, "UTF-8", "utf-8 utf8"},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `prefix` is lower case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool IsAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
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

const CodePageName* FindCodePage(uint32_t codePage) {
  for (const CodePageName& entry : kCodePages) {
    if (entry.codePage == codePage) return &entry;
  }
  return nullptr;
}

uint32_t AnsiCodePageOf(uint32_t codePage) {
  const CodePageName* entry = FindCodePage(codePage);
  return entry != nullptr ? entry->ansiCodePage : 0;
}

uint32_t CodePageOfCharset(std::string_view charset) {
  charset = charset.substr(0, charset.find('*'));
  while (!charset.empty() && IsSpace(charset.front())) charset.remove_prefix(1);
  while (!charset.empty() && IsSpace(charset.back())) charset.remove_suffix(1);
  if (charset.empty()) return 0;
  for (const CodePageName& entry : kCodePages) {
    std::string_view names = entry.charsets;
    while (!names.empty()) {
      const size_t space = names.find(' ');
      const std::string_view name = names.substr(0, space);
      if (name.size() == charset.size() && StartsWithNoCase(charset, name)) return entry.codePage;
      if (space == std::string_view::npos) break;
      names.remove_prefix(space + 1);
    }
  }
  return 0;
}

std::string CodePageToUtf8(std::string_view bytes, uint32_t codePage) {
  if (IsAscii(bytes) && !IsStateful(codePage)) return std::string(bytes);
  if (codePage == kUtf8CodePage) return ValidUtf8(bytes);
  if (!CodePageAvailable(codePage)) {
    std::string out;
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out.push_back(c);
      } else {
        out += "\xEF\xBF\xBD";
      }
    }
    return out;
  }
  // The platform's output is UTF-8 already; the check costs little and keeps the promise
  // whatever a system's tables do.
  return ValidUtf8(PlatformToUtf8(bytes, codePage));
}

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
