// Every 4-aligned position of a mailbox file whose four bytes hold the position itself, found in
// one sequential pass, with what the search for chain starts and the chain walks need of the
// header there. With it the search and the walks run in memory: a walk through a fragmented
// folder jumps back and forth across the file, and serving each jump from the file cost ten
// times the file's size in copies. Positions that are not 4-aligned (rare: only a block size
// that is not a multiple of 4 leads the search there) are still read from the file.
#ifndef QUILLON_ENGINE_BLOCK_INDEX_H_
#define QUILLON_ENGINE_BLOCK_INDEX_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/block_reader.h"

namespace quillon {

class BlockIndex {
 public:
  // What the index holds of one position q whose word reads q.
  struct Entry {
    uint32_t tagged;     // q | kHeaderReadable | kUsableLengths (q is 4-aligned)
    uint32_t blockSize;  // the header's fields, when all 16 bytes could be read
    uint32_t next;
  };
  static constexpr uint32_t kHeaderReadable = 1;  // q + 16 is within the file
  static constexpr uint32_t kUsableLengths = 2;   // 0 < dataLength <= blockSize, blockSize != 0

  // Reads the file once through `reader`'s scan window and indexes it. False (and the index
  // left empty) when a stop was requested, or when the file holds more than `maxEntries`
  // self-referencing words: no real mailbox comes near that, and the caller then reads the
  // file for every test instead of spending unbounded memory.
  bool Build(BlockReader* reader, uint32_t fileSize, size_t maxEntries);
  // Empties the index and gives its memory back.
  void Clear();
  bool active() const { return active_; }

  // The entry at `offset` (4-aligned), or null when its word does not read `offset` or the
  // offset lies beyond the part of the file the pass indexed.
  const Entry* Find(uint32_t offset) const;
  // The first entry at or after `from` (4-aligned), or null.
  const Entry* FirstFrom(uint32_t from) const;
  const Entry* begin() const { return entries_.data(); }
  const Entry* end() const { return entries_.data() + entries_.size(); }

  // Where the pass found the file to end (at most the first byte a read can no longer reach
  // plus 16): 16 bytes can be read at q when q + 16 <= FileEnd().
  uint64_t FileEnd() const { return fileEnd_; }

  static uint32_t OffsetOf(const Entry& e) { return e.tagged & ~3u; }

 private:
  // Entries in ascending order; firstInBucket_[b] is the index of the first entry at or after
  // b << kBucketShift, so a lookup searches the few entries of one bucket. A bucket of 4 KiB:
  // one of 1 KiB cost 8 MiB for a 2 GiB file.
  static constexpr unsigned kBucketShift = 12;
  std::vector<Entry> entries_;
  std::vector<uint32_t> firstInBucket_;
  // The search and the walks ask for the same block several times in a row, and a search often
  // goes on from the block it was last given.
  mutable const Entry* lastFound_ = nullptr;
  uint64_t fileEnd_ = 0;
  bool active_ = false;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_BLOCK_INDEX_H_
