#include "engine/block_sources.h"

#include "dbx/block_format.h"

namespace quillon {

namespace {

bool HasUsableLengths(const BlockHeader& h) {
  return h.dataLength <= h.blockSize && h.dataLength != 0 && h.blockSize != 0;
}

}  // namespace

bool WindowedBlockSource::Open(InputFile* file, uint32_t, const std::atomic<bool>* abort) {
  reader_.SetAbortFlag(abort);
  reader_.Attach(file);
  return true;
}

bool WindowedBlockSource::ReadFacts(uint32_t offset, BlockFacts* facts) {
  const uint8_t* bytes = reader_.Peek(offset, kBlockHeaderSize, BlockReader::kLink);
  if (!bytes) return false;
  const BlockHeader h = DecodeBlockHeader(bytes);
  *facts = BlockFacts{h.blockSize,         h.nextOffset, h.selfOffset == offset,
                      HasUsableLengths(h), true,         h.dataLength};
  return true;
}

bool WindowedBlockSource::IsSelfReferencing(uint32_t offset) {
  const uint8_t* bytes = reader_.Peek(offset, 4, BlockReader::kLink);
  return bytes && LoadLE32(bytes) == offset;
}

bool IndexedBlockSource::Open(InputFile* file, uint32_t fileSize, const std::atomic<bool>* abort) {
  windows_->Open(file, fileSize, abort);
  return index_.Build(windows_->reader(), fileSize,
                      fileSize / kIndexBytesPerEntry + kIndexMinEntries);
}

void IndexedBlockSource::Close() {
  index_.Clear();
  windows_->Close();
}

bool IndexedBlockSource::FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) {
  if (from % 4 != 0) return windows_->FindSelfOffset(from, need, found);
  const BlockIndex::Entry* e = index_.FirstFrom(from);
  // Only the last 15 bytes of the file hold positions whose header cannot be read whole.
  if (e == nullptr || (need > 4 && !(e->tagged & BlockIndex::kHeaderReadable))) return false;
  *found = BlockIndex::OffsetOf(*e);
  return true;
}

bool IndexedBlockSource::FindBlock(uint32_t from, uint32_t* found, BlockFacts* facts) {
  if (from % 4 != 0) return windows_->FindBlock(from, found, facts);
  const BlockIndex::Entry* e = index_.FirstFrom(from);
  if (e == nullptr || !(e->tagged & BlockIndex::kHeaderReadable)) return false;
  *found = BlockIndex::OffsetOf(*e);
  *facts = BlockFacts{e->blockSize, e->next, true, (e->tagged & BlockIndex::kUsableLengths) != 0,
                      false,        0};
  return true;
}

bool IndexedBlockSource::ReadFacts(uint32_t offset, BlockFacts* facts) {
  if (offset % 4 != 0) return windows_->ReadFacts(offset, facts);
  if (offset >= kReadableLimit) return false;
  if (const BlockIndex::Entry* e = index_.Find(offset)) {
    if (!(e->tagged & BlockIndex::kHeaderReadable)) return false;
    *facts = BlockFacts{e->blockSize, e->next, true, (e->tagged & BlockIndex::kUsableLengths) != 0,
                        false,        0};
    return true;
  }
  // Not a block of its own; only whether its header can be read matters.
  if (uint64_t{offset} + kBlockHeaderSize > index_.FileEnd()) return false;
  *facts = BlockFacts{0, 0, false, false, false, 0};
  return true;
}

bool IndexedBlockSource::IsSelfReferencing(uint32_t offset) {
  if (offset % 4 != 0) return windows_->IsSelfReferencing(offset);
  return offset < kReadableLimit && index_.Find(offset) != nullptr;
}

}  // namespace quillon
