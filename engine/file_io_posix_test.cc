// The POSIX file layer on real files: what the engine must never open, follow or write through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TempFolder;

// What stands under the first output names before the export: each must be replaced by the file
// of its message, and what a link named must be left as it was.
TEST(PosixFilesTest, PlantedNamesAreReplacedNeverWrittenThrough) {
  TempFolder dir("planted");
  ASSERT_FALSE(dir.path().empty());
  MailboxBuilder mb(0x4000);
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < 6; ++i) {
    texts.push_back(mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i)));
  }
  const std::string mailbox = dir / "Box.dbx", victim = dir / "victim", other = dir / "other";
  ASSERT_TRUE(test::WriteWholeFile(mailbox, mb.bytes));
  ASSERT_TRUE(test::WriteWholeFile(victim, "keep me"));
  ASSERT_TRUE(test::WriteWholeFile(other, "keep me too"));
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  fs::create_symlink(victim, out / "Box.dbx-1.eml");
  fs::create_symlink(mailbox, out / "Box.dbx-2.eml");  // would empty the mailbox itself
  fs::create_hard_link(other, out / "Box.dbx-3.eml");
  fs::create_symlink(dir / "nowhere", out / "Box.dbx-4.eml");
  fs::create_directories(out / "Box.dbx-5.eml" / "inside");  // the name cannot be taken

  RecordingSink sink;
  CMailboxExtractor engine;
  engine.m_pSink = &sink;
  ASSERT_EQ(engine.ExportMailbox(mailbox.c_str(), out.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(mailbox), mb.bytes);
  EXPECT_EQ(ReadWholeFile(victim), "keep me");
  EXPECT_EQ(ReadWholeFile(other), "keep me too");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_TRUE(fs::is_directory(out / "Box.dbx-5.eml" / "inside"));
  // Message 5 moved on to number 6, message 6 to 7; nothing else is in the folder.
  const int numbers[] = {1, 2, 3, 4, 6, 7};
  size_t entries = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(out)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 7u);
  for (size_t i = 0; i < texts.size(); ++i) {
    const fs::path file = out / ("Box.dbx-" + std::to_string(numbers[i]) + ".eml");
    SCOPED_TRACE(file.string());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
    EXPECT_EQ(fs::hard_link_count(file), 1u);
    EXPECT_EQ(ReadWholeFile(file), texts[i]);
  }
}

TEST(PosixFilesTest, OnlyRegularFilesAreOpened) {
  TempFolder dir("special");
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = dir / "Inbox.dbx", socketPath = dir / "s.dbx";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

  const struct {
    std::string path;
    const char* reason;
  } kCases[] = {
      {fifo, "not a regular file"},
      {"/dev/null", "not a regular file"},
      {socketPath, "No such device or address"},  // a socket cannot even be opened
      {dir.path().string(), "Is a directory"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    // Opened on another thread: an open that waits for a writer would otherwise hang the test.
    auto opened = std::async(std::launch::async, [&c] {
      std::string reason;
      const bool ok = PlatformFileSystem()->OpenForReading(c.path, &reason) != nullptr;
      return ok ? std::string("opened") : reason;
    });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the open blocked";
      close(open(c.path.c_str(), O_WRONLY | O_NONBLOCK));  // lets it go on
    }
    EXPECT_EQ(opened.get(), c.reason);
  }
  close(s);

  RecordingSink sink;
  CMailboxExtractor engine;
  engine.m_pSink = &sink;
  EXPECT_EQ(engine.ExportMailbox(fifo.c_str(), dir.path().c_str()), kExportError);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kOpenMailbox);
  EXPECT_EQ(engine.LastFailure().reason, "not a regular file");
}

}  // namespace
}  // namespace quillon
