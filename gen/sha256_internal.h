// The compression functions behind Sha256; sha256_x86.cc holds the SHA-NI one.
#ifndef QUILLON_GEN_SHA256_INTERNAL_H_
#define QUILLON_GEN_SHA256_INTERNAL_H_

#include <cstddef>
#include <cstdint>

namespace quillon::gen::internal {

extern const uint32_t kSha256RoundConstants[64];

void Sha256CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count);
// False on processors or builds without the SHA extensions; then the function below must not run.
bool Sha256CompressHardwareAvailable();
void Sha256CompressHardware(uint32_t state[8], const uint8_t* blocks, size_t count);

}  // namespace quillon::gen::internal

#endif  // QUILLON_GEN_SHA256_INTERNAL_H_
