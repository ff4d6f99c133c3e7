#include "rescue/block_scan.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "dbx/block_format.h"

namespace quillon::rescue {
namespace {

// A field name is at most this long in practice (RFC 5322 lines hold 78 characters).
constexpr size_t kMaxFieldName = 76;

bool IsFieldNameChar(uint8_t c) { return c >= 33 && c <= 126 && c != ':'; }

// The block sizes that usable headers give, to find the one the file's writer used.
class CapacityTally {
 public:
  void Add(uint32_t blockSize) {
    if (blockSize == kClientBlockData) {
      ++client_;
      return;
    }
    for (Slot& s : others_) {
      if (s.count != 0 && s.size == blockSize) {
        ++s.count;
        return;
      }
    }
    for (Slot& s : others_) {
      if (s.count == 0) {
        s = Slot{blockSize, 1};
        return;
      }
    }
    // More distinct sizes than slots: not a file of blocks worth telling apart.
  }
  uint32_t Commonest() const {
    uint32_t best = client_ != 0 ? kClientBlockData : 0;
    uint64_t bestCount = client_;
    for (const Slot& s : others_) {
      if (s.count > bestCount) best = s.size, bestCount = s.count;
    }
    return best;
  }

 private:
  struct Slot {
    uint32_t size = 0;
    uint64_t count = 0;
  };
  uint64_t client_ = 0;
  Slot others_[8];
};

}  // namespace

bool BeginsLikeHeaderField(const uint8_t* bytes, size_t size) {
  // Most blocks hold text or base64 without a colon near their start: look for the colon first.
  const void* colon = std::memchr(bytes, ':', std::min(size, kMaxFieldName + 1));
  if (colon == nullptr) return false;
  const size_t name = static_cast<const uint8_t*>(colon) - bytes;
  if (name == 0) return false;
  for (size_t i = 0; i < name; ++i) {
    if (!IsFieldNameChar(bytes[i])) return false;
  }
  return true;
}

bool DeletedBeginsLikeHeader(const uint8_t* bytes, size_t size) {
  if (size <= kDeletedLinkBytes) return false;
  const uint8_t* p = bytes + kDeletedLinkBytes;
  const size_t n = std::min<size_t>(size - kDeletedLinkBytes, kSignBytes);
  // The rest of the first field's name, then its colon ("ived:" of "Received:", ": " of
  // "From: ").
  if (p[0] == ':' || BeginsLikeHeaderField(p, n)) return true;
  // A name of at most four characters ("To: ") was lost whole: the rest of its line is printable
  // text, and the next line is a header field or the folded continuation of one.
  size_t end = 0;
  while (end + 1 < n && !(p[end] == '\r' && p[end + 1] == '\n')) {
    if (p[end] < 32 && p[end] != '\t') return false;
    ++end;
  }
  if (end + 1 >= n) return false;
  const uint8_t* line = p + end + 2;
  const size_t left = n - end - 2;
  return (left > 0 && (line[0] == ' ' || line[0] == '\t')) || BeginsLikeHeaderField(line, left);
}

size_t BlockScan::IndexOf(uint32_t offset) const {
  const size_t bucket = offset >> kBucketShift;
  if (bucket + 1 >= firstInBucket.size()) return entries.size();
  for (uint32_t i = firstInBucket[bucket], stop = firstInBucket[bucket + 1]; i != stop; ++i) {
    const uint32_t at = entries.Offset(i);
    if (at == offset) return i;
    if (at > offset) break;
  }
  return entries.size();
}

const ProbedHeader* BlockScan::FindProbed(uint32_t offset) const {
  const auto it =
      std::lower_bound(probed.begin(), probed.end(), offset,
                       [](const ProbedHeader& p, uint32_t value) { return p.offset < value; });
  return it != probed.end() && it->offset == offset ? &*it : nullptr;
}

namespace {

void Fail(const MailboxFile& file, BlockScan* scan) { scan->error = file.error(); }

void BuildBuckets(BlockScan* scan) {
  const size_t buckets = (size_t{scan->fileSize} >> BlockScan::kBucketShift) + 2;
  const uint32_t n = static_cast<uint32_t>(scan->entries.size());
  scan->firstInBucket.assign(buckets, n);
  for (uint32_t i = n; i-- > 0;) {
    scan->firstInBucket[scan->entries.Offset(i) >> BlockScan::kBucketShift] = i;
  }
  // A bucket without entries starts where the next one does.
  for (size_t b = buckets - 1; b-- > 0;) {
    scan->firstInBucket[b] = std::min(scan->firstInBucket[b], scan->firstInBucket[b + 1]);
  }
}

// Reads the headers at `wanted` offsets that hold no self-naming word, for the later stages to
// judge.
void Probe(MailboxFile& file, std::vector<uint32_t> wanted, BlockScan* scan) {
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  for (uint32_t at : wanted) {
    if (!file.Holds(at, kHeaderSize) || scan->Has(at)) continue;
    const uint32_t length =
        static_cast<uint32_t>(std::min<uint64_t>(kHeaderSize + kSignBytes, file.size() - at));
    const uint8_t* bytes = file.View(at, length);
    if (bytes == nullptr) {
      Fail(file, scan);
      return;
    }
    const BlockHeader h = DecodeBlockHeader(bytes);
    if (h.selfOffset == at) {
      // A header that names itself here and that the scan passed over as no block's (a record, a
      // node) is noted, so that what names it is judged on it; one the scan would have kept is
      // missing only past its cap (or the file changed), and is left alone.
      const ScanEntry e{at | ScanEntry::kReadable, h.blockSize, h.dataLength, h.nextOffset};
      if ((at & 3) != 0 || e.deletedPattern() || e.blockLike(kClientBlockData)) continue;
    }
    ProbedHeader p{at, h.selfOffset, h.blockSize, h.dataLength, h.nextOffset, false};
    const uint32_t data = length - kHeaderSize;
    const bool consistent = h.dataLength != 0 && h.dataLength <= h.blockSize;
    p.beginsLikeHeader = BeginsLikeHeaderField(
        bytes + kHeaderSize, std::min<uint32_t>(data, consistent ? h.dataLength : data));
    scan->probed.push_back(p);
  }
  file.ReleaseWindows();
}

}  // namespace

namespace {

// Where a pass over a range of positions ended.
// The whole-file pass read at once in at most this many segments, each with room for this many
// entries beyond one per 0x200 bytes.
constexpr uint64_t kMaxSegments = 8;
constexpr size_t kSegmentMargin = 256;

struct RangeEnd {
  uint32_t noRoom = 0;  // the position whose entry found no room; 0 when every one did
  bool failed = false;  // a read failed: the file's error says why
};

// Notes the self-naming words at the 4-aligned positions from `at` up to `to` (exclusive), in
// windows of `windowSize` bytes read from `at` on (those of a pass from 0 are the whole-file
// pass's windows). Each entry goes to put(entry), which answers false when it has no room.
// An entry depends only on the file's bytes at and after its position, so passes over
// neighbouring ranges together note what one pass over both would.
template <typename Put>
RangeEnd ScanRange(MailboxFile& file, uint64_t at, uint64_t to, uint8_t* window, size_t windowSize,
                   Put put) {
  RangeEnd result;
  const uint64_t fileSize = file.size();
  while (at + 4 <= fileSize && at < to) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(windowSize, fileSize - at));
    if (!file.Read(at, window, length)) {
      result.failed = true;
      return result;
    }
    const uint64_t end = at + length;
    const bool last = end == fileSize;
    // Positions whose header and signs this window holds whole; at the end of the file, every
    // position with its word.
    const uint64_t margin = last ? 4 : kHeaderSize + kSignBytes;
    if (end < at + margin) break;
    const uint32_t lastPos = static_cast<uint32_t>(end - margin);
    const uint32_t stop = static_cast<uint32_t>(std::min<uint64_t>(lastPos, to - 4));
    for (uint32_t q = static_cast<uint32_t>(at);;) {
      q = FindSelfWord(window, at, q, stop);
      if (q > stop) break;
      // Only what may be a block is kept: a header that lies whole in the file and could be a
      // live block's (ScanEntry::blockLike) or a deleted one's. Indexed records, tree nodes and
      // other structures name themselves too, as often as blocks in a folder of short messages.
      if (uint64_t{q} + kHeaderSize <= end) {
        const BlockHeader h = DecodeBlockHeader(window + (q - at));
        ScanEntry e{q | ScanEntry::kReadable, h.blockSize, h.dataLength, h.nextOffset};
        if (e.deletedPattern() || e.blockLike(kClientBlockData)) {
          const uint8_t* data = window + (q - at) + kHeaderSize;
          const size_t held = static_cast<size_t>(std::min<uint64_t>(kSignBytes, end - q - 16));
          const bool begins =
              e.deletedPattern()
                  ? DeletedBeginsLikeHeader(data, held)
                  : BeginsLikeHeaderField(
                        data, e.consistent() ? std::min<size_t>(held, e.dataLength) : held);
          if (begins) e.tagged |= ScanEntry::kBeginsLikeHeader;
          if (!put(e)) {
            result.noRoom = q;
            return result;
          }
        }
      }
      if (q >= stop) break;
      q += 4;
    }
    if (last) break;
    at = uint64_t{lastPos} + 4;
  }
  return result;
}

}  // namespace

