#include "rescue/message_reader.h"

#include <algorithm>
#include <cstring>

#include "dbx/block_format.h"
#include "rescue/block_scan.h"
#include "rescue/reconcile.h"

namespace quillon::rescue {

MessageReader::MessageReader(InputFile* file, const RescuePlan& plan,
                             const std::atomic<bool>* abort, size_t windowBytes)
    : file_(file, abort, plan.fileSize), plan_(plan) {
  file_.SetWindowSize(windowBytes);
}

ReadOutcome MessageReader::Failed(ReadOutcome outcome) const {
  outcome.result = ReadOutcome::kFailed;
  outcome.error = file_.error();
  return outcome;
}

bool MessageReader::Emit(uint64_t dataAt, uint32_t begin, uint32_t end, bool trim,
                         const ByteSink& sink, ReadOutcome* outcome) {
  if (trim) {
    // The first zero byte ends the data: mail text holds none (RFC 5322), and a block's unused
    // room is zeros, or old bytes in which a zero soon comes.
    for (uint32_t from = begin; from < end;) {
      const uint32_t n = std::min<uint32_t>(end - from, file_.viewMax());
      const uint8_t* bytes = file_.View(dataAt + from, n);
      if (bytes == nullptr) return false;
      const void* zero = std::memchr(bytes, 0, n);
      if (zero != nullptr) {
        end = from + static_cast<uint32_t>(static_cast<const uint8_t*>(zero) - bytes);
        break;
      }
      from += n;
    }
  }
  for (uint32_t from = begin; from < end;) {
    const uint32_t n = std::min<uint32_t>(end - from, file_.viewMax());
    const uint8_t* bytes = file_.View(dataAt + from, n);
    if (bytes == nullptr) return false;
    outcome->bytes += n;
    if (!sink(bytes, n)) {
      outcome->result = ReadOutcome::kStopped;
      return false;
    }
    from += n;
  }
  return true;
}

ReadOutcome MessageReader::Read(const PlannedMessage& m, const ByteSink& sink) {
  ReadOutcome outcome;
  if (file_.failed()) return Failed(outcome);
  const bool deleted = m.status == Status::kDeleted;
  const bool endsWhole = (m.flags & PlannedMessage::kTailMissing) == 0;
  uint32_t left = m.blocks;
  uint64_t total = 0;  // as the plan counts: never more than the file holds
  bool stop = false;
  uint32_t linked = 0;  // where the block just read links to
  const auto block = [&](uint32_t at) {
    if (stop) return;
    const bool last = --left == 0;
    const uint8_t* header = file_.View(at, kHeaderSize);
    if (header == nullptr) {
      // The plan holds only blocks whose header lay in the file.
      stop = true;
      return;
    }
    const BlockHeader h = DecodeBlockHeader(header);
    linked = h.nextOffset;
    const uint64_t dataAt = uint64_t{at} + kHeaderSize;
    const uint64_t inFile = dataAt < plan_.fileSize ? plan_.fileSize - dataAt : 0;
    uint32_t begin = 0, end;
    bool trim = false;
    if (deleted) {
      end = static_cast<uint32_t>(std::min<uint64_t>(kClientBlockData, inFile));
      const uint32_t fill = std::min(kDeletedLinkBytes, end);
      static const uint8_t kFill[kDeletedLinkBytes] = {kFillByte, kFillByte, kFillByte, kFillByte};
      if (fill != 0) {
        outcome.bytes += fill;
        if (!sink(kFill, fill)) {
          outcome.result = ReadOutcome::kStopped;
          stop = true;
          return;
        }
      }
      total += fill;
      begin = fill;
      trim = last && endsWhole;
    } else {
      const TakenLength taken =
          LengthToTake(h.blockSize, h.dataLength, last && endsWhole, plan_.blockCapacity);
      const bool given = last && m.lastBlockBytes != 0;
      end =
          static_cast<uint32_t>(std::min<uint64_t>(given ? m.lastBlockBytes : taken.bytes, inFile));
      trim = taken.estimated && !given;
    }
    if (total + (end - begin) > plan_.fileSize) {
      end = begin + static_cast<uint32_t>(plan_.fileSize - total);
      stop = true;
    }
    const uint64_t before = outcome.bytes;
    if (!Emit(dataAt, begin, end, trim, sink, &outcome)) {
      stop = true;
      return;
    }
    total += outcome.bytes - before;
  };
  if ((m.flags & PlannedMessage::kFollowsLinks) != 0) {
    for (uint32_t at = m.firstBlock, k = 0; k < m.blocks && !stop; ++k, at = linked) block(at);
  } else {
    plan_.ForEachBlock(m, block);
  }
  if (file_.failed()) return Failed(outcome);
  return outcome;
}

bool MessageReader::ForEachBlock(const PlannedMessage& m, const std::function<void(uint32_t)>& f) {
  if ((m.flags & PlannedMessage::kFollowsLinks) == 0) {
    plan_.ForEachBlock(m, f);
    return true;
  }
  uint32_t at = m.firstBlock;
  for (uint32_t k = 0; k < m.blocks; ++k) {
    const uint8_t* header = file_.View(at, kHeaderSize);
    if (header == nullptr) return false;
    f(at);
    at = DecodeBlockHeader(header).nextOffset;
  }
  return true;
}

}  // namespace quillon::rescue
