// The engine reads a file through an index made in one pass, or through read windows; one
// positioned read per test is the reference. Files that take the paths the index does not cover
// must come out alike, and the three ways must answer every question about a file alike.
#include "bench/literal_block_source.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "bench/hostile_inputs.h"
#include "engine/block_sources.h"
#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "engine/testing/sample_mailbox.h"
#include "fs/testing/mem_file_system.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

// Exports `mailbox` with the engine's own reading and with literal reads and checks both write
// exactly `expected`.
void ExpectBothReadingsWrite(const std::string& mailbox, const std::vector<std::string>& expected) {
  for (bool literalReads : {false, true}) {
    SCOPED_TRACE(literalReads ? "literal reads" : "the engine's reading");
    MemFileSystem files;
    RecordingSink sink;
    LiteralBlockSource literal;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    if (literalReads) engine.UseBlockSource(&literal);
    files.Put("/mail/Box.dbx", mailbox);
    ASSERT_EQ(engine.ExportMailbox("/mail/Box.dbx", "/out"), 0);
    ASSERT_EQ(files.FilesUnder("/out/").size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(files.Get("/out/Box.dbx-" + std::to_string(i + 1) + ".eml"), expected[i]) << i;
    }
  }
}

TEST(LiteralReadsTest, BlocksOffTheFourByteGridAreFoundAlike) {
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

TEST(LiteralReadsTest, AFileTooDenseToIndexIsSearchedAll) {
  // Every other word of 896 KiB holds its own offset: far more candidates than any mailbox has,
  // so the engine reads the file through its windows instead of indexing it. None of them is a
  // block (their successor test reads the first word), so the search steps through them all.
  MailboxBuilder mb(2u << 20);
  for (uint32_t at = 0x10000; at < 0xF0000; at += 8) mb.PutWord(at, at);
  const std::string text = mb.Message({0x100000, 0x100400, 0x100800}, FillerText(0x480, 4));
  const std::string shortOne = mb.Message({0x180000}, "Subject: hi\r\n\r\nshort\r\n");
  ExpectBothReadingsWrite(mb.bytes, {text, shortOne});
}

TEST(LiteralReadsTest, OneBlockMessagesAcrossWindowsAndJumps) {
  // One-block messages everywhere: at window edges, inside skipped blocks, after long skips.
  // The index lists them as it reads the file; one read per test must find the same.
  MailboxBuilder mb(5u << 20);
  std::vector<std::string> expected;
  test::SeedRng rng(17);
  for (uint32_t at = 0x1000; at + 0x400 < mb.bytes.size();) {
    const uint32_t x = static_cast<uint32_t>(rng.Next());
    if (x % 11 == 0) {
      // A block whose bad lengths make the search skip far ahead, over one-block messages.
      // Some jumps are longer than a read window.
      const uint32_t skip = (x % 5 == 0) ? 0x180000 : (0x10000 + x % 0x30000) & ~3u;
      mb.Block(at, at, skip, skip + 1, at);
      at += 0x40;
      continue;
    }
    const std::string text = FillerText(1 + x % 0x200, x);
    mb.Message({at}, text);
    expected.push_back(text);
    at += 0x210 + (x % 64) * 4;
  }
  ExpectBothReadingsWrite(mb.bytes, expected);
}

TEST(LiteralReadsTest, EverySourceAnswersEveryQuestionAlike) {
  // A fragmented sample mailbox with self-references sprinkled on and off the grid.
  MailboxBuilder mb(0);
  mb.bytes = BuildSampleMailbox(5, 60, 6, true).bytes;
  test::SeedRng rng(23);
  for (int i = 0; i < 300; ++i) {
    const uint32_t at = rng.Below(mb.bytes.size() - 4);
    mb.PutWord(at, at);
  }
  const uint32_t size = static_cast<uint32_t>(mb.bytes.size());
  MemFileSystem files;
  files.Put("f", mb.bytes);
  std::string error;
  const std::unique_ptr<InputFile> file = files.OpenForReading("f", &error);
  WindowedBlockSource windows;
  IndexedBlockSource indexed(&windows);
  LiteralBlockSource literal;
  ASSERT_TRUE(indexed.Open(file.get(), size, nullptr));
  ASSERT_TRUE(literal.Open(file.get(), size, nullptr));
  // A second reader for the windowed answers, so they do not share windows with the index's.
  WindowedBlockSource windowed;
  ASSERT_TRUE(windowed.Open(file.get(), size, nullptr));

  for (int i = 0; i < 20000; ++i) {
    // Mostly offsets inside the file, some near its end and some beyond the readable limit.
    uint32_t at = rng.Below(4) != 0 ? rng.Below(size + 32) : size - rng.Below(24);
    if (i % 101 == 0) at = 0x80000000u + rng.Below(32);
    SCOPED_TRACE(at);
    const uint32_t need = rng.Below(2) ? 4 : 16;
    uint32_t want = 0, got = 0;
    const bool found = literal.FindSelfOffset(at, need, &want);
    for (BlockSource* s :
         {static_cast<BlockSource*>(&indexed), static_cast<BlockSource*>(&windowed)}) {
      ASSERT_EQ(s->FindSelfOffset(at, need, &got), found);
      if (found) {
        ASSERT_EQ(got, want);
      }
      ASSERT_EQ(s->IsSelfReferencing(at), literal.IsSelfReferencing(at));
      BlockFacts a{}, b{};
      const bool readable = literal.ReadFacts(at, &a);
      ASSERT_EQ(s->ReadFacts(at, &b), readable);
      if (!readable || !a.selfReferencing) {
        if (readable) {
          ASSERT_FALSE(b.selfReferencing);
        }
        continue;
      }
      // The index keeps the fields of self-referencing words only; they must agree.
      ASSERT_TRUE(b.selfReferencing);
      ASSERT_EQ(b.blockSize, a.blockSize);
      ASSERT_EQ(b.nextOffset, a.nextOffset);
      ASSERT_EQ(b.usableLengths, a.usableLengths);
    }
  }
}

TEST(LiteralReadsTest, HostileInputsComeOutAlikeThroughTheIndexAndTheWindows) {
  // Small enough to index, each input is read once through the index and once through the read
  // windows alone, as a file too dense to index is: the same names, the same bytes, and a dry run
  // that counts what the export writes.
  struct Run {
    int result;
    std::vector<std::string> names;
    std::map<std::string, std::string> files;
    uint64_t bytes;
  };
  const auto run = [](const std::string& mailbox, bool windows, bool countOnly) {
    MemFileSystem files;
    files.Put("/mail/Box.dbx", mailbox);
    RecordingSink sink;
    WindowedBlockSource windowed;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    if (windows) engine.UseBlockSource(&windowed);
    engine.CountOnly(countOnly);
    Run r{engine.ExportMailbox("/mail/Box.dbx", "/out"), sink.names, files.FilesUnder("/out/"),
          engine.BytesWritten()};
    return r;
  };
  for (const HostileInput& kind : HostileInputs()) {
    SCOPED_TRACE(kind.name);
    const std::string mailbox = BuildHostileInput(kind.name, size_t{64} << 10);
    const Run indexed = run(mailbox, false, false);
    for (const bool countOnly : {false, true}) {
      SCOPED_TRACE(countOnly ? "counting" : "writing");
      for (const bool windows : {false, true}) {
        if (!windows && !countOnly) continue;
        const Run other = run(mailbox, windows, countOnly);
        EXPECT_EQ(other.result, indexed.result);
        EXPECT_EQ(other.names, indexed.names);
        EXPECT_EQ(other.bytes, indexed.bytes);
        if (!countOnly) {
          EXPECT_TRUE(other.files == indexed.files);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillon
