#include "engine/block_reader.h"

#include <gtest/gtest.h>

#include "dbx/block_format.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"

namespace quillon {
namespace {

// What one positioned read of exactly `size` bytes would give.
bool Expected(const std::string& file, uint32_t offset, uint32_t size, std::string* bytes) {
  if (offset >= kReadableLimit || uint64_t{offset} + size > file.size()) return false;
  *bytes = file.substr(offset, size);
  return true;
}

TEST(BlockReaderTest, WindowedReadsGiveWhatSingleReadsGive) {
  // Larger than the copy's reach, so reads cross and refill every window, far reads included.
  const std::string file = FillerText(BlockReader::kCopyWindowSize * 4 + 12345, 3);
  MemFileSystem files;
  files.Put("f", file);
  std::string error;
  auto in = files.OpenForReading("f", &error);
  BlockReader reader;
  reader.Attach(in.get());
  uint32_t x = 99;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    // Mostly near the end of the file and the windows' edges, where mistakes hide.
    uint32_t offset =
        (i % 4 == 0) ? x % (file.size() + 64) : static_cast<uint32_t>(file.size()) - x % 80;
    if (i % 97 == 0) offset = 0x80000000u + x % 16;
    const uint32_t size = (i % 3 == 0) ? 4 : (i % 3 == 1 ? 16 : 1 + x % BlockReader::kPageSize);
    std::string want;
    const bool ok = Expected(file, offset, size, &want);
    const BlockReader::Window window = static_cast<BlockReader::Window>(i % 4);
    const uint8_t* got = reader.Peek(offset, size, window);
    ASSERT_EQ(got != nullptr, ok) << offset << "+" << size;
    if (ok) {
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(got), size), want);
    }
  }
}

TEST(BlockReaderTest, LinksAtRandomReadJustTheHeaderAndGiveWhatSingleReadsGive) {
  // Links that hop about a file far larger than the pages: the pages stop paying, and a miss
  // reads just a header, up to the file's last bytes; then links that stay near one another
  // bring the pages back.
  const std::string file = FillerText((8u << 20) + 7, 5);
  MemFileSystem files;
  files.Put("f", file);
  size_t headerReads = 0, pageReads = 0;
  files.onRead = [&](uint64_t, size_t size) {
    headerReads += size == BlockReader::kLinkProbeSize;
    pageReads += size == BlockReader::kPageSize;
  };
  std::string error;
  auto in = files.OpenForReading("f", &error);
  BlockReader reader;
  reader.Attach(in.get());
  uint32_t x = 7;
  for (const bool local : {false, true}) {
    headerReads = pageReads = 0;
    for (uint32_t i = 0; i < 8 * BlockReader::kLinkEpoch; ++i) {
      x = x * 1103515245u + 12345u;
      uint32_t offset = local ? (x % 4096) * 16 : x % static_cast<uint32_t>(file.size() + 32);
      if (i % 50 == 0) offset = static_cast<uint32_t>(file.size()) - x % 20;
      const uint32_t size = i % 2 ? 4 : 16;
      std::string want;
      const bool ok = Expected(file, offset, size, &want);
      const uint8_t* got = reader.Peek(offset, size, BlockReader::kLink);
      ASSERT_EQ(got != nullptr, ok) << offset << "+" << size;
      if (ok) {
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(got), size), want);
      }
    }
    if (local) {
      // Until the epoch begun at random ends and the next finds the pages paying again.
      EXPECT_LE(headerReads, 2 * BlockReader::kLinkEpoch);
      EXPECT_GT(pageReads, 0u);
    } else {
      // Pages for the first epoch; then only the samples.
      EXPECT_LE(pageReads,
                BlockReader::kLinkEpoch + 8 * BlockReader::kLinkEpoch / BlockReader::kLinkSample);
      EXPECT_GT(headerReads, 6 * BlockReader::kLinkEpoch);
    }
  }
}

TEST(BlockReaderTest, FindSelfOffsetAgreesWithAPlainScan) {
  // Self-referencing words at random places, some off the search's step, some at window ends.
  MailboxBuilder mb(3 * BlockReader::kScanWindowSize + 777);
  uint32_t x = 5;
  for (int i = 0; i < 3000; ++i) {
    x = x * 1664525u + 1013904223u;
    const uint32_t at = x % static_cast<uint32_t>(mb.bytes.size() - 4);
    mb.PutWord(at, at);
  }
  const auto plain = [&](uint32_t from, uint32_t need, uint32_t* found) {
    for (uint64_t q = from; q + need <= mb.bytes.size(); q += 4) {
      if (LoadLE32(reinterpret_cast<const uint8_t*>(mb.bytes.data()) + q) == q) {
        *found = static_cast<uint32_t>(q);
        return true;
      }
    }
    return false;
  };
  MemFileSystem files;
  files.Put("f", mb.bytes);
  std::string error;
  auto in = files.OpenForReading("f", &error);
  BlockReader reader;
  reader.Attach(in.get());
  for (uint32_t from : {0u, 1u, 2u, 3u}) {
    for (uint32_t need : {4u, 16u}) {
      uint32_t p = from, want = 0, got = 0;
      for (;;) {
        const bool expected = plain(p, need, &want);
        ASSERT_EQ(reader.FindSelfOffset(p, need, &got), expected) << p;
        if (!expected) break;
        ASSERT_EQ(got, want);
        p = got + 4;
      }
    }
  }
}

TEST(BlockReaderTest, AFileThatShrinksUnderneathIsReadSafely) {
  MemFileSystem files;
  files.Put("f", FillerText(3 << 20, 1));
  std::string error;
  auto in = files.OpenForReading("f", &error);
  BlockReader reader;
  reader.Attach(in.get());
  ASSERT_NE(reader.Peek(100, 16, BlockReader::kScan), nullptr);
  files.Mutable("f")->resize(2000);
  // Bytes still in a window may be served; beyond the new end nothing is, and nothing crashes.
  EXPECT_EQ(reader.Peek(2u << 20, 16, BlockReader::kLink), nullptr);
  uint32_t found;
  EXPECT_FALSE(reader.FindSelfOffset(1u << 20, 16, &found));
  files.Mutable("f")->clear();
  EXPECT_EQ(reader.Peek(3 << 20, 4, BlockReader::kScan), nullptr);
}

}  // namespace
}  // namespace quillon
