#include "rescue/testing/damage_cases.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "dbx/block_format.h"
#include "hash/digest.h"
#include "rescue/testing/rescue_check.h"

namespace quillon::rescue::testing {
namespace {

constexpr uint32_t kFileHeader = 0x24BC;
constexpr uint32_t kFileInfoLength = 0x618;
constexpr uint32_t kBlockSpan = 0x210;

void PutWord(std::string* f, size_t at, uint32_t v) {
  for (int i = 0; i < 4 && at + i < f->size(); ++i) (*f)[at + i] = static_cast<char>(v >> (8 * i));
}

uint32_t WordAt(const std::string& f, size_t at) {
  return LoadLE32(reinterpret_cast<const uint8_t*>(f.data()) + at);
}

void Zero(std::string* f, uint64_t begin, uint64_t end) {
  end = std::min<uint64_t>(end, f->size());
  if (begin < end) std::fill(f->begin() + begin, f->begin() + end, '\0');
}

// The messages whose blocks meet [begin, end).
std::vector<bool> Touching(const Folder& folder, uint64_t begin, uint64_t end) {
  std::vector<bool> touched(folder.manifest.size(), false);
  for (size_t i = 0; i < folder.blocks.size(); ++i) {
    for (uint32_t b : folder.blocks[i]) {
      if (b < end && b + kBlockSpan > begin) touched[i] = true;
    }
  }
  return touched;
}

}  // namespace

Folder MakeFolder(uint64_t seed, uint32_t messages, bool fragmented, uint32_t deleted) {
  gen::GeneratorOptions options;
  options.seed = seed;
  options.messageCount = messages;
  options.fragmented = fragmented;
  options.deletedMessages = deleted;
  gen::MemoryOutput out;
  gen::GeneratorStats stats;
  std::string error;
  Folder f;
  if (!gen::GenerateMailbox(options, out, &f.manifest, &stats, &error)) return f;
  f.bytes = out.bytes();
  // The sound file's own chains.
  for (const gen::ManifestEntry& m : f.manifest) {
    std::vector<uint32_t> chain;
    for (uint32_t at = m.firstBlock; at != 0 && chain.size() < f.bytes.size() / kBlockSpan;) {
      chain.push_back(at);
      at = WordAt(f.bytes, at + 12);
    }
    f.blocks.push_back(std::move(chain));
  }
  return f;
}

const char* DamageKindName(DamageKind kind) {
  switch (kind) {
    case DamageKind::kHeaderBit:
      return "one header bit";
    case DamageKind::kHeaderWord:
      return "one header word";
    case DamageKind::kZeroHeader:
      return "zeroed file header";
    case DamageKind::kZeroFirstSector:
      return "zeroed first sector";
    case DamageKind::kZeroFileInfo:
      return "zeroed file-info area";
    case DamageKind::kTruncate:
      return "truncated";
    case DamageKind::kZeroRun:
      return "run of zeros";
  }
  return "";
}

DamageCase Damage(const Folder& folder, DamageKind kind, test::SeedRng& rng) {
  DamageCase d{kind, folder.bytes, std::vector<bool>(folder.manifest.size(), false), ""};
  static const char* const kWords[] = {"offset", "size", "length", "link"};
  switch (kind) {
    case DamageKind::kHeaderBit:
    case DamageKind::kHeaderWord: {
      const size_t owner = rng.Below(folder.blocks.size());
      const std::vector<uint32_t>& chain = folder.blocks[owner];
      const uint32_t block = chain[rng.Below(chain.size())];
      const uint32_t word = rng.Below(4);
      uint32_t value;
      if (kind == DamageKind::kHeaderBit) {
        const uint32_t bit = rng.Below(32);
        value = WordAt(d.bytes, block + 4 * word) ^ (1u << bit);
        d.what = "bit " + std::to_string(bit) + " of the " + kWords[word] + " word";
      } else {
        value = rng.Below(2) == 0 ? 0 : static_cast<uint32_t>(rng.Next());
        d.what = "the " + std::string(kWords[word]) + " word set to " + Hex(value);
      }
      d.what += " of the block at " + Hex(block);
      PutWord(&d.bytes, block + 4 * word, value);
      d.mayLose[owner] = true;
      break;
    }
    case DamageKind::kZeroHeader:
      Zero(&d.bytes, 0, kFileHeader);
      break;
    case DamageKind::kZeroFirstSector:
      Zero(&d.bytes, 0, 512);
      break;
    case DamageKind::kZeroFileInfo:
      Zero(&d.bytes, kFileHeader, kFileHeader + kFileInfoLength);
      break;
    case DamageKind::kTruncate: {
      const uint32_t cut = rng.Below(d.bytes.size());
      d.bytes.resize(cut);
      d.mayLose = Touching(folder, cut, UINT64_MAX);
      d.what = "cut at " + Hex(cut);
      break;
    }
    case DamageKind::kZeroRun: {
      const uint32_t begin = rng.Below(d.bytes.size());
      const uint32_t end = begin + 1 + rng.Below(64u << 10);
      Zero(&d.bytes, begin, end);
      d.mayLose = Touching(folder, begin, end);
      d.what = "zeros over [" + Hex(begin) + ", " + Hex(end) + ")";
      break;
    }
  }
  return d;
}

Score RescueAndScore(const Folder& folder, const DamageCase& damage, const RescueOptions& options) {
  const fuzzing::RescuedMailbox r = fuzzing::RescueBytes(damage.bytes, options);
  std::unordered_set<std::string> exported;
  std::unordered_set<uint32_t> heads;
  for (const gen::ManifestEntry& m : folder.manifest) heads.insert(m.firstBlock);
  Score score;
  for (size_t i = 0; i < r.rescue.plan.exported; ++i) {
    const std::string& text = r.messages[i];
    const Sha256Digest digest = ComputeSha256(text.data(), text.size());
    exported.insert(std::string(digest.begin(), digest.end()));
    if (heads.count(r.rescue.plan.messages[i].firstBlock) == 0) ++score.extra;
  }
  for (size_t i = 0; i < folder.manifest.size(); ++i) {
    const Sha256Digest& digest = folder.manifest[i].sha256;
    if (exported.count(std::string(digest.begin(), digest.end())) != 0) {
      ++score.kept;
    } else {
      ++score.lost;
      if (!damage.mayLose[i]) ++score.lostUntouched;
    }
  }
  return score;
}

}  // namespace quillon::rescue::testing
