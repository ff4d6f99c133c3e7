#include "rescue/reconcile.h"

#include <algorithm>
#include <unordered_map>

#include "catalogue/indexed_record.h"

namespace quillon::rescue {

const char* StatusName(Status status) {
  switch (status) {
    case Status::kLive:
      return "live";
    case Status::kOrphan:
      return "orphan";
    case Status::kDamaged:
      return "damaged";
    case Status::kHeadersOnly:
      return "headers-only";
    case Status::kLost:
      return "lost";
    case Status::kFragment:
      return "fragment";
    case Status::kDeleted:
      return "deleted";
  }
  return "";
}

std::vector<uint32_t> RescuePlan::Blocks(const PlannedMessage& m) const {
  std::vector<uint32_t> blocks;
  ForEachBlock(m, [&](uint32_t offset) { blocks.push_back(offset); });
  return blocks;
}

TakenLength LengthToTake(uint32_t blockSize, uint32_t dataLength, bool last, uint32_t capacity) {
  if (capacity == 0) capacity = kClientBlockData;
  if (dataLength != 0 && dataLength <= blockSize) {
    // A block that links on but is not full lost part of its length word.
    if (!last && dataLength < capacity && blockSize >= capacity) return {capacity, false, true};
    return {dataLength, false, false};
  }
  // One of the two words is damaged. A length that fits a full block is believed (the size word
  // is the damaged one); otherwise a block that is not the last is full, and the last one's
  // length is lost.
  if (dataLength != 0 && dataLength <= capacity) return {dataLength, false, true};
  return {capacity, last, true};
}

std::vector<uint32_t> ListedFirstBlocks(const catalogue::Catalogue& catalogue) {
  std::vector<uint32_t> blocks;
  for (const catalogue::MessageEntry& m : catalogue.messages) {
    if (m.firstBlock != 0) blocks.push_back(m.firstBlock);
  }
  return blocks;
}

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// Conflicts with more claimants than this are decided without weighing each (a hostile file).
constexpr size_t kMaxWeighedClaimants = 64;
// Broken links the mending pass looks at, at most.
constexpr size_t kMaxMends = 1u << 16;

uint32_t PopCount(uint32_t v) {
  uint32_t n = 0;
  for (; v != 0; v &= v - 1) ++n;
  return n;
}

using Slot = PlanMessages::Slot;

class Reconciler {
 public:
  // `records` are the catalogue's, in the index's order; the plan's slots are made in place of
  // them as their messages are decided.
  Reconciler(const BlockScan& scan, std::vector<catalogue::MessageEntry>& records,
             const RescueOptions& options)
      : scan_(scan),
        records_(records),
        options_(options),
        entries_(static_cast<uint32_t>(scan.entries.size())),
        nodes_(entries_ + static_cast<uint32_t>(scan.probed.size())),
        capacity_(scan.blockCapacity != 0 ? scan.blockCapacity : kClientBlockData) {}

  // The walks, on the scan; false when stopped. Then the scan is no longer needed, and Assemble
  // puts the plan together.
  bool Run();
  RescuePlan Assemble();

 private:
  // Per node: [0, entries_) are the scan's entries, [entries_, nodes_) its probed headers.
  enum : uint8_t {
    kClaimed = 1,    // in a message (or a fragment) already
    kListed = 2,     // the first block of a message the index lists
    kCut = 4,        // its link was set aside: another block's claim on the target won
    kMended = 8,     // its link leads elsewhere (mends_)
    kEndsHere = 16,  // its link is damaged, and it is the last block of its message
    // While conflicts are weighed: claimed by several links (or listed and linked). Later, while
    // heads are looked for: looked through already.
    kMark = 32,
    // The top two bits count the links from block-like nodes that lead here: 0, 1, 2, or more.
    kInShift = 6,
  };
  uint32_t Indegree(uint32_t n) const { return state_[n] >> kInShift; }
  void AddIndegree(uint32_t n) {
    if (Indegree(n) < 3) state_[n] = static_cast<uint8_t>(state_[n] + (1u << kInShift));
  }
  // A count that reached "more" stays there: only 0 against not 0 matters after conflicts.
  void DropIndegree(uint32_t n) {
    if (Indegree(n) != 0 && Indegree(n) < 3) {
      state_[n] = static_cast<uint8_t>(state_[n] - (1u << kInShift));
    }
  }

