// Replays the fuzzers' committed seeds and findings through the fuzzers' own checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/export_check.h"
#include "fuzz/mail_writer_check.h"
#include "fuzz/message_text_check.h"
#include "fuzz/mime_walk_check.h"
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

// The targets on message text keep their seeds and findings in a folder each.
TEST(FuzzRegressionTest, MessageTextSeedsAndFindingsPassTheirChecks) {
  const struct {
    const char* target;
    std::string (*check)(std::string_view);
  } targets[] = {
      {"message_facts_fuzzer", fuzzing::CheckMessageFacts},
      {"mail_date_fuzzer", fuzzing::CheckMailDate},
      {"mail_writer_fuzzer", fuzzing::CheckMailWriter},
      {"mime_walk_fuzzer", fuzzing::CheckMimeWalk},
  };
  for (const auto& t : targets) {
    size_t seeds = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      const fs::path dir = fs::path(QUILLON_FUZZ_DIR) / kind / t.target;
      if (!fs::is_directory(dir)) continue;
      for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        EXPECT_EQ(t.check(test::ReadWholeFile(e.path())), "") << e.path();
        seeds += kind[0] == 's';
      }
    }
    EXPECT_GE(seeds, 3u) << t.target << ": its seeds are missing";
  }
}

}  // namespace
}  // namespace quillon
