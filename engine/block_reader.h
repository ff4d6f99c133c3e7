// Reads a mailbox file through window buffers, so the engine's many 4- and 16-byte tests cost
// a memory access instead of a system call each. A window holds what one positioned read returned;
// on a file that does not change, every answer is the one a positioned read would give. When the
// file changes underneath, answers may mix old and new bytes, but nothing reads outside a buffer.
#ifndef QUILLON_ENGINE_BLOCK_READER_H_
#define QUILLON_ENGINE_BLOCK_READER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/file_io.h"

namespace quillon {

class BlockReader {
 public:
  // kScan follows the forward search through the file; kLink serves the reads that jump
  // elsewhere (successor tests, chain walks) from a few small pages, so a jump does not throw the
  // scan window away and walks that keep returning to a few places find them still there.
  // kCopy and kCopyNext serve the copying of messages, which sweeps forward through the file in
  // the order of their first blocks (kCopy; a message's other blocks are kCopyNext). A miss behind
  // the sweep (a short message that began before a long one ended) fills a window aside, so the
  // sweep's window is still there when copying returns to it; a first block ahead moves the
  // sweep's window (the scan window) on. A later block moves a window only when the window it
  // replaces has served kEarned reads; otherwise, or far from the sweep, it is read on its own
  // (into a page, or just its bytes aside). So blocks that hop about the file cost a small read
  // each, never a window each. Link pages that stop paying (blocks linked at random across a file
  // too dense to index) give way to reads of just a header: every kLinkEpoch misses the pages'
  // hits decide, and while they are off one miss in kLinkSample still fills a page, so a walk that
  // becomes local again brings them back.
  enum Window { kScan, kLink, kCopy, kCopyNext };

  static constexpr size_t kScanWindowSize = size_t{256} << 10;
  static constexpr size_t kPageSize = size_t{4} << 10;
  static constexpr size_t kPages = 16;
  static constexpr size_t kCopyWindowSize = size_t{2} << 20;
  static constexpr size_t kAsideWindowSize = size_t{256} << 10;
  static constexpr uint32_t kEarned = 512;
  static constexpr uint32_t kLinkEpoch = 1024;
  static constexpr uint32_t kLinkSample = 16;
  // What a link miss reads while the pages are off: a block header.
  static constexpr size_t kLinkProbeSize = 16;

  BlockReader();

  // Starts reading `file` (not owned; null detaches) and forgets every buffered byte. The
  // windows' memory is allocated on first use and kept until Release.
  void Attach(InputFile* file);
  // Detaches and frees the windows.
  void Release();

  // FindSelfOffset gives up (returns false) once *abort is true; null never aborts.
  void SetAbortFlag(const std::atomic<bool>* abort) { abort_ = abort; }

  // The `size` bytes at `offset`, or null when they cannot all be read: the offset is 2^31 or
  // more, or the file ends first. `size` is at most kPageSize for kLink, kScanWindowSize
  // otherwise. A miss refills a window as `window` says.
  // The pointer stays valid until the next call.
  const uint8_t* Peek(uint32_t offset, uint32_t size, Window window);

  // Looks for a chain candidate: the first position q = from + 4k whose four bytes hold q itself,
  // such that `need` bytes can be read at q. Stops at the first q at which they cannot: returns
  // false there. `need` is 4 or 16.
  bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found);

  // Fills the scan window with the bytes at `offset` and returns them, *valid saying how many
  // arrived (fewer than kScanWindowSize at the end of the file). Null when a stop was
  // requested. For one sequential pass over the file.
  const uint8_t* ReadScanWindow(uint64_t offset, size_t* valid);

  // Reads exactly `size` bytes at `offset` straight from the file (no window), for data larger
  // than a window. Unlike Peek the offset is 64-bit and not limited: the caller checks the start.
  bool ReadExact(uint64_t offset, void* buffer, size_t size);

 private:
  struct Buffer {
    std::vector<uint8_t> bytes;
    uint64_t start = 0;
    size_t valid = 0;       // bytes of `bytes` that the last read delivered
    bool endsFile = false;  // that read came back short: the file ends at start + valid
    uint32_t hits = 0;      // reads served since that read
  };

  // True when [offset, offset + size) lies in the buffer.
  static bool Holds(const Buffer& b, uint64_t offset, uint64_t size) {
    return offset >= b.start && offset + size <= b.start + b.valid;
  }
  // True when a buffer has seen the end of the file before offset + size.
  bool KnownToEndBefore(uint64_t end) const;
  void Fill(Buffer* b, size_t capacity, uint64_t offset);
  // Where a miss of `size` bytes at `offset` for `window` reads: the buffer, how much and how far
  // before.
  Buffer* Choose(uint32_t offset, uint32_t size, Window window, size_t* capacity, size_t* margin);
  bool Aborted() const { return abort_ && abort_->load(std::memory_order_relaxed); }

  InputFile* file_ = nullptr;
  const std::atomic<bool>* abort_ = nullptr;

  // Counts a link miss; true when it should read just the header rather than fill a page.
  bool ProbeLinkMiss();

  // The scan window (the copy's sweep too), the window aside, a header's bytes, the pages.
  static constexpr size_t kSweep = 0, kAside = 1, kProbe = 2, kFirstPage = 3;
  Buffer buffers_[kFirstPage + kPages];
  uint64_t pageUse_[kPages] = {};  // when each page last served a read, for replacing the oldest
  uint64_t uses_ = 0;
  // This epoch's link misses, the pages they filled and the reads pages served.
  uint32_t linkMisses_ = 0, pageFills_ = 0, pageHits_ = 0;
  bool linkProbes_ = false;  // link misses read just the header
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_BLOCK_READER_H_