  uint32_t Offset(uint32_t n) const {
    return n < entries_ ? scan_.entries.Offset(n) : scan_.probed[n - entries_].offset;
  }
  uint32_t BlockSize(uint32_t n) const {
    return n < entries_ ? scan_.entries.BlockSize(n) : scan_.probed[n - entries_].blockSize;
  }
  uint32_t DataLength(uint32_t n) const {
    return n < entries_ ? scan_.entries.DataLength(n) : scan_.probed[n - entries_].dataLength;
  }
  uint32_t Next(uint32_t n) const {
    return n < entries_ ? scan_.entries.Next(n) : scan_.probed[n - entries_].next;
  }
  bool Begins(uint32_t n) const {
    return n < entries_ ? scan_.entries.BeginsLikeHeader(n)
                        : scan_.probed[n - entries_].beginsLikeHeader;
  }
  bool Consistent(uint32_t n) const { return DataLength(n) != 0 && DataLength(n) <= BlockSize(n); }
  bool Deleted(uint32_t n) const { return n < entries_ && scan_.entries.Deleted(n); }
  // ScanEntry::blockLike, for probed headers too.
  bool BlockLike(uint32_t n) const {
    if (n >= entries_) {
      const ProbedHeader& p = scan_.probed[n - entries_];
      // A header that does not name itself is believed only with both lengths as a block has them.
      return p.blockSize == capacity_ && p.dataLength != 0 && p.dataLength <= p.blockSize &&
             !(p.blockSize == kDeletedBlockSize && p.dataLength == kDeletedDataLength);
    }
    if (scan_.entries.Deleted(n)) return false;
    const uint32_t length = DataLength(n), size = BlockSize(n);
    return (length != 0 && (length <= size || length <= capacity_)) || size == capacity_;
  }
  // Not full, lengths agreeing: only a message's last block is so.
  bool Short(uint32_t n) const { return Consistent(n) && DataLength(n) < capacity_; }
  // The bytes it spans in the file, header included.
  uint64_t Extent(uint32_t n) const {
    return kHeaderSize + uint64_t{Consistent(n) ? DataLength(n) : capacity_};
  }

  uint32_t Resolve(uint32_t offset) const {
    if (offset == 0) return kNone;
    const size_t i = scan_.IndexOf(offset);
    if (i < entries_) return static_cast<uint32_t>(i);
    const ProbedHeader* p = scan_.FindProbed(offset);
    return p != nullptr ? entries_ + static_cast<uint32_t>(p - scan_.probed.data()) : kNone;
  }
  // The block-like node `n`'s header links to, or kNone.
  uint32_t Link(uint32_t n) const {
    const uint32_t next = Next(n);
    if (next == 0) return kNone;
    // Blocks written one after another link to the next entry: no lookup.
    const uint32_t j =
        n + 1 < entries_ && scan_.entries.Offset(n + 1) == next ? n + 1 : Resolve(next);
    return j != kNone && BlockLike(j) ? j : kNone;
  }
  // A block no link leads to, no message holds and the index does not list, whose lengths agree:
  // what a damaged link leaves behind of the rest of its message.
  bool LooseTail(uint32_t t) const {
    return t != kNone && BlockLike(t) && Consistent(t) && Indegree(t) == 0 &&
           (state_[t] & (kListed | kClaimed)) == 0;
  }
  // Where `p`'s link most likely led before it was damaged: a loose tail that one changed bit of
  // the link names, or else one in the slot right after `p` that does not begin a message (or
  // does, with `headAllowed`: when the index says the message goes on). kNone when there is no
  // single such place.
  uint32_t MendFor(uint32_t p, bool headAllowed = false) const;
  bool Suspect(uint32_t p) const;

  void Cut(uint32_t p, uint32_t target);
  void CountIndegrees();
  void ReadListing();
  void WeighConflicts();
  void MendBrokenLinks();
  void WalkListed();
  void WalkUnlisted();
  void WalkHeadless();
  void WalkDeleted();

  // Walks the chain from `head` and adds it to the plan as `kind` (live, orphan or fragment):
  // record `record`'s message, or none (kNone).
  void Walk(uint32_t head, Status kind, uint32_t record);
  // Keeps walked message `m` (in 16 bytes when it follows its links whole), in record
  // `record`'s place or among the others.
  void Keep(PlannedMessage& m, uint32_t record, bool damaged);
  // Record `record`'s message is lost: why, and which block that concerns.
  void Lose(uint32_t record, uint32_t block, std::string why);
  // The record whose listed first block is node `n`, or kNone.
  uint32_t ListedRecord(uint32_t n) const;
  bool InsideClaimedBlock(uint32_t n) const;

  void AddNote(PlannedMessage& m, uint64_t at, uint64_t missing, uint32_t block,
               std::string reason);
  void AddFinding(uint32_t offset, std::string reason);
  void AddToRuns(PlannedMessage& m, uint32_t at);
  bool Aborted() const {
    return options_.abort != nullptr && options_.abort->load(std::memory_order_relaxed);
  }

  const BlockScan& scan_;
  std::vector<catalogue::MessageEntry>& records_;
  const RescueOptions& options_;
  const uint32_t entries_;
  const uint32_t nodes_;
  const uint32_t capacity_;

