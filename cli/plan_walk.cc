#include "cli/plan_walk.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "cli/command.h"

namespace quillon {

using rescue::PlannedMessage;
using rescue::ReadOutcome;

std::unique_ptr<InputFile> OpenMailbox(const std::string& path,
                                       std::function<void(uint64_t)> onRead, std::string* error) {
  std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, error);
  if (!file || !onRead) return file;
  class Watched final : public InputFile {
   public:
    Watched(std::unique_ptr<InputFile> f, std::function<void(uint64_t)> on)
        : file_(std::move(f)), on_(std::move(on)), owner_(std::this_thread::get_id()) {}
    uint64_t Size() override { return file_->Size(); }
    // Safe from two threads (the scan reads two halves at once); only the opening thread's
    // reads move the progress line, which is not.
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                std::string* error) override {
      const bool read = file_->ReadAt(offset, buffer, size, got, error);
      if (std::this_thread::get_id() == owner_) on_(offset + *got);
      return read;
    }

   private:
    std::unique_ptr<InputFile> file_;
    std::function<void(uint64_t)> on_;
    const std::thread::id owner_;
  };
  return std::make_unique<Watched>(std::move(file), std::move(onRead));
}

bool ReadMessageStart(rescue::MessageReader* reader, const PlannedMessage& message,
                      std::string* start, ReadOutcome* outcome) {
  start->clear();
  *outcome = reader->Read(message, [&](const uint8_t* p, size_t n) {
    const size_t take = std::min(n, kStartBytes - start->size());
    const size_t from = start->size() < 3 ? 0 : start->size() - 3;
    start->append(reinterpret_cast<const char*>(p), take);
    // The header block is all the facts need.
    const bool headerEnded = start->find("\n\n", from) != std::string::npos ||
                             start->find("\r\n\r\n", from) != std::string::npos;
    return start->size() < kStartBytes && !headerEnded;
  });
  return outcome->result != ReadOutcome::kFailed;
}

bool FoundAny(const rescue::RescuePlan& plan) {
  return std::any_of(plan.counts.begin(), plan.counts.end(), [](uint64_t n) { return n > 0; });
}

PlanWalk::PlanWalk(bool deleted, bool fragments, PlanVisitor* visitor,
                   const std::atomic<bool>* abort)
    : visitor_(visitor) {
  options_.deleted = deleted;
  options_.fragments = fragments;
  options_.abort = abort;
}

std::unique_ptr<InputFile> PlanWalk::Open(size_t index, const std::string& path, bool deleted) {
  std::string error;
  std::unique_ptr<InputFile> file = OpenMailbox(path, visitor_->Opening(index, deleted), &error);
  if (!file) visitor_->NotOpened(index, error);
  return file;
}

void PlanWalk::Mailbox(size_t index, const std::string& path) {
  const std::unique_ptr<InputFile> file = Open(index, path, false);
  if (!file) return;
  // A large mailbox is scanned in two halves at once: planning is a third of an export's time.
  rescue::ScanOptions scanning;
  scanning.threads = 2;
  rescue::MailboxRescue rescue = rescue::PlanRescue(file.get(), options_, nullptr, scanning);
  const rescue::RescuePlan& plan = rescue.plan;
  rescue::RecordReader records(file.get(), plan.fileSize, options_.abort);
  if (!visitor_->Planned(index, rescue, &records)) return;
  rescue::MessageReader reader(file.get(), plan, options_.abort);
  uint32_t fragment = 0;
  bool ended = false;
  for (size_t i = 0; i < plan.messages.size() && !ended; ++i) {
    const PlannedMessage& m = plan.messages[i];
    if (m.status == rescue::Status::kDeleted) continue;  // once every live message has been seen
    if (StopRequested() != StopCause::kNone) break;
    const uint32_t number = m.status == rescue::Status::kFragment ? ++fragment
                            : i < plan.exported                   ? static_cast<uint32_t>(i + 1)
                                                                  : 0;
    ended = !visitor_->Visit({index, rescue, m, number, &reader, &records});
  }
  if (visitor_->Walked(index, rescue, ended) && plan.Count(rescue::Status::kDeleted) > 0) {
    deferred_.push_back(Deferred{index, path, std::move(rescue)});
  }
}

bool PlanWalk::Deleted(size_t* index) {
  for (Deferred& d : deferred_) {
    if (StopRequested() != StopCause::kNone) break;
    const std::unique_ptr<InputFile> file = Open(d.index, d.path, true);
    if (!file) continue;
    ReadOutcome outcome;
    d.rescue.plan = rescue::ExamineDeleted(file.get(), std::move(d.rescue.plan), live_, &outcome,
                                           options_.abort);
    bool ended = !visitor_->Examined(d.index, d.rescue, outcome);
    rescue::MessageReader reader(file.get(), d.rescue.plan, options_.abort);
    uint32_t number = 0;
    for (size_t i = 0; i < d.rescue.plan.messages.size() && !ended; ++i) {
      const PlannedMessage& m = d.rescue.plan.messages[i];
      if (m.status != rescue::Status::kDeleted) continue;
      ++number;
      if (StopRequested() != StopCause::kNone) break;
      ended = !visitor_->VisitDeleted({d.index, d.rescue, m, number, &reader, nullptr});
    }
    if (!visitor_->WalkedDeleted(d.index, ended)) {
      *index = d.index;
      return false;
    }
  }
  return true;
}

}  // namespace quillon
