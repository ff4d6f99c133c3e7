// What the rescue engine's export and `quillon list` share in reading mailbox files: the walk
// over a run's plans, and the reads it is made of.
#ifndef QUILLON_CLI_PLAN_WALK_H_
#define QUILLON_CLI_PLAN_WALK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "fs/file_io.h"
#include "rescue/rescue.h"

namespace quillon {

// The mailbox file at `path` (UTF-8), opened for reading with every read reported to `onRead`
// (the offset the read reached), when set. Null with *error in the system's words.
std::unique_ptr<InputFile> OpenMailbox(const std::string& path,
                                       std::function<void(uint64_t)> onRead, std::string* error);

// The first bytes of `message` (up to kStartBytes, fewer when it ends or its header block ends
// before), for its facts. False when the read failed; *outcome says why.
inline constexpr size_t kStartBytes = 16 * 1024;
bool ReadMessageStart(rescue::MessageReader* reader, const rescue::PlannedMessage& message,
                      std::string* start, rescue::ReadOutcome* outcome);

// True when the plan found any message at all, of any status.
bool FoundAny(const rescue::RescuePlan& plan);

// One message as a walk hands it to its visitor.
struct WalkedMessage {
  size_t mailbox;  // its index in the walk
  const rescue::MailboxRescue& rescue;
  const rescue::PlannedMessage& message;
  // Its number: in the plan for live, orphan and damaged messages, among the fragments for a
  // fragment, among the deleted messages for a deleted one; 0 for others (lost...).
  uint32_t number;
  rescue::MessageReader* reader;
  rescue::RecordReader* records;  // null for deleted messages: their records are not wanted
};

// What the rescue engine's export and `quillon list` do with the mailboxes a PlanWalk walks.
class PlanVisitor {
 public:
  virtual ~PlanVisitor() = default;
  // Mailbox `index` is opened (again, for its deleted messages: `deleted`); its reads are told
  // to the function returned, when set.
  virtual std::function<void(uint64_t)> Opening(size_t index, bool deleted) = 0;
  // It could not be opened: `error` in the system's words.
  virtual void NotOpened(size_t index, const std::string& error) = 0;
  // Its plan was made (rescue.error says whether it failed); `records` reads its index records.
  // False: its messages are skipped.
  virtual bool Planned(size_t index, rescue::MailboxRescue& rescue,
                       rescue::RecordReader* records) = 0;
  // One message of the plan, in its order, but the deleted ones. False ends the mailbox.
  virtual bool Visit(const WalkedMessage& message) = 0;
  // The messages of mailbox `index` were walked; `ended` when Visit ended them. True when its
  // deleted messages are to be walked, after every mailbox's other messages.
  virtual bool Walked(size_t index, const rescue::MailboxRescue& rescue, bool ended) = 0;
  // The deleted messages were told apart from the live ones of the run (`outcome`). False:
  // they are skipped.
  virtual bool Examined(size_t index, const rescue::MailboxRescue& rescue,
                        const rescue::ReadOutcome& outcome) = 0;
  // One deleted message. False ends the mailbox's deleted messages.
  virtual bool VisitDeleted(const WalkedMessage& message) = 0;
  // The deleted messages of mailbox `index` were walked; `ended` as above. False when the walk
  // must stop here.
  virtual bool WalkedDeleted(size_t index, bool ended) = 0;
};

// The walk of a run's mailboxes as the rescue engine plans them: each opened and planned, its
// messages handed to the visitor in the plan's order, and the deleted messages last, once
// every live message of the run has been seen (and printed: live()) to tell deleted copies of
// them apart. A stop ends the walk of a mailbox at the next message.
class PlanWalk {
 public:
  // Deleted messages and fragments are found when asked for; `abort` (a stop) ends a read.
  PlanWalk(bool deleted, bool fragments, PlanVisitor* visitor,
           const std::atomic<bool>* abort = StopFlag());

  // Walks mailbox `index` at `path`, but its deleted messages.
  void Mailbox(size_t index, const std::string& path);
  // Walks the deleted messages of the mailboxes that asked for it. False when the visitor
  // stopped it at mailbox *index.
  bool Deleted(size_t* index);
  // The prints of the live messages seen, for the deleted ones to be compared with.
  rescue::LiveMessageSet& live() { return live_; }

 private:
  // The mailbox file, opened for the visitor; null when it cannot be.
  std::unique_ptr<InputFile> Open(size_t index, const std::string& path, bool deleted);

  rescue::RescueOptions options_;
  PlanVisitor* visitor_;
  rescue::LiveMessageSet live_;
  struct Deferred {
    size_t index;
    std::string path;
    rescue::MailboxRescue rescue;
  };
  std::vector<Deferred> deferred_;
};

}  // namespace quillon

#endif  // QUILLON_CLI_PLAN_WALK_H_
