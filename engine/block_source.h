// How the engine reads the blocks of the open mailbox file. The engine picks one way when it opens
// a mailbox (block_sources.h): an index of the file made in one pass, or, for a file too dense to
// index in bounded memory, read windows. Tests and benchmarks may hand it another.
#ifndef QUILLON_ENGINE_BLOCK_SOURCE_H_
#define QUILLON_ENGINE_BLOCK_SOURCE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fs/file_io.h"

namespace quillon {

// What the search and the walks need of the 16-byte header at an offset.
struct BlockFacts {
  uint32_t blockSize;
  uint32_t nextOffset;
  bool selfReferencing;  // the first word holds the offset
  bool usableLengths;    // 0 < dataLength <= blockSize, blockSize != 0
  // The header's data length, when the source read the header itself (an index keeps no lengths):
  // then a dry run can count a walked message without reading its blocks again.
  bool dataLengthKnown;
  uint32_t dataLength;
};

class BlockSource {
 public:
  // The most PeekForCopy serves at once; larger data goes through ReadExact.
  static constexpr uint32_t kMaxPeek = uint32_t{256} << 10;

  virtual ~BlockSource() = default;

  // Starts reading `file` (not owned), whose size the engine took as `fileSize` when it opened
  // it. A search gives up once *abort is true. False when this way of reading cannot take the
  // file; the caller then reads it another way.
  virtual bool Open(InputFile* file, uint32_t fileSize, const std::atomic<bool>* abort) = 0;
  // The search and the walks are over: frees what only they need. Copying still works.
  virtual void EndSearch() {}
  // Forgets the file and frees what Open allocated.
  virtual void Close() = 0;

  // The first position q = from + 4k whose word holds q itself and at which `need` bytes (4 or
  // 16) can be read. False at the first q at which they cannot (the end of the file), and when
  // an abort was requested.
  virtual bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) = 0;
  // The facts of the header at `offset`; false when its 16 bytes cannot be read.
  virtual bool ReadFacts(uint32_t offset, BlockFacts* facts) = 0;
  // FindSelfOffset for a whole header, with its facts: the first q = from + 4k whose word holds
  // q and whose 16 bytes can be read. False at the end of the file, and when an abort was
  // requested.
  virtual bool FindBlock(uint32_t from, uint32_t* found, BlockFacts* facts) {
    while (FindSelfOffset(from, 16, found)) {
      if (ReadFacts(*found, facts)) return true;
      from = *found + 4;  // the file changed since the search read it
    }
    return false;
  }
  // True when the four bytes at `offset` can be read and hold `offset`.
  virtual bool IsSelfReferencing(uint32_t offset) = 0;

  // For copying, which sweeps forward through the file in the order of the messages' first
  // blocks: the `size` bytes at `offset` (size <= kMaxPeek), or null when they cannot all be
  // read (the offset is 2^31 or more, or the file ends first). `firstBlock` says that they belong
  // to a message's first block, which the sweep follows. Valid until the next call.
  virtual const uint8_t* PeekForCopy(uint32_t offset, uint32_t size, bool firstBlock) = 0;
  // Exactly `size` bytes at `offset`, for data larger than kMaxPeek. The caller checks that the
  // offset lies below 2^31.
  virtual bool ReadExact(uint64_t offset, void* buffer, size_t size) = 0;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_BLOCK_SOURCE_H_
