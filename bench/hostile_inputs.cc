#include "bench/hostile_inputs.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace quillon {

namespace {

struct Builder {
  explicit Builder(uint64_t size) : bytes(size, '\0') { Put(0, 0xFE12ADCFu); }  // the signature

  void Put(uint64_t at, uint32_t value) {
    if (at + 4 > bytes.size()) return;
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  }
  void Block(uint64_t at, uint32_t blockSize, uint32_t dataLength, uint32_t next) {
    Put(at, static_cast<uint32_t>(at));
    Put(at + 4, blockSize);
    Put(at + 8, dataLength);
    Put(at + 12, next);
    const uint64_t end = std::min<uint64_t>(at + 16 + dataLength, bytes.size());
    if (at + 16 < end) std::memset(&bytes[at + 16], 'x', end - at - 16);
  }
  // Offsets of 2^31 and more are never read; no input needs more.
  uint32_t Limit() const {
    return static_cast<uint32_t>(std::min<uint64_t>(bytes.size(), 0x80000000u));
  }
  std::string bytes;
};

// Small deterministic random numbers (splitmix64).
uint64_t Random(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

constexpr uint32_t kFirst = 0x100;  // where the blocks begin, after the signature
constexpr uint32_t kSpan = 32;      // a block of 16 data bytes

struct Kind {
  HostileInput input;
  void (*build)(Builder&);
};

const Kind kKinds[] = {
    {{"alternating-links",
      "32-byte blocks whose links alternate between two self-naming words at the two ends"},
     [](Builder& b) {
       const uint32_t a = kFirst, z = b.Limit() - kFirst;
       b.Put(a, a);
       b.Put(z, z);
       uint32_t k = 0;
       for (uint32_t at = 2 * kFirst; at + kSpan <= z; at += kSpan) {
         b.Block(at, 16, 16, k++ % 2 ? a : z);
       }
     }},
    {{"dense-singles", "one-byte messages of one block each, every 20 bytes"},
     [](Builder& b) {
       for (uint32_t at = kFirst; at + 20 <= b.Limit(); at += 20) b.Block(at, 4, 1, 0);
     }},
    {{"every-word", "every 4-aligned word holds its own offset"},
     [](Builder& b) {
       for (uint32_t at = 4; at + 4 <= b.Limit(); at += 4) b.Put(at, at);
     }},
    {{"long-chain", "one message of every block, linked in file order"},
     [](Builder& b) {
       for (uint32_t at = kFirst; at + kSpan <= b.Limit(); at += kSpan) {
         b.Block(at, 16, 16, at + 2 * kSpan <= b.Limit() ? at + kSpan : 0);
       }
     }},
    {{"random-chain", "one message of every block, linked in random order"},
     [](Builder& b) {
       const uint32_t n = (b.Limit() - kFirst) / kSpan;
       std::vector<uint32_t> order(n);
       std::iota(order.begin(), order.end(), 0);
       uint64_t state = 1;
       for (uint32_t i = n; i > 1; --i) std::swap(order[i - 1], order[Random(&state) % i]);
       for (uint32_t i = 0; i < n; ++i) {
         const uint32_t next = i + 1 < n ? kFirst + order[i + 1] * kSpan : 0;
         b.Block(kFirst + order[i] * kSpan, 16, 16, next);
       }
     }},
    {{"join-storm", "every block links to the one before it: each walk joins the message before"},
     [](Builder& b) {
       for (uint32_t at = kFirst; at + kSpan <= b.Limit(); at += kSpan) {
         b.Block(at, 16, 16, at == kFirst ? 0 : at - kSpan);
       }
     }},
    {{"shared-tail", "32-byte blocks that all link to one last block of up to 1 MiB"},
     [](Builder& b) {
       const uint32_t length = std::min<uint32_t>(1u << 20, b.Limit() / 4);
       const uint32_t tail = b.Limit() - length - 16;
       b.Block(tail, length, length, 0);
       for (uint32_t at = kFirst; at + kSpan <= tail; at += kSpan) b.Block(at, 16, 16, tail);
     }},
    {{"unaligned-chain", "one message of blocks at odd offsets, linked in file order"},
     [](Builder& b) {
       const uint32_t first = 2 * kFirst + 1;
       b.Block(kFirst, 16, 16, first);
       for (uint32_t at = first; at + kSpan <= b.Limit(); at += 16) {
         b.Block(at, 0, 0, at + 16 + kSpan <= b.Limit() ? at + 16 : 0);
       }
     }},
    {{"huge-skips",
      "every 4 KiB a chain start whose block size carries the search to the end, and short mail"},
     [](Builder& b) {
       for (uint32_t at = kFirst; at + 4096 <= b.Limit(); at += 4096) {
         b.Block(at, 0xFFFFFF00u, 16, at + 32);
         b.Block(at + 32, 16, 16, 0);
       }
     }},
};

}  // namespace

const std::vector<HostileInput>& HostileInputs() {
  static const std::vector<HostileInput> inputs = [] {
    std::vector<HostileInput> list;
    for (const Kind& k : kKinds) list.push_back(k.input);
    return list;
  }();
  return inputs;
}

std::string BuildHostileInput(const std::string& name, uint64_t size) {
  if (size < 0x10000 || size > (uint64_t{1} << 32)) return std::string();
  for (const Kind& k : kKinds) {
    if (name != k.input.name) continue;
    Builder b(size);
    k.build(b);
    return std::move(b.bytes);
  }
  return std::string();
}

}  // namespace quillon
