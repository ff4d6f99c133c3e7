#include "rescue/record_reader.h"

namespace quillon::rescue {

RecordReader::RecordReader(InputFile* file, uint32_t knownSize, const std::atomic<bool>* abort)
    : file_(file, abort, knownSize) {
  file_.SetWindowSize(kWindowBytes);
}

bool RecordReader::Read(uint32_t recordOffset, catalogue::MessageInfo* info) {
  return !file_.failed() && catalogue::ReadMessageInfoAt(file_.AsInputFile(), recordOffset, info);
}

const catalogue::MessageInfo* RecordReader::RecordOf(const PlannedMessage& m) {
  if (m.recordOffset == 0) return nullptr;
  return Read(m.recordOffset, &info_) ? &info_ : nullptr;
}

}  // namespace quillon::rescue
