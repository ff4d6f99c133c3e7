// The little the command needs to know of its terminal.
#ifndef QUILLON_CLI_TERMINAL_H_
#define QUILLON_CLI_TERMINAL_H_

#include <cstdio>

namespace quillon {

bool IsTerminal(std::FILE* stream);

}  // namespace quillon

#endif  // QUILLON_CLI_TERMINAL_H_
