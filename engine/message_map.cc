#include "engine/message_map.h"

#include <algorithm>

namespace quillon {

void MessageMap::Reserve(size_t blocks) { offsets_.reserve(blocks); }

MessageMap::BlockList MessageMap::BeginList() {
  runs_.push_back(Run{static_cast<uint32_t>(offsets_.size()), 0, kNone});
  return BlockList{static_cast<uint32_t>(runs_.size() - 1)};
}

void MessageMap::Append(BlockList& list, uint32_t offset) {
  offsets_.push_back(offset);
  ++runs_[list.run].count;
}

bool MessageMap::IsEmpty(const BlockList& list) const {
  return list.run == kNone || runs_[list.run].count == 0;
}

void MessageMap::Discard(BlockList& list) {
  if (list.run == kNone) return;
  // The open list is always the newest run, at the end of the offsets.
  offsets_.resize(runs_[list.run].begin);
  runs_.pop_back();
  list.run = kNone;
}

size_t MessageMap::Find(uint32_t key) const {
  const auto end = entries_.begin() + sortedEntries_;
  const auto it = std::lower_bound(entries_.begin(), end, key,
                                   [](const Entry& e, uint32_t k) { return e.key < k; });
  if (it != end && it->key == key && it->firstRun != kNone) return it - entries_.begin();
  return entries_.size();
}

void MessageMap::Store(BlockList& list, uint32_t joinKey) {
  if (list.run == kNone) return;
  if (IsEmpty(list)) {
    // Joining a stored list behind nothing would store it again under its own key: no change.
    Discard(list);
    return;
  }
  const size_t found = Find(joinKey);
  if (found != entries_.size()) {
    runs_[list.run].next = entries_[found].firstRun;
    entries_[found].firstRun = kNone;
    --live_;
  }
  const uint32_t key = offsets_[runs_[list.run].begin];
  entries_.push_back(Entry{key, list.run});
  ++sortedEntries_;
  ++live_;
  list.run = kNone;
}

void MessageMap::AddSingle(uint32_t offset) {
  const uint32_t run = static_cast<uint32_t>(runs_.size());
  runs_.push_back(Run{static_cast<uint32_t>(offsets_.size()), 1, kNone});
  offsets_.push_back(offset);
  entries_.push_back(Entry{offset, run});
  ++live_;
}

void MessageMap::FinishSingles() {
  const auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
  std::sort(entries_.begin() + sortedEntries_, entries_.end(), byKey);
  std::inplace_merge(entries_.begin(), entries_.begin() + sortedEntries_, entries_.end(), byKey);
  sortedEntries_ = entries_.size();
}

bool MessageMap::Contains(uint32_t key) const { return Find(key) != entries_.size(); }

std::vector<uint32_t> MessageMap::Blocks(uint32_t key) const {
  std::vector<uint32_t> blocks;
  const size_t i = Find(key);
  if (i != entries_.size())
    ForEachBlock(i, [&](uint32_t offset) {
      blocks.push_back(offset);
      return true;
    });
  return blocks;
}

void MessageMap::Clear() {
  std::vector<uint32_t>().swap(offsets_);
  std::vector<Run>().swap(runs_);
  std::vector<Entry>().swap(entries_);
  sortedEntries_ = 0;
  live_ = 0;
}

}  // namespace quillon
