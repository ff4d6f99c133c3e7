// Real files that are huge or that change while they are exported: sparse files past 2^31 and
// 2^32 bytes, and a mailbox that is rewritten, cut and extended during the export.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "engine/testing/sample_mailbox.h"
#include "fs/testing/mem_file_system.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::SeedRng;
using test::TempFolder;

constexpr uint64_t kGiB = uint64_t{1} << 30;

size_t OpenDescriptors() {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Block bytes for pwrite: header and data.
std::string BlockBytes(uint32_t self, uint32_t blockSize, uint32_t dataLength, uint32_t next,
                       const std::string& data) {
  MailboxBuilder mb(0, 0);
  mb.Block(0, self, blockSize, dataLength, next, data);
  mb.bytes.resize(16 + blockSize, '\0');
  return mb.bytes;
}

bool WriteAt(int fd, uint64_t at, const std::string& bytes) {
  return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) ==
         static_cast<ssize_t>(bytes.size());
}

class HugeFileTest : public ::testing::TestWithParam<uint64_t> {};

// Below 2^31: a two-block message, a one-block message, and a one-block message whose data
// starts below 2^31 and ends above it (a read that starts below succeeds). Above: a complete
// message, a block below that links up there, and in a file past 2^32 a block whose offset's low
// 32 bits name a place below, where there is nothing. Only the three below come out, whole: the
// size is capped at 0xFFFFFFFF, not cut to its low 32 bits (4 GiB + 16 bytes would be 16, and
// every message longer than that would end before its first block).
TEST_P(HugeFileTest, OnlyWhatLiesBelowTwoGibibytesIsExported) {
  const uint64_t size = GetParam();
  // On tmpfs where there is one: holes and rewrites cost no disk.
  TempFolder dir("huge", true);
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir / "Huge.dbx";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);

  const std::string a = FillerText(0x300, 1), s = FillerText(0x40, 2), b = FillerText(0x200, 3);
  bool ok = WriteAt(fd, 0, std::string("\xCF\xAD\x12\xFE", 4));
  ok &= WriteAt(fd, 0x10000, BlockBytes(0x10000, 0x200, 0x200, 0x10400, a.substr(0, 0x200)));
  ok &= WriteAt(fd, 0x10400, BlockBytes(0x10400, 0x200, 0x100, 0, a.substr(0x200)));
  ok &= WriteAt(fd, 0x20000, BlockBytes(0x20000, 0x200, 0x40, 0, s));
  ok &= WriteAt(fd, 0x30000, BlockBytes(0x30000, 0x200, 0x80, 0x80002000u, FillerText(0x80, 4)));
  ok &= WriteAt(fd, 0x7FFFFF00u, BlockBytes(0x7FFFFF00u, 0x200, 0x200, 0, b));
  ok &= WriteAt(fd, 0x80001000u,
                BlockBytes(0x80001000u, 0x200, 0x200, 0x80002000u, FillerText(0x200, 5)));
  ok &= WriteAt(fd, 0x80002000u, BlockBytes(0x80002000u, 0x200, 0x20, 0, FillerText(0x20, 6)));
  if (size > 4 * kGiB + 0x40000 + 0x210) {
    ok &= WriteAt(fd, 4 * kGiB + 0x40000, BlockBytes(0x40000, 0x200, 0x30, 0, FillerText(0x30, 7)));
  }
  close(fd);
  ASSERT_TRUE(ok);

  RecordingSink sink;
  CMailboxExtractor engine;
  engine.m_pSink = &sink;
  ASSERT_EQ(engine.OpenMailbox(path.c_str(), dir.path().c_str()), 0);
  EXPECT_EQ(engine.FileSize(), std::min<uint64_t>(size, 0xFFFFFFFFu));
  engine.Reset();

  const std::string out = dir / "out";
  fs::create_directory(out);
  const size_t fds = OpenDescriptors();
  EXPECT_EQ(engine.ExportMailbox(path.c_str(), out.c_str()), 0);
  EXPECT_EQ(OpenDescriptors(), fds);
  EXPECT_EQ(sink.names,
            (std::vector<std::string>{"Huge.dbx-1.eml", "Huge.dbx-2.eml", "Huge.dbx-3.eml"}));
  EXPECT_EQ(ReadWholeFile(out + "/Huge.dbx-1.eml"), a);
  EXPECT_EQ(ReadWholeFile(out + "/Huge.dbx-2.eml"), s);
  EXPECT_EQ(ReadWholeFile(out + "/Huge.dbx-3.eml"), b);
}

// 3 GiB has a size that fits 32 bits; the others do not. Each run scans 2 GiB of holes twice.
INSTANTIATE_TEST_SUITE_P(Sparse, HugeFileTest, ::testing::Values(3 * kGiB, 4 * kGiB + 16, 5 * kGiB),
                         [](const auto& test) {
                           return std::to_string(test.param / kGiB) + "GiB" +
                                  (test.param % kGiB ? "Plus" + std::to_string(test.param % kGiB)
                                                     : "");
                         });

