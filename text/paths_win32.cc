#include "text/paths.h"

namespace quillon {

const char kPathSeparator = '\\';
const char kPathSeparators[] = "\\/";

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace quillon
