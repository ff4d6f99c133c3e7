#include "test_support/test_support.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

namespace quillon::test {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& name, bool inMemory) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (inMemory && fs::is_directory("/dev/shm", ec)) base = "/dev/shm";
  // A name no other test run holds: create_directory fails on one that exists.
  SeedRng rng(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("quillon-" + name + "-" + std::to_string(rng.Next()));
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = candidate;
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

bool ReadWholeFile(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return true;
}

std::string ReadWholeFile(const fs::path& path) {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

bool WriteWholeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace quillon::test
