// Every test of the file as one positioned read of just the bytes it needs, as the scanner was
// first written: what the benchmark measures the index and the read windows against, and the
// reference that tests compare their results with. Slow: a system call every 4 bytes.
#ifndef QUILLON_BENCH_LITERAL_BLOCK_SOURCE_H_
#define QUILLON_BENCH_LITERAL_BLOCK_SOURCE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/block_source.h"

namespace quillon {

class LiteralBlockSource final : public BlockSource {
 public:
  bool Open(InputFile* file, uint32_t fileSize, const std::atomic<bool>* abort) override;
  void Close() override;

  bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) override;
  bool ReadFacts(uint32_t offset, BlockFacts* facts) override;
  bool IsSelfReferencing(uint32_t offset) override;
  const uint8_t* PeekForCopy(uint32_t offset, uint32_t size, bool) override {
    return Read(offset, size);
  }
  bool ReadExact(uint64_t offset, void* buffer, size_t size) override;

 private:
  // The `size` bytes at `offset`, read now; null when they cannot all be read.
  const uint8_t* Read(uint64_t offset, uint32_t size);

  InputFile* file_ = nullptr;
  const std::atomic<bool>* abort_ = nullptr;
  std::vector<uint8_t> buffer_;
};

}  // namespace quillon

#endif  // QUILLON_BENCH_LITERAL_BLOCK_SOURCE_H_