// The in-memory file, changed at chosen reads, so every schedule is repeatable.
TEST(ChangingFileTest, ChangesAtEveryKindOfReadLeaveNoFileOpen) {
  const SampleMailbox box = BuildSampleMailbox(11, 40, 3, true);
  for (uint32_t every = 1; every <= 13; every += 3) {
    for (int kind = 0; kind < 4; ++kind) {
      SCOPED_TRACE("change " + std::to_string(kind) + " every " + std::to_string(every));
      MemFileSystem files;
      files.Put("/m/box.dbx", box.bytes);
      RecordingSink sink;
      CMailboxExtractor engine(&files);
      engine.m_pSink = &sink;
      SeedRng rng(every * 4 + kind);
      files.onRead = [&](uint64_t, size_t) {
        if (files.readCalls % every != 0) return;
        std::string* f = files.Mutable("/m/box.dbx");
        switch (kind) {
          case 0:  // cut, sometimes to nothing
            f->resize(rng.Below(f->size() + 1));
            break;
          case 1:  // grow by copies of its own bytes, so new blocks appear
            f->append(box.bytes.substr(rng.Below(box.bytes.size())));
            break;
          case 2:  // rewrite a range with other bytes of the mailbox
            if (!f->empty()) {
              const size_t at = rng.Below(f->size());
              f->replace(at, 0x800, box.bytes.substr(rng.Below(box.bytes.size()), 0x800));
            }
            break;
          default:  // all of these in turn, and back to the original now and then
            *f = rng.Below(4) == 0 ? box.bytes
                                   : f->substr(0, rng.Below(f->size() + 1)) +
                                         box.bytes.substr(rng.Below(box.bytes.size()));
            break;
        }
      };
      const int r = engine.ExportMailbox("/m/box.dbx", "/o");
      // A file that only grows is exported; one that may come out shorter (a rewrite can cut
      // it too) may be found shorter than it was, which fails it. Nothing stops.
      const bool mayShrink = kind != 1;
      EXPECT_TRUE(r == 0 || r == 1 ||
                  (mayShrink && r == kExportError &&
                   engine.LastFailure().kind == ExportFailure::kMailboxChanged))
          << r;
      EXPECT_EQ(files.openOutputs, 0);
      EXPECT_EQ(files.FilesUnder("/o/").size(), engine.FilesWritten());
      EXPECT_TRUE(engine.Messages().empty());
      // Growth makes the file larger than it started, so bound the reads by its final size.
      EXPECT_LE(files.readCalls, 8 * (files.Get("/m/box.dbx").size() + box.bytes.size()) + 64);
    }
  }
}

// Another thread cuts, rewrites and extends the real file while it is exported, many times over:
// a shrinking file fails the export or ends a block, never raises a signal.
TEST(ChangingFileTest, ARealFileChangedByAnotherThread) {
  TempFolder dir("live", true);
  ASSERT_FALSE(dir.path().empty());
  const SampleMailbox box = BuildSampleMailbox(12, 300, 10, true);
  const std::string path = dir / "Live.dbx";
  const std::string out = dir / "out";
  fs::create_directory(out);
  ASSERT_TRUE(test::WriteWholeFile(path, box.bytes));
  std::atomic<bool> done{false};
  std::atomic<uint32_t> changes{0};
  std::thread writer([&] {
    const int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) return;
    SeedRng rng(99);
    const uint32_t n = static_cast<uint32_t>(box.bytes.size());
    while (!done.load()) {
      switch (rng.Below(3)) {
        case 0:
          if (ftruncate(fd, rng.Below(n)) != 0) return;
          break;
        case 1: {
          const uint32_t at = rng.Below(n);
          if (!WriteAt(fd, at, box.bytes.substr(rng.Below(n), 0x4000))) return;
          break;
        }
        default: {
          struct stat st;
          if (fstat(fd, &st) != 0 ||
              !WriteAt(fd, static_cast<uint64_t>(st.st_size), box.bytes.substr(rng.Below(n)))) {
            return;
          }
          break;
        }
      }
      ++changes;
    }
    close(fd);
  });

  RecordingSink sink;
  CMailboxExtractor engine;
  engine.m_pSink = &sink;
  const size_t fds = OpenDescriptors() + 1;  // the writer's own descriptor
  // At least 20 exports, and on until the writer has changed the file a few thousand times.
  int rounds = 0;
  for (; rounds < 20 || (changes < 5000 && rounds < 20000); ++rounds) {
    const int r = engine.ExportMailbox(path.c_str(), out.c_str());
    if (r != 0 && r != 1 && engine.LastFailure().kind != ExportFailure::kMailboxChanged) {
      ADD_FAILURE() << "result " << r;
      break;
    }
  }
  EXPECT_GE(changes, 5000u) << "after " << rounds << " exports";
  EXPECT_LE(OpenDescriptors(), fds);  // every output and the mailbox closed
  done = true;
  writer.join();
  // Files of a later, shorter export stay from the earlier ones; all have numbers that were used.
  for (const fs::directory_entry& e : fs::directory_iterator(out)) {
    EXPECT_NE(std::find(sink.names.begin(), sink.names.end(), e.path().filename().string()),
              sink.names.end());
  }
}

}  // namespace
}  // namespace quillon
