// The message data block as it lies in a mailbox file (docs/format.md describes it in full).
#ifndef QUILLON_DBX_BLOCK_FORMAT_H_
#define QUILLON_DBX_BLOCK_FORMAT_H_

#include <cstdint>
#include <cstring>

namespace quillon {

// The 16-byte header in front of a block's data area. All four fields are little-endian.
struct BlockHeader {
  uint32_t selfOffset;  // the block's own file offset in a genuine block
  uint32_t blockSize;   // bytes in the data area, the header not included
  uint32_t dataLength;  // message bytes at the start of the data area
  uint32_t nextOffset;  // the next block of the same message; 0 for the last
};

inline constexpr uint32_t kBlockHeaderSize = 16;

// Reads start only below this offset; a read at or above it fails like one past the end.
inline constexpr uint64_t kReadableLimit = 0x80000000u;

inline uint32_t LoadLE32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline BlockHeader DecodeBlockHeader(const uint8_t* bytes) {
  return BlockHeader{LoadLE32(bytes), LoadLE32(bytes + 4), LoadLE32(bytes + 8),
                     LoadLE32(bytes + 12)};
}

// The first byte after the block at `offset`: offset + 16 + blockSize. A block size that would
// carry the position past 2^32 gives 0xFFFFFFFF instead of wrapping, so a search never returns to
// a position it has passed; no read can start there.
inline uint32_t PositionAfterBlock(uint32_t offset, uint32_t blockSize) {
  const uint64_t next = uint64_t{offset} + kBlockHeaderSize + blockSize;
  return next > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(next);
}

// In `bytes`, which hold the file from offset `base` on: the first position from `pos` on, in
// steps of 4 up to `end`, whose word holds itself (a block header's first word, or a record's);
// a position past `end` when there is none. [pos, end + 4) must lie within the bytes. Every
// search for blocks by their self-naming word goes through here.
uint32_t FindSelfWord(const uint8_t* bytes, uint64_t base, uint32_t pos, uint32_t end);

}  // namespace quillon

#endif  // QUILLON_DBX_BLOCK_FORMAT_H_
