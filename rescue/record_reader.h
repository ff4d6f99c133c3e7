// A planned message's index record, read again when its facts are wanted. The catalogue keeps
// only what the reconciliation needs of each record (catalogue::MessageEntry), so that memory does
// not grow with the records' strings; the times, flags and strings are read here, a record at a
// time, through a read window of their own (records lie together in chunks, mostly in the order
// the plan lists their messages).
#ifndef QUILLON_RESCUE_RECORD_READER_H_
#define QUILLON_RESCUE_RECORD_READER_H_

#include <atomic>
#include <cstdint>

#include "catalogue/catalogue.h"
#include "fs/file_io.h"
#include "rescue/mailbox_file.h"
#include "rescue/rescue_plan.h"

namespace quillon::rescue {

class RecordReader {
 public:
  // Reads `file` (not owned), expected to be `knownSize` bytes long as when it was scanned.
  RecordReader(InputFile* file, uint32_t knownSize, const std::atomic<bool>* abort = nullptr);

  // The record at `recordOffset`. False when it cannot be read again: the file changed or cannot
  // be read (reading the message itself then fails and says so). Its damage was reported when
  // the catalogue was read, and is not reported again.
  bool Read(uint32_t recordOffset, catalogue::MessageInfo* info);

  // The record of planned message `m`; null when it has none or it cannot be read again. Valid
  // until the next call.
  const catalogue::MessageInfo* RecordOf(const PlannedMessage& m);

 private:
  static constexpr size_t kWindowBytes = size_t{64} << 10;
  MailboxFile file_;
  catalogue::MessageInfo info_;
};

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_RECORD_READER_H_
