#include "engine/offset_set.h"

namespace quillon {

namespace {
constexpr uint32_t kLimit = 0x80000000u;
}  // namespace

bool OffsetSet::Contains(uint32_t offset) const {
  if (offset >= kLimit) return false;
  const std::vector<std::unique_ptr<uint64_t[]>>& pieces = pieces_[offset % 4];
  const uint32_t bit = offset / 4;
  const size_t piece = bit >> kPieceShift;
  if (piece >= pieces.size() || !pieces[piece]) return false;
  const uint32_t at = bit & ((1u << kPieceShift) - 1);
  return (pieces[piece][at / 64] >> (at % 64) & 1) != 0;
}

bool OffsetSet::Insert(uint32_t offset) {
  if (offset >= kLimit) return false;
  std::vector<std::unique_ptr<uint64_t[]>>& pieces = pieces_[offset % 4];
  const uint32_t bit = offset / 4;
  const size_t piece = bit >> kPieceShift;
  if (pieces.empty()) pieces.resize((kLimit / 4) >> kPieceShift);
  if (!pieces[piece]) pieces[piece].reset(new uint64_t[kPieceWords]());
  const uint32_t at = bit & ((1u << kPieceShift) - 1);
  uint64_t& word = pieces[piece][at / 64];
  const uint64_t mask = uint64_t{1} << (at % 64);
  if (word & mask) return false;
  word |= mask;
  ++count_;
  return true;
}

void OffsetSet::Clear() {
  for (auto& pieces : pieces_) std::vector<std::unique_ptr<uint64_t[]>>().swap(pieces);
  count_ = 0;
}

bool SparseOffsetSet::Contains(uint32_t offset) const {
  if (count_ == 0 || offset == kEmpty) return false;
  const size_t mask = slots_.size() - 1;
  for (size_t i = Home(offset);; i = (i + 1) & mask) {
    if (slots_[i] == offset) return true;
    if (slots_[i] == kEmpty) return false;
  }
}

bool SparseOffsetSet::Insert(uint32_t offset) {
  if (Contains(offset)) return true;
  if (count_ >= maxSize_ || offset == kEmpty) return false;
  if (2 * (count_ + 1) > slots_.size()) {
    // Twice the room: every offset goes to its new home.
    std::vector<uint32_t> old;
    old.swap(slots_);
    bits_ = old.empty() ? 4 : bits_ + 1;
    slots_.assign(size_t{1} << bits_, kEmpty);
    for (uint32_t o : old) {
      if (o != kEmpty) Place(o);
    }
  }
  Place(offset);
  ++count_;
  return true;
}

void SparseOffsetSet::Place(uint32_t offset) {
  const size_t mask = slots_.size() - 1;
  size_t i = Home(offset);
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = offset;
}

void SparseOffsetSet::Clear() {
  std::vector<uint32_t>().swap(slots_);
  bits_ = 0;
  count_ = 0;
}

}  // namespace quillon
