#include "engine/offset_set.h"

#include <gtest/gtest.h>

#include <set>

namespace quillon {
namespace {

TEST(OffsetSetTest, AgreesWithAnOrderedSetBelowTwoGibibytes) {
  OffsetSet set;
  std::set<uint32_t> model;
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1664525u + 1013904223u;
    // Neighbours of every remainder, arbitrary offsets (within 64 MiB: each 256 KiB touched
    // costs a piece of 8 KiB), zero and the last offset below 2^31.
    const uint32_t offset = (i % 3 == 0)      ? (x % 5000) * 0x210 + x % 4
                            : (i % 1000 == 0) ? (i % 2000 == 0 ? 0 : 0x7FFFFFFFu)
                                              : x % (64u << 20);
    EXPECT_EQ(set.Insert(offset), model.insert(offset).second);
  }
  // Offsets the engine never reads are never added, and count as there.
  EXPECT_FALSE(set.Insert(0x80000000u));
  EXPECT_FALSE(set.Contains(0xFFFFFFFFu));
  EXPECT_EQ(set.size(), model.size());
  for (int i = 0; i < 100000; ++i) {
    x = x * 1664525u + 1013904223u;
    const uint32_t probe = (i % 2) ? (x % 6000) * 0x210 + x % 4 : x % (65u << 20);
    EXPECT_EQ(set.Contains(probe), model.count(probe) != 0);
  }
  set.Clear();
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(set.Contains(0));
  EXPECT_FALSE(set.Contains(*model.rbegin()));
}

}  // namespace
}  // namespace quillon
