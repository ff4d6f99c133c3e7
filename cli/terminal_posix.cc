#include <unistd.h>

#include "cli/terminal.h"

namespace quillon {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace quillon
