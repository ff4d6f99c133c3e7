// The message map: first-block offset -> how many blocks the message has, iterated in ascending
// key order. A message's block offsets are not kept: they are the chain that begins at its key,
// each block's nextOffset naming the next, as the walk that found it followed them; the copy
// follows the same links. Joining a stored message behind a new walk only adds its count, since
// the walk's last block links to the joined message's first. So a message costs 8 bytes, however
// many blocks it has and however often it was joined. A dry run's count of the bytes of a message
// of kMinCountedBlocks blocks or more, when the walks could tell it, costs 8 bytes more: such
// messages are few, since each takes that many blocks of the file.
#ifndef QUILLON_ENGINE_MESSAGE_MAP_H_
#define QUILLON_ENGINE_MESSAGE_MAP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

class MessageMap {
 public:
  // A count of bytes that is not known: the dry run follows the chain to count them.
  static constexpr uint32_t kUncounted = 0xFFFFFFFFu;
  // Shorter messages are counted by following their chains, which costs little.
  static constexpr uint32_t kMinCountedBlocks = 64;

  // A walk under construction: its first block, how many blocks it has and the bytes their data
  // holds (kUncounted when a block's were not known).
  struct BlockList {
    uint32_t first = 0;
    uint32_t count = 0;
    uint32_t bytes = 0;
  };

  // Reserves room for about `messages` messages.
  void Reserve(size_t messages) { entries_.reserve(messages); }

  BlockList BeginList() const { return BlockList{}; }
  // Adds `offset`, which the list's last block links to (or which begins the list).
  void Append(BlockList& list, uint32_t offset) {
    if (list.count == 0) list.first = offset;
    if (list.count != kMaxBlocks) ++list.count;
  }
  // Adds the bytes that the list's last block contributes, or kUncounted.
  void AddBytes(BlockList& list, uint32_t bytes) const { list.bytes = Sum(list.bytes, bytes); }
  bool IsEmpty(const BlockList& list) const { return list.count == 0; }
  // Forgets the list.
  void Discard(BlockList& list) { list = BlockList{}; }

  // Stores `list`, whose last block links to `joinKey` (0 for none: no message is keyed 0, as no
  // chain start at offset 0 counts). First, when a message is keyed by `joinKey`, it is joined to
  // the end of `list` and its entry removed. The list is then stored
  // under its first offset. Keys must be stored in ascending order (the scanner's search only
  // moves forward); an empty list stores nothing.
  void Store(BlockList& list, uint32_t joinKey);

  // Adds a one-block message keyed by its own offset, in any order; keys must not be present.
  // Call FinishSingles before iterating.
  void AddSingle(uint32_t offset);
  void FinishSingles();

  bool Contains(uint32_t key) const;
  size_t size() const { return live_; }
  bool empty() const { return live_ == 0; }
  // Empties the map and gives its memory back.
  void Clear();

  // Entries in ascending key order, by index; an entry that was joined into another message is
  // no longer live and is skipped.
  size_t EntryCount() const { return entries_.size(); }
  bool EntryLive(size_t i) const { return entries_[i].blocks != 0; }
  uint32_t EntryKey(size_t i) const { return entries_[i].key; }
  // How many blocks the chain from the key holds.
  uint32_t EntryBlocks(size_t i) const { return entries_[i].blocks; }
  // The bytes of its blocks' data, summed by the walks that found it, or kUncounted.
  uint32_t EntryBytes(size_t i) const;
  // The blocks of the message keyed by `key` (0 when absent).
  uint32_t Blocks(uint32_t key) const;

 private:
  // A count that saturates: no walk of a file below 2^31 bytes comes near it.
  static constexpr uint32_t kMaxBlocks = 0xFFFFFFFFu;
  struct Entry {
    uint32_t key;
    uint32_t blocks;  // 0 once the entry was joined into another message
  };
  // The bytes of a long message, by key; kJoined once it was joined into another.
  struct Counted {
    uint32_t key;
    uint32_t bytes;
  };
  static constexpr uint32_t kJoined = kUncounted - 1;
  // a + b, kUncounted when either is or the sum does not fit below kJoined.
  static uint32_t Sum(uint32_t a, uint32_t b) {
    const uint64_t sum = uint64_t{a} + b;
    return a == kUncounted || b == kUncounted || sum >= kJoined ? kUncounted
                                                                : static_cast<uint32_t>(sum);
  }
  // Index of the entry of counted_ with `key`, or counted_.size().
  size_t FindCounted(uint32_t key) const;
  // Index of the live entry with `key`, or entries_.size().
  size_t Find(uint32_t key) const;

  std::vector<Entry> entries_;    // ascending keys; joined entries stay until compacted
  std::vector<Counted> counted_;  // ascending keys, compacted with entries_
  size_t sortedEntries_ = 0;      // entries_[0, sortedEntries_) are in order
  size_t live_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_MESSAGE_MAP_H_
