// The scanner's and the writer's rules, on small mailboxes built by hand.
#include "engine/mailbox_extractor.h"

#include <gtest/gtest.h>

#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"

namespace quillon {
namespace {

// The engine joins the output folder and a file's name with the system's separator.
const std::string kOut = std::string("/out") + kPathSeparator;

using Blocks = std::vector<uint32_t>;

class ExtractorTest : public ::testing::Test {
 protected:
  ExtractorTest() : engine(&files) { engine.m_pSink = &sink; }

  // Exports `mailbox` as /mail/Work.dbx into /out.
  int Export(const std::string& mailbox) {
    files.Put("/mail/Work.dbx", mailbox);
    return engine.ExportMailbox("/mail/Work.dbx", "/out");
  }
  // Runs the search and the walks only.
  int Collect(const std::string& mailbox) {
    files.Put("/mail/Work.dbx", mailbox);
    const int r = engine.OpenMailbox("/mail/Work.dbx", "/out");
    if (r == 0) engine.CollectMessages();
    return r;
  }
  std::vector<uint32_t> Keys() const {
    std::vector<uint32_t> keys;
    const MessageMap& m = engine.Messages();
    for (size_t i = 0; i < m.EntryCount(); ++i) {
      if (m.EntryLive(i)) keys.push_back(m.EntryKey(i));
    }
    return keys;
  }
  std::string Out(int n) const {
    return files.Get(kOut + "Work.dbx-" + std::to_string(n) + ".eml");
  }
  size_t OutCount() const { return files.FilesUnder(kOut).size(); }

  MemFileSystem files;
  RecordingSink sink;
  CMailboxExtractor engine;
};

TEST_F(ExtractorTest, WorkedExampleOfTwoBlocks) {
  MailboxBuilder mb(1024);
  mb.Block(256, 256, 32, 16, 512, FillerText(32, 1));
  mb.Block(512, 512, 32, 8, 0, FillerText(32, 2));
  ASSERT_EQ(engine.OpenMailbox("/mail/Work.dbx", "/out"), kExportError);  // not there yet
  engine.Reset();

  ASSERT_EQ(Collect(mb.bytes), 0);
  EXPECT_EQ(Keys(), (Blocks{256}));
  EXPECT_EQ(engine.MessageBlocks(256), (Blocks{256, 512}));
  // Only the block that was followed onwards is visited; the last block is not.
  EXPECT_TRUE(engine.Visited().Contains(256));
  EXPECT_FALSE(engine.Visited().Contains(512));
  EXPECT_EQ(engine.Visited().size(), 1u);
  engine.Reset();

  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), mb.bytes.substr(272, 16) + mb.bytes.substr(528, 8));
  EXPECT_EQ(sink.names, (std::vector<std::string>{"Work.dbx-1.eml"}));
  EXPECT_EQ(OutCount(), 1u);
}

TEST_F(ExtractorTest, FilesWithoutAnyChainStartAnswerOne) {
  for (const std::string& mailbox :
       {std::string(), std::string(15, 'x'), MailboxBuilder(4096).bytes}) {
    EXPECT_EQ(Export(mailbox), 1);
  }
  EXPECT_TRUE(sink.names.empty());
  EXPECT_EQ(OutCount(), 0u);
}

TEST_F(ExtractorTest, AStartAcceptedAtOffsetZeroCountsAsNone) {
  MailboxBuilder mb(2048, 0);
  mb.Block(0, 0, 0x20, 0x10, 0x100);
  mb.Block(0x100, 0x100, 0x20, 0x10, 0x200);
  mb.Block(0x200, 0x200, 0x20, 0x10, 0x300);
  mb.Block(0x300, 0x300, 0x20, 0x10, 0x100);
  EXPECT_EQ(Collect(mb.bytes), 1);
  EXPECT_EQ(engine.Position(), 0u);
}

