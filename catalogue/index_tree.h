// The file's trees: B-trees of 0x27C-byte nodes whose values are offsets of indexed records. A
// message folder's tree at header word 0xE4 lists its message-info records; Folders.dbx has three
// trees over its folder-info records, in different orders.
#ifndef QUILLON_CATALOGUE_INDEX_TREE_H_
#define QUILLON_CATALOGUE_INDEX_TREE_H_

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "catalogue/file_reader.h"

namespace quillon::catalogue {

struct TreeListing {
  uint32_t rootWord = 0;         // the header word that holds the root: 0xE4, 0xE8 or 0xEC
  uint32_t root = 0;             // 0: the tree is empty
  uint32_t headerCount = 0;      // values the header counts in it (words 0xC4, 0xC8, 0xCC)
  std::vector<uint32_t> values;  // in tree order: left child, then each entry and its child
  uint32_t nodes = 0;            // nodes read
};

// Walks the trees of one file. Nodes are remembered across trees, so a node that two trees
// share, or a tree that loops, is read once and reported the second time.
class TreeReader {
 public:
  // No real tree is this deep: a tree of one value per node, balanced, over every record a
  // 4 GiB file has room for (a record takes at least 12 bytes) has 29 levels.
  static constexpr uint32_t kMaxDepth = 32;

  explicit TreeReader(FileReader* reader);

  // The values of the tree at `root`, in order. Damage (a node out of the file, one that does not
  // name itself, a loop, too many entries, a tree too deep, a value outside the file or listed
  // twice, a subtree whose values differ from its count) is reported, and the walk goes on with
  // the rest of the tree. Memory and time grow with the nodes read, which the file's size bounds.
  // With `maxValues`, the walk stops once it has that many (a look at the first records of a
  // large folder reads a few nodes, not the whole tree).
  TreeListing Read(uint32_t rootWord, uint32_t root, uint32_t headerCount,
                   size_t maxValues = SIZE_MAX);

 private:
  struct Frame;

  // Reads the node at `offset` and pushes it; false (after a report) when it is unusable.
  bool Enter(uint32_t offset, uint32_t parent, uint32_t depth, uint32_t expected,
             std::vector<Frame>* stack);

  FileReader* reader_;
  std::unordered_set<uint32_t> nodesSeen_;
  uint64_t nodeBudget_;
};

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_INDEX_TREE_H_
