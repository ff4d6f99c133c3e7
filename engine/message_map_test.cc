#include "engine/message_map.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using Blocks = std::vector<uint32_t>;

MessageMap::BlockList Walk(MessageMap& map, const Blocks& offsets) {
  MessageMap::BlockList list = map.BeginList();
  for (uint32_t o : offsets) map.Append(list, o);
  return list;
}

Blocks Keys(const MessageMap& map) {
  Blocks keys;
  for (size_t i = 0; i < map.EntryCount(); ++i) {
    if (map.EntryLive(i)) keys.push_back(map.EntryKey(i));
  }
  return keys;
}

TEST(MessageMapTest, JoinsMoveWholeListsBehindNewOnes) {
  MessageMap map;
  auto tail = Walk(map, {50, 60});
  map.Store(tail, 0);
  auto middle = Walk(map, {70, 80});
  map.Store(middle, 0);
  // A walk from 90 ran into 70: the list keyed 70 moves behind it.
  auto head = Walk(map, {90});
  map.Store(head, 70);
  EXPECT_EQ(Keys(map), (Blocks{50, 90}));
  EXPECT_EQ(map.Blocks(90), 3u);
  // Joined lists can be joined again, and a join into a missing key stores the list alone.
  auto first = Walk(map, {100, 110});
  map.Store(first, 90);
  auto alone = Walk(map, {120});
  map.Store(alone, 80);
  EXPECT_EQ(Keys(map), (Blocks{50, 100, 120}));
  EXPECT_EQ(map.Blocks(100), 5u);
  EXPECT_EQ(map.Blocks(90), 0u);
  EXPECT_EQ(map.size(), 3u);
}

TEST(MessageMapTest, DiscardedAndEmptyListsLeaveNoTrace) {
  MessageMap map;
  auto kept = Walk(map, {10, 20});
  map.Store(kept, 0);
  auto broken = Walk(map, {30, 40, 50});
  map.Discard(broken);
  auto empty = map.BeginList();
  map.Store(empty, 10);  // nothing to put in front of 10: it stays as it was
  auto next = Walk(map, {60});
  map.Store(next, 0);
  EXPECT_EQ(Keys(map), (Blocks{10, 60}));
  EXPECT_EQ(map.Blocks(10), 2u);
  EXPECT_EQ(map.Blocks(60), 1u);
}

TEST(MessageMapTest, SinglesMergeIntoKeyOrder) {
  MessageMap map;
  auto a = Walk(map, {100, 200});
  map.Store(a, 0);
  auto b = Walk(map, {300, 400});
  map.Store(b, 0);
  auto c = Walk(map, {500});  // ran into 300: its list moves behind 500
  map.Store(c, 300);
  map.AddSingle(450);
  map.AddSingle(40);
  map.AddSingle(250);
  map.FinishSingles();
  EXPECT_EQ(Keys(map), (Blocks{40, 100, 250, 450, 500}));
  EXPECT_EQ(map.Blocks(250), 1u);
  EXPECT_EQ(map.Blocks(500), 3u);
  EXPECT_TRUE(map.Contains(450));
  map.Clear();
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.EntryCount(), 0u);
}

TEST(MessageMapTest, AChainLaidOutBackwardsCostsOneEntry) {
  // Each walk runs into the message the walk before it stored: one message in the end, and the
  // joined entries do not pile up.
  MessageMap map;
  for (uint32_t k = 1; k <= 100000; ++k) {
    auto walk = Walk(map, {k * 16});
    map.Store(walk, (k - 1) * 16);
  }
  EXPECT_EQ(Keys(map), (Blocks{100000 * 16}));
  EXPECT_EQ(map.Blocks(100000 * 16), 100000u);
  EXPECT_LE(map.EntryCount(), 2048u);
}

}  // namespace
}  // namespace quillon