// Writes the scan's entries in their packed form (ScanEntries): in place, into parts of the array
// set aside for each segment, or at its end.
class ScanBuilder {
 public:
  using Packed = ScanEntries::Packed;
  using Exotic = ScanEntries::Exotic;

  // The packed form of `e`; false for an exotic one, whose word the caller sets.
  static bool Pack(const ScanEntry& e, Packed* p) {
    p->tagged = e.tagged & ~ScanEntry::kReadable;  // every kept entry is readable
    const bool aligned = (e.next & 3) == 0;
    if (e.blockSize == kClientBlockData && e.dataLength == kClientBlockData && aligned) {
      p->word = e.next | ScanEntries::kFull;
    } else if (e.blockSize == kClientBlockData && e.next == 0 && e.dataLength < (1u << 30)) {
      p->word = e.dataLength << 2 | ScanEntries::kLast;
    } else if (e.deletedPattern() && aligned) {
      p->word = e.next | ScanEntries::kDeleted;
    } else {
      return false;
    }
    return true;
  }
  static uint32_t ExoticWord(size_t index) {
    return static_cast<uint32_t>(index) << 2 | ScanEntries::kExotic;
  }
  static Exotic ExoticOf(const ScanEntry& e, size_t entry) {
    return Exotic{static_cast<uint32_t>(entry), e.blockSize, e.dataLength, e.next};
  }
  static LargeVector<Packed>& Packed_(ScanEntries& entries) { return entries.packed_; }
  static std::vector<Exotic>& Exotic_(ScanEntries& entries) { return entries.exotic_; }
};

