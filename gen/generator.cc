#include "gen/generator.h"

#include <algorithm>
#include <cstring>

#include "gen/code_page_text.h"
#include "gen/dbx_layout.h"
#include "gen/index_tree.h"
#include "gen/mail_text.h"
#include "gen/message_info.h"
#include "gen/random.h"

namespace quillon::gen {
namespace {

using namespace dbx;

// Separate streams, so the layout never changes which messages are deleted.
constexpr uint64_t kLayoutStream = 0x11;
constexpr uint64_t kDeletionStream = 0x12;
// Per message, beside mail_text.cc's (id << 8 | 1, 2): how the small shape's 8-bit texts stand.
constexpr uint64_t kTextStyleStream = 4;
// Messages are laid out a batch at a time; a batch closes once it holds this many blocks (about
// 2 MB), so a fragmented layout mixes blocks across some dozens of messages.
constexpr uint32_t kBatchBlocks = 4096;
// In a fragmented layout a message is cut into runs of up to this many consecutive blocks, and
// runs move at most this far from their place.
constexpr uint32_t kMaxRunBlocks = 12;
constexpr uint32_t kShuffleWindow = 24;
// With a size bound, this many messages in a row that do not fit end the file.
constexpr uint32_t kMaxMisses = 32;
// A rough mean message size, to spread deletions over a file bounded by size only.
constexpr uint64_t kMeanMessageBytes = 110000;
constexpr uint64_t kSmallMeanMessageBytes = 6000;
constexpr uint64_t kTinyMeanMessageBytes = 700;

// The object Outlook Express keeps at the start of the first info chunk: a view filter. It too
// starts with its own offset.
constexpr char kFilterText[] =
    "((MSGCOL_FLAGS & ARF_WATCH) != 0 || (MSGCOL_FLAGS & ARF_IGNORE) != 0)";
constexpr uint32_t kFilterObjectSize = 0x50;

constexpr uint8_t kFileMagic[0x1C] = {
    0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E,
    0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
};

inline uint32_t SlotOffset(uint32_t slot) { return kFirstSegment + slot * kBlockSize; }

inline uint32_t CeilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// Next-fit packing of message-info records into info chunks: the first chunk until a record does
// not fit, then chunks appended after the segments.
struct InfoPacking {
  uint32_t firstUsed = kFilterObjectSize;
  uint32_t tailChunks = 0;
  uint32_t tailUsed = 0;

  // Where a record of `size` bytes goes: 0 for the first chunk, else 1 + tail chunk index, and
  // the offset within the chunk.
  void Place(uint32_t size, uint32_t* chunk, uint32_t* within) {
    if (tailChunks == 0 && firstUsed + size <= kInfoChunkSize) {
      *chunk = 0;
      *within = firstUsed;
      firstUsed += size;
      return;
    }
    if (tailChunks == 0 || tailUsed + size > kInfoChunkSize) {
      ++tailChunks;
      tailUsed = 0;
    }
    *chunk = tailChunks;
    *within = tailUsed;
    tailUsed += size;
  }
};

using Fate = FolderPlan::Fate;

class MailboxWriter {
 public:
  // `plan` null: the seeded mix of the options; else the plan's messages, each reported to
  // `planned`.
  MailboxWriter(const GeneratorOptions& options, const FolderPlan* plan, Output& out,
                std::vector<ManifestEntry>* manifest, std::vector<FolderMessage>* planned,
                std::string* error)
      : options_(options),
        plan_(plan),
        out_(out),
        manifest_(manifest),
        planned_(planned),
        error_(error),
        layoutRng_(MixSeed(options.seed, kLayoutStream)),
        deletionRng_(MixSeed(options.seed, kDeletionStream)),
        limit_(options.targetBytes != 0 ? options.targetBytes : kMaxFileSize) {}

  bool Run(GeneratorStats* stats);

 private:
  struct Pending {
    uint32_t id;
    Fate fate;
    size_t textBegin;
    uint32_t length;
    uint32_t blocks;  // data blocks the text needs
    uint32_t slots;   // blocks of its own: none when headers-only or stored in a reused block
    bool inPreviousLastBlock;  // stored in the last block of the deleted message before it
  };
  struct Live {
    uint32_t id;
    uint32_t firstBlock;
    uint32_t length;
  };

