#include "engine/visited_set.h"

#include "dbx/block_format.h"

namespace quillon {

ptrdiff_t VisitedSet::Slot(uint32_t offset) const {
  if (index_ == nullptr || !index_->active() || offset % 4 != 0 || offset >= kReadableLimit) {
    return -1;
  }
  const BlockIndex::Entry* e = index_->Find(offset);
  return e != nullptr ? e - index_->begin() : -1;
}

bool VisitedSet::Contains(uint32_t offset) const {
  const ptrdiff_t slot = Slot(offset);
  if (slot < 0) return others_.Contains(offset);
  const size_t word = static_cast<size_t>(slot) / 64;
  return word < bits_.size() && (bits_[word] >> (slot % 64) & 1) != 0;
}

bool VisitedSet::Insert(uint32_t offset) {
  const ptrdiff_t slot = Slot(offset);
  if (slot < 0) return others_.Insert(offset);
  if (bits_.empty()) bits_.assign(static_cast<size_t>(index_->end() - index_->begin()) / 64 + 1, 0);
  uint64_t& word = bits_[static_cast<size_t>(slot) / 64];
  const uint64_t bit = uint64_t{1} << (slot % 64);
  if (word & bit) return false;
  word |= bit;
  ++marked_;
  return true;
}

void VisitedSet::Clear() {
  std::vector<uint64_t>().swap(bits_);
  marked_ = 0;
  others_.Clear();
}

}  // namespace quillon
