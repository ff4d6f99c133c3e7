#include "engine/offset_set.h"

namespace quillon {

namespace {
constexpr size_t kInitialSlots = 1024;
}  // namespace

size_t OffsetSet::SlotOf(uint32_t offset) const {
  // Fibonacci hashing spreads offsets that are multiples of the block size.
  const size_t mask = slots_.size() - 1;
  return static_cast<size_t>((uint64_t{offset} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

bool OffsetSet::Contains(uint32_t offset) const {
  if (offset == 0) return hasZero_;
  if (slots_.empty()) return false;
  const size_t mask = slots_.size() - 1;
  for (size_t i = SlotOf(offset);; i = (i + 1) & mask) {
    if (slots_[i] == offset) return true;
    if (slots_[i] == 0) return false;
  }
}

bool OffsetSet::Insert(uint32_t offset) {
  if (offset == 0) {
    const bool added = !hasZero_;
    hasZero_ = true;
    return added;
  }
  // Keep the table at most 70% full, so probes stay short.
  if (slots_.empty() || (count_ + 1) * 10 > slots_.size() * 7) Grow();
  const size_t mask = slots_.size() - 1;
  for (size_t i = SlotOf(offset);; i = (i + 1) & mask) {
    if (slots_[i] == offset) return false;
    if (slots_[i] == 0) {
      slots_[i] = offset;
      ++count_;
      return true;
    }
  }
}

void OffsetSet::Grow() {
  std::vector<uint32_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? kInitialSlots : old.size() * 2, 0);
  const size_t mask = slots_.size() - 1;
  for (uint32_t offset : old) {
    if (offset == 0) continue;
    size_t i = SlotOf(offset);
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = offset;
  }
}

void OffsetSet::Clear() {
  std::vector<uint32_t>().swap(slots_);
  count_ = 0;
  hasZero_ = false;
}

}  // namespace quillon
