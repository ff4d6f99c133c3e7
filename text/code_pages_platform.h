// The code page table and the platform's decoders behind text/code_pages.h (code_pages.cc,
// code_pages_posix.cc, code_pages_win32.cc). Private to them.
#ifndef QUILLON_TEXT_CODE_PAGES_PLATFORM_H_
#define QUILLON_TEXT_CODE_PAGES_PLATFORM_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

struct CodePageName {
  uint32_t codePage;
  uint32_t ansiCodePage;  // of a Windows that writes this script; 0: none, or any (UTF-8)
  const char* iconvName;
  const char* charsets;  // lower-case MIME names, separated by spaces
};

// The entry of `codePage`, or null.
const CodePageName* FindCodePage(uint32_t codePage);

// The platform's decoding of `bytes` in `codePage` (which is available) to UTF-8, appended to
// *out. Strict: false at the first byte that is no character there. Else such a byte becomes
// U+FFFD, the conversion goes on after it, and the result is true.
bool PlatformToUtf8(std::string_view bytes, uint32_t codePage, bool strict, std::string* out);

}  // namespace quillon

#endif  // QUILLON_TEXT_CODE_PAGES_PLATFORM_H_
