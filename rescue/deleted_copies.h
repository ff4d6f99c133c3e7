// Deleted messages that are still live elsewhere in the run. A message moved to another folder is
// deleted from the first, so its deleted copy usually matches a live message exactly, but for the
// four bytes the free list overwrote at the start of every block and its lost end. Each live
// message leaves a print of what such a copy would still show; a deleted message whose bytes
// match a print is reported as a copy and is not written again.
#ifndef QUILLON_RESCUE_DELETED_COPIES_H_
#define QUILLON_RESCUE_DELETED_COPIES_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/file_io.h"
#include "hash/digest.h"
#include "rescue/message_reader.h"
#include "rescue/rescue_plan.h"

namespace quillon::rescue {

struct MessagePrint {
  uint64_t length = 0;
  // SHA-256 of every byte but the four at the start of each 0x200 (the ones a deleted copy
  // loses), and the same of the first min(length, kHeadBytes) bytes only.
  Sha256Digest masked{};
  Sha256Digest head{};
  std::string messageId;  // the Message-ID field's value, "" when the header has none
  // Where the Message-ID field lies in the message's bytes ([idBegin, idEnd) of its line).
  uint64_t idBegin = 0, idEnd = 0;

  static constexpr uint32_t kHeadBytes = 0x100;
};

// Makes a print from a message's bytes as they stream past.
class MessagePrinter {
 public:
  MessagePrinter();
  void Update(const uint8_t* bytes, size_t size);
  // The print of everything passed to Update; the printer must not be used afterwards.
  MessagePrint Finish();

 private:
  void Hash(const uint8_t* bytes, size_t size);

  Sha256 masked_;
  Sha256 head_;
  uint64_t length_ = 0;
  std::string header_;  // the start of the message, until its header section ends
  bool headerDone_ = false;
  bool headFinished_ = false;
  Sha256Digest headDigest_{};
};

// The Message-ID of a header section (the bytes of a message's start), and where its line lies.
std::string FindMessageId(const std::string& header, uint64_t* lineBegin, uint64_t* lineEnd);

// The live messages of a run, by their prints. Add every live message of every mailbox of the run
// before looking for the copies of any mailbox's deleted ones.
class LiveMessageSet {
 public:
  struct Entry {
    MessagePrint print;
    std::string where;  // how the caller names the message ("Inbox.dbx-12.eml")
  };
  void Add(MessagePrint print, std::string where);
  size_t size() const { return entries_.size(); }
  // The entries whose head print is `head`.
  std::vector<const Entry*> WithHead(const Sha256Digest& head) const;

 private:
  std::vector<Entry> entries_;
  std::unordered_multimap<uint64_t, size_t> byHead_;
};

// Reads every deleted message of `plan` (those listed: Reconcile with RescueOptions::deleted),
// settles its estimated size, and notes those that `live` holds a copy of in
// plan.liveCopies / PlannedMessage::liveCopy. A copy must have the same length in blocks, the same
// bytes outside the filled ranges up to the live message's length, and the same Message-ID when
// the deleted message's is readable. `outcome` reports a read failure; the plan is then returned
// as far as it got.
RescuePlan ExamineDeleted(InputFile* file, RescuePlan plan, const LiveMessageSet& live,
                          ReadOutcome* outcome, const std::atomic<bool>* abort = nullptr);

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_DELETED_COPIES_H_
