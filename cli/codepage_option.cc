#include "cli/codepage_option.h"

#include <cstdlib>

#include "catalogue/text.h"

namespace quillon {

bool ParseCodePage(const std::string& text, uint32_t* codePage, std::string* error) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0') {
    *error = "the code page must be a number such as 1251, not '" + text + "'";
    return false;
  }
  if (value == 0 || value > 65535 || !catalogue::CodePageAvailable(static_cast<uint32_t>(value))) {
    *error = "code page " + text + " is not known to this system";
    return false;
  }
  *codePage = static_cast<uint32_t>(value);
  return true;
}

}  // namespace quillon
