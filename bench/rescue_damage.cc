// The damage rates: generated folders damaged in each way the rescue promises to survive, rescued,
// and scored against the generator's manifest; the extraction engine's export of the same damaged
// files beside it. Seeded, so the figures repeat.
//
//   quillon-bench-rescue-damage [--folders N] [--cases N] [--messages N]
//
// Per damage kind, over all cases: the manifest's messages the rescue exported byte for byte
// (kept), the others (lost), those of them the damage did not touch (must be 0), and the exported
// messages that begin where no message does (extra). For the engine: messages written byte for
// byte, and files written that are no message of the manifest (tails, cut or joined messages).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"
#include "hash/digest.h"
#include "rescue/testing/damage_cases.h"

namespace {

using namespace quillon;

struct EngineScore {
  uint64_t kept = 0;
  uint64_t other = 0;
};

EngineScore EngineExport(const rescue::testing::Folder& folder, const std::string& bytes) {
  MemFileSystem files;
  files.Put("m.dbx", bytes);
  RecordingSink sink;
  CMailboxExtractor engine(&files);
  engine.m_pSink = &sink;
  engine.ExportMailbox("m.dbx", "out");
  std::unordered_set<std::string> manifest;
  for (const gen::ManifestEntry& m : folder.manifest) {
    manifest.insert(std::string(m.sha256.begin(), m.sha256.end()));
  }
  EngineScore score;
  std::unordered_set<std::string> seen;
  for (const auto& written : files.FilesUnder("out/")) {
    const Sha256Digest d = ComputeSha256(written.second.data(), written.second.size());
    const std::string key(d.begin(), d.end());
    if (manifest.count(key) == 0) {
      ++score.other;
    } else if (seen.insert(key).second) {
      ++score.kept;
    }
  }
  return score;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t folders = 8, cases = 50, messages = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    const uint32_t v = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--folders") == 0) {
      folders = std::max(1u, v);
    } else if (std::strcmp(argv[i], "--cases") == 0) {
      cases = std::max(1u, v);
    } else if (std::strcmp(argv[i], "--messages") == 0) {
      messages = std::max(2u, v);
    } else {
      std::fprintf(stderr, "usage: %s [--folders N] [--cases N] [--messages N]\n", argv[0]);
      return 64;
    }
  }
  std::printf(
      "%u folders of %u messages (every other one fragmented, each with %u deleted), "
      "%u cases per folder and kind\n\n",
      folders, messages, messages / 10, cases);
  std::printf("%-22s %6s | %9s %9s %9s %9s | %9s %9s\n", "damage", "cases", "kept", "lost",
              "untouched", "extra", "engine", "its other");
  std::printf("%-22s %6s | %9s %9s %9s %9s | %9s %9s\n", "", "", "", "", "lost", "", "kept",
              "files");
  test::SeedRng rng(20240611);
  std::vector<rescue::testing::Folder> made;
  for (uint32_t f = 0; f < folders; ++f) {
    made.push_back(rescue::testing::MakeFolder(1000 + f, messages, f % 2 == 1, messages / 10));
  }
  for (rescue::testing::DamageKind kind : rescue::testing::kDamageKinds) {
    const bool once = kind == rescue::testing::DamageKind::kZeroHeader ||
                      kind == rescue::testing::DamageKind::kZeroFirstSector ||
                      kind == rescue::testing::DamageKind::kZeroFileInfo;
    uint64_t n = 0, total = 0, kept = 0, lost = 0, untouched = 0, extra = 0;
    EngineScore engine;
    for (const rescue::testing::Folder& folder : made) {
      for (uint32_t c = 0; c < (once ? 1 : cases); ++c, ++n) {
        const rescue::testing::DamageCase d = rescue::testing::Damage(folder, kind, rng);
        const rescue::testing::Score s = rescue::testing::RescueAndScore(folder, d);
        total += folder.manifest.size();
        kept += s.kept;
        lost += s.lost;
        untouched += s.lostUntouched;
        extra += s.extra;
        const EngineScore e = EngineExport(folder, d.bytes);
        engine.kept += e.kept;
        engine.other += e.other;
      }
    }
    const auto pct = [&](uint64_t v) { return 100.0 * static_cast<double>(v) / total; };
    std::printf("%-22s %6llu | %8.2f%% %8.2f%% %9llu %9llu | %8.2f%% %9llu\n",
                rescue::testing::DamageKindName(kind), static_cast<unsigned long long>(n),
                pct(kept), pct(lost), static_cast<unsigned long long>(untouched),
                static_cast<unsigned long long>(extra), pct(engine.kept),
                static_cast<unsigned long long>(engine.other));
  }
  return 0;
}