  bool Append(const void* data, size_t size) { return out_.Append(data, size, error_); }
  bool AppendZeros(uint64_t size);
  bool WriteStart();
  bool AddSeededMessages();
  bool AddPlannedMessages();
  // Adds a message to the batch, flushing it when full unless `keepBatch`.
  bool AddPending(const Pending& m, bool keepBatch);
  bool DecideDeleted(uint32_t candidates);
  // The file's size if it ended after `slots` blocks with `live` records packed as `packing`.
  uint64_t ProjectedSize(uint32_t slots, uint32_t live, const InfoPacking& packing) const;
  bool FlushBatch();
  void AssignSlots(std::vector<uint32_t>* slotOf);
  void ReportPlanned(const Pending& m, const uint8_t* text, uint32_t firstBlock,
                     uint32_t reusedBytes);
  void AppendRecord(uint32_t id, uint32_t firstBlock, uint32_t length, std::string* record) const;
  bool WriteInfoAndTree();

  const GeneratorOptions& options_;
  const FolderPlan* plan_;
  Output& out_;
  std::vector<ManifestEntry>* manifest_;
  std::vector<FolderMessage>* planned_;
  std::string* error_;
  Rng layoutRng_;
  Rng deletionRng_;
  const uint64_t limit_;

  uint32_t nextSlot_ = 0;  // blocks written or batched so far, counted from the first segment
  std::string batchText_;
  std::vector<Pending> batch_;
  uint32_t batchBlocks_ = 0;
  std::vector<uint8_t> batchBytes_;
  std::vector<uint32_t> slotOf_;

  std::vector<Live> live_;     // in id order, with the headers-only ones
  InfoPacking estimate_;       // with the records' largest sizes: an upper bound
  uint32_t freeListHead_ = 0;  // first block of the message deleted last
  uint32_t deletedLeft_ = 0;
  GeneratorStats stats_;

