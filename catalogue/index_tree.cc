#include "catalogue/index_tree.h"

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/dbx_format.h"

namespace quillon::catalogue {
namespace {

std::string Values(uint64_t n) { return std::to_string(n) + (n == 1 ? " value" : " values"); }

// The values a tree has listed, to tell one listed twice: open addressing over the values
// themselves (0 is never one), 4 to 8 bytes a value where a set of nodes takes some 40: a tree of
// 1.3 million messages was 29 MiB of set.
class ValueSet {
 public:
  explicit ValueSet(size_t expected) {
    size_t slots = 256;
    while (slots < expected + expected / 2) slots *= 2;
    slots_.assign(slots, 0);
  }
  // False when `value` (not 0) was inserted before.
  bool Insert(uint32_t value) {
    if ((size_ + 1) * 10 > slots_.size() * 7) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = Slot(value) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == value) return false;
      if (slots_[i] == 0) {
        slots_[i] = value;
        ++size_;
        return true;
      }
    }
  }

 private:
  static size_t Slot(uint32_t value) { return (uint64_t{value} * 0x9E3779B97F4A7C15u) >> 32; }
  void Grow() {
    std::vector<uint32_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    size_ = 0;
    for (uint32_t v : old) {
      if (v != 0) Insert(v);
    }
  }

  std::vector<uint32_t> slots_;
  size_t size_ = 0;
};

}  // namespace

struct TreeReader::Frame {
  uint32_t offset;
  uint32_t depth;
  uint32_t expected;      // values the parent (or the header) counts in this subtree
  uint64_t damageBefore;  // reports made before the subtree was entered
  size_t valuesBefore;
  uint32_t entries;
  bool clipped;  // the entry count was more than fit, and was cut to what does
  int next;      // the entry due next; -1 while the left child is
  uint8_t node[dbx::kNodeSize];
};

TreeReader::TreeReader(FileReader* reader)
    // Real nodes do not overlap, so no file holds more than this many; the budget stops a walk
    // through nodes that a hostile file overlaps at every four bytes.
    : reader_(reader), nodeBudget_(reader->size() / dbx::kNodeSize + 1) {}

bool TreeReader::Enter(uint32_t offset, uint32_t parent, uint32_t depth, uint32_t expected,
                       std::vector<Frame>* stack) {
  DamageLog& damage = reader_->damage();
  const auto name = [offset] { return "tree node at " + Hex(offset); };
  if (depth > kMaxDepth) {
    damage.Damaged(offset, name() + " lies " + std::to_string(depth) +
                               " levels down, deeper than any real tree");
    return false;
  }
  if (!nodesSeen_.insert(offset).second) {
    damage.Damaged(offset, name() + " is reached a second time (the tree loops)");
    return false;
  }
  if (nodeBudget_ == 0) {
    damage.Damaged(offset, name() + " is one more than the file has room for");
    return false;
  }
  --nodeBudget_;
  const uint64_t damageBefore = damage.count();
  stack->push_back(Frame{offset, depth, expected, damageBefore, 0, 0, false, -1, {}});
  Frame& f = stack->back();
  if (!reader_->Read(offset, dbx::kNodeSize, f.node, "tree node", offset)) {
    stack->pop_back();
    return false;
  }
  const uint32_t self = Le32(f.node + dbx::kNodeSelf);
  if (self != offset) {
    damage.Damaged(offset, name() + " names itself " + Hex(self));
    stack->pop_back();
    return false;
  }
  // The parent link is redundant with the walk itself: a wrong one is worth telling, not
  // worth dropping the node's values for.
  const uint32_t parentWord = Le32(f.node + dbx::kNodeParent);
  if (parentWord != parent) {
    damage.Damaged(offset,
                   name() + " names " + Hex(parentWord) + " as its parent, not " + Hex(parent));
  }
  f.entries = f.node[dbx::kNodeEntryCount];
  if (f.entries > dbx::kNodeMaxEntries) {
    damage.Damaged(offset, name() + " holds " + std::to_string(f.entries) + " entries; at most " +
                               std::to_string(dbx::kNodeMaxEntries) + " fit");
    f.entries = dbx::kNodeMaxEntries;
    f.clipped = true;
  }
  f.damageBefore = damageBefore;
  return true;
}