  std::vector<uint8_t> state_;    // per node: the flags and the count of links above
  std::vector<uint32_t> multi_;   // nodes two or more links lead to
  std::vector<uint32_t> broken_;  // block-like nodes whose link leads to no block
  std::unordered_map<uint32_t, uint32_t> mends_;  // node -> node its link is taken to
  // The records whose messages are to be walked (their first blocks listed, each once), by first
  // block. A record's slot reads kToWalk until its message is decided.
  std::vector<uint32_t> listed_;
  static constexpr uint32_t kToWalk = 0xFFFFFFFFu;
  // Records found lost while conflicts were weighed, in that order: they follow the others.
  std::vector<uint32_t> lateLost_;

  RescuePlan plan_;
  std::vector<PlannedMessage> whole_;  // the messages not kept in 16 bytes
  std::vector<Slot> others_;           // messages no record lists: orphans, deleted, fragments
  uint64_t fragmentsKept_ = 0, fragmentsDropped_ = 0;
};

void Reconciler::AddNote(PlannedMessage& m, uint64_t at, uint64_t missing, uint32_t block,
                         std::string reason) {
  if (m.noteCount >= RescuePlan::kMaxNotesPerMessage ||
      plan_.notes.size() >= RescuePlan::kMaxNotes) {
    ++plan_.notesDropped;
    return;
  }
  if (m.noteCount == 0) m.noteBegin = static_cast<uint32_t>(plan_.notes.size());
  plan_.notes.push_back(Note{at, missing, block, std::move(reason)});
  ++m.noteCount;
}

void Reconciler::AddToRuns(PlannedMessage& m, uint32_t at) {
  // A run's blocks lie at equal steps: a message written at once is one run.
  BlockRun* run = m.runCount != 0 ? &plan_.runs.back() : nullptr;
  if (run != nullptr && run->count == 1 && at > run->first) {
    run->step = at - run->first;
    run->count = 2;
  } else if (run != nullptr && run->count > 1 &&
             uint64_t{run->first} + uint64_t{run->count} * run->step == at) {
    ++run->count;
  } else {
    plan_.runs.push_back(BlockRun{at, 1, 0});
    ++m.runCount;
  }
}

void Reconciler::AddFinding(uint32_t offset, std::string reason) {
  if (plan_.findings.size() < RescuePlan::kMaxFindings) {
    plan_.findings.push_back(Finding{offset, std::move(reason)});
  }
}

void Reconciler::CountIndegrees() {
  for (uint32_t n = 0; n < nodes_; ++n) {
    if (!BlockLike(n)) continue;
    const uint32_t j = Link(n);
    if (j == kNone) {
      if (Next(n) != 0) broken_.push_back(n);
      continue;
    }
    AddIndegree(j);
    if (Indegree(j) == 2) multi_.push_back(j);
  }
}

void Reconciler::Lose(uint32_t record, uint32_t block, std::string why) {
  PlannedMessage m;
  m.status = Status::kLost;
  m.recordOffset = records_[record].recordOffset;
  AddNote(m, 0, 0, block, std::move(why));
  // The slot keeps its first block: listed_ stays in order.
  records_[record].flags =
      PlanMessages::Whole(Status::kLost, static_cast<uint32_t>(whole_.size())).flags;
  whole_.push_back(m);
}

uint32_t Reconciler::ListedRecord(uint32_t n) const {
  const uint32_t at = Offset(n);
  const auto it = std::lower_bound(listed_.begin(), listed_.end(), at, [&](uint32_t r, uint32_t v) {
    return records_[r].firstBlock < v;
  });
  return it != listed_.end() && records_[*it].firstBlock == at && records_[*it].flags == kToWalk
             ? *it
             : kNone;
}

void Reconciler::ReadListing() {
  listed_.reserve(records_.size());
  for (uint32_t r = 0; r < records_.size(); ++r) {
    const catalogue::MessageEntry& info = records_[r];
    if (info.firstBlock == 0) {
      if ((info.flags & catalogue::kMessageDownloaded) == 0) {
        records_[r] = PlanMessages::Plain(Status::kHeadersOnly, 0, info.recordOffset, 0);
      } else {
        Lose(r, 0, "the index gives it no first block");
      }
      continue;
    }
    const uint32_t at = info.firstBlock;
    const uint32_t n = Resolve(at);
    std::string why;
    if (uint64_t{at} + kHeaderSize > scan_.fileSize) {
      why = "its first block, " + Hex(at) + ", lies past the end of the file (" +
            Hex(scan_.fileSize) + ")";
    } else if (n == kNone) {
      why = "no block is left at its first block, " + Hex(at);
    } else if (Deleted(n)) {
      why = "its first block, " + Hex(at) + ", is marked deleted";
    } else if (!BlockLike(n)) {
      why = "the header at its first block, " + Hex(at) + ", is not a block's";
    }
    if (!why.empty()) {
      Lose(r, at, std::move(why));
      continue;
    }
    state_[n] |= kListed;
    records_[r].flags = kToWalk;
    listed_.push_back(r);
  }
  // By first block, and among records of one first block the first in the index's order: it
  // keeps the block, and the others are lost.
  std::sort(listed_.begin(), listed_.end(), [&](uint32_t a, uint32_t b) {
    return records_[a].firstBlock != records_[b].firstBlock
               ? records_[a].firstBlock < records_[b].firstBlock
               : a < b;
  });
  size_t kept = 0;
  for (size_t k = 0; k < listed_.size(); ++k) {
    const uint32_t r = listed_[k];
    if (kept != 0 && records_[listed_[kept - 1]].firstBlock == records_[r].firstBlock) {
      const uint32_t at = records_[r].firstBlock;
      Lose(r, at,
           "its first block, " + Hex(at) + ", is also the first block of the message at index " +
               "record " + Hex(records_[listed_[kept - 1]].recordOffset));
      continue;
    }
    listed_[kept++] = r;
  }
  listed_.resize(kept);
}

void Reconciler::Cut(uint32_t p, uint32_t target) {
  state_[p] |= kCut;
  DropIndegree(target);
  broken_.push_back(p);
}

uint32_t Reconciler::MendFor(uint32_t p, bool headAllowed) const {
  const uint32_t next = Next(p);
  const uint32_t linked = Link(p);
  uint32_t found = kNone;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const uint32_t t = Resolve(next ^ (1u << bit));
    if (t == linked || !LooseTail(t)) continue;
    if (found != kNone && found != t) return kNone;  // two explanations: believe neither
    found = t;
  }
  if (found != kNone) return found;
  // Where the link leads to a header wiped to zeros, the block was lost, not the link: the slot
  // after p then holds the lost block's successor, not p's.
  const ProbedHeader* there = scan_.FindProbed(next);
  if (there != nullptr && there->selfWord == 0 && there->blockSize == 0 && there->dataLength == 0 &&
      there->next == 0) {
    return kNone;
  }
  const uint64_t after = uint64_t{Offset(p)} + kHeaderSize + capacity_;
  if (after <= 0xFFFFFFFFu) {
    const uint32_t t = Resolve(static_cast<uint32_t>(after));
    if (t != linked && LooseTail(t) && (headAllowed || !Begins(t))) return t;
  }
  return kNone;
}

