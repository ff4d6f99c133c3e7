// Writes realistic Outlook Express message folders (.dbx) for tests and benchmarks: header,
// message-info records, a multi-level index tree, messages as chains of data blocks in
// segments, optionally deleted messages on the free list and fragmented block layouts.
// Everything follows from the seed; the same options give the same bytes on every platform.
// The messages are either a seeded mix (GenerateMailbox) or chosen one by one by a FolderPlan
// (GenerateFolder, for the folders of a whole store).
//
// The file is written front to back in batches of segments, so memory stays small whatever the
// size; the header and the first info chunk are patched at the end.
#ifndef QUILLON_GEN_GENERATOR_H_
#define QUILLON_GEN_GENERATOR_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gen/mail_text.h"
#include "gen/output.h"
#include "hash/digest.h"

namespace quillon::gen {

// What a message folder's file-info area says of it.
struct FolderIdentity {
  uint8_t source = 3;  // 0 news, 1 IMAP, 3 local folder
  std::string accountKey = "LocalStore";
  std::string name;  // 8-bit, in the writer's code page; empty: none written
};

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
  FolderIdentity identity;
  // The spread of sizes (mail_text.h). The small and tiny shapes' index also holds 8-bit
  // subjects and senders' names in `codePage` (1251, 936 or 1252), as a real Inbox's does; the
  // default shape's texts are ASCII and its bytes stay as they always were.
  Shape shape = Shape::kDefault;
  uint32_t codePage = 1252;
};

// The fields of seeded message `id` as GenerateMailbox writes it: MakeMessageFields, and in the
// small shape a share of the subjects and senders' names in the code page.
MessageFields SeededFields(const GeneratorOptions& options, uint32_t id);

// One live message as an index-based reader finds it.
struct ManifestEntry {
  uint32_t firstBlock;  // offset of the first data block
  uint32_t length;      // message bytes
  uint32_t id;          // message id in the index; SeededFields gives its text's fields
  Sha256Digest sha256;  // of the message bytes
};

struct GeneratorStats {
  uint32_t messages = 0;  // live
  uint32_t headersOnlyMessages = 0;
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

// The messages of a folder chosen one by one, with ids 1 to Count() in the order they were
// stored. Every call with the same id must give the same answer.
class FolderPlan {
 public:
  enum class Fate : uint8_t {
    kLive,
    kHeadersOnly,  // a record without the body-downloaded flag, and no blocks
    kDeleted,      // blocks on the free list, no record
  };

  virtual ~FolderPlan() = default;
  virtual uint32_t Count() const = 0;
  virtual Fate FateOf(uint32_t id) const = 0;
  // For a deleted message of two blocks or more: the message after it, when live and of one
  // block, was stored in its last block, as the client reuses freed space. That block keeps the
  // deleted message's bytes past the new message's end.
  virtual bool LastBlockReused(uint32_t id) const = 0;
  // Appends the text of message `id`; a headers-only message's too (its record gives the size).
  virtual void AppendText(uint32_t id, std::string* out) const = 0;
  // Appends the record of live or headers-only message `id`, its own offset left 0 (the writer
  // fills it in). `firstBlock` is 0 for a message without blocks.
  virtual void AppendRecord(uint32_t id, uint32_t firstBlock, uint32_t length,
                            std::string* out) const = 0;
};

// One message of a planned folder as it was written.
struct FolderMessage {
  uint32_t id = 0;
  FolderPlan::Fate fate = FolderPlan::Fate::kLive;
  uint32_t firstBlock = 0;  // 0 for headers-only
  uint32_t length = 0;      // the text's bytes; headers-only: the size its record gives
  uint32_t blocks = 0;      // data blocks it took (none for headers-only)
  Sha256Digest sha256{};    // of the text (a deleted one's as it was); zero for headers-only
  // Deleted: whether the next message took its last block, and the ranges [begin, end) of its
  // text that are no longer in the file (the free-list link in each block, the reused bytes).
  bool lastBlockReused = false;
  std::vector<std::pair<uint32_t, uint32_t>> overwritten;
};

// Writes the folder `plan` describes to `out`, which must be empty; options.seed drives only the
// layout (options.fragmented), and the message count, size and deletion options do not apply.
// *messages receives every message in id order. False with *error when a write failed or the
// folder would pass 4 GiB.
bool GenerateFolder(const GeneratorOptions& options, const FolderPlan& plan, Output& out,
                    std::vector<FolderMessage>* messages, GeneratorStats* stats,
                    std::string* error);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_GENERATOR_H_