BlockScan ScanPass(InputFile* input, const ScanOptions& options) {
  MailboxFile file(input, options.abort);
  BlockScan scan;
  scan.fileSize = file.size();
  const uint64_t cap =
      uint64_t{scan.fileSize} / std::max<uint32_t>(options.bytesPerEntry, 1) + options.minEntries;
  // Room up front for as many entries as a mailbox of this size holds (its blocks and a few
  // records and nodes), so a real file's array never moves and never holds two copies at once;
  // with the usual options that is the cap itself, so neither does a file that reaches it.
  const size_t room =
      static_cast<size_t>(std::min<uint64_t>(cap, scan.fileSize / 0x200 + options.minEntries));
  const uint64_t exoticCap =
      uint64_t{scan.fileSize} / std::max<uint32_t>(options.bytesPerExotic, 1) + options.minExotic;
  using Packed = ScanBuilder::Packed;
  using Exotic = ScanBuilder::Exotic;
  LargeVector<Packed>& packed = ScanBuilder::Packed_(scan.entries);
  std::vector<Exotic>& exotic = ScanBuilder::Exotic_(scan.entries);
  packed.reserve(room);

  // The pieces overlap by a header and its signs.
  const size_t windowSize = std::min<size_t>(
      std::max<size_t>(options.windowBytes, 4 * (kHeaderSize + kSignBytes)) & ~size_t{3},
      scan.fileSize);
  std::unique_ptr<uint8_t[]> window(new uint8_t[windowSize]);  // not zeroed: reads fill it
  // Where the whole-file pass resumes: after the segments read at once, or from the start.
  uint64_t from = 0;
  // Where each window of the whole-file pass starts: a multiple of this.
  const size_t step = windowSize - (kHeaderSize + kSignBytes) + 4;
  // The whole-file pass below goes through a file of its own when the segments came first: a
  // thread's file fails every read after its first failure.
  std::unique_ptr<MailboxFile> rest;
  // A file of fewer than eight windows is read in one pass (in a file smaller than a window the
  // step may be nothing at all).
  if (options.threads >= 2 && scan.fileSize >= options.parallelBytes &&
      scan.fileSize >= 8 * windowSize) {
    const uint64_t steps = scan.fileSize / step;
    // Segments taken in turn by two threads, each split where a window of the whole-file pass
    // starts, so that each reads the very windows that pass reads (and fails where it would).
    // Each goes into its own part of the array, room for one entry per 0x200 bytes and a
    // margin, moved down beside the others afterwards. The first segment in the file's order
    // that failed, ran out of room or was never read ends what is kept of them; the whole-file
    // pass takes up from there, and then notes, caps and fails as it would have alone.
    const size_t count = static_cast<size_t>(std::min<uint64_t>(steps / 4, kMaxSegments));
    std::vector<uint32_t> bounds(count + 1);
    std::vector<size_t> regions(count + 1);
    for (size_t i = 0; i < count; ++i) {
      bounds[i] = static_cast<uint32_t>(steps * i / count * step);
      regions[i] = std::min<size_t>(room, bounds[i] / 0x200 + kSegmentMargin * i);
    }
    bounds[count] = scan.fileSize;
    regions[count] = room;
    packed.resize(room);
    Packed* entries = packed.data();
    struct Segment {
      size_t count = 0;
      std::vector<Exotic> exotic;  // their entries counted from the segment's first
      RangeEnd end;
      bool done = false;
      ReadError error;
    };
    // A segment's share of the exotic entries; one with more ends there, and the whole-file pass
    // takes them in turn as it would alone.
    const size_t exoticRoom = static_cast<size_t>(exoticCap / count);
    std::vector<Segment> segments(count);
    std::atomic<size_t> next{0};
    const auto work = [&](MailboxFile& reader, uint8_t* buffer) {
      for (size_t i; (i = next.fetch_add(1)) < count;) {
        Segment& segment = segments[i];
        segment.end = ScanRange(
            reader, bounds[i], bounds[i + 1], buffer, windowSize, [&](const ScanEntry& e) {
              if (regions[i] + segment.count == regions[i + 1]) return false;
              Packed& p = entries[regions[i] + segment.count];
              if (!ScanBuilder::Pack(e, &p)) {
                if (segment.exotic.size() == exoticRoom) return false;
                p.word = ScanBuilder::ExoticWord(segment.exotic.size());  // made global below
                segment.exotic.push_back(ScanBuilder::ExoticOf(e, segment.count));
              }
              ++segment.count;
              return true;
            });
        segment.done = true;
        if (segment.end.failed) {
          segment.error = reader.error();
          return;
        }
      }
    };
    {
      MailboxFile other(input, options.abort, scan.fileSize);
      std::unique_ptr<uint8_t[]> otherWindow(new uint8_t[windowSize]);
      std::thread helper([&] { work(other, otherWindow.get()); });
      if (options.beside && !options.beside()) {
        next = count;  // no segment more
        helper.join();
        packed.clear();
        return scan;
      }
      work(file, window.get());
      helper.join();
    }
    size_t kept = 0;
    from = scan.fileSize;
    for (size_t i = 0; i < count; ++i) {
      const Segment& segment = segments[i];
      if (!segment.done) {
        from = bounds[i];
        break;
      }
      if (segment.end.failed) {
        packed.clear();
        exotic.clear();
        scan.error = segment.error;
        return scan;
      }
      std::memmove(entries + kept, entries + regions[i], segment.count * sizeof(Packed));
      for (Exotic x : segment.exotic) {
        x.entry += static_cast<uint32_t>(kept);
        entries[x.entry].word = ScanBuilder::ExoticWord(exotic.size());
        exotic.push_back(x);
      }
      kept += segment.count;
      if (segment.end.noRoom != 0) {
        from = segment.end.noRoom;
        break;
      }
    }
    packed.resize(kept);
    // The segments' parts were spread over the array: what lies past the entries moved down is
    // given back (the whole-file pass writes it again if it goes on).
    if (packed.capacity() * sizeof(Packed) >= kLargeBytes) {
      DiscardLarge(entries + kept, (room - kept) * sizeof(Packed));
    }
    rest = std::make_unique<MailboxFile>(input, options.abort, scan.fileSize);
  } else if (options.beside && !options.beside()) {
    return scan;
  }
  MailboxFile& reader = rest ? *rest : file;
  const RangeEnd end =
      ScanRange(reader, from, scan.fileSize, window.get(), windowSize, [&](const ScanEntry& e) {
        if (packed.size() == cap) return false;
        Packed p;
        if (!ScanBuilder::Pack(e, &p)) {
          if (exotic.size() == exoticCap) {
            ++scan.exoticDropped;
            return true;
          }
          p.word = ScanBuilder::ExoticWord(exotic.size());
          exotic.push_back(ScanBuilder::ExoticOf(e, packed.size()));
        }
        packed.push_back(p);
        return true;
      });
  if (end.failed) {
    Fail(reader, &scan);
    return scan;
  }
  scan.cappedAt = end.noRoom;
  CapacityTally capacities;
  for (size_t i = 0; i < scan.entries.size(); ++i) {
    const uint32_t length = scan.entries.DataLength(i);
    const uint32_t size = scan.entries.BlockSize(i);
    if (!scan.entries.Deleted(i) && length != 0 && length <= size) capacities.Add(size);
  }
  window.reset();
  scan.blockCapacity = capacities.Commonest();
  BuildBuckets(&scan);
  return scan;
}