bool Reconciler::Suspect(uint32_t p) const {
  // A block that is not full ends its message; a link that is one bit away from 0 was most likely
  // 0; a link one bit away from a loose tail, or past which a loose tail lies, most likely led
  // there.
  return Short(p) || PopCount(Next(p)) == 1 || MendFor(p) != kNone;
}

void Reconciler::WeighConflicts() {
  std::vector<uint32_t> targets;
  for (uint32_t r : listed_) {
    const uint32_t n = Resolve(records_[r].firstBlock);
    if (Indegree(n) != 0) targets.push_back(n);
  }
  for (uint32_t j : multi_) {
    if ((state_[j] & kListed) == 0) targets.push_back(j);
  }
  if (targets.empty()) return;
  std::sort(targets.begin(), targets.end());
  for (uint32_t j : targets) state_[j] |= kMark;
  std::unordered_map<uint32_t, std::vector<uint32_t>> claimants;
  for (uint32_t n = 0; n < nodes_; ++n) {
    if (!BlockLike(n)) continue;
    const uint32_t j = Link(n);
    if (j != kNone && (state_[j] & kMark) != 0) claimants[j].push_back(n);
  }
  for (uint32_t j : targets) {
    if (Aborted()) return;
    const std::vector<uint32_t>& from = claimants[j];
    if (from.empty()) continue;
    if ((state_[j] & kListed) != 0) {
      if (Begins(j)) {
        // The index and the block's own text agree that a message begins here: every link to it
        // is damage.
        for (uint32_t p : from) Cut(p, j);
        continue;
      }
      // A listed first block that other blocks lead to and that does not begin like a message:
      // the index entry is the damaged part.
      const uint32_t r = ListedRecord(j);
      Lose(r, Offset(j),
           "its first block, " + Hex(Offset(j)) + ", is the middle of another message (the " +
               "block at " + Hex(Offset(from.front())) + " links to it)");
      lateLost_.push_back(r);
      state_[j] &= static_cast<uint8_t>(~kListed);
      if (from.size() < 2) continue;
    }
    // Several blocks claim j: one of them is its predecessor. Believe the only one without a sign
    // of damage; among equals, the one in the slot right before j, else the first in the file.
    std::vector<uint32_t> pool;
    if (from.size() <= kMaxWeighedClaimants) {
      for (uint32_t p : from) {
        if (!Suspect(p)) pool.push_back(p);
      }
    }
    if (pool.empty()) pool = from;
    uint32_t winner = pool.front();
    if (pool.size() > 1) {
      uint32_t adjacent = kNone, count = 0;
      for (uint32_t p : pool) {
        if (uint64_t{Offset(p)} + kHeaderSize + capacity_ == Offset(j)) adjacent = p, ++count;
      }
      if (count == 1) winner = adjacent;
    }
    for (uint32_t p : from) {
      if (p != winner) Cut(p, j);
    }
  }
  for (uint32_t j : targets) state_[j] &= static_cast<uint8_t>(~kMark);
}

