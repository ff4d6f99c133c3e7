// A set of file offsets below 2^31 (the only ones the engine reads), kept as bits: one bit an
// offset, in pieces of 8 KiB that are made only where offsets are added. A set that holds every
// block of a hostile file costs a fixed part of the file's size, never more: an eighth of the
// stretch its offsets cover, and a quarter of that when they share their remainder modulo 4, as the
// blocks of one chain do.
#ifndef QUILLON_ENGINE_OFFSET_SET_H_
#define QUILLON_ENGINE_OFFSET_SET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillon {

class OffsetSet {
 public:
  bool Contains(uint32_t offset) const;
  // Adds `offset`; false when it was already there. An offset of 2^31 or more is never added
  // and counts as there already, so a walk that could reach one would stop.
  bool Insert(uint32_t offset);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Empties the set and gives its memory back.
  void Clear();

 private:
  // Offsets with remainder r modulo 4 live in pieces_[r], one bit per offset / 4; a piece holds
  // 2^16 of those bits.
  static constexpr unsigned kPieceShift = 16;
  static constexpr size_t kPieceWords = (size_t{1} << kPieceShift) / 64;
  std::vector<std::unique_ptr<uint64_t[]>> pieces_[4];
  size_t count_ = 0;
};

// A few offsets below 2^31 scattered anywhere, in a hash table of 4 bytes a slot, at most half
// full: where OffsetSet would spend a piece of 8 KiB on each. It holds at most the number of
// offsets it was made for, so its memory stays bounded whatever the file holds.
class SparseOffsetSet {
 public:
  explicit SparseOffsetSet(size_t maxSize) : maxSize_(maxSize) {}

  bool Contains(uint32_t offset) const;
  // Adds `offset` (below 2^31). False, leaving the set unchanged, when the offset is new and the
  // set already holds its maximum.
  bool Insert(uint32_t offset);
  size_t size() const { return count_; }
  // Empties the set and gives its memory back.
  void Clear();

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  size_t Home(uint32_t offset) const {
    return static_cast<size_t>((offset * 0x9E3779B1u) >> (32 - bits_));
  }
  // Puts a new offset into a free slot; the table has room.
  void Place(uint32_t offset);

  size_t maxSize_;
  std::vector<uint32_t> slots_;  // 2^bits_ of them, kEmpty where free
  unsigned bits_ = 0;
  size_t count_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_OFFSET_SET_H_
