// The folder's index: a B-tree of message-info offsets in nodes of 0x27C bytes, each holding up
// to 0x33 entries. An in-order walk (left child, then each entry's value followed by the entry's
// child) gives the messages in index order.
#ifndef QUILLON_GEN_INDEX_TREE_H_
#define QUILLON_GEN_INDEX_TREE_H_

#include <cstdint>
#include <functional>

namespace quillon::gen {

// Nodes in the tree over `values` values (0 for none).
uint32_t IndexNodeCount(uint32_t values);

// Builds the tree over values[0, count), in that in-order order, with its nodes at consecutive
// offsets from `firstNode` (the root) in pre-order, and hands each node's 0x27C bytes to `emit`
// in ascending offset order. Returns false as soon as `emit` does.
//
// Node words: 0x00 own offset, 0x08 left child, 0x0C parent (0 for the root), 0x11 entry count,
// 0x14 values under the left child. Entries from 0x18: value, child, values under that child.
bool BuildIndexTree(const uint32_t* values, uint32_t count, uint32_t firstNode,
                    const std::function<bool(const uint8_t* node)>& emit);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_INDEX_TREE_H_
