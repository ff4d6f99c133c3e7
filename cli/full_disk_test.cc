// A backup folder on a file system that fills up: a 256 KiB tmpfs, mounted for the test (root
// only; skipped with a note otherwise). The engine stops with kExportError, every .eml left is a
// whole message, and the quillon command says so and exits 2.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/mailbox_extractor.h"
#include "engine/testing/sample_mailbox.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::make_unique<test::TempFolder>("full");
    ASSERT_FALSE(root_->path().empty());
    disk_ = root_->path() / "disk";
    fs::create_directory(disk_);
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs at " << disk_ << " (" << std::strerror(errno)
                   << "); the full-disk test needs root";
    }
    mounted_ = true;
    // About 1 MB of mail: four times what fits.
    box_ = BuildSampleMailbox(21, 160, 0, false);
    mailbox_ = root_->path() / "Big.dbx";
    ASSERT_TRUE(test::WriteWholeFile(mailbox_, box_.bytes));
  }
  void TearDown() override {
    if (mounted_) umount(disk_.c_str());
  }
  // Every file left in the folder is a whole message: numbered as the extraction engine numbers
  // them, or (`anyNumber`) one of the sample's. The rescue engine takes the sample's few
  // messages too short to begin with a header field for fragments, so its numbers run apart.
  size_t CheckFilesLeft(const fs::path& folder, bool anyNumber = false) {
    size_t count = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      if (name == "quillon-manifest.jsonl") continue;
      const size_t n = std::stoul(name.substr(name.rfind('-') + 1));
      EXPECT_TRUE(n >= 1 && n <= box_.messages.size()) << name;
      const std::string text = test::ReadWholeFile(e.path());
      if (anyNumber) {
        EXPECT_TRUE(std::any_of(box_.messages.begin(), box_.messages.end(),
                                [&](const auto& m) { return m.second == text; }))
            << name << " is incomplete";
      } else if (n >= 1 && n <= box_.messages.size()) {
        EXPECT_EQ(text, box_.messages[n - 1].second) << name << " is incomplete";
      }
      ++count;
    }
    return count;
  }

  std::unique_ptr<test::TempFolder> root_;
  fs::path disk_, mailbox_;
  bool mounted_ = false;
  SampleMailbox box_;
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
  EXPECT_EQ(engine.ExportMailbox(mailbox_.c_str(), out.c_str()), kExportError);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kWriteFile);
  EXPECT_EQ(engine.LastFailure().reason, std::strerror(ENOSPC));
  const size_t left = CheckFilesLeft(out);
  EXPECT_EQ(left, engine.FilesWritten());
  EXPECT_GT(left, 0u);
  EXPECT_LT(left, box_.messages.size());
  EXPECT_EQ(sink.calls, left + 1);  // it stopped at the message that did not fit
}

// Both engines name the file that did not fit. The rescue engine's manifest may not fit either:
// that is said too, and the old manifest (none here) stays.
TEST_F(FullDiskTest, TheCommandSaysSoAndExitsTwo) {
  for (const bool desktop : {true, false}) {
    SCOPED_TRACE(desktop);
    const fs::path out = disk_ / (desktop ? "desktop" : "rescue");
    const std::string command = std::string(QUILLON_BINARY) + " export -q " +
                                (desktop ? "--desktop" : "--format eml") + " -o " + out.string() +
                                " " + mailbox_.string() + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string said;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) said += buf;
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), 2) << said;
    const size_t left = CheckFilesLeft(out, !desktop);
    const std::string failing = (out / ("Big.dbx-" + std::to_string(left + 1) + ".eml")).string();
    std::string expected = "quillon: " + mailbox_.string() + ": failed after " +
                           std::to_string(left) + (left == 1 ? " message" : " messages") +
                           ": cannot write " + failing + ": " + std::strerror(ENOSPC) + "\n";
    if (!desktop && said.size() > expected.size()) {
      expected += "quillon: cannot write the manifest " +
                  (out / "quillon-manifest.jsonl").string() + ": " + std::strerror(ENOSPC) + "\n";
      EXPECT_FALSE(fs::exists(out / "quillon-manifest.jsonl"));
    }
    EXPECT_EQ(said, expected);
    // Room for the next: the files of this one go.
    fs::remove_all(out);
  }
}

}  // namespace
}  // namespace quillon