void Reconciler::MendBrokenLinks() {
  std::sort(broken_.begin(), broken_.end());
  broken_.erase(std::unique(broken_.begin(), broken_.end()), broken_.end());
  if (broken_.size() > kMaxMends) {
    AddFinding(0, std::to_string(broken_.size()) + " blocks link to where no block is; only the " +
                      "first " + std::to_string(kMaxMends) + " were looked at");
    broken_.resize(kMaxMends);
  }
  for (uint32_t p : broken_) {
    if (Aborted()) return;
    const uint32_t t = MendFor(p);
    if (t == kNone) {
      // A block that is not full is its message's last: its link was a damaged 0. So, most
      // likely, was a link one bit away from 0.
      if (Short(p) || PopCount(Next(p)) == 1) state_[p] |= kEndsHere;
      continue;
    }
    mends_[p] = t;
    state_[p] |= kMended;
    AddIndegree(t);
  }
}

bool Reconciler::InsideClaimedBlock(uint32_t n) const {
  // Blocks never overlap: a self-naming word inside the data of a block already in a message is
  // part of that message's text.
  for (uint32_t k = n, looked = 0; k-- > 0 && looked < 4; ++looked) {
    if ((state_[k] & kClaimed) != 0) return Offset(n) < Offset(k) + Extent(k);
  }
  return false;
}

