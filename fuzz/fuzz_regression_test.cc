// Replays the fuzzer's committed seeds and findings through the fuzzer's own checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/export_check.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressionTest, SeedsAndFindingsPassTheFuzzersChecks) {
  size_t replayed = 0;
  for (const char* dir : {QUILLON_FUZZ_DIR "/seeds", QUILLON_FUZZ_DIR "/regressions"}) {
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
      if (!e.is_regular_file() || e.path().extension() == ".md") continue;
      EXPECT_EQ(fuzzing::CheckExport(test::ReadWholeFile(e.path())), "") << e.path();
      ++replayed;
    }
  }
  // The committed seeds alone are four files; none found means the folders moved.
  EXPECT_GE(replayed, 4u);
}

}  // namespace
}  // namespace quillon
