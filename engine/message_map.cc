#include "engine/message_map.h"

#include <algorithm>

namespace quillon {

size_t MessageMap::Find(uint32_t key) const {
  const auto end = entries_.begin() + sortedEntries_;
  const auto it = std::lower_bound(entries_.begin(), end, key,
                                   [](const Entry& e, uint32_t k) { return e.key < k; });
  if (it != end && it->key == key && it->blocks != 0) return it - entries_.begin();
  return entries_.size();
}

void MessageMap::Store(BlockList& list, uint32_t joinKey) {
  if (IsEmpty(list)) return;
  uint64_t blocks = list.count;
  uint32_t bytes = list.bytes;
  const size_t found = joinKey != 0 ? Find(joinKey) : entries_.size();
  if (found != entries_.size()) {
    blocks += entries_[found].blocks;
    const size_t c = FindCounted(joinKey);
    bytes = Sum(bytes, c != counted_.size() ? counted_[c].bytes : kUncounted);
    if (c != counted_.size()) counted_[c].bytes = kJoined;
    entries_[found].blocks = 0;
    --live_;
  }
  // Joined entries pile up when every walk joins the one before (a chain laid out backwards):
  // drop them once they outnumber the live ones, so the map keeps to its messages.
  if (entries_.size() >= 2 * live_ + 1024) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [](const Entry& e) { return e.blocks == 0; }),
                   entries_.end());
    counted_.erase(std::remove_if(counted_.begin(), counted_.end(),
                                  [](const Counted& c) { return c.bytes == kJoined; }),
                   counted_.end());
  }
  entries_.push_back(
      Entry{list.first, static_cast<uint32_t>(std::min<uint64_t>(blocks, kMaxBlocks))});
  if (blocks >= kMinCountedBlocks && bytes != kUncounted)
    counted_.push_back(Counted{list.first, bytes});
  sortedEntries_ = entries_.size();
  ++live_;
  list = BlockList{};
}

void MessageMap::AddSingle(uint32_t offset) {
  entries_.push_back(Entry{offset, 1});
  ++live_;
}

void MessageMap::FinishSingles() {
  const auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
  // The pass for one-block messages finds them in order; sort only what it did not.
  if (!std::is_sorted(entries_.begin() + sortedEntries_, entries_.end(), byKey)) {
    std::sort(entries_.begin() + sortedEntries_, entries_.end(), byKey);
  }
  std::inplace_merge(entries_.begin(), entries_.begin() + sortedEntries_, entries_.end(), byKey);
  sortedEntries_ = entries_.size();
}

size_t MessageMap::FindCounted(uint32_t key) const {
  const auto it = std::lower_bound(counted_.begin(), counted_.end(), key,
                                   [](const Counted& c, uint32_t k) { return c.key < k; });
  return it != counted_.end() && it->key == key && it->bytes != kJoined
             ? static_cast<size_t>(it - counted_.begin())
             : counted_.size();
}

uint32_t MessageMap::EntryBytes(size_t i) const {
  const size_t c = FindCounted(entries_[i].key);
  return c != counted_.size() ? counted_[c].bytes : kUncounted;
}

bool MessageMap::Contains(uint32_t key) const { return Find(key) != entries_.size(); }

uint32_t MessageMap::Blocks(uint32_t key) const {
  const size_t i = Find(key);
  return i != entries_.size() ? entries_[i].blocks : 0;
}

void MessageMap::Clear() {
  std::vector<Entry>().swap(entries_);
  std::vector<Counted>().swap(counted_);
  sortedEntries_ = 0;
  live_ = 0;
}

}  // namespace quillon
