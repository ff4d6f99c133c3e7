// Random damage to sample mailboxes: flipped bytes, words set to their own offset or to links
// anywhere (into the file, past its end, at 2^31 and above), truncation, duplicated ranges. Each
// export must end with one of the four results, read the file a bounded number of times, stay
// within a bounded amount of memory, write only bytes from the data areas of blocks, and write
// exactly what one read per test writes. The mailboxes come from the project's generator.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/testing/sample_mailbox.h"
#include "fuzz/export_check.h"
#include "gen/generator.h"
#include "gen/mail_text.h"
#include "test_support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif
#ifdef QUILLON_ASAN
// From the sanitizer runtime; g++ installs no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace quillon {
namespace {

using test::SeedRng;

// Bytes of heap in use by the whole process.
size_t HeapInUse() {
#ifdef QUILLON_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

void PutWord(std::string* f, size_t at, uint32_t v) {
  if (at + 4 > f->size()) return;
  for (int i = 0; i < 4; ++i) (*f)[at + i] = static_cast<char>(v >> (8 * i));
}

// One to four random damages. Word damages mostly hit block headers, where they matter.
std::string Damage(std::string f, const std::vector<uint32_t>& blocks, SeedRng& rng) {
  const int count = 1 + static_cast<int>(rng.Below(4));
  for (int i = 0; i < count && f.size() > 16; ++i) {
    const uint32_t size = static_cast<uint32_t>(f.size());
    const uint32_t block = blocks[rng.Below(blocks.size())];
    const uint32_t word = rng.Below(3) != 0 ? block + 4 * rng.Below(4) : rng.Below(size) & ~3u;
    switch (rng.Below(9)) {
      case 0:  // flip bits of a few bytes
        for (uint32_t k = 1 + rng.Below(8); k > 0; --k) {
          f[rng.Below(f.size())] ^= static_cast<char>(1 + rng.Below(255));
        }
        break;
      case 1:
        PutWord(&f, word, word);
        break;
      case 2:  // a link to another block
        PutWord(&f, word, blocks[rng.Below(blocks.size())]);
        break;
      case 3:  // a link anywhere inside, or just past the end
        PutWord(&f, word, rng.Below(2) ? rng.Below(size) : size - rng.Below(20));
        break;
      case 4:  // at 2^31 and above
        PutWord(&f, word, 0x80000000u + rng.Below(3) * 0x3FFFFFF0u + rng.Below(16));
        break;
      case 5:  // a length up to the file's size or beyond
        PutWord(&f, block + 4 + 4 * rng.Below(2),
                rng.Below(2) ? rng.Below(size + 64) : 0xFFFFFFF0u);
        break;
      case 6:
        f.resize(rng.Below(size));
        break;
      case 7: {  // copy a range over another place
        const uint32_t from = rng.Below(size), to = rng.Below(size);
        const uint32_t n = std::min({rng.Below(0x1000) + 1, size - from, size - to});
        f.replace(to, n, f.substr(from, n));
        break;
      }
      default: {  // duplicate a range in place, shifting everything after it
        const uint32_t from = rng.Below(size);
        const uint32_t n = std::min(rng.Below(0x800) + 1, size - from);
        f.insert(from, f.substr(from, n));
        break;
      }
    }
  }
  return f;
}

// A generated mailbox to damage.
SampleMailbox Mailbox(uint64_t seed) {
  gen::GeneratorOptions options;
  options.seed = seed;
  options.messageCount = static_cast<uint32_t>(12 + 4 * seed);
  options.targetBytes = 160 << 10;  // small enough for many exports with literal reads
  options.fragmented = seed % 2 == 1;
  options.deletedMessages = static_cast<uint32_t>(seed % 3);
  gen::MemoryOutput out;
  std::vector<gen::ManifestEntry> manifest;
  std::string error;
  SampleMailbox box;
  if (!gen::GenerateMailbox(options, out, &manifest, nullptr, &error)) {
    ADD_FAILURE() << error;
    return box;
  }
  box.bytes = out.bytes();
  for (const gen::ManifestEntry& e : manifest) {
    box.messages.emplace_back(e.firstBlock, gen::MessageText(seed, e.id));
  }
  // Live and deleted blocks: a word holding its own offset, then a block size of either kind.
  for (uint32_t x = 4; x + 16 <= box.bytes.size(); x += 4) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(box.bytes.data()) + x;
    const uint32_t blockSize = LoadLE32(p + 4);
    if (LoadLE32(p) == x && (blockSize == 0x200 || blockSize == 0x1FC)) box.blocks.push_back(x);
  }
  return box;
}

TEST(DamageTest, DamagedMailboxesExportSafelyAndAlikeInBothReadingModes) {
  constexpr int kFilesPerSeed = 100;
  size_t exports = 0, nonEmpty = 0;
  uint64_t maxReadsPerKiB = 0, maxExtraHeap = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    const SampleMailbox box = Mailbox(seed);
    ASSERT_FALSE(box.blocks.empty());
    {  // Undamaged, the sample's messages come out as built: the damage starts from sound files.
      MemFileSystem files;
      files.Put("/m/box.dbx", box.bytes);
      RecordingSink sink;
      CMailboxExtractor engine(&files);
      engine.m_pSink = &sink;
      ASSERT_EQ(engine.ExportMailbox("/m/box.dbx", "/o"), 0);
      ASSERT_EQ(files.FilesUnder("/o/").size(), box.messages.size());
      for (size_t i = 0; i < box.messages.size(); ++i) {
        ASSERT_EQ(files.Get("/o/box.dbx-" + std::to_string(i + 1) + ".eml"),
                  box.messages[i].second);
      }
    }
    SeedRng rng(seed * 7919);
    for (int k = 0; k < kFilesPerSeed; ++k) {
      const std::string damaged = Damage(box.bytes, box.blocks, rng);
      SCOPED_TRACE("seed " + std::to_string(seed) + ", damaged file " + std::to_string(k));

      // The export's own allocations: the reader's windows, the copy buffer and offsets, a few
      // bytes per byte of the file, plus the in-memory output files.
      fuzzing::Scenario plain;
      const size_t before = HeapInUse();
      size_t peak = before;
      plain.probe = [&] { peak = std::max(peak, HeapInUse()); };
      bool gaveUp = false;
      std::string problem;
      const fuzzing::ExportRun run = fuzzing::RunExport(damaged, plain, false, &problem);
      ASSERT_EQ(problem, "");
      uint64_t written = 0;
      for (const auto& [path, bytes] : run.outputs) written += bytes.size();
      const uint64_t extra = peak - before;
      EXPECT_LE(extra, (uint64_t{5} << 20) + 16 * damaged.size() + 3 * written);
      maxExtraHeap = std::max(maxExtraHeap, extra);
      maxReadsPerKiB = std::max<uint64_t>(maxReadsPerKiB, run.reads * 1024 / (damaged.size() + 1));

      // Origin of every byte, and the comparison with literal reads.
      ASSERT_EQ(fuzzing::CheckExport(damaged, fuzzing::Scenario(), true, &gaveUp), "");
      EXPECT_FALSE(gaveUp);
      ++exports;
      nonEmpty += run.outputs.empty() ? 0 : 1;
    }
  }
  // Damage that left nothing to write everywhere would test little.
  EXPECT_GT(nonEmpty, exports / 2);
  RecordProperty("max_reads_per_KiB", std::to_string(maxReadsPerKiB));
  RecordProperty("max_extra_heap", std::to_string(maxExtraHeap));
}

}  // namespace
}  // namespace quillon
