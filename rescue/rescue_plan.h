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

#include "catalogue/indexed_record.h"
#include "rescue/by_value_iterator.h"

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
  // Its blocks are the file's own chain: from the first block, link by link, every block but
  // the last full. The plan keeps no runs for it; the reader follows the links.
  static constexpr uint8_t kFollowsLinks = 4;
  uint8_t flags = 0;
  uint32_t firstBlock = 0;    // 0 when there is none (headers-only, lost)
  uint32_t recordOffset = 0;  // where its index record lies; 0 when no record lists it
  uint32_t blocks = 0;        // in the chain
  uint64_t size = 0;          // bytes the reader gives (see kEndEstimated)
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

// The plan's messages, in its order. Most messages of a sound folder are its own chains, whole,
// and need only their first block, their record and their size: such a message is kept in 16
// bytes (a folder of 1.5 million short messages is 24 MiB of plan). Any other is kept whole
// beside them. Indexing gives a message as a PlannedMessage value.
class PlanMessages {
 public:
  // How a message is kept: the catalogue's entry shape, whose last word says what it is.
  using Slot = catalogue::MessageEntry;

  PlanMessages() = default;
  // Messages in their order: `slots` made with Plain or Whole, `whole` the messages Whole
  // refers to; `capacity` is the file's full block's data bytes.
  PlanMessages(std::vector<Slot> slots, std::vector<PlannedMessage> whole, uint32_t capacity)
      : slots_(std::move(slots)), whole_(std::move(whole)), capacity_(capacity) {}

  // A slot for a message kept in 16 bytes: its status and size, its first block and record (0:
  // none); it has size / capacity blocks, rounded up, and follows its links.
  static Slot Plain(Status status, uint32_t firstBlock, uint32_t recordOffset, uint32_t size) {
    return Slot{recordOffset, firstBlock, size, static_cast<uint32_t>(status) | kPlainBit};
  }
  // A slot for whole message `index` of `whole`.
  static Slot Whole(Status status, uint32_t index) {
    return Slot{0, 0, 0, static_cast<uint32_t>(status) | index << kIndexShift};
  }
  static Status StatusOf(const Slot& slot) { return static_cast<Status>(slot.flags & 7); }
  static bool IsPlain(const Slot& slot) { return (slot.flags & kPlainBit) != 0; }

  size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  PlannedMessage operator[](size_t i) const {
    const Slot& s = slots_[i];
    if (!IsPlain(s)) return whole_[s.flags >> kIndexShift];
    PlannedMessage m;
    m.status = StatusOf(s);
    m.firstBlock = s.firstBlock;
    m.recordOffset = s.recordOffset;
    m.size = s.size;
    m.blocks =
        capacity_ == 0 ? 0 : static_cast<uint32_t>((uint64_t{s.size} + capacity_ - 1) / capacity_);
    if (m.blocks != 0) m.flags = PlannedMessage::kFollowsLinks;
    return m;
  }
  // Message `i` to change, when it is kept whole (deleted messages always are); else null.
  PlannedMessage* Whole(size_t i) {
    return IsPlain(slots_[i]) ? nullptr : &whole_[slots_[i].flags >> kIndexShift];
  }
  // How many are kept whole, for the memory's accounts.
  size_t wholeCount() const { return whole_.size(); }

  using Iterator = ByValueIterator<PlanMessages, PlannedMessage>;
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, size()); }

 private:
  static constexpr uint32_t kPlainBit = 8;
  static constexpr unsigned kIndexShift = 4;
  std::vector<Slot> slots_;
  std::vector<PlannedMessage> whole_;
  uint32_t capacity_ = 0;
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
  PlanMessages messages;
  size_t exported = 0;
  uint64_t listed = 0;  // message-info records the catalogue read

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

  // Calls f(offset) for each block of `m` in chain order. For a message that follows its links
  // (kFollowsLinks), which has no runs, only the reader knows them (MessageReader::ForEachBlock).
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
