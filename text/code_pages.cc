// The code page table, the names mail gives its code pages, and decoding that needs no platform.
#include "text/code_pages.h"

#include <unordered_map>

#include "text/ascii.h"
#include "text/code_pages_platform.h"
#include "text/utf8.h"

namespace quillon {
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
  // Every name of the table, to its code page: a message's every header asks.
  static const std::unordered_map<std::string_view, uint32_t> kByName = [] {
    std::unordered_map<std::string_view, uint32_t> byName;
    for (const CodePageName& entry : kCodePages) {
      std::string_view names = entry.charsets;
      while (true) {
        const size_t space = names.find(' ');
        byName.emplace(names.substr(0, space), entry.codePage);
        if (space == std::string_view::npos) break;
        names.remove_prefix(space + 1);
      }
    }
    return byName;
  }();
  charset = charset.substr(0, charset.find('*'));
  while (!charset.empty() && IsSpace(charset.front())) charset.remove_prefix(1);
  while (!charset.empty() && IsSpace(charset.back())) charset.remove_suffix(1);
  const auto found = kByName.find(AsciiLowered(charset));
  return found != kByName.end() ? found->second : 0;
}

std::string CodePageToUtf8(std::string_view bytes, uint32_t codePage) {
  if (IsAscii(bytes) && !IsStatefulCodePage(codePage)) return std::string(bytes);
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
  std::string out;
  PlatformToUtf8(bytes, codePage, false, &out);
  return ValidUtf8(out);
}

bool CodePageToUtf8Strict(std::string_view bytes, uint32_t codePage, std::string* out) {
  out->clear();
  if ((IsAscii(bytes) && !IsStatefulCodePage(codePage)) ||
      (codePage == kUtf8CodePage && IsUtf8(bytes))) {
    out->assign(bytes);
    return true;
  }
  if (codePage == kUtf8CodePage || !CodePageAvailable(codePage)) return false;
  return PlatformToUtf8(bytes, codePage, true, out) && IsUtf8(*out);
}

}  // namespace quillon
