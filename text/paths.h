// Paths as text: the system's separators and joining a name to a folder.
#ifndef QUILLON_TEXT_PATHS_H_
#define QUILLON_TEXT_PATHS_H_

#include <string>
#include <string_view>

namespace quillon {

// The separator put between a folder and a name: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;
// Every character that separates folders in a path: "\\/" on Windows, "/" elsewhere.
extern const char kPathSeparators[];

bool IsPathSeparator(char c);

// `folder` and `name` with `separator` between them: none after a folder that ends in a separator
// already (a root), and `name` alone after an empty folder.
std::string JoinPath(std::string_view folder, std::string_view name,
                     char separator = kPathSeparator);

}  // namespace quillon

#endif  // QUILLON_TEXT_PATHS_H_
