#include "engine/block_index.h"

#include <algorithm>

#include "dbx/block_format.h"

namespace quillon {

bool BlockIndex::Build(BlockReader* reader, uint32_t fileSize, size_t maxEntries) {
  Clear();
  // Room for the cap up front: the pages are only touched as entries arrive, and the array never
  // has to move (a move would hold the old and the new copy at once).
  entries_.reserve(std::min<size_t>(maxEntries, fileSize / 4 + 1));
  uint64_t at = 0, end = 0;
  for (;;) {
    size_t valid = 0;
    const uint8_t* bytes = reader->ReadScanWindow(at, &valid);
    if (bytes == nullptr) {
      Clear();
      return false;
    }
    end = at + valid;
    const bool last = valid < BlockReader::kScanWindowSize;
    // In a full window, positions whose header the window holds whole; the next window starts
    // at the first position left over. At the end of the file, every position with its word.
    const uint64_t tail = last ? 4 : kBlockHeaderSize;
    if (end < at + tail) break;
    const uint64_t lastPos = std::min<uint64_t>(end - tail, kReadableLimit - 4);
    for (uint32_t q = static_cast<uint32_t>(at);;) {
      q = FindSelfWord(bytes, at, q, static_cast<uint32_t>(lastPos));
      if (q > lastPos) break;
      if (entries_.size() == maxEntries) {
        Clear();
        return false;
      }
      Entry e{q, 0, 0};
      if (uint64_t{q} + kBlockHeaderSize <= end) {
        const BlockHeader h = DecodeBlockHeader(bytes + (q - at));
        e.tagged |= kHeaderReadable;
        if (h.dataLength <= h.blockSize && h.dataLength != 0 && h.blockSize != 0) {
          e.tagged |= kUsableLengths;
        }
        e.blockSize = h.blockSize;
        e.next = h.nextOffset;
      }
      entries_.push_back(e);
      q += 4;
    }
    if (last || lastPos == kReadableLimit - 4) break;
    at = lastPos + 4;
  }
  fileEnd_ = end;

  const size_t buckets = static_cast<size_t>(std::min(end, kReadableLimit) >> kBucketShift) + 2;
  firstInBucket_.assign(buckets, static_cast<uint32_t>(entries_.size()));
  for (size_t i = entries_.size(); i-- > 0;) {
    firstInBucket_[OffsetOf(entries_[i]) >> kBucketShift] = static_cast<uint32_t>(i);
  }
  // A bucket without entries starts where the next one does.
  for (size_t b = buckets - 1; b-- > 0;) {
    firstInBucket_[b] = std::min(firstInBucket_[b], firstInBucket_[b + 1]);
  }
  active_ = true;
  return true;
}

void BlockIndex::Clear() {
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(firstInBucket_);
  lastFound_ = nullptr;
  fileEnd_ = 0;
  active_ = false;
}

const BlockIndex::Entry* BlockIndex::FirstFrom(uint32_t from) const {
  // A search that goes on right after the entry it was last given gets the next one.
  if (lastFound_ != nullptr && OffsetOf(*lastFound_) < from) {
    const Entry* next = lastFound_ + 1;
    if (next == end()) return nullptr;
    if (OffsetOf(*next) >= from) return lastFound_ = next;
  }
  const size_t bucket = from >> kBucketShift;
  if (bucket + 1 >= firstInBucket_.size()) return nullptr;
  // The first entry at or after `from` is in this bucket or begins the next one.
  const Entry* e = std::lower_bound(
      entries_.data() + firstInBucket_[bucket], entries_.data() + firstInBucket_[bucket + 1], from,
      [](const Entry& entry, uint32_t offset) { return OffsetOf(entry) < offset; });
  if (e == end()) return nullptr;
  return lastFound_ = e;
}

const BlockIndex::Entry* BlockIndex::Find(uint32_t offset) const {
  if (lastFound_ != nullptr && OffsetOf(*lastFound_) == offset) return lastFound_;
  const size_t bucket = offset >> kBucketShift;
  if (bucket + 1 >= firstInBucket_.size()) return nullptr;
  const Entry* stop = entries_.data() + firstInBucket_[bucket + 1];
  const Entry* e =
      std::lower_bound(entries_.data() + firstInBucket_[bucket], stop, offset,
                       [](const Entry& entry, uint32_t at) { return OffsetOf(entry) < at; });
  if (e != stop && OffsetOf(*e) == offset) return lastFound_ = e;
  return nullptr;
}

}  // namespace quillon
