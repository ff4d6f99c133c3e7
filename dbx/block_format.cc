#include "dbx/block_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon {

uint32_t FindSelfWord(const uint8_t* bytes, uint64_t base, uint32_t pos, uint32_t end) {
  const uint32_t start = static_cast<uint32_t>(base);
#if defined(__SSE2__)
  // Four positions at a time: the 16 bytes at pos hold the words at pos, pos+4, pos+8 and
  // pos+12; compare them with those four values at once. The scalar loop below then finds
  // which one matched, or finishes the tail.
  if (end >= 12) {
    const __m128i step = _mm_set_epi32(12, 8, 4, 0);
    // Sixty-four bytes a round while they last: one test of the four comparisons together keeps
    // the loop as fast as the memory.
    const __m128i sixteen = _mm_set1_epi32(16);
    while (end >= 60 && pos <= end - 60) {
      const uint8_t* at = bytes + (pos - start);
      const __m128i want0 = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(pos)), step);
      const __m128i want1 = _mm_add_epi32(want0, sixteen);
      const __m128i want2 = _mm_add_epi32(want1, sixteen);
      const __m128i want3 = _mm_add_epi32(want2, sixteen);
      const __m128i hit0 =
          _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), want0);
      const __m128i hit1 =
          _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16)), want1);
      const __m128i hit2 =
          _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32)), want2);
      const __m128i hit3 =
          _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 48)), want3);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(hit0, hit1), _mm_or_si128(hit2, hit3)))) {
        // One bit per byte of the 64; the lowest set bit is the first byte of the first match.
        const uint64_t bits = static_cast<uint64_t>(_mm_movemask_epi8(hit0) & 0xFFFF) |
                              static_cast<uint64_t>(_mm_movemask_epi8(hit1) & 0xFFFF) << 16 |
                              static_cast<uint64_t>(_mm_movemask_epi8(hit2) & 0xFFFF) << 32 |
                              static_cast<uint64_t>(_mm_movemask_epi8(hit3) & 0xFFFF) << 48;
        return pos + static_cast<uint32_t>(__builtin_ctzll(bits));
      }
      pos += 64;
    }
    while (pos <= end - 12) {
      const __m128i words =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + (pos - start)));
      const __m128i want = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(pos)), step);
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(words, want)) != 0) break;
      pos += 16;
    }
  }
#endif
  for (; pos <= end; pos += 4) {
    if (LoadLE32(bytes + (pos - start)) == pos) return pos;
  }
  return pos;
}

}  // namespace quillon