TEST_F(ExtractorTest, MessagesLaidOutInOrderAndBackwards) {
  MailboxBuilder mb(0x4000);
  const std::string a = mb.Message({0x100, 0x400, 0x700}, FillerText(0x500, 1));
  const std::string b = mb.Message({0x1000, 0x1300, 0x1600}, FillerText(0x450, 2));
  // Its second and third blocks lie before its first, so they are walked first, then joined.
  const std::string c = mb.Message({0x3000, 0x2000, 0x2500}, FillerText(0x401, 3));
  ASSERT_EQ(Collect(mb.bytes), 0);
  EXPECT_EQ(Keys(), (Blocks{0x100, 0x1000, 0x3000}));
  EXPECT_EQ(engine.MessageBlocks(0x100), (Blocks{0x100, 0x400, 0x700}));
  EXPECT_EQ(engine.MessageBlocks(0x3000), (Blocks{0x3000, 0x2000, 0x2500}));
  EXPECT_FALSE(engine.Messages().Contains(0x2000));
  engine.Reset();

  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), a);
  EXPECT_EQ(Out(2), b);
  EXPECT_EQ(Out(3), c);
  EXPECT_EQ(OutCount(), 3u);
}

TEST_F(ExtractorTest, NumberingFollowsKeysNotTheOrderOfWalks) {
  MailboxBuilder mb(0x4000);
  // Walked first from 0x200 (its tail), then joined when its head at 0x3000 is found; the
  // message at 0x1000 is walked in between but has the smaller key.
  const std::string late = mb.Message({0x3000, 0x200, 0x600}, FillerText(0x500, 1));
  const std::string early = mb.Message({0x1000, 0x1400}, FillerText(0x300, 2));
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), early);
  EXPECT_EQ(Out(2), late);
}

TEST_F(ExtractorTest, ALoopingChainListsEachBlockOnce) {
  MailboxBuilder mb(0x1000);
  mb.Block(0x100, 0x100, 0x20, 0x20, 0x200, FillerText(0x20, 1));
  mb.Block(0x200, 0x200, 0x20, 0x20, 0x300, FillerText(0x20, 2));
  mb.Block(0x300, 0x300, 0x20, 0x20, 0x100, FillerText(0x20, 3));
  ASSERT_EQ(Collect(mb.bytes), 0);
  EXPECT_EQ(Keys(), (Blocks{0x100}));
  EXPECT_EQ(engine.MessageBlocks(0x100), (Blocks{0x100, 0x200, 0x300}));
}

TEST_F(ExtractorTest, AChainLinkingPastTheEndIsDropped) {
  for (uint32_t badNext : {0x5000u, 0x0FF8u, 0x80000000u}) {
    SCOPED_TRACE(badNext);
    MailboxBuilder mb(0x1000);
    mb.Block(0x100, 0x100, 0x20, 0x20, 0x200);
    mb.Block(0x200, 0x200, 0x20, 0x20, 0x300);
    mb.Block(0x300, 0x300, 0x20, 0x20, badNext);  // no 16-byte header can be read there
    mb.PutWord(0x0FF8, 0x0FF8);
    mb.Message({0x800, 0x900}, FillerText(0x210, 9));
    ASSERT_EQ(Collect(mb.bytes), 0);
    // The broken walk stored nothing, and its blocks are not found again as starts.
    EXPECT_EQ(Keys(), (Blocks{0x800}));
    EXPECT_TRUE(engine.Visited().Contains(0x200));
    engine.Reset();
  }
}

TEST_F(ExtractorTest, TheSearchStepsIntoAWalkedBlockWhoseSuccessorIsNoBlock) {
  // The search skips a walked block whole without reading its successor again, since its walk
  // found that naming itself; not so where the walk ended on a word naming no block, or linked
  // past what can be read: there it moves on by a word and finds the chain inside the block.
  const struct {
    uint32_t successor;
    Blocks keys;
  } cases[] = {{0x3000, {0x100, 0x300}}, {0x80000000u, {0x300}}};
  for (const auto& c : cases) {
    for (const bool windows : {false, true}) {
      SCOPED_TRACE(std::to_string(c.successor) + (windows ? " windows" : " index"));
      MailboxBuilder mb(0x4000);
      mb.Block(0x100, 0x100, 0x20, 0x20, 0x200);
      mb.Block(0x200, 0x200, 0x400, 0x20, c.successor);
      mb.Message({0x300, 0x1000}, FillerText(0x300, 5));
      WindowedBlockSource windowed;
      engine.UseBlockSource(windows ? &windowed : nullptr);
      ASSERT_EQ(Collect(mb.bytes), 0);
      EXPECT_EQ(Keys(), c.keys);
      engine.Reset();
      engine.UseBlockSource(nullptr);
    }
  }
}

