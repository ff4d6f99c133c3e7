#include "engine/offset_set.h"

#include <gtest/gtest.h>

#include <set>

namespace quillon {
namespace {

TEST(OffsetSetTest, AgreesWithAnOrderedSetThroughGrowth) {
  OffsetSet set;
  std::set<uint32_t> model;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1664525u + 1013904223u;
    // Block-sized steps collide in weak hashes; mix them with arbitrary values and zero.
    const uint32_t offset = (i % 3 == 0) ? (x % 5000) * 0x210 : (i % 1000 == 0 ? 0 : x);
    EXPECT_EQ(set.Insert(offset), model.insert(offset).second);
  }
  EXPECT_EQ(set.size(), model.size());
  for (int i = 0; i < 100000; ++i) {
    x = x * 1664525u + 1013904223u;
    const uint32_t probe = (i % 2) ? (x % 6000) * 0x210 : x;
    EXPECT_EQ(set.Contains(probe), model.count(probe) != 0);
  }
  set.Clear();
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(set.Contains(0));
  EXPECT_FALSE(set.Contains(*model.rbegin()));
}

}  // namespace
}  // namespace quillon
