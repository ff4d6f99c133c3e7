// The digests through CNG (bcrypt.dll), the system's own crypto library.
#include <windows.h>
// After <windows.h>, which it needs.
#include <bcrypt.h>

#include <stdexcept>

#include "hash/digest.h"

namespace quillon {

namespace {

// A hash object of one algorithm; throws when CNG cannot make or run one.
class Context {
 public:
  explicit Context(LPCWSTR algorithm) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider_, algorithm, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(provider_, &hash_, nullptr, 0, nullptr, 0, 0))) {
      Release();
      Fail();
    }
  }
  ~Context() { Release(); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  void Update(const void* data, size_t size) {
    // BCryptHashData takes at most 4 GiB - 1 at a time.
    const auto* p = static_cast<const UCHAR*>(data);
    while (size > 0) {
      const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
      if (!BCRYPT_SUCCESS(BCryptHashData(hash_, const_cast<PUCHAR>(p), piece, 0))) Fail();
      p += piece;
      size -= piece;
    }
  }
  template <size_t N>
  std::array<uint8_t, N> Finish() {
    std::array<uint8_t, N> digest;
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest.data(), N, 0))) Fail();
    return digest;
  }

 private:
  [[noreturn]] static void Fail() { throw std::runtime_error("CNG digest failed"); }
  void Release() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (provider_ != nullptr) BCryptCloseAlgorithmProvider(provider_, 0);
    hash_ = nullptr;
    provider_ = nullptr;
  }
  BCRYPT_ALG_HANDLE provider_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

struct Sha256::State {
  Context context{BCRYPT_SHA256_ALGORITHM};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) { state_->context.Update(data, size); }

Sha256Digest Sha256::Finish() { return state_->context.Finish<32>(); }

Sha256Digest ComputeSha256(const void* data, size_t size) {
  Context c(BCRYPT_SHA256_ALGORITHM);
  c.Update(data, size);
  return c.Finish<32>();
}

Md5Digest ComputeMd5(const void* data, size_t size) {
  Context c(BCRYPT_MD5_ALGORITHM);
  c.Update(data, size);
  return c.Finish<16>();
}

}  // namespace quillon
