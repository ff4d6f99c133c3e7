#include "rescue/record_reader.h"

namespace quillon::rescue {

RecordReader::RecordReader(InputFile* file, uint32_t knownSize, const std::atomic<bool>* abort)
    : file_(file, abort, knownSize) {
  file_.SetWindowSize(kWindowBytes);
}

bool RecordReader::Read(uint32_t recordOffset, catalogue::MessageInfo* info) {
  return !file_.failed() && catalogue::ReadMessageInfoAt(file_.AsInputFile(), recordOffset, info);
}

const catalogue::MessageInfo* RecordReader::RecordOf(const catalogue::Catalogue& catalogue,
                                                     const PlannedMessage& m) {
  if (m.record >= catalogue.messages.size()) return nullptr;
  return Read(catalogue.messages[m.record].recordOffset, &info_) ? &info_ : nullptr;
}

}  // namespace quillon::rescue
