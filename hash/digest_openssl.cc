// The digests through OpenSSL's EVP interface, which picks the processor's SHA instructions
// where there are any.
#include <openssl/evp.h>

#include <stdexcept>

#include "hash/digest.h"

namespace quillon {

namespace {

// A digest context; throws when OpenSSL cannot make or run one (out of memory).
class Context {
 public:
  explicit Context(const EVP_MD* md) : ctx_(EVP_MD_CTX_new()) {
    if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, md, nullptr) != 1) Fail();
  }
  ~Context() { EVP_MD_CTX_free(ctx_); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  void Update(const void* data, size_t size) {
    if (EVP_DigestUpdate(ctx_, data, size) != 1) Fail();
  }
  template <size_t N>
  std::array<uint8_t, N> Finish() {
    std::array<uint8_t, N> digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_, digest.data(), &length) != 1 || length != N) Fail();
    return digest;
  }

 private:
  [[noreturn]] static void Fail() { throw std::runtime_error("OpenSSL digest failed"); }
  EVP_MD_CTX* ctx_;
};

}  // namespace

struct Sha256::State {
  Context context{EVP_sha256()};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) { state_->context.Update(data, size); }

Sha256Digest Sha256::Finish() { return state_->context.Finish<32>(); }

Sha256Digest ComputeSha256(const void* data, size_t size) {
  Context c(EVP_sha256());
  c.Update(data, size);
  return c.Finish<32>();
}

Md5Digest ComputeMd5(const void* data, size_t size) {
  Context c(EVP_md5());
  c.Update(data, size);
  return c.Finish<16>();
}

}  // namespace quillon