TEST_F(ExtractorTest, WalkedBlocksAreNotStartsAgainUnlessTheFileBeginsWithZeros) {
  MailboxBuilder mb(0x1000);
  const std::string text = mb.Message({0x100, 0x400, 0x700}, FillerText(0x450, 4));
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(OutCount(), 1u);

  // With four zero bytes at the start, a block whose next is 0 passes the start test: the last
  // block becomes a message of its own and its bytes are written twice.
  mb.PutWord(0, 0);
  files = MemFileSystem();
  sink.names.clear();
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(OutCount(), 2u);
  EXPECT_EQ(Out(1), text);
  EXPECT_EQ(Out(2), text.substr(0x400));
}

TEST_F(ExtractorTest, LengthTestsOfTheChainStart) {
  MailboxBuilder mb(0x2000);
  // dataLength = blockSize passes.
  mb.Block(0x100, 0x100, 0x20, 0x20, 0x200, FillerText(0x20, 1));
  mb.Block(0x200, 0x200, 0x20, 0x08, 0);
  // dataLength = blockSize + 1 fails and the whole block is skipped, so the chain start hidden
  // inside its data area is never seen.
  mb.Block(0x400, 0x400, 0x100, 0x101, 0x200);
  mb.Block(0x440, 0x440, 0x20, 0x10, 0x200);
  // dataLength 0 and blockSize 0 fail too; with blockSize 0 the search moves on by 16.
  mb.Block(0x600, 0x600, 0x20, 0, 0x200);
  mb.Block(0x700, 0x700, 0, 0, 0x200);
  mb.Block(0x710, 0x710, 0x20, 0x10, 0x1000);
  mb.Block(0x1000, 0x1000, 0x20, 0x10, 0);
  ASSERT_EQ(Collect(mb.bytes), 0);
  EXPECT_EQ(Keys(), (Blocks{0x100, 0x710}));
}

TEST_F(ExtractorTest, AHeaderCutByTheEndOfTheFileIsNeverAccepted) {
  MailboxBuilder mb(0x100);
  mb.Message({0x20, 0x60}, FillerText(0x30, 5), 0x20);
  std::string bytes = mb.bytes;
  bytes.resize(0x60 + 15);  // the second block's header lacks its last byte
  ASSERT_EQ(Collect(bytes), 0);
  EXPECT_TRUE(engine.Messages().empty());  // the walk broke on the cut header
  engine.Reset();
  bytes.resize(0x20 + 15);
  EXPECT_EQ(Collect(bytes), 1);
}

TEST_F(ExtractorTest, CopyingRules) {
  MailboxBuilder mb(0x2000);
  // A continuation block whose self offset is wrong still gives its data (and ends the chain).
  mb.Block(0x100, 0x100, 0x20, 0x20, 0x200, FillerText(0x20, 1));
  mb.Block(0x200, 0x200, 0x20, 0x20, 0x280, FillerText(0x20, 2));
  mb.Block(0x280, 0x999, 0x20, 0x10, 0x300, FillerText(0x20, 3));
  mb.Block(0x300, 0x300, 0x20, 0x10, 0, FillerText(0x20, 4));
  // A second block with dataLength > blockSize ends the message after the first block.
  mb.Block(0x800, 0x800, 0x20, 0x20, 0x900, FillerText(0x20, 4));
  mb.Block(0x900, 0x900, 0x20, 0x21, 0xA00, FillerText(0x21, 5));
  mb.Block(0xA00, 0xA00, 0x20, 0x20, 0, FillerText(0x20, 6));
  // A middle block with dataLength 0 gives nothing but does not end the message.
  mb.Block(0x1000, 0x1000, 0x20, 0x20, 0x1100, FillerText(0x20, 7));
  mb.Block(0x1100, 0x1100, 0x20, 0, 0x1200);
  mb.Block(0x1200, 0x1200, 0x20, 0x05, 0, FillerText(0x20, 8));
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), mb.bytes.substr(0x110, 0x20) + mb.bytes.substr(0x210, 0x20) +
                        mb.bytes.substr(0x290, 0x10));
  // The block at 0x300 was cut off its chain, so it is a one-block message of its own.
  EXPECT_EQ(Out(2), mb.bytes.substr(0x310, 0x10));
  EXPECT_EQ(Out(3), mb.bytes.substr(0x810, 0x20));
  EXPECT_EQ(Out(4), mb.bytes.substr(0x1010, 0x20) + mb.bytes.substr(0x1210, 0x05));
  EXPECT_EQ(OutCount(), 4u);
}

