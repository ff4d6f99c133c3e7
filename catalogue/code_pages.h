// The code pages this program knows by name: for the charset names of mail headers on every
// platform, and for iconv's name of each on glibc. Private to the text decoders.
#ifndef QUILLON_CATALOGUE_CODE_PAGES_H_
#define QUILLON_CATALOGUE_CODE_PAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::catalogue {

struct CodePageName {
  uint32_t codePage;
  uint32_t ansiCodePage;  // of a Windows that writes this script; 0: none, or any (UTF-8)
  const char* iconvName;
  const char* charsets;  // lower-case MIME names, separated by spaces
};

// The entry of `codePage`, or null.
const CodePageName* FindCodePage(uint32_t codePage);

// Code pages whose text uses escape sequences, so ASCII bytes are not ASCII text in them.
inline bool IsStateful(uint32_t codePage) { return codePage >= 50220 && codePage <= 50229; }

// The platform's decoding of `bytes` in `codePage` to UTF-8, a byte that is no character there
// becoming U+FFFD (text_posix.cc, text_win32.cc). The code page is available.
std::string PlatformToUtf8(std::string_view bytes, uint32_t codePage);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_CODE_PAGES_H_
