#include "text/file_names.h"

#include <cstring>

#include "text/ascii.h"
#include "text/utf8.h"

namespace quillon {

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

}  // namespace quillon