TEST_F(ExtractorTest, DataLongerThanTheFileOrCutByItsEnd) {
  // The second block claims more data than the file holds: the message ends before it. Its
  // block size also carries the search past 2^32, where the search must end, not wrap.
  MailboxBuilder mb(0x400);
  mb.Block(0x100, 0x100, 0x20, 0x20, 0x200, FillerText(0x20, 1));
  mb.Block(0x200, 0x200, 0xFFFFFF00u, 0x401, 0x300);
  mb.Block(0x300, 0x300, 0x20, 0x20, 0, FillerText(0x20, 3));
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), mb.bytes.substr(0x110, 0x20));

  // Data that fits the size test but runs past the end contributes nothing; the next block
  // still does.
  files = MemFileSystem();
  MailboxBuilder cut(0x400);
  cut.Block(0x100, 0x100, 0x20, 0x20, 0x3F0, FillerText(0x20, 1));
  cut.Block(0x3F0, 0x3F0, 0x3F0, 0x3E0, 0x300);
  cut.Block(0x300, 0x300, 0x20, 0x20, 0, FillerText(0x20, 3));
  cut.bytes.resize(0x400);
  ASSERT_EQ(Export(cut.bytes), 0);
  EXPECT_EQ(Out(1), cut.bytes.substr(0x110, 0x20) + cut.bytes.substr(0x310, 0x20));
}

TEST_F(ExtractorTest, LargeBlocksAreCopiedWhole) {
  // One block bigger than the read window and the copy buffer.
  const uint32_t size = 3u << 20;
  MailboxBuilder mb(0x200 + size + 0x100);
  const std::string big = FillerText(size, 7);
  mb.Block(0x100, 0x100, size, size, 0x100 + 16 + size, big);
  mb.Block(0x100 + 16 + size, 0x100 + 16 + size, 0x20, 0x10, 0, "tail of message!");
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(Out(1), big + "tail of message!");
}

TEST_F(ExtractorTest, OutputNames) {
  MailboxBuilder mb(0x1000);
  mb.Message({0x100, 0x300}, FillerText(0x300, 1));
  mb.Message({0x600, 0x800}, FillerText(0x300, 2));
  files.Put("/deep/er/Work.dbx", mb.bytes);
  ASSERT_EQ(engine.ExportMailbox("/deep/er/Work.dbx", "/D"), 0);
  EXPECT_TRUE(files.Has(std::string("/D") + kPathSeparator + "Work.dbx-1.eml"));
  EXPECT_TRUE(files.Has(std::string("/D") + kPathSeparator + "Work.dbx-2.eml"));
  EXPECT_EQ(sink.names, (std::vector<std::string>{"Work.dbx-1.eml", "Work.dbx-2.eml"}));

  // A folder that ends with a separator gives two in a row; a bare name is taken whole.
  files.Put("Work.dbx", mb.bytes);
  ASSERT_EQ(engine.ExportMailbox("Work.dbx", "/D/"), 0);
  EXPECT_TRUE(files.Has(std::string("/D/") + kPathSeparator + "Work.dbx-1.eml"));

  // The name follows the last separator of any kind the system knows ('/' on Windows too).
  files.Put("Z:/mail/Work.dbx", mb.bytes);
  ASSERT_EQ(engine.ExportMailbox("Z:/mail/Work.dbx", "/E"), 0);
  EXPECT_TRUE(files.Has(std::string("/E") + kPathSeparator + "Work.dbx-1.eml"));
}

TEST_F(ExtractorTest, WhetherTheFileBeginsWithTheSignatureIsRecorded) {
  const std::pair<std::string, bool> kCases[] = {
      {MailboxBuilder(0x100).bytes, true},
      {MailboxBuilder(0x100, 0xFE12ADCEu).bytes, false},
      {std::string("\xCF\xAD\x12"), false},
  };
  for (const auto& [bytes, signature] : kCases) {
    EXPECT_EQ(Export(bytes), kExportNoMessages);
    EXPECT_EQ(engine.HasMailboxSignature(), signature);
  }
}

