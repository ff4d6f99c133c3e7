// The first stage of the rescue: one sequential pass over the mailbox file that notes every
// 4-aligned word holding its own offset whose header could be a data block's (live or deleted),
// with the facts of the header there and a few signs the later stages need. It trusts no single
// block: it never skips ahead by a block's size, so a damaged size cannot hide the blocks behind
// it.
#ifndef QUILLON_RESCUE_BLOCK_SCAN_H_
#define QUILLON_RESCUE_BLOCK_SCAN_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "rescue/by_value_iterator.h"
#include "rescue/large_array.h"
#include "rescue/mailbox_file.h"

namespace quillon::rescue {

// Blocks as the mail client writes them: a 16-byte header and 0x200 data bytes.
inline constexpr uint32_t kHeaderSize = 16;
inline constexpr uint32_t kClientBlockData = 0x200;
// A deleted block keeps its offset and its link; its size and length words read these, and the
// first four bytes of its data hold the link of the list of free blocks.
inline constexpr uint32_t kDeletedBlockSize = 0x1FC;
inline constexpr uint32_t kDeletedDataLength = 0x210;
inline constexpr uint32_t kDeletedLinkBytes = 4;

// What the scan notes at one offset.
struct ScanEntry {
  uint32_t tagged;  // the offset, with kReadable and kBeginsLikeHeader in its low bits
  uint32_t blockSize;
  uint32_t dataLength;
  uint32_t next;

  static constexpr uint32_t kReadable = 1;          // all 16 header bytes lie in the file
  static constexpr uint32_t kBeginsLikeHeader = 2;  // its data begins like a message's header
  uint32_t offset() const { return tagged & ~3u; }
  bool readable() const { return (tagged & kReadable) != 0; }
  bool beginsLikeHeader() const { return (tagged & kBeginsLikeHeader) != 0; }
  bool deletedPattern() const {
    return blockSize == kDeletedBlockSize && dataLength == kDeletedDataLength;
  }
  // 0 < dataLength <= blockSize: the header's lengths agree with each other.
  bool consistent() const { return dataLength != 0 && dataLength <= blockSize; }
  // Could be a live message's block with at most one of its length words damaged, in a file whose
  // full blocks hold `capacity` bytes. Tree nodes (size 0) and indexed records (whose third word
  // holds counts) are not.
  bool blockLike(uint32_t capacity) const {
    if (!readable() || deletedPattern()) return false;
    return consistent() || blockSize == capacity || (dataLength != 0 && dataLength <= capacity);
  }
};

// The scan's entries as they are kept, eight bytes each (a 2 GiB folder holds four million
// blocks): the offset with its sign, and one word that holds the rest of what a client's block
// says in one of three forms, told by its low two bits. A full block of 0x200 bytes keeps its
// link there, the last block of a message (link 0) its data length, a deleted block its link;
// the few others (a block with a damaged word, a record whose lengths look like a block's, a
// link that is not 4-aligned) keep their lengths and link in `exotic`, the word saying where.
class ScanEntries {
 public:
  size_t size() const { return packed_.size(); }
  bool empty() const { return packed_.empty(); }
  size_t exoticCount() const { return exotic_.size(); }
  // The bytes the entries take.
  size_t MemoryBytes() const {
    return packed_.size() * sizeof(Packed) + exotic_.size() * sizeof(Exotic);
  }

  uint32_t Tagged(size_t i) const { return packed_[i].tagged; }
  uint32_t Offset(size_t i) const { return packed_[i].tagged & ~3u; }
  bool BeginsLikeHeader(size_t i) const {
    return (packed_[i].tagged & ScanEntry::kBeginsLikeHeader) != 0;
  }
  bool Deleted(size_t i) const { return (packed_[i].word & 3) == kDeleted; }
  uint32_t BlockSize(size_t i) const { return Decode(i).blockSize; }
  uint32_t DataLength(size_t i) const { return Decode(i).dataLength; }
  uint32_t Next(size_t i) const { return Decode(i).next; }
  // The entry as the scan noted it.
  ScanEntry operator[](size_t i) const {
    const Header h = Decode(i);
    return ScanEntry{Tagged(i) | ScanEntry::kReadable, h.blockSize, h.dataLength, h.next};
  }

  using Iterator = ByValueIterator<ScanEntries, ScanEntry>;
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, size()); }

 private:
  friend class ScanBuilder;
  // The word's forms, in its low two bits.
  enum : uint32_t {
    kFull = 0,     // size and length 0x200: the link, 4-aligned
    kLast = 1,     // size 0x200, link 0: the data length, shifted up by two
    kDeleted = 2,  // the deleted pattern: the link, 4-aligned
    kExotic = 3,   // its place in exotic_, shifted up by two
  };
  struct Packed {
    uint32_t tagged;
    uint32_t word;
  };
  struct Exotic {
    uint32_t entry;  // its place among the entries
    uint32_t blockSize;
    uint32_t dataLength;
    uint32_t next;
  };
  // The words of an entry's header after its own offset.
  struct Header {
    uint32_t blockSize, dataLength, next;
  };
  Header Decode(size_t i) const {
    const uint32_t w = packed_[i].word;
    switch (w & 3) {
      case kFull:
        return {kClientBlockData, kClientBlockData, w};
      case kLast:
        return {kClientBlockData, w >> 2, 0};
      case kDeleted:
        return {kDeletedBlockSize, kDeletedDataLength, w & ~3u};
      default: {
        const Exotic& x = exotic_[w >> 2];
        return {x.blockSize, x.dataLength, x.next};
      }
    }
  }
  LargeVector<Packed> packed_;
  std::vector<Exotic> exotic_;
};

