// The mailbox's strings as UTF-8 text. Strings in a mailbox file are 8-bit, in the code page of
// the Windows that wrote them, which the file does not name: the user may name it, else the
// message's own headers hint at it, else Windows-1252 is the best guess. Decoding uses the
// platform (iconv on glibc, MultiByteToWideChar on Windows), so the code pages are the system's.
#ifndef QUILLON_CATALOGUE_TEXT_H_
#define QUILLON_CATALOGUE_TEXT_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace quillon::catalogue {

inline constexpr uint32_t kWindows1252 = 1252;
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

// True when this system can decode `codePage`.
bool CodePageAvailable(uint32_t codePage);

// `bytes` in `codePage`, as UTF-8. Bytes that are no character there, and every non-ASCII byte
// when the code page is not available, become U+FFFD. Never returns invalid UTF-8.
std::string CodePageToUtf8(std::string_view bytes, uint32_t codePage);

// The code page a message's own headers show, from the start of its text: the charset of the
// first encoded-word (RFC 2047) in its header section, else the first charset parameter of a
// Content-Type header (its own or its first parts'). Charsets that say nothing of 8-bit bytes
// (us-ascii) and unknown ones are passed over. 0 when there is none.
uint32_t CodePageFromMessage(std::string_view messageStart);

// The code page to decode a message's strings with: `userCodePage` when not 0, else the one its
// headers show, else Windows-1252.
uint32_t ChooseCodePage(uint32_t userCodePage, std::string_view messageStart);

// A header's text as UTF-8: RFC 2047 encoded-words decoded (B and Q; adjacent words joined, the
// white space between them dropped; a word in an unknown charset, or not well formed, left as it
// stands), everything else taken as `codePage`.
std::string DecodeHeaderText(std::string_view text, uint32_t codePage);

// A FILETIME (100 ns units since 1601-01-01 UTC) as seconds since 1970-01-01 UTC, rounded down.
// False for 0, which the records use for "absent".
bool FiletimeToUnixSeconds(uint64_t filetime, int64_t* seconds);
bool FiletimeToTimeT(uint64_t filetime, std::time_t* time);
// "2016-09-11T22:58:32Z"; empty for 0 and for times past the year 9999.
std::string FiletimeToIso8601(uint64_t filetime);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_TEXT_H_
