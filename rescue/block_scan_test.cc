// The scan read by two threads at once notes, caps and fails exactly as one pass does.
#include "rescue/block_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <string_view>
#include <thread>

#include "rescue/testing/damage_cases.h"

namespace quillon::rescue {
namespace {

// Bytes in memory, readable from two threads; reads reaching [failAt, end) fail.
class SharedBytes final : public InputFile {
 public:
  SharedBytes(std::string_view bytes, uint64_t failAt) : bytes_(bytes), failAt_(failAt) {}
  uint64_t Size() override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    const uint64_t end =
        std::min<uint64_t>(offset + size, std::min<uint64_t>(bytes_.size(), failAt_));
    *got = offset < end ? static_cast<size_t>(end - offset) : 0;
    if (*got != 0) std::memcpy(buffer, bytes_.data() + offset, *got);
    if (offset + size <= failAt_) return true;
    *error = "Input/output error";
    return false;
  }

 private:
  std::string_view bytes_;
  uint64_t failAt_;
};

std::string Describe(const BlockScan& s) {
  std::string out = "capacity " + std::to_string(s.blockCapacity) + " capped " +
                    std::to_string(s.cappedAt) + " dropped " + std::to_string(s.probesDropped) +
                    " error " + std::to_string(static_cast<int>(s.error.failure)) + " " +
                    std::to_string(s.error.offset) + " " + s.error.reason + "\n";
  // A failed scan is dropped whole by its callers: what it noted before does not count.
  if (s.error.failure != ReadFailure::kNone) return out;
  for (const ScanEntry& e : s.entries) {
    out += std::to_string(e.tagged) + " " + std::to_string(e.blockSize) + " " +
           std::to_string(e.dataLength) + " " + std::to_string(e.next) + "\n";
  }
  for (const ProbedHeader& p : s.probed) {
    out += "probed " + std::to_string(p.offset) + " " + std::to_string(p.selfWord) + " " +
           std::to_string(p.beginsLikeHeader) + "\n";
  }
  return out;
}

// Read by two threads taking segments in turn, while the caller's work beside the scan runs
// quickly or holds the calling thread back (so that the other thread takes segments out of the
// file's order), the scan notes, caps and fails as one pass does.
TEST(BlockScanTest, SegmentsReadAtOnceNoteWhatOnePassNotes) {
  test::SeedRng rng(20261209);
  const testing::Folder folder = testing::MakeFolder(7, 60, true, 6);
  struct Case {
    const char* what;
    testing::DamageKind damage;
    uint32_t bytesPerEntry;  // the cap: the halves run out of room below 0x200
    uint32_t minEntries;
    uint64_t failAt;  // fraction of the file, in eighths: 8 reads it whole
    bool capped;
  };
  const Case cases[] = {
      {"a run zeroed", testing::DamageKind::kZeroRun, 0x200, 4096, 8, false},
      {"a damaged header", testing::DamageKind::kHeaderWord, 0x200, 4096, 8, false},
      {"cut short", testing::DamageKind::kTruncate, 0x200, 4096, 8, false},
      {"capped in the first half", testing::DamageKind::kZeroRun, 0x2000, 16, 8, true},
      {"capped in the second half", testing::DamageKind::kZeroRun, 0x300, 16, 8, true},
      {"a read fails in the first half", testing::DamageKind::kZeroRun, 0x200, 4096, 3, false},
      {"a read fails in the second half", testing::DamageKind::kZeroRun, 0x200, 4096, 6, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::DamageCase d = testing::Damage(folder, c.damage, rng);
    SharedBytes file(d.bytes, d.bytes.size() * c.failAt / 8);
    ScanOptions options;
    options.windowBytes = 4096;  // many windows on a small file
    options.bytesPerEntry = c.bytesPerEntry;
    options.minEntries = c.minEntries;
    const BlockScan one = ScanBlocks(&file, {}, options);
    EXPECT_EQ(one.cappedAt != 0, c.capped);
    EXPECT_EQ(one.error.failure != ReadFailure::kNone, c.failAt < 8);
    const std::string alone = Describe(one);
    options.threads = 2;
    options.parallelBytes = 0;
    for (int pause : {0, 3}) {
      int besides = 0;
      options.beside = [&] {
        ++besides;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        return true;
      };
      EXPECT_EQ(Describe(ScanBlocks(&file, {}, options)), alone) << "pause " << pause;
      EXPECT_EQ(besides, 1);
    }
  }
}

// Every header the scan keeps reads back as the file has it, whichever form it is kept in (a full
// block's link, a last block's length, a deleted block's link, or the exotic rest), and past the
// cap on exotic ones those are counted and passed over while the others are still kept.
TEST(BlockScanTest, EntriesReadBackAsTheFileHasThem) {
  struct Header {
    uint32_t blockSize, dataLength, next;
    bool kept;
  };
  const Header kHeaders[] = {
      {0x200, 0x200, 0x2000, true},      // a full block
      {0x200, 0x200, 0, true},           // a full last block
      {0x200, 0x1A3, 0, true},           // a last block
      {0x200, 0x9000, 0, true},          // a damaged length, no link
      {0x200, 0x1A3, 0x2000, true},      // short but linking on (exotic)
      {0x200, 0x200, 0x2002, true},      // a link not 4-aligned (exotic)
      {0x1FC, 0x210, 0x2400, true},      // deleted
      {0x1FC, 0x210, 0x2401, true},      // deleted, its link not 4-aligned (exotic)
      {0x160, 0x174, 0x280, true},       // a record whose lengths look like a block's (exotic)
      {0x300, 0x280, 0, true},           // a consistent block of another size (exotic)
      {0x208, 0x1110000, 0x280, false},  // a record: not kept
      {0, 0x4000, 0, false},             // a tree node: not kept
      {0x200, 0, 0x2000, true},          // no length, a link (exotic)
  };
  std::string bytes(0x1000 + 0x40 * std::size(kHeaders) + 0x400, '\0');
  const auto put = [&](uint32_t at, uint32_t word) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(word >> (8 * i));
  };
  for (size_t i = 0; i < std::size(kHeaders); ++i) {
    const uint32_t at = static_cast<uint32_t>(0x1000 + 0x40 * i);
    put(at, at);
    put(at + 4, kHeaders[i].blockSize);
    put(at + 8, kHeaders[i].dataLength);
    put(at + 12, kHeaders[i].next);
  }
  for (const uint32_t exoticCap : {100u, 2u}) {
    SCOPED_TRACE("exotic cap " + std::to_string(exoticCap));
    SharedBytes file(bytes, bytes.size());
    ScanOptions options;
    options.minExotic = exoticCap;
    options.bytesPerExotic = 0xFFFFFFFFu;
    const BlockScan scan = ScanBlocks(&file, {}, options);
    size_t k = 0, exotic = 0;
    for (size_t i = 0; i < std::size(kHeaders); ++i) {
      const Header& h = kHeaders[i];
      const ScanEntry e{0, h.blockSize, h.dataLength, h.next};
      const bool isExotic =
          h.kept && !(h.blockSize == 0x200 && h.dataLength == 0x200 && h.next % 4 == 0) &&
          !(h.blockSize == 0x200 && h.next == 0) && !(e.deletedPattern() && h.next % 4 == 0);
      if (!h.kept || (isExotic && exotic++ >= exoticCap)) continue;
      SCOPED_TRACE("header " + std::to_string(i));
      ASSERT_LT(k, scan.entries.size());
      const ScanEntry got = scan.entries[k++];
      EXPECT_EQ(got.offset(), 0x1000 + 0x40 * i);
      EXPECT_EQ(got.blockSize, h.blockSize);
      EXPECT_EQ(got.dataLength, h.dataLength);
      EXPECT_EQ(got.next, h.next);
    }
    EXPECT_EQ(scan.entries.size(), k);
    EXPECT_EQ(scan.exoticDropped, exotic > exoticCap ? exotic - exoticCap : 0);
  }
}

}  // namespace
}  // namespace quillon::rescue
