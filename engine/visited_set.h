// The offsets of the blocks that chain walks passed through and followed onwards. A block the
// index holds is one bit beside its entry, which is all a walk through millions of blocks needs;
// other offsets (blocks at unaligned offsets, or every block of a file read without the index)
// are bits of an OffsetSet.
#ifndef QUILLON_ENGINE_VISITED_SET_H_
#define QUILLON_ENGINE_VISITED_SET_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/block_index.h"
#include "engine/offset_set.h"

namespace quillon {

class VisitedSet {
 public:
  // Keeps the marks of the offsets `index` holds beside its entries; null keeps every offset in
  // the hash set. Only while the set is empty. The index (not owned) must stay unchanged while
  // the set holds anything: Clear the set before the index is rebuilt or cleared.
  void UseIndex(const BlockIndex* index) { index_ = index; }

  bool Contains(uint32_t offset) const;
  // Adds `offset`; false when it was already there.
  bool Insert(uint32_t offset);
  size_t size() const { return marked_ + others_.size(); }
  bool empty() const { return size() == 0; }
  // Empties the set and gives its memory back.
  void Clear();

 private:
  // The entry's number in the index, or -1 when the index does not hold `offset`.
  ptrdiff_t Slot(uint32_t offset) const;

  const BlockIndex* index_ = nullptr;
  std::vector<uint64_t> bits_;  // one per index entry, sized on first use
  size_t marked_ = 0;
  OffsetSet others_;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_VISITED_SET_H_
