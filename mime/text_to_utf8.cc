// Text in the charset a message declares, or in the store's code page, as UTF-8, through iconv
// (GMime names the charsets for it).
#include <errno.h>
#include <gmime/gmime.h>
#include <iconv.h>

#include <string>

#include "mime/message_parts.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace quillon::mime {
namespace {

bool IsAscii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsUtf8(std::string_view bytes) {
  uint32_t code = 0;
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t length = Utf8Length(bytes, pos, &code);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

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

// iconv's name for a Windows code page.
std::string IconvNameOfCodePage(uint32_t codePage) {
  switch (codePage) {
    case 936:
    case 54936:
      return "GB18030";
    case 65001:
      return "UTF-8";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 950:
      return "BIG5";
    case 50220:
    case 50221:
    case 50222:
      return "ISO-2022-JP";
    case 51932:
      return "EUC-JP";
    case 51949:
      return "EUC-KR";
    default:
      break;
  }
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  return "CP" + std::to_string(codePage);
}

class Converter {
 public:
  explicit Converter(const char* from) : handle_(iconv_open("UTF-8", from)) {}
  ~Converter() {
    if (ok()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // `bytes` as UTF-8. Strict: false at the first byte that is no character. Else that byte
  // becomes U+FFFD and the conversion goes on after it.
  bool Convert(std::string_view bytes, bool strict, std::string* out) {
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buffer[4096];
    while (true) {
      char* to = buffer;
      size_t room = sizeof buffer;
      const size_t result = iconv(handle_, inLeft ? &in : nullptr, &inLeft, &to, &room);
      const int error = errno;
      out->append(buffer, static_cast<size_t>(to - buffer));
      if (result != static_cast<size_t>(-1)) {
        if (inLeft == 0) {
          to = buffer;
          room = sizeof buffer;
          iconv(handle_, nullptr, nullptr, &to, &room);  // a stateful charset's closing shift
          out->append(buffer, static_cast<size_t>(to - buffer));
          return true;
        }
        continue;
      }
      if (error == E2BIG) continue;
      if (strict) return false;
      out->append("\xEF\xBF\xBD");
      ++in;
      --inLeft;
      iconv(handle_, nullptr, nullptr, nullptr, nullptr);
      if (inLeft == 0) return true;
    }
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string TextToUtf8(std::string_view bytes, std::string_view charset, uint32_t codePage) {
  const std::string name = CanonicalCharset(charset);
  if (IsAscii(bytes) && !IsStateful(name)) return std::string(bytes);
  if (name == "utf-8" || name == "utf8" || name.empty()) {
    if (IsUtf8(bytes)) return std::string(bytes);
  } else {
    Converter converter(g_mime_charset_iconv_name(name.c_str()));
    std::string out;
    if (converter.ok() && converter.Convert(bytes, true, &out) && IsUtf8(out)) return out;
  }
  Converter fallback(IconvNameOfCodePage(codePage).c_str());
  std::string out;
  if (fallback.ok()) {
    fallback.Convert(bytes, false, &out);
    return ValidUtf8(out);
  }
  return ValidUtf8(bytes);
}

}  // namespace quillon::mime
