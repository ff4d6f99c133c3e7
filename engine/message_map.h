// The message map: first-block offset -> the message's block offsets in chain order, iterated in
// ascending key order. Built for millions of blocks: every offset lives once in one array, a
// block list is a chain of runs of that array, and joining a stored list behind a new one links
// runs instead of copying offsets.
#ifndef QUILLON_ENGINE_MESSAGE_MAP_H_
#define QUILLON_ENGINE_MESSAGE_MAP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

class MessageMap {
 public:
  // A block list under construction. At most one is open at a time; it lives at the end of the
  // map's offset array until it is stored or discarded.
  struct BlockList {
    uint32_t run = kNone;
  };

  // Reserves room for about `blocks` block offsets (address space only until used).
  void Reserve(size_t blocks);

  BlockList BeginList();
  void Append(BlockList& list, uint32_t offset);
  bool IsEmpty(const BlockList& list) const;
  // Forgets the list and its offsets.
  void Discard(BlockList& list);

  // Stores `list`. First, when a message is keyed by `joinKey`, its whole block list is moved
  // to the end of `list` and its entry removed. The list is then stored under its first offset.
  // Keys must be stored in ascending order (the scanner's search only moves forward); an empty
  // list with nothing to join stores nothing.
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

  // Entries in ascending key order, by index; an entry that was joined into another list is no
  // longer live and is skipped.
  size_t EntryCount() const { return entries_.size(); }
  bool EntryLive(size_t i) const { return entries_[i].firstRun != kNone; }
  uint32_t EntryKey(size_t i) const { return entries_[i].key; }

  // Calls f(offset) for each block of entry i, in chain order, until f returns false.
  template <typename F>
  void ForEachBlock(size_t i, F&& f) const {
    for (uint32_t r = entries_[i].firstRun; r != kNone; r = runs_[r].next) {
      const Run& run = runs_[r];
      for (uint32_t k = 0; k < run.count; ++k) {
        if (!f(offsets_[run.begin + k])) return;
      }
    }
  }

  // Calls f(offset) with the last offset of every stored or open run: the one block of each walk
  // that the walk did not follow onwards.
  template <typename F>
  void ForEachRunEnd(F&& f) const {
    for (const Run& run : runs_) {
      if (run.count != 0) f(offsets_[run.begin + run.count - 1]);
    }
  }
  // The block offsets of the message keyed by `key`, in chain order (empty when absent).
  std::vector<uint32_t> Blocks(uint32_t key) const;

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  struct Run {
    uint32_t begin;  // index in offsets_
    uint32_t count;
    uint32_t next;  // the run that follows in the same list, or kNone
  };
  struct Entry {
    uint32_t key;
    uint32_t firstRun;  // kNone once the entry was joined into another list
  };
  // Index of the live entry with `key`, or entries_.size().
  size_t Find(uint32_t key) const;

  std::vector<uint32_t> offsets_;
  std::vector<Run> runs_;
  std::vector<Entry> entries_;  // ascending keys, removed entries left in place
  size_t sortedEntries_ = 0;    // entries_[0, sortedEntries_) are in order
  size_t live_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_MESSAGE_MAP_H_
