// The last stage of the rescue: the bytes of one planned message, streamed to the caller in
// pieces, block by block in chain order. Reads go through MailboxFile, so an I/O error or a file
// that shrank since it was scanned ends the read as a failure, never as the end of the message.
#ifndef QUILLON_RESCUE_MESSAGE_READER_H_
#define QUILLON_RESCUE_MESSAGE_READER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "fs/file_io.h"
#include "rescue/mailbox_file.h"
#include "rescue/rescue_plan.h"

namespace quillon::rescue {

struct ReadOutcome {
  enum Result : uint8_t {
    kComplete,  // every byte the plan promises was given
    kStopped,   // the sink answered false
    kFailed,    // the file could not be read: `failure` says why; the bytes given are incomplete
  };
  Result result = kComplete;
  uint64_t bytes = 0;  // given to the sink
  ReadError error;     // kFailed: why
};

// Receives a message's bytes in order; returns false to stop.
using ByteSink = std::function<bool(const uint8_t* bytes, size_t size)>;

class MessageReader {
 public:
  // Reads `file` (not owned) for `plan` (not copied; both must outlive the reader). The file is
  // expected to be as long as when it was scanned: a shorter one fails reads as "changed".
  // `windowBytes` is the size of the read window that follows the messages forward.
  MessageReader(InputFile* file, const RescuePlan& plan, const std::atomic<bool>* abort = nullptr,
                size_t windowBytes = MailboxFile::kAheadSize);

  // Streams the bytes of `message`, which must be one of the plan's. What a block gives:
  //  - in a live chain (live, orphan, damaged, fragment), its data as LengthToTake says, cut
  //    where the file ends; a last block whose length is lost gives its data up to its first zero
  //    byte (mail text holds none);
  //  - in a deleted chain, kFillByte for the four bytes the free list overwrote, then the rest
  //    of its 0x200 data bytes; the last block's length is lost, and its end is estimated the
  //    same way: at the first zero byte after the four filled.
  // Messages without blocks give nothing. The total never exceeds the file's size. Reading the
  // plan's messages in order moves forward through the file and reads each byte about once.
  ReadOutcome Read(const PlannedMessage& message, const ByteSink& sink);

  // Calls f(offset) for each block of `m` in chain order, reading the headers of a message that
  // follows its links (PlannedMessage::kFollowsLinks). False when a header could not be read.
  bool ForEachBlock(const PlannedMessage& m, const std::function<void(uint32_t)>& f);

  // After a failure every further read fails the same way.
  const MailboxFile& file() const { return file_; }

 private:
  ReadOutcome Failed(ReadOutcome outcome) const;
  // The data bytes [begin, end) of the block whose data starts at `dataAt`, to the sink; with
  // `trim`, only those before the first zero byte. False when the sink stops or a read fails.
  bool Emit(uint64_t dataAt, uint32_t begin, uint32_t end, bool trim, const ByteSink& sink,
            ReadOutcome* outcome);

  MailboxFile file_;
  const RescuePlan& plan_;
};

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_MESSAGE_READER_H_