// A header read where the index or a link says a block is, but that the scan did not keep: its
// first word does not hold its offset (a damaged block, or no block at all: later stages judge),
// or it does and the header is no block's (a record, a node).
struct ProbedHeader {
  uint32_t offset;
  uint32_t selfWord;  // what the first word holds
  uint32_t blockSize;
  uint32_t dataLength;
  uint32_t next;
  bool beginsLikeHeader;
};

struct ScanOptions {
  // Entries kept at most: one per this many bytes of file, plus minEntries. A mailbox file holds
  // at most one block per 0x210 bytes (the records and nodes that name themselves too are not
  // kept), so only a hostile or strange file reaches the cap; the scan then stops there and says
  // so.
  uint32_t bytesPerEntry = 0x200;
  uint32_t minEntries = 4096;
  // Of them, exotic ones (ScanEntries) at most: one per this many bytes, plus minExotic. The
  // client writes none but the records whose lengths look like a block's, in the index's chunks.
  // Past the cap they are counted and passed over, and the scan goes on.
  uint32_t bytesPerExotic = 0x1000;
  uint32_t minExotic = 1u << 16;
  // Headers read at offsets that the index or a link names but whose word does not name itself.
  uint32_t maxProbes = 1u << 16;
  // The file is read in pieces of this size.
  size_t windowBytes = size_t{256} << 10;
  // With 2 or more, a file of parallelBytes or more is read by two threads at once, each taking
  // the next of up to 8 segments in turn: the file's ReadAt must then be safe to call from two
  // threads.
  unsigned threads = 1;
  uint64_t parallelBytes = uint64_t{64} << 20;
  // Work of the caller's, which ScanPass runs once, on the calling thread: with two threads,
  // while the other one starts on the segments, so that it costs the scan little time. When it
  // returns false the scan is no longer wanted: ScanPass then stops and returns no entries.
  std::function<bool()> beside;
  const std::atomic<bool>* abort = nullptr;
};

struct BlockScan {
  uint32_t fileSize = 0;  // the size the file was read with
  // The block size most headers give (0x200 in every file the mail client writes), 0 when no
  // header gives usable lengths.
  uint32_t blockCapacity = 0;
  ScanEntries entries;               // ascending offsets
  std::vector<ProbedHeader> probed;  // ascending offsets; none of them in `entries`
  // Where the pass stopped early because the cap was reached (0 when it read the whole file),
  // and how many self-naming words it had found by then.
  uint32_t cappedAt = 0;
  uint64_t exoticDropped = 0;  // exotic entries over the options' cap, passed over
  uint64_t probesDropped = 0;  // probes over ScanOptions::maxProbes, not made

  // Set when the file could not be read (an I/O error, a file that shrank, an abort): the scan
  // is then incomplete and the mailbox should be failed with this reason.
  ReadError error;

  // Whether an entry lies at `offset`.
  bool Has(uint32_t offset) const { return IndexOf(offset) != entries.size(); }
  // The probed header at `offset`, or null.
  const ProbedHeader* FindProbed(uint32_t offset) const;
  // Index of the entry at `offset` in `entries`, or entries.size().
  size_t IndexOf(uint32_t offset) const;

  // Buckets of 1 << kBucketShift bytes: firstInBucket[b] is the first entry at or after
  // b << kBucketShift, so a lookup reads the few entries of one bucket.
  static constexpr unsigned kBucketShift = 12;
  std::vector<uint32_t> firstInBucket;
};

// Reads `file` (not owned) once from start to end in large pieces and returns what it holds.
// `wanted` are offsets that should hold blocks (the first blocks the index lists): any of them
// whose word does not name itself is read as a ProbedHeader, as is every offset that a block's
// link names without a self-naming word there. Memory is bounded by the options' cap whatever
// the file holds.
BlockScan ScanBlocks(InputFile* file, const std::vector<uint32_t>& wanted,
                     const ScanOptions& options = {});
// ScanBlocks in two steps, for a caller that learns `wanted` while the pass runs (in
// ScanOptions::beside): the pass, then, when it did not fail, the probes.
BlockScan ScanPass(InputFile* file, const ScanOptions& options);
void ProbeScanned(InputFile* file, const std::vector<uint32_t>& wanted, const ScanOptions& options,
                  BlockScan* scan);

// The signs, on a block's data: `bytes` holds its first `size` bytes (what the header says it
// holds, or less when the file ends). A message begins with a header field: a name of printable
// characters and a colon. In a deleted block the first four bytes are overwritten, so what is
// left must read as the rest of a header line.
bool BeginsLikeHeaderField(const uint8_t* bytes, size_t size);
bool DeletedBeginsLikeHeader(const uint8_t* bytes, size_t size);
// How many data bytes the signs look at.
inline constexpr uint32_t kSignBytes = 256;

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_BLOCK_SCAN_H_
