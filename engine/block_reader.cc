#include "engine/block_reader.h"

#include <algorithm>
#include <string>

#include "dbx/block_format.h"

namespace quillon {

BlockReader::BlockReader() = default;

void BlockReader::Attach(InputFile* file) {
  file_ = file;
  for (Buffer& b : buffers_) {
    b.start = 0;
    b.valid = 0;
    b.endsFile = false;
  }
  linkMisses_ = pageFills_ = pageHits_ = 0;
  linkProbes_ = false;
}

void BlockReader::Release() {
  Attach(nullptr);
  for (Buffer& b : buffers_) std::vector<uint8_t>().swap(b.bytes);
}

bool BlockReader::KnownToEndBefore(uint64_t end) const {
  for (const Buffer& b : buffers_) {
    if (b.endsFile && end > b.start + b.valid) return true;
  }
  return false;
}

void BlockReader::Fill(Buffer* b, size_t capacity, uint64_t offset) {
  if (b->bytes.size() < capacity) b->bytes.resize(capacity);
  b->start = offset;
  b->hits = 0;
  // A failed read keeps what arrived before the failure; the file's owner sees the failure.
  std::string error;
  b->valid = 0;
  if (file_) file_->ReadAt(offset, b->bytes.data(), capacity, &b->valid, &error);
  // A file that grew between reads may hand back more than asked of a misbehaving reader; never
  // trust a count beyond the buffer.
  b->valid = std::min(b->valid, capacity);
  b->endsFile = b->valid < capacity;
}

BlockReader::Buffer* BlockReader::Choose(uint32_t offset, uint32_t size, Window window,
                                         size_t* capacity, size_t* margin) {
  // Chains in a compacted folder jump back and forth within a segment or two: a window starts a
  // quarter of its size before the offset, so a jump back is served as well as one forward.
  if (window == kScan) {
    *capacity = kScanWindowSize;
    *margin = kScanWindowSize / 4;
    return &buffers_[kSweep];
  }
  if (window != kLink) {
    const Buffer& sweep = buffers_[kSweep];
    const Buffer& aside = buffers_[kAside];
    const bool behind = sweep.valid != 0 && offset < sweep.start;
    // A message that began before a long one ended lies a little before the sweep: it gets a
    // window aside, so the sweep's is still there when copying returns to it.
    if (behind && sweep.start - offset <= 2 * kCopyWindowSize && size <= kAsideWindowSize &&
        (window == kCopy || aside.hits >= kEarned)) {
      *capacity = kAsideWindowSize;
      *margin = kAsideWindowSize / 2;
      return &buffers_[kAside];
    }
    // The blocks of neighbouring messages interleave over some tens of KiB: a later block just
    // past the sweep moves it on, once the sweep has served enough reads to be worth a window.
    const bool near = !behind && offset < sweep.start + sweep.valid + kCopyWindowSize;
    if (window == kCopy || (near && sweep.hits >= kEarned)) {
      *capacity = kCopyWindowSize;
      *margin = kCopyWindowSize / 8;
      return &buffers_[kSweep];
    }
    if (size > kPageSize) {
      *capacity = size;
      *margin = 0;
      return &buffers_[kAside];
    }
  }
  if (window == kLink && size <= kLinkProbeSize && ProbeLinkMiss()) {
    *capacity = kLinkProbeSize;
    *margin = 0;
    return &buffers_[kProbe];
  }
  ++pageFills_;
  size_t oldest = 0;
  for (size_t i = 1; i < kPages; ++i) {
    if (pageUse_[i] < pageUse_[oldest]) oldest = i;
  }
  pageUse_[oldest] = ++uses_;
  *capacity = kPageSize;
  *margin = kPageSize / 4;
  return &buffers_[kFirstPage + oldest];
}

bool BlockReader::ProbeLinkMiss() {
  if (++linkMisses_ == kLinkEpoch) {
    // A page read costs about half again a header's read: pages pay when each serves a read or
    // so besides the one that filled it.
    linkProbes_ = 2 * pageHits_ < pageFills_;
    linkMisses_ = pageFills_ = pageHits_ = 0;
  }
  return linkProbes_ && linkMisses_ % kLinkSample != 0;
}

const uint8_t* BlockReader::Peek(uint32_t offset, uint32_t size, Window window) {
  if (offset >= kReadableLimit) return nullptr;
  for (size_t i = 0; i < kFirstPage + kPages; ++i) {
    Buffer& b = buffers_[i];
    if (Holds(b, offset, size)) {
      ++b.hits;
      if (i >= kFirstPage) {
        pageUse_[i - kFirstPage] = ++uses_;
        ++pageHits_;
      }
      return b.bytes.data() + (offset - b.start);
    }
  }
  if (KnownToEndBefore(uint64_t{offset} + size)) return nullptr;
  size_t capacity = 0, margin = 0;
  Buffer* b = Choose(offset, size, window, &capacity, &margin);
  const uint64_t back = std::min<uint64_t>({offset, margin, capacity - size});
  Fill(b, capacity, offset - back);
  if (!Holds(*b, offset, size)) return nullptr;
  return b->bytes.data() + back;
}

bool BlockReader::FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) {
  uint64_t q = from;
  Buffer& b = buffers_[kSweep];
  for (;;) {
    if (q >= kReadableLimit) return false;
    if (!Holds(b, q, need)) {
      // Checked once a window, so a stop request ends even a search through 2 GiB promptly.
      if (Aborted() || KnownToEndBefore(q + need)) return false;
      Fill(&b, kScanWindowSize, q);
      if (!Holds(b, q, need)) return false;
    }
    // Every q up to `last` has `need` bytes in the window; all of them are below 2^31 + 4.
    const uint32_t last =
        static_cast<uint32_t>(std::min<uint64_t>(b.start + b.valid - need, kReadableLimit - 1));
    const uint32_t pos = FindSelfWord(b.bytes.data(), b.start, static_cast<uint32_t>(q), last);
    if (pos <= last) {
      *found = pos;
      return true;
    }
    q = pos;
  }
}

const uint8_t* BlockReader::ReadScanWindow(uint64_t offset, size_t* valid) {
  if (Aborted()) return nullptr;
  Buffer& b = buffers_[kSweep];
  Fill(&b, kScanWindowSize, offset);
  *valid = b.valid;
  return b.bytes.data();
}

bool BlockReader::ReadExact(uint64_t offset, void* buffer, size_t size) {
  size_t got = 0;
  std::string error;
  return file_ && file_->ReadAt(offset, buffer, size, &got, &error) && got == size;
}

}  // namespace quillon
