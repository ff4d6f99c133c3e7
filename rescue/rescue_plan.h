// The reconciled list of a mailbox's messages: every message the index lists or the blocks show,
// each with exactly one status, its blocks, the index record it came from, and what is missing
// or was mended, in words. Reconcile (reconcile.h) makes it; the message reader streams the
// bytes of its messages.
#ifndef QUILLON_RESCUE_RESCUE_PLAN_H_
#define QUILLON_RESCUE_RESCUE_PLAN_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::rescue {

enum class Status : uint8_t {
  kLive,         // listed in the index, its chain whole
  kOrphan,       // a whole chain that begins like a message and that no index entry lists
  kDamaged,      // a broken or mended chain: what can be read is exported; the notes say the rest
  kHeadersOnly,  // listed without a body (IMAP, HTTP and news folders): nothing to write
  kLost,         // listed with a body, but none of it can be read
  kFragment,  // blocks that belong to no message start (the tail of a message whose head is gone)
  kDeleted,   // a deleted message with a readable head
};
inline constexpr size_t kStatusCount = 7;

// "live", "orphan", "damaged", "headers-only", "lost", "fragment", "deleted".
const char* StatusName(Status status);

// Where a message's blocks lie: `count` blocks at first, first + step, first + 2 * step...
struct BlockRun {
  uint32_t first;
  uint32_t count;
  uint32_t step;
};

// Something missing from a message, or mended in it, said in words.
struct Note {
  uint64_t at = 0;       // where in the message's bytes it applies
  uint64_t missing = 0;  // bytes known to be missing there (0: none, or unknown: see `reason`)
  uint32_t block = 0;    // the file offset of the block concerned
  std::string reason;    // "the link of the block at 0x2B4B4 leads past the end of the file"
};

// Bytes of a message that the reader fills with kFillByte, in the message's own offsets.
struct ByteRange {
  uint64_t at;
  uint32_t length;
};

// Deleted messages: each lost run of bytes is filled with this one visible byte.
inline constexpr uint8_t kFillByte = '?';
inline constexpr uint32_t kNoRecord = 0xFFFFFFFFu;

struct PlannedMessage {
  Status status = Status::kLive;
  // The message's last block gives no length of its own (a deleted block, or a damaged length):
  // the reader estimates the end (message_reader.h says how) and `size` is an upper bound
  // until then.
  static constexpr uint8_t kEndEstimated = 1;
  // The chain breaks before the message's end: the bytes after the last block are missing.
  static constexpr uint8_t kTailMissing = 2;
  uint8_t flags = 0;
  uint32_t firstBlock = 0;      // 0 when there is none (headers-only, lost)
  uint32_t record = kNoRecord;  // the index record: an index of Catalogue::messages
  uint32_t blocks = 0;          // in the chain
  uint64_t size = 0;            // bytes the reader gives (see kEndEstimated)
  // When not 0: the bytes the last block gives, its own length word being damaged (the index's
  // size of the message gave them).
  uint32_t lastBlockBytes = 0;
  uint32_t runBegin = 0, runCount = 0;    // in RescuePlan::runs
  uint32_t noteBegin = 0, noteCount = 0;  // in RescuePlan::notes
  uint32_t fillBegin = 0, fillCount = 0;  // in RescuePlan::filled
  // Deleted messages: the live message this one is a copy of (an index of
  // RescuePlan::liveCopies), once ExamineDeleted has looked; kNoRecord when there is none.
  uint32_t liveCopy = kNoRecord;
};

// A deleted message that is still live somewhere in the run, and where.
struct LiveCopy {
  std::string where;      // as the caller named it when it added the live message
  std::string messageId;  // the Message-ID both carry ("" when the message has none)
};

// Damage that concerns the file rather than one message.
struct Finding {
  uint32_t offset = 0;
  std::string reason;
};

struct RescuePlan {
  uint32_t fileSize = 0;       // the size the file was scanned with
  uint32_t blockCapacity = 0;  // data bytes of a full block (0x200)

  // In this order:
  //   [0, exported): live, orphan and damaged messages, by ascending first-block offset. The
  //                  position + 1 is the message's number n.
  //   then headers-only and lost messages, in the index's order;
  //   then deleted messages (only when asked for), by first block;
  //   then fragments (only when asked for), by first block.
  std::vector<PlannedMessage> messages;
  size_t exported = 0;

  // Every message of each status, including deleted messages and fragments that were not asked
  // for (and so are not in `messages`).
  std::array<uint64_t, kStatusCount> counts{};
  uint64_t Count(Status s) const { return counts[static_cast<size_t>(s)]; }

  std::vector<BlockRun> runs;
  std::vector<Note> notes;
  std::vector<ByteRange> filled;
  std::vector<LiveCopy> liveCopies;
  std::vector<Finding> findings;
  uint64_t notesDropped = 0;  // notes past the caps (kMaxNotes...), counted only

  static constexpr size_t kMaxNotesPerMessage = 8;
  static constexpr size_t kMaxNotes = 1u << 16;
  static constexpr size_t kMaxFindings = 1000;

  // Calls f(offset) for each block of `m` in chain order.
  template <typename F>
  void ForEachBlock(const PlannedMessage& m, F&& f) const {
    for (uint32_t r = m.runBegin; r != m.runBegin + m.runCount; ++r) {
      const BlockRun& run = runs[r];
      for (uint32_t k = 0; k < run.count; ++k) f(run.first + k * run.step);
    }
  }
  std::vector<uint32_t> Blocks(const PlannedMessage& m) const;
  const Note* NotesOf(const PlannedMessage& m) const { return notes.data() + m.noteBegin; }
  const ByteRange* FilledOf(const PlannedMessage& m) const { return filled.data() + m.fillBegin; }
};

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_RESCUE_PLAN_H_
