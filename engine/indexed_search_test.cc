// The search and the walks run on an index of the file made in one pass; one positioned read per
// test is the reference. These files take the paths the index does not cover.
#include <gtest/gtest.h>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "engine/testing/mem_file_system.h"

namespace quillon {
namespace {

// Exports `mailbox` with and without the index and checks both write exactly `expected`.
void ExpectBothReadingsWrite(const std::string& mailbox, const std::vector<std::string>& expected) {
  for (bool direct : {false, true}) {
    SCOPED_TRACE(direct ? "one read per test" : "indexed");
    MemFileSystem files;
    RecordingSink sink;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    engine.UseDirectReads(direct);
    files.Put("/mail/Box.dbx", mailbox);
    ASSERT_EQ(engine.ExportMailbox("/mail/Box.dbx", "/out"), 0);
    ASSERT_EQ(files.FilesUnder("/out/").size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(files.Get("/out/Box.dbx-" + std::to_string(i + 1) + ".eml"), expected[i]) << i;
    }
  }
}

TEST(IndexedSearchTest, BlocksOffTheFourByteGridAreFoundAsByDirectReads) {
  MailboxBuilder mb(0x2000);
  // A block that cannot begin a message and whose odd size sends the search off the grid.
  mb.Block(0x100, 0x100, 0x1F, 0x20, 0x100);
  // A message found from there, its blocks off the grid.
  const std::string offGrid = mb.Message({0x233, 0x503}, FillerText(0x250, 1));
  // Another odd skip brings the search back onto the grid.
  mb.Block(0x803, 0x803, 0x1FD, 0x1FE, 0x803);
  const std::string onGrid = mb.Message({0xC00, 0xE80}, FillerText(0x300, 2));
  // A chain on the grid whose middle block is not.
  const std::string mixed = mb.Message({0x1200, 0x1443, 0x1800}, FillerText(0x500, 3));
  ExpectBothReadingsWrite(mb.bytes, {offGrid, onGrid, mixed});
}

TEST(IndexedSearchTest, AFileTooDenseToIndexIsSearchedAll) {
  // Every other word of 896 KiB holds its own offset: far more candidates than any mailbox has,
  // so the engine reads the file for each test instead of indexing it. None of them is a block
  // (their successor test reads the first word), so the search steps through them all.
  MailboxBuilder mb(2u << 20);
  for (uint32_t at = 0x10000; at < 0xF0000; at += 8) mb.PutWord(at, at);
  const std::string text = mb.Message({0x100000, 0x100400, 0x100800}, FillerText(0x480, 4));
  const std::string shortOne = mb.Message({0x180000}, "Subject: hi\r\n\r\nshort\r\n");
  ExpectBothReadingsWrite(mb.bytes, {text, shortOne});
}

}  // namespace
}  // namespace quillon
