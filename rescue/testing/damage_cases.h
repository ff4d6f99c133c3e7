// Generated folders damaged in known ways, and a score of what the rescue kept of them against
// the generator's manifest, for the damage test and the damage benchmark.
#ifndef QUILLON_RESCUE_TESTING_DAMAGE_CASES_H_
#define QUILLON_RESCUE_TESTING_DAMAGE_CASES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gen/generator.h"
#include "rescue/reconcile.h"
#include "test_support/test_support.h"

namespace quillon::rescue::testing {

// A generated folder and, for each live message of its manifest, its blocks in chain order.
struct Folder {
  std::string bytes;
  std::vector<gen::ManifestEntry> manifest;
  std::vector<std::vector<uint32_t>> blocks;
};
Folder MakeFolder(uint64_t seed, uint32_t messages, bool fragmented, uint32_t deleted);

enum class DamageKind {
  kHeaderBit,        // one bit of one word of one live block's header flipped
  kHeaderWord,       // one word of one live block's header set to 0 or to a random value
  kZeroHeader,       // the file header (0x24BC bytes) zeroed
  kZeroFirstSector,  // the first 512 bytes zeroed
  kZeroFileInfo,     // the file-info area zeroed
  kTruncate,         // the file cut at a random offset
  kZeroRun,          // a random run of up to 64 KiB zeroed
};
inline constexpr DamageKind kDamageKinds[] = {
    DamageKind::kHeaderBit,       DamageKind::kHeaderWord,   DamageKind::kZeroHeader,
    DamageKind::kZeroFirstSector, DamageKind::kZeroFileInfo, DamageKind::kTruncate,
    DamageKind::kZeroRun};
const char* DamageKindName(DamageKind kind);

struct DamageCase {
  DamageKind kind;
  std::string bytes;
  std::vector<bool> mayLose;  // per manifest message: the damage touches it
  std::string what;           // "bit 9 of the size word of the block at 0x1F2A4"
};
DamageCase Damage(const Folder& folder, DamageKind kind, test::SeedRng& rng);

struct Score {
  uint32_t kept = 0;           // manifest messages exported with exactly their bytes
  uint32_t lost = 0;           // the others
  uint32_t extra = 0;          // exported messages that begin where no manifest message does
  uint32_t lostUntouched = 0;  // lost although the damage does not touch them
};
Score RescueAndScore(const Folder& folder, const DamageCase& damage,
                     const RescueOptions& options = {});

}  // namespace quillon::rescue::testing

#endif  // QUILLON_RESCUE_TESTING_DAMAGE_CASES_H_
