#include "gen/index_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/dbx_test_reader.h"

namespace quillon::gen {
namespace {

constexpr uint32_t kNode = 0x27C;

// Builds a tree over `count` made-up record offsets, nodes from offset 0x1000 of a buffer, and
// walks it with the test reader.
struct BuiltTree {
  std::vector<uint32_t> values;
  std::string file;
  testing::TreeWalk walk;
};

BuiltTree Build(uint32_t count) {
  BuiltTree t;
  for (uint32_t i = 0; i < count; ++i) t.values.push_back(0x2B24 + 0x100 * i);
  t.file.assign(0x1000, '\0');
  const bool ok = BuildIndexTree(t.values.data(), count, 0x1000, [&t](const uint8_t* node) {
    t.file.append(reinterpret_cast<const char*>(node), kNode);
    return true;
  });
  EXPECT_TRUE(ok);
  t.walk = testing::WalkIndexTree(t.file, count == 0 ? 0 : 0x1000);
  return t;
}

uint32_t LeafDepth(uint32_t count) {
  const BuiltTree t = Build(count);
  return t.walk.leafDepths.empty() ? 0xFFFFFFFFu : t.walk.leafDepths.front();
}

// Sizes around each capacity boundary: one level holds 0x33 values, two 52 * 52 - 1, three
// 52^3 - 1.
TEST(GenIndexTree, InOrderValuesConsistentNodesEvenDepth) {
  for (uint32_t count : {0u, 1u, 2u, 51u, 52u, 53u, 104u, 105u, 1000u, 2703u, 2704u, 2705u, 20000u,
                         140607u, 140608u}) {
    SCOPED_TRACE(count);
    const BuiltTree t = Build(count);
    ASSERT_EQ(t.walk.error, "");
    EXPECT_EQ(t.walk.values, t.values);
    const uint32_t nodes = IndexNodeCount(count);
    EXPECT_EQ(t.walk.nodes.size(), nodes);
    EXPECT_EQ(t.file.size(), 0x1000 + size_t{nodes} * kNode);
    // Pre-order from the root at consecutive offsets: what the generator writes after the
    // segments.
    for (size_t i = 0; i < t.walk.nodes.size(); ++i) {
      EXPECT_EQ(t.walk.nodes[i], 0x1000 + i * kNode);
    }
    for (uint32_t depth : t.walk.leafDepths) EXPECT_EQ(depth, t.walk.leafDepths.front());
  }
  EXPECT_EQ(Build(51).walk.leafDepths, std::vector<uint32_t>{0});
  EXPECT_EQ(LeafDepth(52), 1u);
  EXPECT_EQ(LeafDepth(2703), 1u);
  EXPECT_EQ(LeafDepth(2704), 2u);
  EXPECT_EQ(LeafDepth(140607), 2u);
  EXPECT_EQ(LeafDepth(140608), 3u);
}

// Every node but the root is at least about half full, so the tree stays as small as a real one.
TEST(GenIndexTree, NodesAreWellFilled) {
  for (uint32_t count : {52u, 500u, 2704u, 140608u}) {
    SCOPED_TRACE(count);
    const BuiltTree t = Build(count);
    for (size_t i = 1; i < t.walk.nodes.size(); ++i) {
      EXPECT_GE(static_cast<uint8_t>(t.file[t.walk.nodes[i] + 0x11]), 0x33 / 2 - 1);
    }
  }
}

TEST(GenIndexTree, StopsWhenTheSinkFails) {
  std::vector<uint32_t> values(500, 0x2B24);
  int calls = 0;
  EXPECT_FALSE(
      BuildIndexTree(values.data(), 500, 0x1000, [&calls](const uint8_t*) { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace quillon::gen