  // Filled by WriteInfoAndTree for the header.
  uint32_t lastInfoChunk_ = kFirstInfoChunk, lastInfoChunkUsed_ = 0;
  uint32_t treeRoot_ = 0, lastTreeChunk_ = 0;
  std::string firstChunk_;
};

bool MailboxWriter::AppendZeros(uint64_t size) {
  static const uint8_t kZeros[64 * 1024] = {};
  while (size > 0) {
    const size_t n = size < sizeof kZeros ? static_cast<size_t>(size) : sizeof kZeros;
    if (!Append(kZeros, n)) return false;
    size -= n;
  }
  return true;
}

// Placeholders for the header and the first info chunk, which are patched at the end, and the
// file-info area as the real folders have it.
bool MailboxWriter::WriteStart() {
  std::vector<uint8_t> start(kFirstSegment, 0);
  uint8_t* info = start.data() + kFileInfoOffset;
  info[0] = 1;
  const FolderIdentity& id = options_.identity;
  info[kFileInfoSourceField] = id.source;
  // Each string keeps its terminating zero within its field.
  std::memcpy(
      info + kFileInfoAccountField, id.accountKey.data(),
      std::min<size_t>(id.accountKey.size(), kFileInfoNameField - kFileInfoAccountField - 1));
  std::memcpy(info + kFileInfoNameField, id.name.data(),
              std::min<size_t>(id.name.size(), kFileInfoSize - kFileInfoNameField - 1));
  return Append(start.data(), start.size());
}

// Deleted messages are spread evenly among the live ones: exactly over the whole file when the
// count is known, over the first three quarters of the expected messages when only the size is.
bool MailboxWriter::DecideDeleted(uint32_t candidates) {
  if (deletedLeft_ == 0) return false;
  uint64_t remaining;
  if (options_.messageCount != 0) {
    remaining = uint64_t{options_.messageCount - stats_.messages} + deletedLeft_;
  } else {
    const uint64_t mean = options_.shape == Shape::kSmall  ? kSmallMeanMessageBytes
                          : options_.shape == Shape::kTiny ? kTinyMeanMessageBytes
                                                           : kMeanMessageBytes;
    const uint64_t expected = limit_ / mean * 3 / 4;
    remaining = expected > candidates ? expected - candidates : 0;
    remaining = std::max<uint64_t>(remaining, uint64_t{deletedLeft_} + 1);
  }
  if (remaining > 0xFFFFFFFFu) remaining = 0xFFFFFFFFu;
  return deletionRng_.Below(static_cast<uint32_t>(remaining)) < deletedLeft_;
}

uint64_t MailboxWriter::ProjectedSize(uint32_t slots, uint32_t live,
                                      const InfoPacking& packing) const {
  const uint64_t segments = CeilDiv(slots, kBlocksPerSegment);
  const uint64_t treeChunks = CeilDiv(IndexNodeCount(live), kTreeChunkNodes);
  return kFirstSegment + segments * kSegmentSize + uint64_t{packing.tailChunks} * kInfoChunkSize +
         treeChunks * kTreeChunkSize;
}

void MailboxWriter::AssignSlots(std::vector<uint32_t>* slotOf) {
  slotOf->resize(batchBlocks_);  // batchBlocks_ counts slots
  if (!options_.fragmented) {
    for (uint32_t i = 0; i < batchBlocks_; ++i) (*slotOf)[i] = nextSlot_ + i;
    return;
  }
  struct Run {
    uint32_t first;  // index of its first block in the batch, messages in order
    uint32_t count;
  };
  std::vector<Run> runs;
  uint32_t base = 0;
  for (const Pending& m : batch_) {
    for (uint32_t k = 0; k < m.slots;) {
      const uint32_t n = std::min(m.slots - k, 1 + layoutRng_.Below(kMaxRunBlocks));
      runs.push_back({base + k, n});
      k += n;
    }
    base += m.slots;
  }
  // A Fisher-Yates shuffle whose swaps reach back at most kShuffleWindow runs: blocks of
  // neighbouring messages interleave and a message's later runs can land before its first.
  for (size_t i = runs.size(); i-- > 1;) {
    const uint32_t reach = static_cast<uint32_t>(std::min<size_t>(i, kShuffleWindow));
    std::swap(runs[i], runs[i - layoutRng_.Below(reach + 1)]);
  }
  uint32_t slot = nextSlot_;
  for (const Run& r : runs) {
    for (uint32_t k = 0; k < r.count; ++k) (*slotOf)[r.first + k] = slot++;
  }
}

bool MailboxWriter::FlushBatch() {
  if (batch_.empty()) return true;
  AssignSlots(&slotOf_);
  batchBytes_.resize(size_t{batchBlocks_} * kBlockSize);
  uint32_t blockIndex = 0;
  uint32_t previousLastSlot = 0;
  for (size_t i = 0; i < batch_.size(); ++i) {
    const Pending& m = batch_[i];
    const uint8_t* text = reinterpret_cast<const uint8_t*>(batchText_.data()) + m.textBegin;
    if (m.fate == Fate::kHeadersOnly) {
      live_.push_back({m.id, 0, m.length});
      ReportPlanned(m, text, 0, 0);
      continue;
    }
    if (m.inPreviousLastBlock) {
      // Over the deleted message's last block: its bytes past this message's end stay.
      uint8_t* block = batchBytes_.data() + size_t{previousLastSlot - nextSlot_} * kBlockSize;
      const uint32_t self = SlotOffset(previousLastSlot);
      StoreLE32(block, self);
      StoreLE32(block + 4, kBlockDataSize);
      StoreLE32(block + 8, m.length);
      StoreLE32(block + 12, 0);
      std::memcpy(block + 16, text, m.length);
      live_.push_back({m.id, self, m.length});
      ReportPlanned(m, text, self, 0);
      continue;
    }
    const bool deleted = m.fate == Fate::kDeleted;
    const bool lastReused = i + 1 < batch_.size() && batch_[i + 1].inPreviousLastBlock;
    const uint32_t* slots = slotOf_.data() + blockIndex;
    for (uint32_t k = 0; k < m.blocks; ++k) {
      uint8_t* block = batchBytes_.data() + size_t{slots[k] - nextSlot_} * kBlockSize;
      const uint32_t self = SlotOffset(slots[k]);
      const uint32_t next = k + 1 < m.blocks ? SlotOffset(slots[k + 1]) : 0;
      const uint32_t used = std::min(kBlockDataSize, m.length - k * kBlockDataSize);
      StoreLE32(block, self);
      StoreLE32(block + 4, deleted ? kDeletedBlockSize : kBlockDataSize);
      StoreLE32(block + 8, deleted ? kDeletedDataLength : used);
      StoreLE32(block + 12, next);
      std::memcpy(block + 16, text + size_t{k} * kBlockDataSize, used);
      std::memset(block + 16 + used, 0, kBlockDataSize - used);
      // The free list runs through the deleted blocks' first data words: down each deleted
      // chain, then on to the message deleted before it. A block taken again has left it.
      if (deleted) {
        const bool lastFree = next == 0 || (lastReused && k + 2 == m.blocks);
        StoreLE32(block + 16, lastFree ? freeListHead_ : next);
      }
    }
    const uint32_t first = SlotOffset(slots[0]);
    previousLastSlot = slots[m.blocks - 1];
    if (deleted) {
      freeListHead_ = first;
      ReportPlanned(m, text, first, lastReused ? batch_[i + 1].length : 0);
    } else {
      live_.push_back({m.id, first, m.length});
      if (manifest_ != nullptr) {
        manifest_->push_back({first, m.length, m.id, ComputeSha256(text, m.length)});
      }
      ReportPlanned(m, text, first, 0);
    }
    blockIndex += m.slots;
  }
  if (!Append(batchBytes_.data(), batchBytes_.size())) return false;
  nextSlot_ += batchBlocks_;
  batch_.clear();
  batchText_.clear();
  batchBlocks_ = 0;
  return true;
}

// `reusedBytes`: for a deleted message whose last block was taken again, the new message's
// length, which covers that many of the block's data bytes.
void MailboxWriter::ReportPlanned(const Pending& m, const uint8_t* text, uint32_t firstBlock,
                                  uint32_t reusedBytes) {
  if (planned_ == nullptr) return;
  FolderMessage r;
  r.id = m.id;
  r.fate = m.fate;
  r.firstBlock = firstBlock;
  r.length = m.length;
  if (m.fate == Fate::kHeadersOnly) {
    planned_->push_back(std::move(r));
    return;
  }
  r.blocks = m.blocks;
  r.sha256 = ComputeSha256(text, m.length);
  if (m.fate == Fate::kDeleted) {
    r.lastBlockReused = reusedBytes != 0;
    for (uint32_t k = 0; k < m.blocks; ++k) {
      const uint32_t begin = k * kBlockDataSize;
      uint32_t lost = 4;
      if (r.lastBlockReused && k + 1 == m.blocks) lost = std::max(lost, reusedBytes);
      r.overwritten.emplace_back(begin, std::min(m.length, begin + lost));
    }
  }
  planned_->push_back(std::move(r));
}

void MailboxWriter::AppendRecord(uint32_t id, uint32_t firstBlock, uint32_t length,
                                 std::string* record) const {
  if (plan_ != nullptr) {
    plan_->AppendRecord(id, firstBlock, length, record);
  } else {
    AppendMessageInfo(0, id, SeededFields(options_, id), firstBlock, length, record);
  }
}

bool MailboxWriter::WriteInfoAndTree() {
  // Records in id order: the first info chunk until one does not fit, then chunks after the
  // segments. Their texts come back from the seed; only offsets were kept.
  firstChunk_.assign(kFilterObjectSize, '\0');
  uint8_t* filter = reinterpret_cast<uint8_t*>(&firstChunk_[0]);
  StoreLE32(filter, kFirstInfoChunk);
  StoreLE32(filter + 4, kFilterObjectSize - 8);
  std::memcpy(filter + 8, kFilterText, sizeof kFilterText);

  std::vector<uint32_t> recordOffsets;
  recordOffsets.reserve(live_.size());
  InfoPacking packing;
  std::string tail, record;
  uint32_t tailChunkStart = 0, lastTailChunk = 0;
  for (const Live& m : live_) {
    record.clear();
    AppendRecord(m.id, m.firstBlock, m.length, &record);
    uint32_t chunk, within;
    packing.Place(static_cast<uint32_t>(record.size()), &chunk, &within);
    if (chunk != lastTailChunk) {  // a new tail chunk: the previous one is complete
      if (!tail.empty()) {
        tail.resize(kInfoChunkSize, '\0');
        if (!Append(tail.data(), tail.size())) return false;
        tail.clear();
      }
      tailChunkStart = static_cast<uint32_t>(out_.Size());
      lastTailChunk = chunk;
    }
    const uint32_t offset = chunk == 0 ? kFirstInfoChunk + within : tailChunkStart + within;
    StoreLE32(reinterpret_cast<uint8_t*>(&record[0]), offset);
    (chunk == 0 ? firstChunk_ : tail).append(record);
    recordOffsets.push_back(offset);
  }
  if (packing.tailChunks == 0) {
    lastInfoChunkUsed_ = packing.firstUsed;
  } else {
    lastInfoChunk_ = tailChunkStart;
    lastInfoChunkUsed_ = packing.tailUsed;
    tail.resize(kInfoChunkSize, '\0');
    if (!Append(tail.data(), tail.size())) return false;
  }

  const uint32_t nodes = IndexNodeCount(static_cast<uint32_t>(recordOffsets.size()));
  if (nodes == 0) return true;
  treeRoot_ = static_cast<uint32_t>(out_.Size());
  const uint32_t chunks = CeilDiv(nodes, kTreeChunkNodes);
  lastTreeChunk_ = treeRoot_ + (chunks - 1) * kTreeChunkSize;
  if (!BuildIndexTree(recordOffsets.data(), static_cast<uint32_t>(recordOffsets.size()), treeRoot_,
                      [this](const uint8_t* node) { return Append(node, kNodeSize); })) {
    return false;
  }
  return AppendZeros(uint64_t{chunks * kTreeChunkNodes - nodes} * kNodeSize);
}

bool MailboxWriter::AddSeededMessages() {
  deletedLeft_ = options_.deletedMessages;
  uint32_t id = 0, misses = 0;
  for (;;) {
    const bool countDone = options_.messageCount != 0 && stats_.messages == options_.messageCount;
    if ((countDone && deletedLeft_ == 0) || misses == kMaxMisses) break;
    if (id == 0xFFFFFFFFu) break;
    ++id;
    const bool deleted = countDone || DecideDeleted(id - 1);
    const MessageFields fields = SeededFields(options_, id);
    const size_t textBegin = batchText_.size();
    AppendMessageText(options_.seed, id, fields, &batchText_);
    const uint32_t length = static_cast<uint32_t>(batchText_.size() - textBegin);
    const uint32_t blocks = CeilDiv(length, kBlockDataSize);

    InfoPacking packing = estimate_;
    uint32_t liveAfter = stats_.messages;
    if (!deleted) {
      uint32_t chunk, within;
      packing.Place(MaxMessageInfoSize(id, fields, length), &chunk, &within);
      ++liveAfter;
    }
    if (ProjectedSize(nextSlot_ + batchBlocks_ + blocks, liveAfter, packing) > limit_) {
      batchText_.resize(textBegin);
      if (options_.targetBytes == 0) {
        *error_ = "the messages do not fit in a mailbox of 4 GiB";
        return false;
      }
      ++misses;
      continue;
    }
    misses = 0;
    estimate_ = packing;
    if (deleted) --deletedLeft_;
    if (!AddPending(
            {id, deleted ? Fate::kDeleted : Fate::kLive, textBegin, length, blocks, blocks, false},
            false)) {
      return false;
    }
  }
  return true;
}

bool MailboxWriter::AddPending(const Pending& m, bool keepBatch) {
  batch_.push_back(m);
  batchBlocks_ += m.slots;
  stats_.lastMessageId = m.id;
  switch (m.fate) {
    case Fate::kDeleted:
      ++stats_.deletedMessages;
      break;
    case Fate::kHeadersOnly:
      ++stats_.headersOnlyMessages;
      break;
    case Fate::kLive:
      ++stats_.messages;
      stats_.messageBytes += m.length;
      if (m.length <= kBlockDataSize) ++stats_.singleBlockMessages;
      break;
  }
  return keepBatch || batchBlocks_ < kBatchBlocks || FlushBatch();
}

bool MailboxWriter::AddPlannedMessages() {
  std::string scratch;
  const Pending* previous = nullptr;
  for (uint32_t id = 1; id <= plan_->Count(); ++id) {
    const Fate fate = plan_->FateOf(id);
    const size_t textBegin = batchText_.size();
    plan_->AppendText(id, &batchText_);
    const uint32_t length = static_cast<uint32_t>(batchText_.size() - textBegin);
    const uint32_t blocks = fate == Fate::kHeadersOnly ? 0 : CeilDiv(length, kBlockDataSize);
    if (fate == Fate::kHeadersOnly) batchText_.resize(textBegin);
    // The previous message was deleted and its last block given to this one, if it fits.
    const bool inPrevious = previous != nullptr && previous->fate == Fate::kDeleted &&
                            previous->blocks >= 2 && plan_->LastBlockReused(previous->id) &&
                            fate == Fate::kLive && blocks == 1;
    InfoPacking packing = estimate_;
    if (fate != Fate::kDeleted) {
      scratch.clear();
      plan_->AppendRecord(id, 0xFFFFFFFFu, length, &scratch);  // its largest form
      uint32_t chunk, within;
      packing.Place(static_cast<uint32_t>(scratch.size()), &chunk, &within);
    }
    const uint32_t slots = inPrevious ? 0 : blocks;
    const uint32_t records =
        stats_.messages + stats_.headersOnlyMessages + (fate != Fate::kDeleted ? 1 : 0);
    if (ProjectedSize(nextSlot_ + batchBlocks_ + slots, records, packing) > limit_) {
      *error_ = "the messages do not fit in a mailbox of 4 GiB";
      return false;
    }
    estimate_ = packing;
    // A deleted message whose last block may be reused stays in one batch with the next one.
    const bool keep = fate == Fate::kDeleted && plan_->LastBlockReused(id);
    if (!AddPending({id, fate, textBegin, length, blocks, slots, inPrevious}, keep)) return false;
    previous = batch_.empty() ? nullptr : &batch_.back();
  }
  return true;
}

bool MailboxWriter::Run(GeneratorStats* statsOut) {
  if (plan_ == nullptr && options_.messageCount == 0 && options_.targetBytes == 0) {
    *error_ = "give a message count or a file size";
    return false;
  }
  if (options_.targetBytes > kMaxFileSize) {
    *error_ = "the file size is over 4294967295 bytes; mailbox offsets are 32-bit";
    return false;
  }
  if (options_.targetBytes != 0 && options_.targetBytes < kFirstSegment) {
    *error_ = "the file size is under " + std::to_string(kFirstSegment) +
              " bytes, the size of an empty mailbox";
    return false;
  }
  if (out_.Size() != 0) {
    *error_ = "the output is not empty";
    return false;
  }
  if (!WriteStart()) return false;
  if (!(plan_ != nullptr ? AddPlannedMessages() : AddSeededMessages())) return false;
  if (!FlushBatch()) return false;
  const uint32_t segments = CeilDiv(nextSlot_, kBlocksPerSegment);
  if (!AppendZeros(uint64_t{segments * kBlocksPerSegment - nextSlot_} * kBlockSize)) return false;
  if (!WriteInfoAndTree()) return false;

  const uint64_t fileSize = out_.Size();
  if (fileSize > limit_) {  // the estimate is an upper bound, so this is a bug
    *error_ = "internal error: the file came out larger than planned";
    return false;
  }
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kFileMagic, sizeof kFileMagic);
  StoreLE32(header + kFileInfoLengthField, kFileInfoSize);
  StoreLE32(header + kLastInfoChunkField, lastInfoChunk_);
  StoreLE32(header + kInfoChunkLengthField, kInfoChunkSize);
  StoreLE32(header + kInfoChunkUsedField, lastInfoChunkUsed_);
  if (treeRoot_ != 0) {
    StoreLE32(header + kLastTreeChunkField, lastTreeChunk_);
    StoreLE32(header + kTreeChunkLengthField, kTreeChunkSize);
    StoreLE32(header + kNodeSizeField, kNodeSize);
  }
  if (segments != 0) {
    StoreLE32(header + kLastSegmentField, kFirstSegment + (segments - 1) * kSegmentSize);
    StoreLE32(header + kSegmentLengthField, kSegmentSize);
    StoreLE32(header + kSegmentUsedField,
              (nextSlot_ - (segments - 1) * kBlocksPerSegment) * kBlockSize);
  }
  StoreLE32(header + kDeletedListField, freeListHead_);
  StoreLE32(header + kLastMessageIdField, stats_.lastMessageId);
  StoreLE32(header + 0x64, 1);  // constant in every real folder
  StoreLE32(header + kUsedSpaceField, static_cast<uint32_t>(fileSize));
  StoreLE32(header + 0x80, 2);  // likewise
  StoreLE32(header + kFilterObjectField, kFirstInfoChunk);
  StoreLE32(header + kMessageCountField, static_cast<uint32_t>(live_.size()));
  StoreLE32(header + kTreeRootField, treeRoot_);
  if (!out_.Overwrite(0, header, sizeof header, error_) ||
      !out_.Overwrite(kFirstInfoChunk, firstChunk_.data(), firstChunk_.size(), error_)) {
    return false;
  }

