// Writes realistic Outlook Express message folders (.dbx) for tests and benchmarks: header,
// message-info records, a multi-level index tree, messages as chains of data blocks in
// segments, optionally deleted messages on the free list and fragmented block layouts.
// Everything follows from the seed; the same options give the same bytes on every platform.
//
// The file is written front to back in batches of segments, so memory stays small whatever the
// size; the header and the first info chunk are patched at the end.
#ifndef QUILLON_GEN_GENERATOR_H_
#define QUILLON_GEN_GENERATOR_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gen/output.h"
#include "hash/digest.h"

namespace quillon::gen {

struct GeneratorOptions {
  uint64_t seed = 1;
  // The file stays within this many bytes (at most 0xFFFFFFFF, the 32-bit offset limit); 0 means
  // no bound but that limit. A message that would pass it is left out (its id stays unused).
  uint64_t targetBytes = 0;
  // Live messages to write; 0 means as many as targetBytes allows. One of the two must be set;
  // with both, generation stops at whichever comes first.
  uint32_t messageCount = 0;
  // Interleaves the blocks of neighbouring messages and puts some messages' later blocks before
  // their first block, as a folder looks after edits and compaction.
  bool fragmented = false;
  // Messages written and then deleted: their blocks stay in the file, marked deleted and linked
  // from the header's free-list root. Fewer when targetBytes runs out first.
  uint32_t deletedMessages = 0;
};

// One live message as an index-based reader finds it.
struct ManifestEntry {
  uint32_t firstBlock;  // offset of the first data block
  uint32_t length;      // message bytes
  uint32_t id;          // message id in the index; MessageText(seed, id) gives the bytes
  Sha256Digest sha256;  // of the message bytes
};

struct GeneratorStats {
  uint32_t messages = 0;  // live
  uint32_t deletedMessages = 0;
  uint32_t singleBlockMessages = 0;  // live messages of at most 0x200 bytes
  uint32_t lastMessageId = 0;
  uint64_t messageBytes = 0;  // of the live messages
  uint64_t fileBytes = 0;
};

// Writes a mailbox to `out`, which must be empty. When `manifest` is not null it receives one
// entry per live message in ascending first-block order (hashing costs time, so pass null when
// the hashes are not wanted). Returns false with *error on bad options or a failed write; the
// output then holds an incomplete file.
bool GenerateMailbox(const GeneratorOptions& options, Output& out,
                     std::vector<ManifestEntry>* manifest, GeneratorStats* stats,
                     std::string* error);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_GENERATOR_H_
