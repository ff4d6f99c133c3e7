#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace quillon {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

size_t TerminalColumns(std::FILE* stream) {
  struct winsize size = {};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool WriteText(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace quillon