void Reconciler::Walk(uint32_t head, Status kind, uint32_t record) {
  PlannedMessage m;
  m.status = kind;
  m.recordOffset = record != kNone ? records_[record].recordOffset : 0;
  m.firstBlock = Offset(head);
  // Fragments past the cap are counted, and their blocks claimed, but nothing of them is kept.
  const bool keep =
      kind != Status::kFragment || (options_.fragments && fragmentsKept_ < options_.maxFragments);
  bool damaged = false;
  const auto note = [&](uint64_t at, uint64_t missing, uint32_t block, std::string reason) {
    damaged = true;
    if (keep) AddNote(m, at, missing, block, std::move(reason));
  };
  m.runBegin = static_cast<uint32_t>(plan_.runs.size());
  uint64_t size = 0;
  // The index's size of a listed message: the chain's length in every file seen (the corpus's,
  // the generator's), so a chain that ends short of it was cut.
  const uint64_t expected = record != kNone ? records_[record].size : 0;
  uint32_t last = head;
  for (uint32_t cur = head;;) {
    state_[cur] |= kClaimed;
    ++m.blocks;
    const uint32_t at = Offset(cur);
    if (keep) AddToRuns(m, at);
    if (cur >= entries_) {
      note(size, 0, at,
           "the block at " + Hex(at) + " does not name itself (its first word reads " +
               Hex(scan_.probed[cur - entries_].selfWord) + "); taken because " +
               (cur == head ? "the index lists it" : "the block before links to it"));
    }

    // Where the chain goes on, and what the notes say of the link.
    uint32_t succ = kNone;
    bool ends = false;  // the message ends here as it should
    std::string mend, broken;
    const uint32_t next = Next(cur);
    if ((state_[cur] & kMended) != 0) {
      succ = mends_.at(cur);
      mend = "the link of the block at " + Hex(at) + " reads " + Hex(next) + "; taken to lead to " +
             Hex(Offset(succ)) + ", the block no other links to";
    } else if ((state_[cur] & kEndsHere) != 0) {
      ends = true;
      mend = "the link of the block at " + Hex(at) + " reads " + Hex(next) +
             ", where no block of this message is; taken as the message's last block";
    } else if (next == 0) {
      ends = true;
    } else if ((state_[cur] & kCut) != 0) {
      const uint32_t j = Link(cur);
      broken = "links to " + Hex(next) + ", which " +
               (j != kNone && (state_[j] & kListed) != 0
                    ? std::string("begins another message")
                    : std::string("another block's link claims more credibly"));
    } else {
      succ = Link(cur);
      if (succ == kNone) {
        const uint32_t n = Resolve(next);
        broken = uint64_t{next} + kHeaderSize > scan_.fileSize
                     ? "links past the end of the file, to " + Hex(next)
                 : n != kNone && Deleted(n) ? "links to a deleted block, " + Hex(next)
                                            : "links to " + Hex(next) + ", where no block is";
      }
    }
    if (succ != kNone && (state_[succ] & (kClaimed | kListed)) != 0) {
      broken = (state_[succ] & kClaimed) != 0
                   ? "links to " + Hex(Offset(succ)) + ", a block already taken"
                   : "links to " + Hex(Offset(succ)) + ", the first block of another message";
      succ = kNone;
    }
    // A full block before the index's size is reached is not the last: the chain goes on where
    // a loose tail explains it.
    last = cur;
    if (succ == kNone && expected != 0 && (state_[cur] & kEndsHere) == 0) {
      const TakenLength asLast = LengthToTake(BlockSize(cur), DataLength(cur), ends, capacity_);
      if (!asLast.estimated && asLast.bytes == capacity_ && size + asLast.bytes < expected) {
        const uint32_t t = MendFor(cur, true);
        if (t != kNone) {
          mend = "the index gives the message " + std::to_string(expected) +
                 " bytes, and the chain ends after " + std::to_string(size + asLast.bytes) +
                 " at the block at " + Hex(at) + ", whose link reads " + Hex(next) +
                 "; taken to go on at " + Hex(Offset(t)) + ", the block no other links to";
          mends_[cur] = t;
          state_[cur] |= kMended;
          AddIndegree(t);
          succ = t;
          ends = false;
          broken.clear();
        }
      }
    }

    const TakenLength taken =
        LengthToTake(BlockSize(cur), DataLength(cur), succ == kNone && ends, capacity_);
    uint64_t bytes = taken.bytes;
    if (taken.mended) {
      note(size, 0, at,
           "the block at " + Hex(at) + " gives a data length of " + Hex(DataLength(cur)) +
               (Consistent(cur) ? " but links on, and every block but a message's last is full; "
                                : " and a size of " + Hex(BlockSize(cur)) + ", which disagree; ") +
               (taken.estimated ? "its end is estimated" : std::to_string(bytes) + " bytes taken"));
    }
    if (taken.estimated && expected > size && expected - size <= capacity_) {
      // The index's size gives the end the length word lost.
      bytes = expected - size;
      m.lastBlockBytes = static_cast<uint32_t>(bytes);
      note(size, 0, at,
           "the index gives the message " + std::to_string(expected) + " bytes: the block at " +
               Hex(at) + " gives " + std::to_string(bytes));
    } else if (taken.estimated) {
      m.flags |= PlannedMessage::kEndEstimated;
    }
    const uint64_t dataAt = uint64_t{at} + kHeaderSize;
    if (dataAt + bytes > scan_.fileSize) {
      const uint64_t held = dataAt < scan_.fileSize ? scan_.fileSize - dataAt : 0;
      note(size + held, bytes - held, at,
           "the file ends inside the data of the block at " + Hex(at));
      bytes = held;
    }
    if (size + bytes > scan_.fileSize) {
      // Blocks whose data overlap could add up to more than the file holds.
      note(scan_.fileSize, 0, at, "the message would hold more bytes than the file; it ends here");
      m.flags |= PlannedMessage::kTailMissing;
      size = scan_.fileSize;
      break;
    }
    size += bytes;
    if (!mend.empty()) note(size, 0, at, std::move(mend));
    if (succ == kNone) {
      if (!ends) {
        m.flags |= PlannedMessage::kTailMissing;
        note(size, 0, at,
             "the rest of the message is missing: the block at " + Hex(at) + " " +
                 (broken.empty() ? "links to " + Hex(next) : broken));
      }
      break;
    }
    cur = succ;
  }
  if (size < expected &&
      (m.flags & (PlannedMessage::kTailMissing | PlannedMessage::kEndEstimated)) == 0) {
    m.flags |= PlannedMessage::kTailMissing;
    note(size, expected - size, Offset(last),
         "the index gives the message " + std::to_string(expected) +
             " bytes; its chain ends after " + std::to_string(size) + ", at the block at " +
             Hex(Offset(last)) + ", whose link reads " + Hex(Next(last)));
  }
  m.size = size;
  if (kind == Status::kLive && damaged) m.status = Status::kDamaged;
  if (kind == Status::kOrphan && damaged) m.status = Status::kDamaged;
  ++plan_.counts[static_cast<size_t>(m.status)];
  if (kind == Status::kFragment) {
    if (!keep) {
      ++fragmentsDropped_;
      return;
    }
    ++fragmentsKept_;
  }
  Keep(m, record, damaged);
}

void Reconciler::Keep(PlannedMessage& m, uint32_t record, bool damaged) {
  // A message that is its file's chain from its first block to the link 0, every block but the
  // last full, is known again from its first block and size: its runs are dropped.
  const bool plain = !damaged && m.noteCount == 0 && m.flags == 0 && m.lastBlockBytes == 0 &&
                     m.status != Status::kDeleted && m.size != 0 &&
                     m.blocks == (m.size + capacity_ - 1) / capacity_;
  Slot slot;
  if (plain) {
    plan_.runs.resize(m.runBegin);
    slot =
        PlanMessages::Plain(m.status, m.firstBlock, m.recordOffset, static_cast<uint32_t>(m.size));
  } else {
    slot = PlanMessages::Whole(m.status, static_cast<uint32_t>(whole_.size()));
    whole_.push_back(m);
  }
  if (record != kNone) {
    records_[record].flags = slot.flags;  // its first block and record are the slot's already
    records_[record].size = slot.size;
  } else {
    others_.push_back(slot);
  }
}

void Reconciler::WalkListed() {
  for (uint32_t r : listed_) {
    if (records_[r].flags != kToWalk) continue;  // lost since
    if (Aborted()) return;
    Walk(Resolve(records_[r].firstBlock), Status::kLive, r);
  }
}

