// The folder texts the user types: one form for "is this a folder" and for the search pattern,
// whichever separator was typed.
#ifndef QUILLON_DISCOVERY_FOLDER_PATH_H_
#define QUILLON_DISCOVERY_FOLDER_PATH_H_

#include <string>

namespace quillon {

// Every '/' becomes '\'; then one trailing '\' (byte 0x5C), if any, is removed, so a second one
// stays. The empty text stays empty. Bytes are not interpreted: in code page 936 a trail byte
// of a double-byte character may be 0x5C, and it is treated as a separator like any other.
std::string NormalizeFolderPath(const std::string& text);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_FOLDER_PATH_H_
