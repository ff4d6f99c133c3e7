// Windows only: the programs are UTF-8 inside and meet the system in UTF-16.
#ifndef QUILLON_WIN32_WIDE_TEXT_H_
#define QUILLON_WIN32_WIDE_TEXT_H_

#include <string>
#include <string_view>

namespace quillon {

// Invalid UTF-8 becomes U+FFFD: for text that is shown, never for a name that must round-trip.
std::wstring WideFromUtf8(std::string_view utf8);
// False, with *wide emptied, when `utf8` is not valid UTF-8: for paths, where a guessed
// character would name another file.
bool StrictWideFromUtf8(std::string_view utf8, std::wstring* wide);
// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);
// Text in a Windows code page (CP_ACP for the system's ANSI one) as UTF-8.
std::string Utf8FromCodePage(unsigned codePage, std::string_view text);

// The system's words for a Win32 error code, in UTF-8, without the trailing full stop and line
// break; "error N" when it has none.
std::string SystemErrorText(unsigned long code);

}  // namespace quillon

#endif  // QUILLON_WIN32_WIDE_TEXT_H_
