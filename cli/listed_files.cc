#include "cli/listed_files.h"

#include <algorithm>

#include "fs/output_fs.h"

namespace quillon {

namespace {

// What a read of a listed file found, as the decision wants it.
output::FileOnDisk OnDisk(bool present, bool whole, const output::ListedFile& listed) {
  output::FileOnDisk disk;
  disk.present = present;
  if (whole) {
    disk.size = listed.size;
    disk.sha256 = listed.sha256;
  }
  return disk;
}

}  // namespace

ListedFiles::ListedFiles(const std::string& root, const output::ListedManifest* manifest,
                         const std::atomic<bool>* abort)
    : root_(root), manifest_(manifest), abort_(abort) {}

void ListedFiles::Start(size_t threads) {
  states_.assign(manifest_->size(), State::kNone);
  bool any = false;
  for (const uint32_t line : manifest_->LinesOfThisRun()) {
    states_[line] = State::kWaiting;
    any = true;
  }
  for (size_t i = 0; i < threads && any; ++i) threads_.emplace_back([this] { Work(); });
}

ListedFiles::~ListedFiles() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& t : threads_) t.join();
}

std::optional<output::UpdatePlanner::Listed> ListedFiles::Find(const output::MessageFacts& facts,
                                                               uint64_t size) {
  const std::string identity =
      output::MessageIdentity(facts.mailbox, facts.status, facts.firstBlock, facts.blocks, size,
                              facts.indexId, facts.messageId);
  for (const uint32_t line : manifest_->IdentityCandidates(identity)) {
    output::UpdatePlanner::Listed listed;
    listed.line = line;
    std::string read;
    bool known = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = parsed_.find(line);
      if (it != parsed_.end()) {
        known = true;
        if (it->second.identity == identity) {
          listed.file = std::move(it->second.file);
          parsed_.erase(it);
          // Lines passed over are of messages gone, or found already.
          if (line > found_) {
            found_ = line;
            parsed_.erase(parsed_.begin(), parsed_.lower_bound(line));
            room_.notify_all();
          }
          return listed;
        }
      }
    }
    if (!known && manifest_->Read(line, &listed.file, &read) && read == identity) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (line > found_) {
        found_ = line;
        parsed_.erase(parsed_.begin(), parsed_.lower_bound(line));
        room_.notify_all();
      }
      return listed;
    }
  }
  return std::nullopt;
}

void ListedFiles::Work() {
  // Each thread reads through an output folder of its own: the system's is safe to share, but
  // one each costs nothing and keeps it so.
  const std::unique_ptr<quillon::OutputFs> fs = quillon::PlatformOutputFs(root_);
  for (;;) {
    uint32_t line;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (next_ < states_.size() && states_[next_] != State::kWaiting) ++next_;
      // Not too far ahead of the messages found: what is read is kept for them.
      room_.wait(lock, [this] {
        return next_ < found_ + kAhead || stopping_ || (abort_ != nullptr && abort_->load());
      });
      while (next_ < states_.size() && states_[next_] != State::kWaiting) ++next_;
      if (next_ == states_.size() || stopping_ || (abort_ != nullptr && abort_->load())) return;
      line = static_cast<uint32_t>(next_++);
      states_[line] = State::kReading;
    }
    output::ListedFile listed;
    std::string identity;
    State state = State::kChanged;  // a line changed meanwhile lists nothing to be taken
    if (manifest_->Read(line, &listed, &identity)) {
      const output::FileOnDisk disk = output::LookAt(fs.get(), listed.path, listed.size, abort_);
      state = output::DecideUpdate(&listed, disk) == output::UpdateAction::kSkip ? State::kWhole
              : disk.present                                                     ? State::kChanged
                                                                                 : State::kMissing;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      states_[line] = state;
      if (state != State::kChanged && line >= found_) {
        parsed_[line] = Parsed{std::move(listed), std::move(identity)};
      }
    }
    done_.notify_all();
  }
}

output::FileOnDisk ListedFiles::Look(uint32_t line, const std::string& path,
                                     const output::ListedFile& listed) {
  // The threads read each line's file where the line says it is.
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ahead = path == listed.path && line < states_.size() && states_[line] != State::kNone;
  if (ahead) {
    State& state = states_[line];
    if (state == State::kWaiting) {
      state = State::kReading;  // read here, now: the threads have not come to it
    } else {
      done_.wait(lock, [&] { return state != State::kReading; });
      return OnDisk(state != State::kMissing, state == State::kWhole, listed);
    }
  }
  lock.unlock();
  const std::unique_ptr<quillon::OutputFs> fs = quillon::PlatformOutputFs(root_);
  const output::FileOnDisk disk = output::LookAt(fs.get(), path, listed.size, abort_);
  if (ahead) {
    lock.lock();
    states_[line] = output::DecideUpdate(&listed, disk) == output::UpdateAction::kSkip
                        ? State::kWhole
                    : disk.present ? State::kChanged
                                   : State::kMissing;
    done_.notify_all();
  }
  return disk;
}

}  // namespace quillon
