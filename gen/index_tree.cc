#include "gen/index_tree.h"

#include <cstring>

#include "gen/dbx_layout.h"

namespace quillon::gen {
namespace {

// How a node over n > 0x33 values splits: `children` subtrees (one more than its entries), the
// first `larger` of them holding base + 1 values, the others base. Subtrees are as even as
// possible and the tree no taller than needed, so every node but the root is at least about half
// full.
struct Split {
  uint32_t children;
  uint32_t base;
  uint32_t larger;
};

Split SplitOf(uint32_t n) {
  const uint64_t fanOut = dbx::kNodeMaxEntries + 1;
  uint64_t capacity = dbx::kNodeMaxEntries;  // of a tree of height 1
  uint64_t childCapacity;
  do {
    childCapacity = capacity;
    capacity = capacity * fanOut + dbx::kNodeMaxEntries;
  } while (capacity < n);
  Split s;
  s.children = static_cast<uint32_t>((uint64_t{n} + 1 + childCapacity) / (childCapacity + 1));
  const uint32_t inChildren = n - (s.children - 1);
  s.base = inChildren / s.children;
  s.larger = inChildren % s.children;
  return s;
}

bool WriteSubtree(const uint32_t* values, uint32_t count, uint32_t self, uint32_t parent,
                  const std::function<bool(const uint8_t*)>& emit) {
  uint8_t node[dbx::kNodeSize] = {};
  dbx::StoreLE32(node, self);
  dbx::StoreLE32(node + 0x0C, parent);
  uint8_t* entry = node + dbx::kNodeHeaderSize;
  if (count <= dbx::kNodeMaxEntries) {
    node[0x11] = static_cast<uint8_t>(count);
    for (uint32_t i = 0; i < count; ++i, entry += dbx::kNodeEntrySize) {
      dbx::StoreLE32(entry, values[i]);
    }
    return emit(node);
  }

  const Split s = SplitOf(count);
  const uint32_t nodesOfBase = IndexNodeCount(s.base);
  const uint32_t nodesOfLarger = IndexNodeCount(s.base + 1);
  uint32_t childSize[dbx::kNodeMaxEntries + 1], childOffset[dbx::kNodeMaxEntries + 1];
  uint32_t childStart[dbx::kNodeMaxEntries + 1];
  uint32_t next = self + dbx::kNodeSize, position = 0;
  for (uint32_t j = 0; j < s.children; ++j) {
    const bool larger = j < s.larger;
    childSize[j] = larger ? s.base + 1 : s.base;
    childOffset[j] = next;
    childStart[j] = position;
    next += (larger ? nodesOfLarger : nodesOfBase) * dbx::kNodeSize;
    position += childSize[j] + 1;  // the subtree, then the entry that follows it
  }
  node[0x11] = static_cast<uint8_t>(s.children - 1);
  dbx::StoreLE32(node + 0x08, childOffset[0]);
  dbx::StoreLE32(node + 0x14, childSize[0]);
  for (uint32_t j = 1; j < s.children; ++j, entry += dbx::kNodeEntrySize) {
    dbx::StoreLE32(entry, values[childStart[j] - 1]);
    dbx::StoreLE32(entry + 4, childOffset[j]);
    dbx::StoreLE32(entry + 8, childSize[j]);
  }
  if (!emit(node)) return false;
  for (uint32_t j = 0; j < s.children; ++j) {
    if (!WriteSubtree(values + childStart[j], childSize[j], childOffset[j], self, emit)) {
      return false;
    }
  }
  return true;
}

}  // namespace

uint32_t IndexNodeCount(uint32_t values) {
  if (values == 0) return 0;
  if (values <= dbx::kNodeMaxEntries) return 1;
  const Split s = SplitOf(values);
  return 1 + s.larger * IndexNodeCount(s.base + 1) +
         (s.children - s.larger) * IndexNodeCount(s.base);
}

bool BuildIndexTree(const uint32_t* values, uint32_t count, uint32_t firstNode,
                    const std::function<bool(const uint8_t* node)>& emit) {
  if (count == 0) return true;
  return WriteSubtree(values, count, firstNode, 0, emit);
}

}  // namespace quillon::gen
