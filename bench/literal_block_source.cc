#include "bench/literal_block_source.h"

#include <string>

#include "dbx/block_format.h"

namespace quillon {

bool LiteralBlockSource::Open(InputFile* file, uint32_t, const std::atomic<bool>* abort) {
  file_ = file;
  abort_ = abort;
  return true;
}

void LiteralBlockSource::Close() {
  file_ = nullptr;
  std::vector<uint8_t>().swap(buffer_);
}

const uint8_t* LiteralBlockSource::Read(uint64_t offset, uint32_t size) {
  if (file_ == nullptr || offset >= kReadableLimit) return nullptr;
  if (buffer_.size() < size) buffer_.resize(size);
  size_t got = 0;
  std::string error;
  return file_->ReadAt(offset, buffer_.data(), size, &got, &error) && got == size ? buffer_.data()
                                                                                  : nullptr;
}

bool LiteralBlockSource::FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) {
  for (uint64_t q = from; q < kReadableLimit; q += 4) {
    if (abort_ != nullptr && abort_->load(std::memory_order_relaxed)) return false;
    const uint8_t* bytes = Read(q, need);
    if (!bytes) return false;
    if (LoadLE32(bytes) == q) {
      *found = static_cast<uint32_t>(q);
      return true;
    }
  }
  return false;
}

bool LiteralBlockSource::ReadFacts(uint32_t offset, BlockFacts* facts) {
  const uint8_t* bytes = Read(offset, kBlockHeaderSize);
  if (!bytes) return false;
  const BlockHeader h = DecodeBlockHeader(bytes);
  *facts = BlockFacts{h.blockSize, h.nextOffset, h.selfOffset == offset,
                      h.dataLength <= h.blockSize && h.dataLength != 0 && h.blockSize != 0,
                      // As the reference, a dry run counts by reading every block again.
                      false, 0};
  return true;
}

bool LiteralBlockSource::IsSelfReferencing(uint32_t offset) {
  const uint8_t* bytes = Read(offset, 4);
  return bytes && LoadLE32(bytes) == offset;
}

bool LiteralBlockSource::ReadExact(uint64_t offset, void* buffer, size_t size) {
  size_t got = 0;
  std::string error;
  return file_ != nullptr && file_->ReadAt(offset, buffer, size, &got, &error) && got == size;
}

}  // namespace quillon
