#include <io.h>
#include <windows.h>

#include "cli/terminal.h"

namespace quillon {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace quillon
