// The two ways the engine reads a file, asked the same questions: the index and the read windows
// must give the same answers.
#include "engine/block_sources.h"

#include <gtest/gtest.h>

#include <memory>

#include "dbx/block_format.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"

namespace quillon {
namespace {

class BlockSourcesTest : public ::testing::TestWithParam<bool> {
 protected:
  // The source under test, open on `bytes`: indexed when the parameter is true.
  BlockSource* Open(const std::string& bytes) {
    files_.Put("f", bytes);
    std::string error;
    file_ = files_.OpenForReading("f", &error);
    BlockSource* source = GetParam() ? static_cast<BlockSource*>(&indexed_) : &windows_;
    EXPECT_TRUE(source->Open(file_.get(), static_cast<uint32_t>(bytes.size()), nullptr));
    return source;
  }

  MemFileSystem files_;
  std::unique_ptr<InputFile> file_;
  WindowedBlockSource windows_;
  IndexedBlockSource indexed_{&windows_};
};

TEST_P(BlockSourcesTest, FindSelfOffsetStepsByFourAndStopsWhereBytesRunOut) {
  MailboxBuilder mb(BlockReader::kScanWindowSize + 0x1000);
  mb.PutWord(0x104, 0x104);
  mb.PutWord(0x10A, 0x10A);  // off the 4-byte steps of a search from 0x108: never seen
  // A window that starts at 0x100 ends inside a header here.
  const uint32_t near = 0x100 + static_cast<uint32_t>(BlockReader::kScanWindowSize) - 8;
  mb.PutWord(near, near);
  const uint32_t last = static_cast<uint32_t>(mb.bytes.size()) - 8;
  mb.PutWord(last, last);
  BlockSource* source = Open(mb.bytes);
  uint32_t found = 0;
  ASSERT_TRUE(source->FindSelfOffset(0x100, 16, &found));
  EXPECT_EQ(found, 0x104u);
  ASSERT_TRUE(source->FindSelfOffset(0x108, 16, &found));
  EXPECT_EQ(found, near);
  ASSERT_TRUE(source->FindSelfOffset(0x10A, 4, &found));  // off the grid: through the windows
  EXPECT_EQ(found, 0x10Au);
  // Only 8 bytes remain at `last`: found when 4 are needed, not when 16 are.
  EXPECT_FALSE(source->FindSelfOffset(near + 4, 16, &found));
  ASSERT_TRUE(source->FindSelfOffset(near + 4, 4, &found));
  EXPECT_EQ(found, last);
  EXPECT_FALSE(source->FindSelfOffset(0xFFFFFFF0u, 4, &found));
}

TEST_P(BlockSourcesTest, FactsAndSelfReferencesUpToTheLimits) {
  MailboxBuilder mb(0x1000);
  mb.Block(0x100, 0x100, 0x20, 0x10, 0x200);
  mb.Block(0x202, 0x202, 0x20, 0x21, 0);  // off the grid, lengths unusable
  mb.PutWord(0xFF8, 0xFF8);               // a self-reference whose header runs past the end
  BlockSource* source = Open(mb.bytes);
  BlockFacts f{};
  ASSERT_TRUE(source->ReadFacts(0x100, &f));
  EXPECT_EQ(f.blockSize, 0x20u);
  EXPECT_EQ(f.nextOffset, 0x200u);
  EXPECT_TRUE(f.selfReferencing);
  EXPECT_TRUE(f.usableLengths);
  ASSERT_TRUE(source->ReadFacts(0x202, &f));
  EXPECT_TRUE(f.selfReferencing);
  EXPECT_FALSE(f.usableLengths);
  ASSERT_TRUE(source->ReadFacts(0x300, &f));  // readable, but no block
  EXPECT_FALSE(f.selfReferencing);
  EXPECT_FALSE(source->ReadFacts(0xFF8, &f));
  EXPECT_FALSE(source->ReadFacts(0xFFFFFFF8u, &f));

  EXPECT_TRUE(source->IsSelfReferencing(0x100));
  EXPECT_TRUE(source->IsSelfReferencing(0x202));
  EXPECT_TRUE(source->IsSelfReferencing(0xFF8));
  EXPECT_FALSE(source->IsSelfReferencing(0x200));
  // Offsets of 2^31 and more cannot be read, whatever the file holds there.
  EXPECT_FALSE(source->IsSelfReferencing(0x80000000u));
  EXPECT_FALSE(source->IsSelfReferencing(0x1000));
}

INSTANTIATE_TEST_SUITE_P(Sources, BlockSourcesTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Indexed" : "Windowed"; });

}  // namespace
}  // namespace quillon
