#include <io.h>
#include <windows.h>

#include <string>

#include "cli/terminal.h"
#include "win32/wide_text.h"

namespace quillon {

namespace {

// The console behind `stream`, or null when it goes to a file, a pipe or the NUL device.
HANDLE ConsoleOf(std::FILE* stream) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

size_t TerminalColumns(std::FILE* stream) {
  const HANDLE console = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool WriteText(std::FILE* stream, const std::string& text) {
  const HANDLE console = ConsoleOf(stream);
  if (console == nullptr) {
    // Files and pipes get UTF-8, whatever the console's code page.
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    return std::fflush(stream) == 0 && written;
  }
  // A console shows characters, not bytes in its code page: hand it UTF-16.
  std::fflush(stream);
  if (text.empty()) return true;
  const std::wstring wide = WideFromUtf8(text);
  DWORD done = 0;
  return WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &done, nullptr) != 0;
}

}  // namespace quillon
