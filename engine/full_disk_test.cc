// A backup folder on a file system that fills up: a 256 KiB tmpfs, mounted for the test (root
// only; skipped with a note otherwise). The export stops with E_FAIL, every .eml left is a whole
// message, and the quillon command says so and exits 2.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/mailbox_extractor.h"
#include "fuzz/sample_mailbox.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quillon-full-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    disk_ = root_ / "disk";
    fs::create_directory(disk_);
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs at " << disk_ << " (" << std::strerror(errno)
                   << "); the full-disk test needs root";
    }
    mounted_ = true;
    // About 1 MB of mail: four times what fits.
    box_ = fuzzing::BuildSampleMailbox(21, 160, 0, false);
    mailbox_ = root_ / "Big.dbx";
    std::ofstream(mailbox_, std::ios::binary) << box_.bytes;
  }
  void TearDown() override {
    if (mounted_) umount(disk_.c_str());
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  // Every file left in the folder is a whole message, numbered as exported.
  size_t CheckFilesLeft(const fs::path& folder) {
    size_t count = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      const size_t n = std::stoul(name.substr(name.rfind('-') + 1));
      EXPECT_TRUE(n >= 1 && n <= box_.messages.size()) << name;
      if (n >= 1 && n <= box_.messages.size()) {
        EXPECT_EQ(Slurp(e.path()), box_.messages[n - 1].second) << name << " is incomplete";
      }
      ++count;
    }
    return count;
  }

  fs::path root_, disk_, mailbox_;
  bool mounted_ = false;
  fuzzing::SampleMailbox box_;
};

TEST_F(FullDiskTest, TheEngineStopsAndLeavesOnlyWholeMessages) {
  struct CountingSink final : IExtractSink {
    bool OnNextFile(const char*) override { return ++calls, true; }
    size_t calls = 0;
  } sink;
  CMailboxExtractor engine;
  engine.m_pSink = &sink;
  const fs::path out = disk_ / "engine";
  fs::create_directory(out);
  EXPECT_EQ(engine.ExportMailbox(mailbox_.c_str(), out.c_str()), E_FAIL);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kWriteFile);
  EXPECT_EQ(engine.LastFailure().reason, std::strerror(ENOSPC));
  const size_t left = CheckFilesLeft(out);
  EXPECT_EQ(left, engine.FilesWritten());
  EXPECT_GT(left, 0u);
  EXPECT_LT(left, box_.messages.size());
  EXPECT_EQ(sink.calls, left + 1);  // it stopped at the message that did not fit
}

TEST_F(FullDiskTest, TheCommandSaysSoAndExitsTwo) {
  const fs::path out = disk_ / "cmd";
  const std::string command = std::string(QUILLON_BINARY) + " export -q -o " + out.string() + " " +
                              mailbox_.string() + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) said += buf;
  const int status = pclose(p);
  ASSERT_TRUE(WIFEXITED(status)) << said;
  EXPECT_EQ(WEXITSTATUS(status), 2) << said;
  const size_t left = CheckFilesLeft(out);
  const std::string failing = (out / ("Big.dbx-" + std::to_string(left + 1) + ".eml")).string();
  EXPECT_EQ(said, mailbox_.string() + ": failed after " + std::to_string(left) +
                      (left == 1 ? " message" : " messages") + ": cannot write " + failing + ": " +
                      std::strerror(ENOSPC) + "\n");
}

}  // namespace
}  // namespace quillon