void ProbeScanned(InputFile* input, const std::vector<uint32_t>& wanted, const ScanOptions& options,
                  BlockScan* scanned) {
  BlockScan& scan = *scanned;
  MailboxFile file(input, options.abort, scan.fileSize);
  // Offsets that should hold a block but hold no self-naming word: the listed first blocks, and
  // the targets of links from headers that look like a block's.
  std::vector<uint32_t> probes;
  for (uint32_t at : wanted) {
    if (at == 0 || scan.Has(at)) continue;
    if (probes.size() < options.maxProbes) {
      probes.push_back(at);
    } else {
      ++scan.probesDropped;
    }
  }
  const uint32_t capacity = scan.blockCapacity != 0 ? scan.blockCapacity : kClientBlockData;
  for (size_t i = 0; i < scan.entries.size(); ++i) {
    const uint32_t next = scan.entries.Next(i);
    if (next == 0) continue;
    // Blocks written one after another link to the next entry.
    if (i + 1 < scan.entries.size() && scan.entries.Offset(i + 1) == next) continue;
    if (!scan.entries[i].blockLike(capacity)) continue;
    if (uint64_t{next} + kHeaderSize <= scan.fileSize && !scan.Has(next)) {
      if (probes.size() < options.maxProbes) {
        probes.push_back(next);
      } else {
        ++scan.probesDropped;
      }
    }
  }
  file.SetWindowSize(options.windowBytes);
  Probe(file, std::move(probes), &scan);
}

BlockScan ScanBlocks(InputFile* input, const std::vector<uint32_t>& wanted,
                     const ScanOptions& options) {
  BlockScan scan = ScanPass(input, options);
  if (scan.error.failure == ReadFailure::kNone) ProbeScanned(input, wanted, options, &scan);
  return scan;
}

}  // namespace quillon::rescue