TEST_F(ExtractorTest, ReExportReplacesFilesAndKeepsHigherNumbers) {
  MailboxBuilder mb(0x2000);
  for (uint32_t i = 0; i < 3; ++i)
    mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i));
  ASSERT_EQ(Export(mb.bytes), 0);
  ASSERT_EQ(OutCount(), 3u);
  MailboxBuilder smaller(0x1000);
  const std::string only = smaller.Message({0x100, 0x400}, FillerText(0x250, 9));
  ASSERT_EQ(Export(smaller.bytes), 0);
  EXPECT_EQ(Out(1), only);
  EXPECT_EQ(OutCount(), 3u);
  EXPECT_EQ(Out(3).size(), 0x300u);
}

TEST_F(ExtractorTest, TheSinkStopsTheExport) {
  MailboxBuilder mb(0x3000);
  for (uint32_t i = 0; i < 4; ++i)
    mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i));
  RecordingSink first(1);
  engine.m_pSink = &first;
  EXPECT_EQ(Export(mb.bytes), kExportAborted);
  EXPECT_EQ(OutCount(), 0u);
  EXPECT_EQ(first.names.size(), 1u);

  RecordingSink third(3);
  engine.m_pSink = &third;
  EXPECT_EQ(Export(mb.bytes), kExportAborted);
  EXPECT_EQ(OutCount(), 2u);
  EXPECT_EQ(Out(1), FillerText(0x300, 0));
  EXPECT_EQ(Out(2), FillerText(0x300, 1));
  EXPECT_EQ(files.openOutputs, 0);

  // The object is idle again: a new export numbers from 1 and writes everything.
  engine.m_pSink = &sink;
  EXPECT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(OutCount(), 4u);
  EXPECT_EQ(sink.names.front(), "Work.dbx-1.eml");
}

TEST_F(ExtractorTest, AFailedCreationMovesTheMessageToTheNextNumber) {
  MailboxBuilder mb(0x3000);
  for (uint32_t i = 0; i < 3; ++i)
    mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i));
  files.failCreate = [](const std::string& path) { return path == kOut + "Work.dbx-2.eml"; };
  ASSERT_EQ(Export(mb.bytes), 0);
  EXPECT_FALSE(files.Has(kOut + "Work.dbx-2.eml"));
  EXPECT_EQ(Out(1), FillerText(0x300, 0));
  EXPECT_EQ(Out(3), FillerText(0x300, 1));
  EXPECT_EQ(Out(4), FillerText(0x300, 2));
  EXPECT_EQ(sink.names, (std::vector<std::string>{"Work.dbx-1.eml", "Work.dbx-2.eml",
                                                  "Work.dbx-3.eml", "Work.dbx-4.eml"}));
  EXPECT_EQ(engine.FilesWritten(), 3u);
}

TEST_F(ExtractorTest, AMailboxThatCannotBeOpened) {
  EXPECT_EQ(engine.ExportMailbox("/mail/missing.dbx", "/out"), kExportError);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kOpenMailbox);
  EXPECT_EQ(engine.LastFailure().path, "/mail/missing.dbx");
  EXPECT_FALSE(engine.LastFailure().reason.empty());
  EXPECT_TRUE(sink.names.empty());
  EXPECT_EQ(OutCount(), 0u);
  // Reset left nothing behind: the next export is normal.
  MailboxBuilder mb(0x1000);
  mb.Message({0x100, 0x300}, FillerText(0x300, 1));
  EXPECT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kNone);
}

TEST_F(ExtractorTest, ASelfReferenceAtOrBeyondTwoGibibytesNeverCounts) {
  // Offsets of 2^31 and more cannot be read, whatever the file holds there.
  MailboxBuilder mb(0x1000);
  mb.Block(0x100, 0x100, 0x20, 0x10, 0x80000000u);
  mb.Block(0x200, 0x200, 0x20, 0x10, 0xFFFFFFF0u);
  EXPECT_EQ(Collect(mb.bytes), 1);
}

}  // namespace
}  // namespace quillon
