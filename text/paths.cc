#include "text/paths.h"

namespace quillon {

std::string JoinPath(std::string_view folder, std::string_view name, char separator) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  if (!folder.empty() && !IsPathSeparator(folder.back())) path.push_back(separator);
  path.append(name);
  return path;
}

}  // namespace quillon
