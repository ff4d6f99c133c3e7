// What tests of every folder share: a temporary folder, a whole file read into a string, and
// seeded random numbers that come out the same on every compiler and library.
#ifndef QUILLON_TEST_SUPPORT_TEST_SUPPORT_H_
#define QUILLON_TEST_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillon::test {

// A new, empty folder, removed with everything in it when the object goes. `inMemory` puts it
// on /dev/shm where that exists (holes and rewrites then cost no disk). path() is empty when
// the folder could not be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name, bool inMemory = false);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The bytes of the file at `path`; false when it cannot be opened.
bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes);
// The bytes of the file at `path`, empty when it cannot be opened.
std::string ReadWholeFile(const std::filesystem::path& path);
// Writes `bytes` to `path`, replacing the file; false when that failed.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

// splitmix64: the same numbers from the same seed everywhere.
class SeedRng {
 public:
  explicit SeedRng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n), n >= 1.
  uint32_t Below(uint64_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t state_;
};

}  // namespace quillon::test

#endif  // QUILLON_TEST_SUPPORT_TEST_SUPPORT_H_
