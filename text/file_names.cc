#include "text/file_names.h"

#include <cstring>

#include "text/ascii.h"
#include "text/utf8.h"

namespace quillon {
namespace {

bool Between(uint32_t cp, uint32_t first, uint32_t last) { return cp >= first && cp <= last; }

// Simple case folding of the scripts the mailboxes' code pages hold.
uint32_t FoldCodePoint(uint32_t cp) {
  if (Between(cp, 'A', 'Z')) return cp + 32;
  if (cp < 0xC0) return cp;
  if (Between(cp, 0xC0, 0xDE) && cp != 0xD7) return cp + 32;
  const bool even = cp % 2 == 0;
  if ((Between(cp, 0x100, 0x12F) || Between(cp, 0x132, 0x137) || Between(cp, 0x14A, 0x177) ||
       Between(cp, 0x1DE, 0x1EF) || Between(cp, 0x1F8, 0x21F) || Between(cp, 0x222, 0x233) ||
       Between(cp, 0x460, 0x481) || Between(cp, 0x48A, 0x4BF) || Between(cp, 0x4D0, 0x52F)) &&
      even) {
    return cp + 1;
  }
  if ((Between(cp, 0x139, 0x148) || Between(cp, 0x179, 0x17E) || Between(cp, 0x1CD, 0x1DC) ||
       Between(cp, 0x4C1, 0x4CE)) &&
      !even) {
    return cp + 1;
  }
  if (cp == 0x178) return 0xFF;
  if (cp == 0x17F) return 's';
  if (cp == 0x386) return 0x3AC;
  if (Between(cp, 0x388, 0x38A)) return cp + 37;
  if (cp == 0x38C) return 0x3CC;
  if (Between(cp, 0x38E, 0x38F)) return cp + 63;
  if (Between(cp, 0x391, 0x3A1) || Between(cp, 0x3A3, 0x3AB)) return cp + 32;
  if (cp == 0x3C2) return 0x3C3;
  if (Between(cp, 0x400, 0x40F)) return cp + 80;
  if (Between(cp, 0x410, 0x42F)) return cp + 32;
  if (cp == 0x4C0) return 0x4CF;
  if (Between(cp, 0x531, 0x556)) return cp + 48;
  if (Between(cp, 0xFF21, 0xFF3A)) return cp + 32;
  return cp;
}

}  // namespace

bool IsForbiddenInName(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) ||
         (code < 0x80 && std::strchr("<>:\"/\\|?*", static_cast<int>(code)) != nullptr);
}

size_t WindowsDeviceStemLength(std::string_view name) {
  size_t stem = name.find('.');
  if (stem == std::string_view::npos) stem = name.size();
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  const std::string_view base = name.substr(0, stem);
  if (base.size() == 3) {
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
      if (EqualsIgnoringAsciiCase(base, device)) return stem;
    }
    return 0;
  }
  if (base.size() < 4 || (!EqualsIgnoringAsciiCase(base.substr(0, 3), "COM") &&
                          !EqualsIgnoringAsciiCase(base.substr(0, 3), "LPT"))) {
    return 0;
  }
  const std::string_view digit = base.substr(3);
  const bool device = (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') ||
                      digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
  return device ? stem : 0;
}

void TrimTrailingDotsAndSpaces(std::string* name) {
  while (!name->empty() && (name->back() == '.' || name->back() == ' ')) name->pop_back();
}

std::string FinishName(std::string name, size_t maxBytes) {
  name.resize(CutUtf8(name, maxBytes).size());
  TrimTrailingDotsAndSpaces(&name);
  if (const size_t stem = WindowsDeviceStemLength(name)) {
    name.insert(stem, 1, '_');
    // The added byte may push the end past the limit: cut again; the device name stays whole.
    name.resize(CutUtf8(name, maxBytes).size());
    TrimTrailingDotsAndSpaces(&name);
  }
  if (name.empty()) name = "_";
  return name;
}

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    AppendUtf8(FoldCodePoint(NextCodePoint(utf8, &pos)), &out);
  }
  return out;
}

}  // namespace quillon