  if (manifest_ != nullptr) {
    std::sort(
        manifest_->begin(), manifest_->end(),
        [](const ManifestEntry& a, const ManifestEntry& b) { return a.firstBlock < b.firstBlock; });
  }
  stats_.fileBytes = fileSize;
  if (statsOut != nullptr) *statsOut = stats_;
  return true;
}

}  // namespace

MessageFields SeededFields(const GeneratorOptions& options, uint32_t id) {
  MessageFields f = MakeMessageFields(options.seed, id, options.shape);
  const CodePageText* texts = FindCodePageText(options.codePage);
  if (options.shape == Shape::kDefault || texts == nullptr) return f;
  Rng rng(MixSeed(options.seed, uint64_t{id} << 8 | kTextStyleStream));
  // How a text stands in the headers: an encoded-word in the code page's charset or in UTF-8
  // (whose text parts then say utf-8), or 8-bit bytes. The index holds the code page's bytes
  // whichever it is: the client decoded the header into the machine's ANSI code page.
  enum Style : uint32_t { kAscii, kWordInCodePage, kWordInUtf8, kQWordInCodePage, kEightBit };
  const auto pick = [&](const uint32_t(&limits)[4]) {
    const uint32_t r = rng.Below(1000);
    uint32_t style = 0;
    while (style < 4 && r >= limits[style]) ++style;
    return static_cast<Style>(style);
  };
  const Style subject = pick({600, 700, 800, 880});
  if (subject != kAscii) {
    const std::string prefix = f.subject.substr(0, f.subject.size() - f.normalizedSubject.size());
    std::string bytes, utf8;
    const uint32_t words = rng.Between(1, 3);
    for (uint32_t i = 0; i < words; ++i) {
      const Text& w = texts->words[rng.Below(12)];
      if (i > 0 && bytes.size() + 1 + std::string(w.bytes).size() > 36) break;
      bytes += (i > 0 ? " " : "") + std::string(w.bytes);
      utf8 += (i > 0 ? " " : "") + std::string(w.utf8);
    }
    f.normalizedSubject = bytes;
    f.subject = prefix + bytes;
    f.subjectHeader = subject == kWordInCodePage    ? prefix + EncodedWordB(texts->charset, bytes)
                      : subject == kWordInUtf8      ? prefix + EncodedWordB("utf-8", utf8)
                      : subject == kQWordInCodePage ? prefix + EncodedWordQ(texts->charset, bytes)
                                                    : "";
    f.charset = subject == kWordInUtf8 ? "utf-8" : texts->charset;
  }
  const Style from = pick({750, 850, 930, 930});
  if (from != kAscii) {
    const Text& name = texts->names[rng.Below(6)];
    f.fromName = name.bytes;
    f.fromNameHeader = from == kWordInCodePage ? EncodedWordB(texts->charset, name.bytes)
                       : from == kWordInUtf8   ? EncodedWordB("utf-8", name.utf8)
                                               : "\"" + f.fromName + "\"";
    if (f.charset.empty()) f.charset = from == kWordInUtf8 ? "utf-8" : texts->charset;
  }
  return f;
}

bool GenerateMailbox(const GeneratorOptions& options, Output& out,
                     std::vector<ManifestEntry>* manifest, GeneratorStats* stats,
                     std::string* error) {
  if (manifest != nullptr) manifest->clear();
  MailboxWriter writer(options, nullptr, out, manifest, nullptr, error);
  return writer.Run(stats);
}

bool GenerateFolder(const GeneratorOptions& options, const FolderPlan& plan, Output& out,
                    std::vector<FolderMessage>* messages, GeneratorStats* stats,
                    std::string* error) {
  GeneratorOptions layout = options;
  layout.messageCount = 0;
  layout.targetBytes = 0;
  layout.deletedMessages = 0;
  if (messages != nullptr) messages->clear();
  MailboxWriter writer(layout, &plan, out, nullptr, messages, error);
  return writer.Run(stats);
}

}  // namespace quillon::gen
