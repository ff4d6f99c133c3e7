#include "cli/export_report.h"

#include <cstdio>

namespace quillon {

std::string CannotReadWords(const std::string& path, uint64_t offset, const std::string& reason) {
  char at[24];
  std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(offset));
  return "cannot read " + path + " at offset " + at + ": " + reason;
}

std::string ReadFailureWords(const std::string& path, const rescue::ReadError& error) {
  if (error.failure == rescue::ReadFailure::kChanged) return kChangedWords;
  return CannotReadWords(path, error.offset, error.reason);
}

}  // namespace quillon
