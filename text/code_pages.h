// Windows code pages, the 8-bit encodings of the text in a mailbox, and the MIME charsets mail
// names them by, decoded to UTF-8 by the platform (iconv on glibc, MultiByteToWideChar on
// Windows), so the code pages are the system's. One table and one set of converters for every
// library that decodes 8-bit text.
#ifndef QUILLON_TEXT_CODE_PAGES_H_
#define QUILLON_TEXT_CODE_PAGES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr uint32_t kWindows1252 = 1252;
inline constexpr uint32_t kGb18030CodePage = 54936;
inline constexpr uint32_t kUtf8CodePage = 65001;

// The Windows code page of a MIME charset name ("windows-1251", "KOI8-R", "gb2312"; case is
// ignored, as is an RFC 2231 language suffix "*ru"), or 0 for a name this program does not know.
// Names that mail programs use for a code page's subset give the code page ("iso-8859-1" gives
// 1252, "gb2312" 936), so text a client labelled too narrowly still decodes.
uint32_t CodePageOfCharset(std::string_view charset);

// The Windows ANSI code page of the script `codePage` is for: mail in KOI8-R or ISO-8859-5 was
// written on a Windows whose ANSI code page is 1251, gb2312 or GB18030 on one of 936. 0 for a
// code page that points to none (UTF-8, US-ASCII) and for one this program does not know.
uint32_t AnsiCodePageOf(uint32_t codePage);

// Code pages whose text uses escape sequences, so ASCII bytes are not ASCII text in them.
inline bool IsStatefulCodePage(uint32_t codePage) { return codePage >= 50220 && codePage <= 50229; }

// True when this system can decode `codePage`.
bool CodePageAvailable(uint32_t codePage);

// `bytes` in `codePage`, as UTF-8. Bytes that are no character there, and every non-ASCII byte
// when the code page is not available, become U+FFFD. Never returns invalid UTF-8.
std::string CodePageToUtf8(std::string_view bytes, uint32_t codePage);

// `bytes` in `codePage` as UTF-8 in *out, or false (and *out unspecified) at the first byte that
// is no character there, a character cut off by the end included, and when the code page is not
// available: for text whose label may be wrong, so that another code page can be tried.
bool CodePageToUtf8Strict(std::string_view bytes, uint32_t codePage, std::string* out);

#ifndef _WIN32
// As CodePageToUtf8Strict, for a charset the table above lacks, by its iconv name ("UTF-7",
// "ISO-8859-16"). False also when iconv does not know the name.
bool IconvToUtf8Strict(std::string_view bytes, const char* iconvName, std::string* out);
#endif

}  // namespace quillon

#endif  // QUILLON_TEXT_CODE_PAGES_H_
