// The rules a file or folder name must meet on every system Quillon writes to, in one place:
// the characters none may hold, and Windows' device names.
#ifndef QUILLON_TEXT_FILE_NAMES_H_
#define QUILLON_TEXT_FILE_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Control characters (C0, DEL, C1) and <>:"/\|?*: a name on some system cannot hold them.
bool IsForbiddenInName(uint32_t code);

// The length of the Windows device name that `name` starts with, when nothing but spaces or an
// extension follows it ("CON", "nul.txt", "Com1 .tar.gz"); else 0. The devices are CON, PRN,
// AUX, NUL, COM1-9, LPT1-9 and COM and LPT with a superscript digit (¹ ² ³), in any ASCII case:
// Windows opens the device for them whatever follows the first dot.
size_t WindowsDeviceStemLength(std::string_view name);

void TrimTrailingDotsAndSpaces(std::string* name);

// A name whose characters are already safe, made whole: cut to `maxBytes` (>= 1) on a character
// boundary, trailing dots and spaces (which Windows drops) removed, '_' put after a device name
// ("CON.txt" gives "CON_.txt"), and "_" for an empty result.
std::string FinishName(std::string name, size_t maxBytes);

// A key under which names that a case-insensitive file system takes for one are equal: simple
// case folding of Latin, Greek, Cyrillic, Armenian and full-width Latin letters (what the code
// pages of the mailboxes hold), the rest as it is.
std::string FoldCase(std::string_view utf8);

}  // namespace quillon

#endif  // QUILLON_TEXT_FILE_NAMES_H_
