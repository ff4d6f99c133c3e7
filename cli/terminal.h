// What the command needs of its terminal, and writing text so that any file name shows right.
#ifndef QUILLON_CLI_TERMINAL_H_
#define QUILLON_CLI_TERMINAL_H_

#include <cstddef>
#include <cstdio>
#include <string>

namespace quillon {

// True when `stream` is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The width of the terminal `stream` shows on, in columns; 0 when it is not known.
size_t TerminalColumns(std::FILE* stream);

// Writes UTF-8 `text` and flushes it: as it is to a file or a pipe, and on a Windows console as
// the characters it encodes. False when it could not be written (a closed pipe, say).
bool WriteText(std::FILE* stream, const std::string& text);

}  // namespace quillon

#endif  // QUILLON_CLI_TERMINAL_H_
