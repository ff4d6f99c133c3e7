// The mailbox's strings as UTF-8 text. Strings in a mailbox file are 8-bit, in the code page of
// the Windows that wrote them, which the file does not name: the user may name it, else the
// message's own headers hint at it, else Windows-1252 is the best guess.
#ifndef QUILLON_CATALOGUE_TEXT_H_
#define QUILLON_CATALOGUE_TEXT_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "text/code_pages.h"

namespace quillon::catalogue {

// The code pages and their decoding, shared with the other libraries (text/code_pages.h), under
// the names the catalogue's users know.
using ::quillon::AnsiCodePageOf;
using ::quillon::CodePageAvailable;
using ::quillon::CodePageOfCharset;
using ::quillon::CodePageToUtf8;
using ::quillon::kUtf8CodePage;
using ::quillon::kWindows1252;

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