void Reconciler::WalkUnlisted() {
  for (uint32_t n = 0; n < entries_; ++n) {
    if (Indegree(n) != 0 || (state_[n] & kClaimed) != 0 || !BlockLike(n)) continue;
    if ((n & 0xFFFF) == 0 && Aborted()) return;
    if (InsideClaimedBlock(n)) continue;
    if (Begins(n)) {
      Walk(n, Status::kOrphan, kNone);
    } else if (Consistent(n) && BlockSize(n) == capacity_) {
      Walk(n, Status::kFragment, kNone);
    }
  }
}

void Reconciler::WalkHeadless() {
  // Blocks that links lead to but that no walk reached: chains that loop with no head, or whose
  // head is no block. Start where a message begins, if anywhere. Each block is looked through
  // once.
  for (uint32_t n = 0; n < entries_; ++n) {
    if ((state_[n] & (kClaimed | kMark)) != 0 || !BlockLike(n) || !Consistent(n)) continue;
    if ((n & 0xFFFF) == 0 && Aborted()) return;
    uint32_t start = n;
    for (uint32_t cur = n; cur != kNone && (state_[cur] & (kClaimed | kMark)) == 0;) {
      state_[cur] |= kMark;
      if (Begins(cur)) {
        start = cur;
        break;
      }
      if ((state_[cur] & (kCut | kEndsHere)) != 0) break;
      cur = (state_[cur] & kMended) != 0 ? mends_.at(cur) : Link(cur);
    }
    if (InsideClaimedBlock(start)) continue;
    if (Begins(start)) {
      Walk(start, Status::kOrphan, kNone);
    } else if (BlockSize(start) == capacity_) {
      Walk(start, Status::kFragment, kNone);
    }
  }
}

void Reconciler::WalkDeleted() {
  // Deleted blocks keep their links to each other; only links between deleted blocks count.
  for (uint32_t n = 0; n < entries_; ++n) {
    if (!Deleted(n) || Next(n) == 0) continue;
    const size_t j = scan_.IndexOf(Next(n));
    if (j < entries_ && Deleted(static_cast<uint32_t>(j))) AddIndegree(static_cast<uint32_t>(j));
  }
  for (uint32_t head = 0; head < entries_; ++head) {
    if (!Deleted(head) || Indegree(head) != 0 || (state_[head] & kClaimed) != 0) continue;
    if ((head & 0xFFFF) == 0 && Aborted()) return;
    const bool message = Begins(head);
    const bool keep = message && options_.deleted;
    PlannedMessage m;
    m.status = Status::kDeleted;
    m.firstBlock = Offset(head);
    m.flags = PlannedMessage::kEndEstimated;
    m.runBegin = static_cast<uint32_t>(plan_.runs.size());
    m.fillBegin = static_cast<uint32_t>(plan_.filled.size());
    uint64_t size = 0, lastAt = 0;
    uint32_t last = head;
    for (uint32_t cur = head;;) {
      state_[cur] |= kClaimed;
      const uint32_t at = Offset(cur);
      last = cur;
      lastAt = size;
      if (keep) {
        AddToRuns(m, at);
        plan_.filled.push_back(ByteRange{size, kDeletedLinkBytes});
        ++m.fillCount;
      }
      ++m.blocks;
      // Every block of a message but the last is full; the last one's length is lost.
      const uint64_t dataAt = uint64_t{at} + kHeaderSize;
      const uint64_t held = std::min<uint64_t>(
          kClientBlockData, dataAt < scan_.fileSize ? scan_.fileSize - dataAt : 0);
      size += held;
      const uint32_t next = Next(cur);
      if (next == 0) break;
      const size_t j = scan_.IndexOf(next);
      const uint32_t succ = static_cast<uint32_t>(j);
      if (held < kClientBlockData || j >= entries_ || !Deleted(succ) ||
          (state_[succ] & kClaimed) != 0) {
        m.flags |= PlannedMessage::kTailMissing;
        if (keep) {
          AddNote(m, size, 0, at,
                  "the rest of the deleted message is gone: the block at " + Hex(at) +
                      " links to " + Hex(next) + ", which " +
                      (held < kClientBlockData ? std::string("the file's end cuts")
                       : j >= entries_         ? std::string("holds no block")
                       : !Deleted(succ)        ? std::string("was reused")
                                               : std::string("another deleted message holds")));
        }
        break;
      }
      cur = succ;
    }
    if (keep && (m.flags & PlannedMessage::kTailMissing) == 0) {
      AddNote(m, lastAt, 0, Offset(last),
              "the deletion lost the last block's length: the message is taken to end at the "
              "block's first zero byte");
    }
    m.size = size;
    if (!message) continue;  // the tail of a deleted message whose head was reused: not mail
    ++plan_.counts[static_cast<size_t>(Status::kDeleted)];
    if (keep) Keep(m, kNone, true);
  }
}

