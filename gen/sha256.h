// SHA-256 (FIPS 180-4), so the generator can vouch for every message it writes without a crypto
// library. On x86 processors with the SHA extensions the compression runs on them; the result is
// the same either way.
#ifndef QUILLON_GEN_SHA256_H_
#define QUILLON_GEN_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon::gen {

using Sha256Digest = std::array<uint8_t, 32>;

enum class Sha256Engine {
  kPortable,          // plain C++
  kX86ShaExtensions,  // SHA-NI; only where Sha256HardwareAvailable()
};

// True when this processor has the SHA extensions (and the build targets x86).
bool Sha256HardwareAvailable();
// The fastest engine this processor runs.
Sha256Engine BestSha256Engine();

class Sha256 {
 public:
  // `engine` must be kPortable or available on this processor.
  explicit Sha256(Sha256Engine engine = BestSha256Engine());

  void Update(const void* data, size_t size);
  // The digest of everything passed to Update. The object must not be used afterwards.
  Sha256Digest Finish();

 private:
  void Compress(const uint8_t* blocks, size_t count);

  Sha256Engine engine_;
  uint32_t state_[8];
  uint64_t totalBytes_ = 0;
  uint8_t pending_[64];
  size_t pendingSize_ = 0;
};

Sha256Digest ComputeSha256(const void* data, size_t size);

// Lower-case hexadecimal, 64 characters.
std::string DigestToHex(const Sha256Digest& digest);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_SHA256_H_
