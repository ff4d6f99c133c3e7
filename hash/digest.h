// SHA-256 and MD5 from the platform's crypto library: OpenSSL's libcrypto (digest_openssl.cc),
// or CNG on Windows (digest_win32.cc).
#ifndef QUILLON_HASH_DIGEST_H_
#define QUILLON_HASH_DIGEST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

using Sha256Digest = std::array<uint8_t, 32>;
using Md5Digest = std::array<uint8_t, 16>;

// SHA-256 of data that arrives in pieces. Throws std::runtime_error when the system's library
// cannot provide it.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything passed to Update. The object must not be used afterwards.
  Sha256Digest Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

Sha256Digest ComputeSha256(const void* data, size_t size);
// Only to compare with checksums published elsewhere.
Md5Digest ComputeMd5(const void* data, size_t size);

// Lower-case hexadecimal, two characters a byte.
template <size_t N>
std::string DigestToHex(const std::array<uint8_t, N>& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * N);
  for (uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace quillon

#endif  // QUILLON_HASH_DIGEST_H_