RescuePlan Reconciler::Assemble() {
  // The walks' memory is given back first: the slots in the plan's order are made anew.
  std::vector<uint8_t>().swap(state_);
  std::vector<uint32_t>().swap(multi_);
  std::vector<uint32_t>().swap(broken_);
  const auto firstBlockOf = [&](const Slot& slot) {
    return PlanMessages::IsPlain(slot) ? slot.firstBlock : whole_[slot.flags >> 4].firstBlock;
  };
  const auto exported = [](const Slot& slot) {
    const Status s = PlanMessages::StatusOf(slot);
    return s == Status::kLive || s == Status::kOrphan || s == Status::kDamaged;
  };
  std::vector<uint32_t> othersExported, fragments;
  size_t deleted = 0;
  for (uint32_t k = 0; k < others_.size(); ++k) {
    const Status s = PlanMessages::StatusOf(others_[k]);
    if (exported(others_[k])) othersExported.push_back(k);
    if (s == Status::kFragment) fragments.push_back(k);
    if (s == Status::kDeleted) ++deleted;
  }
  const auto byFirstBlock = [&](uint32_t a, uint32_t b) {
    return firstBlockOf(others_[a]) < firstBlockOf(others_[b]);
  };
  std::sort(othersExported.begin(), othersExported.end(), byFirstBlock);
  std::sort(fragments.begin(), fragments.end(), byFirstBlock);
  std::sort(lateLost_.begin(), lateLost_.end());

  std::vector<Slot> slots;
  slots.reserve(records_.size() + others_.size());
  // Exported: the listed ones (by first block) and the others, merged.
  size_t o = 0;
  for (uint32_t r : listed_) {
    const Slot& slot = records_[r];
    if (!exported(slot)) continue;
    for (;
         o < othersExported.size() && firstBlockOf(others_[othersExported[o]]) < firstBlockOf(slot);
         ++o) {
      slots.push_back(others_[othersExported[o]]);
    }
    slots.push_back(slot);
  }
  for (; o < othersExported.size(); ++o) slots.push_back(others_[othersExported[o]]);
  plan_.exported = slots.size();
  // Headers-only and lost, in the index's order; those found lost while conflicts were weighed
  // after the others, in the order they were found.
  std::vector<uint32_t> late = lateLost_;
  std::sort(late.begin(), late.end());
  for (uint32_t r = 0; r < records_.size(); ++r) {
    const Status s = PlanMessages::StatusOf(records_[r]);
    if (exported(records_[r]) || std::binary_search(late.begin(), late.end(), r)) continue;
    ++plan_.counts[static_cast<size_t>(s)];
    slots.push_back(records_[r]);
  }
  for (uint32_t r : lateLost_) {
    ++plan_.counts[static_cast<size_t>(Status::kLost)];
    slots.push_back(records_[r]);
  }
  for (const Slot& slot : others_) {
    if (PlanMessages::StatusOf(slot) == Status::kDeleted) slots.push_back(slot);
  }
  for (uint32_t k : fragments) slots.push_back(others_[k]);
  plan_.listed = records_.size();
  plan_.messages = PlanMessages(std::move(slots), std::move(whole_), capacity_);
  if (fragmentsDropped_ != 0 && options_.fragments) {
    AddFinding(0, std::to_string(fragmentsDropped_) + " more fragments are counted but not listed");
  }
  return std::move(plan_);
}

bool Reconciler::Run() {
  plan_.fileSize = scan_.fileSize;
  plan_.blockCapacity = capacity_;
  if (scan_.cappedAt != 0) {
    AddFinding(scan_.cappedAt,
               "the file holds more blocks than a mailbox of its size has room for; blocks from " +
                   Hex(scan_.cappedAt) + " on were not looked at");
  }
  if (scan_.exoticDropped != 0) {
    AddFinding(0, std::to_string(scan_.exoticDropped) +
                      " more headers whose lengths are no block's of " + Hex(kClientBlockData) +
                      " bytes were not looked at (too many)");
  }
  if (scan_.probesDropped != 0) {
    AddFinding(0, std::to_string(scan_.probesDropped) +
                      " places that links name were not looked at (too many)");
  }
  state_.assign(nodes_, 0);
  CountIndegrees();
  ReadListing();
  WeighConflicts();
  MendBrokenLinks();
  WalkListed();
  WalkUnlisted();
  WalkHeadless();
  WalkDeleted();
  return !Aborted();
}

}  // namespace

RescuePlan Reconcile(BlockScan scan, std::vector<catalogue::MessageEntry> records,
                     const RescueOptions& options) {
  Reconciler reconciler(scan, records, options);
  if (!reconciler.Run()) return RescuePlan{};
  scan = BlockScan{};  // before the plan's slots are made
  return reconciler.Assemble();
}

RescuePlan Reconcile(const BlockScan& scan, const catalogue::Catalogue& catalogue,
                     const RescueOptions& options) {
  return Reconcile(BlockScan(scan), catalogue.messages, options);
}

}  // namespace quillon::rescue