TreeListing TreeReader::Read(uint32_t rootWord, uint32_t root, uint32_t headerCount,
                             size_t maxValues) {
  TreeListing tree;
  tree.rootWord = rootWord;
  tree.root = root;
  tree.headerCount = headerCount;
  DamageLog& damage = reader_->damage();
  if (root == 0) {
    if (headerCount != 0) {
      damage.Damaged(rootWord, "the header counts " + Values(headerCount) +
                                   " in the tree at word " + Hex(rootWord) + ", whose root is 0");
    }
    return tree;
  }

  // Sized for what the header counts, as far as the file could hold records of 128 bytes.
  ValueSet valuesSeen(std::min<uint64_t>(headerCount, reader_->size() / 128));
  std::vector<Frame> stack;
  stack.reserve(kMaxDepth + 1);  // Enter refuses deeper nodes, so frames never move
  // A child link: descends into it, or checks that no values are counted under a missing child.
  auto descend = [&](const Frame& from, uint32_t child, uint32_t count) {
    if (child == 0) {
      if (count != 0) {
        damage.Damaged(from.offset, "tree node at " + Hex(from.offset) + " counts " +
                                        Values(count) + " under no child");
      }
      return;
    }
    if (Enter(child, from.offset, from.depth + 1, count, &stack)) {
      stack.back().valuesBefore = tree.values.size();
      ++tree.nodes;
    }
  };

  if (Enter(root, 0, 1, headerCount, &stack)) ++tree.nodes;
  while (!stack.empty() && tree.values.size() < maxValues) {
    Frame& f = stack.back();
    if (f.next < 0) {
      f.next = 0;
      descend(f, Le32(f.node + dbx::kNodeLeftChild), Le32(f.node + dbx::kNodeLeftCount));
      continue;
    }
    if (static_cast<uint32_t>(f.next) < f.entries) {
      const uint8_t* entry = f.node + dbx::kNodeEntries + dbx::kNodeEntrySize * f.next++;
      const uint32_t value = Le32(entry);
      // Empty slots past a count that was too high are what the count's report explains.
      if (f.clipped && value == 0 && Le32(entry + 4) == 0 && Le32(entry + 8) == 0) continue;
      if (value == 0 || !reader_->Fits(value, dbx::kRecordHeaderSize)) {
        damage.Damaged(f.offset, "tree node at " + Hex(f.offset) + " lists " + Hex(value) +
                                     ", outside the file");
      } else if (!valuesSeen.Insert(value)) {
        damage.Damaged(f.offset,
                       "tree node at " + Hex(f.offset) + " lists " + Hex(value) + " a second time");
      } else {
        tree.values.push_back(value);
        if (tree.values.size() >= maxValues) break;  // enough: no child entered for more
      }
      descend(f, Le32(entry + 4), Le32(entry + 8));
      continue;
    }
    // A count is only worth comparing where nothing inside was damaged: a dropped node already
    // explains the difference, at every level above it.
    const size_t found = tree.values.size() - f.valuesBefore;
    if (damage.count() == f.damageBefore && found != f.expected) {
      if (stack.size() == 1) {
        damage.Damaged(rootWord, "the header counts " + Values(f.expected) +
                                     " in the tree at word " + Hex(rootWord) + "; it holds " +
                                     std::to_string(found));
      } else {
        damage.Damaged(f.offset, "tree node at " + Hex(f.offset) + " holds " + Values(found) +
                                     "; its parent counts " + std::to_string(f.expected));
      }
    }
    stack.pop_back();
  }
  return tree;
}

}  // namespace quillon::catalogue
