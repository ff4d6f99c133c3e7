// Windows only: the command is UTF-8 inside and meets the system in UTF-16.
#ifndef QUILLON_CLI_WINDOWS_TEXT_H_
#define QUILLON_CLI_WINDOWS_TEXT_H_

#include <string>

namespace quillon {

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);

// The system's words for a Win32 error code, in UTF-8, without the trailing line break.
std::string SystemErrorText(unsigned long code);

}  // namespace quillon

#endif  // QUILLON_CLI_WINDOWS_TEXT_H_
