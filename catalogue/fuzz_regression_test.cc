// Replays the catalogue fuzzers' committed findings, and the real files of the corpus, through
// the fuzzers' own checks, so a finding fails the same way under g++ as under clang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalogue/testing/catalogue_check.h"

namespace quillon::catalogue {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(CatalogueFuzzRegressionTest, FindingsAndRealFilesPassTheFuzzersChecks) {
  const struct {
    const char* target;
    std::string (*check)(std::string_view);
  } targets[] = {
      {"catalogue_tree_fuzzer", fuzzing::CheckCatalogueTrees},
      {"catalogue_record_fuzzer", fuzzing::CheckIndexedRecords},
      {"catalogue_folders_fuzzer", fuzzing::CheckFoldersFile},
  };
  for (const auto& t : targets) {
    const fs::path dir = fs::path(QUILLON_FUZZ_DIR) / "regressions" / t.target;
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
      if (!e.is_regular_file()) continue;
      EXPECT_EQ(t.check(ReadAll(e.path())), "") << e.path();
    }
  }
  if (!fs::is_directory(QUILLON_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << QUILLON_CORPUS_DIR;
  size_t files = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(QUILLON_CORPUS_DIR)) {
    if (e.path().extension() != ".dbx") continue;
    const std::string bytes = ReadAll(e.path());
    for (const auto& t : targets) EXPECT_EQ(t.check(bytes), "") << t.target << " " << e.path();
    ++files;
  }
  EXPECT_EQ(files, 6u);
}

}  // namespace
}  // namespace quillon::catalogue
