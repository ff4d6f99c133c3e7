// Text in the charset a message declares, or in the store's code page, as UTF-8, through the
// shared code page converters (GMime names the charsets they lack).
#include <gmime/gmime.h>

#include <string>

#include "mime/message_parts.h"
#include "text/ascii.h"
#include "text/code_pages.h"
#include "text/utf8.h"

namespace quillon::mime {
namespace {

// A declared charset as the name to convert with: lower case, an RFC 2231 language suffix
// dropped, and GB2312 and its subsets read as their superset GB18030, as mail programs do (mail
// labelled gb2312 often holds characters only GBK has). Empty for "no charset".
std::string CanonicalCharset(std::string_view charset) {
  while (!charset.empty() && (charset.front() == ' ' || charset.front() == '"')) {
    charset.remove_prefix(1);
  }
  while (!charset.empty() && (charset.back() == ' ' || charset.back() == '"')) {
    charset.remove_suffix(1);
  }
  std::string name = AsciiLowered(charset.substr(0, charset.find('*')));
  for (const char* gb : {"gb2312", "gbk", "x-gbk", "cp936", "windows-936", "euc-cn", "x-euc-cn",
                         "csgb2312", "gb_2312-80", "chinese"}) {
    if (name == gb) return "gb18030";
  }
  if (name == "us-ascii" || name == "ascii" || name == "unknown-8bit" || name == "x-unknown" ||
      name == "x-user-defined" || name == "default") {
    return "";
  }
  return name;
}

// Charsets whose text is more than its ASCII bytes: escape sequences and wide units.
bool IsStateful(std::string_view charset) {
  return charset.rfind("iso-2022", 0) == 0 || charset.rfind("utf-7", 0) == 0 ||
         charset.rfind("utf-16", 0) == 0 || charset.rfind("utf-32", 0) == 0 ||
         charset.rfind("ucs", 0) == 0 || charset == "hz-gb-2312";
}

// `bytes` in the charset `name` (canonical) as UTF-8 in *out, or false at the first byte that is
// no character there. The table's charsets go through the code page converters; one only GMime
// knows, through the iconv name GMime gives it.
bool DeclaredToUtf8(std::string_view bytes, const std::string& name, std::string* out) {
  const uint32_t codePage = CodePageOfCharset(name);
  if (codePage != 0) return CodePageToUtf8Strict(bytes, codePage, out);
  const char* iconvName = g_mime_charset_iconv_name(name.c_str());
  return iconvName != nullptr && IconvToUtf8Strict(bytes, iconvName, out) && IsUtf8(*out);
}

}  // namespace

std::string TextToUtf8(std::string_view bytes, std::string_view charset, uint32_t codePage) {
  const std::string name = CanonicalCharset(charset);
  if (IsAscii(bytes) && !IsStateful(name)) return std::string(bytes);
  if (name == "utf-8" || name == "utf8" || name.empty()) {
    if (IsUtf8(bytes)) return std::string(bytes);
  } else {
    std::string out;
    if (DeclaredToUtf8(bytes, name, &out)) return out;
  }
  // The store's code page, GBK read as its superset too.
  if (codePage == 936) codePage = kGb18030CodePage;
  if (CodePageAvailable(codePage)) return CodePageToUtf8(bytes, codePage);
  return ValidUtf8(bytes);
}

}  // namespace quillon::mime
