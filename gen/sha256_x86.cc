// SHA-256 compression on the x86 SHA extensions (SHA-NI): about five times the portable speed,
// which matters because hashing is most of the cost of a 2 GiB run. Compiled for every target;
// the instructions are enabled per function and used only after the processor reports them.
#include "gen/sha256_internal.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <cpuid.h>
#include <immintrin.h>

namespace quillon::gen::internal {

bool Sha256CompressHardwareAvailable() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx >> 9) & 1, sse41 = (ecx >> 19) & 1;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx >> 29) & 1;
  return ssse3 && sse41 && sha;
}

__attribute__((target("sha,sse4.1,ssse3"))) void Sha256CompressHardware(uint32_t state[8],
                                                                        const uint8_t* blocks,
                                                                        size_t count) {
  // Each 32-bit word of the message is big-endian.
  const __m128i kByteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The round instructions keep the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefSaved = abef, cdghSaved = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              kByteSwap);
    }
    for (int g = 0; g < 16; ++g) {
      __m128i words;
      if (g < 4) {
        words = w[g];
      } else {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four words at a time.
        words = _mm_sha256msg1_epu32(w[g % 4], w[(g + 1) % 4]);
        words = _mm_add_epi32(words, _mm_alignr_epi8(w[(g + 3) % 4], w[(g + 2) % 4], 4));
        words = _mm_sha256msg2_epu32(words, w[(g + 3) % 4]);
        w[g % 4] = words;
      }
      __m128i k = _mm_add_epi32(
          words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
      k = _mm_shuffle_epi32(k, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, k);
    }
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }

  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

}  // namespace quillon::gen::internal

#else

namespace quillon::gen::internal {

bool Sha256CompressHardwareAvailable() { return false; }

void Sha256CompressHardware(uint32_t state[8], const uint8_t* blocks, size_t count) {
  Sha256CompressPortable(state, blocks, count);
}

}  // namespace quillon::gen::internal

#endif
