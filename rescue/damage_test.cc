// Random damage with ground truth: generated folders, damaged in each way the rescue promises to
// survive, rescued, and compared with the generator's manifest. Seeded; bench/rescue_damage.cc
// runs many more cases and prints the rates.
#include <gtest/gtest.h>

#include "rescue/testing/damage_cases.h"

namespace quillon::rescue {
namespace {

using testing::DamageKind;

TEST(DamageTest, EachDamageLosesOnlyTheMessagesItTouches) {
  test::SeedRng rng(20240611);
  int cases = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    const testing::Folder folder = testing::MakeFolder(seed, 40, seed % 2 == 0, 4);
    ASSERT_EQ(folder.manifest.size(), 40u);
    for (DamageKind kind : testing::kDamageKinds) {
      const bool wholeFile = kind == DamageKind::kZeroHeader ||
                             kind == DamageKind::kZeroFirstSector ||
                             kind == DamageKind::kZeroFileInfo;
      for (int k = 0; k < (wholeFile ? 1 : 12); ++k, ++cases) {
        const testing::DamageCase d = testing::Damage(folder, kind, rng);
        SCOPED_TRACE(std::string(testing::DamageKindName(kind)) + ", seed " + std::to_string(seed) +
                     ": " + d.what);
        const testing::Score s = testing::RescueAndScore(folder, d);
        EXPECT_EQ(s.lostUntouched, 0u);
        // Nothing is lost where the damage touches no message, and nothing but messages is
        // exported when only the file's own structures were hit.
        if (wholeFile) {
          EXPECT_EQ(s.kept, folder.manifest.size());
          EXPECT_EQ(s.extra, 0u);
        }
        // One damaged block header: at most its own message is lost, and no tail passes for a
        // message.
        if (kind == DamageKind::kHeaderBit || kind == DamageKind::kHeaderWord) {
          EXPECT_GE(s.kept + 1, folder.manifest.size());
          EXPECT_EQ(s.extra, 0u);
        }
      }
    }
  }
  EXPECT_GE(cases, 300);
}

}  // namespace
}  // namespace quillon::rescue
