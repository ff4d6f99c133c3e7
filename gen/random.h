// Deterministic pseudo-random numbers for the generator. Files must come out byte for byte the
// same from the same seed on every compiler and library, so nothing here uses <random>, whose
// distributions differ between library versions, and nothing uses floating point.
#ifndef QUILLON_GEN_RANDOM_H_
#define QUILLON_GEN_RANDOM_H_

#include <cstdint>

namespace quillon::gen {

// One step of splitmix64: advances *state and returns a well-mixed value.
inline uint64_t SplitMix64(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// A seed for an independent stream `stream` derived from `seed`.
inline uint64_t MixSeed(uint64_t seed, uint64_t stream) {
  uint64_t state = seed ^ (stream * 0xD1B54A32D192ED03u);
  SplitMix64(&state);
  return SplitMix64(&state);
}

// xoshiro256**, seeded through splitmix64.
class Rng {
 public:
  explicit Rng(uint64_t seed) {
    for (uint64_t& word : s_) word = SplitMix64(&seed);
  }

  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, n) for n >= 1 (multiply-shift; the tiny bias does not matter here).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
  // Uniform in [low, high], low <= high.
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }
  // True with probability perMille / 1000.
  bool Chance(uint32_t perMille) { return Below(1000) < perMille; }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

}  // namespace quillon::gen

#endif  // QUILLON_GEN_RANDOM_H_
