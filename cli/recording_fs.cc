#include "cli/recording_fs.h"

namespace quillon {

std::string ReasonOf(const std::string& error) {
  const size_t colon = error.rfind(": ");
  return colon == std::string::npos ? error : error.substr(colon + 2);
}

}  // namespace quillon
