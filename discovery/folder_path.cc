#include "discovery/folder_path.h"

namespace quillon {

std::string NormalizeFolderPath(const std::string& text) {
  std::string folder = text;
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace quillon
