// The scan read by two threads at once notes, caps and fails exactly as one pass does.
#include "rescue/block_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

}  // namespace
}  // namespace quillon::rescue
