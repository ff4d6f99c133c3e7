// A set of 32-bit file offsets, kept compact for millions of entries: an open-addressing hash
// table of bare offsets, 8 bytes an entry or less. Order is not kept; the engine only asks
// whether an offset is in it.
#ifndef QUILLON_ENGINE_OFFSET_SET_H_
#define QUILLON_ENGINE_OFFSET_SET_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

class OffsetSet {
 public:
  bool Contains(uint32_t offset) const;
  // Adds `offset`; false when it was already there.
  bool Insert(uint32_t offset);
  size_t size() const { return count_ + (hasZero_ ? 1 : 0); }
  bool empty() const { return size() == 0; }
  // Empties the set and gives its memory back.
  void Clear();

 private:
  // Slot value 0 means empty; offset 0 is tracked apart.
  size_t SlotOf(uint32_t offset) const;
  void Grow();

  std::vector<uint32_t> slots_;
  size_t count_ = 0;
  bool hasZero_ = false;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_OFFSET_SET_H_
