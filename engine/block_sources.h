// The engine's two ways of reading a mailbox file. The index serves the search and the walks from
// memory and is the one used whenever it can be built; the read windows serve everything else:
// copying, positions off the index's 4-byte grid, and files too dense to index.
#ifndef QUILLON_ENGINE_BLOCK_SOURCES_H_
#define QUILLON_ENGINE_BLOCK_SOURCES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/block_index.h"
#include "engine/block_reader.h"
#include "engine/block_source.h"

namespace quillon {

// Every test through the windows of a BlockReader: the search through its scan window, the
// successor tests and the walks through its link window, copying through its copy windows.
class WindowedBlockSource final : public BlockSource {
 public:
  bool Open(InputFile* file, uint32_t fileSize, const std::atomic<bool>* abort) override;
  void Close() override { reader_.Release(); }

  bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) override {
    return reader_.FindSelfOffset(from, need, found);
  }
  bool ReadFacts(uint32_t offset, BlockFacts* facts) override;
  bool IsSelfReferencing(uint32_t offset) override;
  const uint8_t* PeekForCopy(uint32_t offset, uint32_t size, bool firstBlock) override {
    return reader_.Peek(offset, size, firstBlock ? BlockReader::kCopy : BlockReader::kCopyNext);
  }
  bool ReadExact(uint64_t offset, void* buffer, size_t size) override {
    return reader_.ReadExact(offset, buffer, size);
  }

  BlockReader* reader() { return &reader_; }

 private:
  BlockReader reader_;
};

// The search and the walks on a BlockIndex of the file; positions off its 4-byte grid (rare:
// only a block size that is not a multiple of 4 leads the search there) and copying through
// `windows`.
class IndexedBlockSource final : public BlockSource {
 public:
  // The index holds at most one entry per this many bytes of the file (real folders have one per
  // 500 or so) plus kIndexMinEntries.
  static constexpr uint32_t kIndexBytesPerEntry = 256;
  static constexpr uint32_t kIndexMinEntries = 1u << 16;

  // `windows` (not owned) must outlive this source.
  explicit IndexedBlockSource(WindowedBlockSource* windows) : windows_(windows) {}

  // Opens `windows` on the file and indexes the file through them in one pass. False, with the
  // index empty and `windows` left open, when the file holds more self-referencing words than
  // the cap or a stop was requested.
  bool Open(InputFile* file, uint32_t fileSize, const std::atomic<bool>* abort) override;
  void EndSearch() override { index_.Clear(); }
  void Close() override;

  bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) override;
  bool ReadFacts(uint32_t offset, BlockFacts* facts) override;
  bool FindBlock(uint32_t from, uint32_t* found, BlockFacts* facts) override;
  bool IsSelfReferencing(uint32_t offset) override;
  const uint8_t* PeekForCopy(uint32_t offset, uint32_t size, bool firstBlock) override {
    return windows_->PeekForCopy(offset, size, firstBlock);
  }
  bool ReadExact(uint64_t offset, void* buffer, size_t size) override {
    return windows_->ReadExact(offset, buffer, size);
  }

  // Empty (inactive) whenever this source is not the one in use.
  const BlockIndex* index() const { return &index_; }

 private:
  WindowedBlockSource* windows_;
  BlockIndex index_;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_BLOCK_SOURCES_H_
