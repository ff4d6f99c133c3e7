#include "cli/listed_files.h"

#include <nlohmann/json.hpp>

#include "output/output_fs.h"

namespace quillon {

std::string MessageIdentity(const std::string& mailbox, const std::string& status,
                            uint64_t firstBlock, uint64_t blocks, uint64_t size,
                            const std::optional<uint32_t>& indexId, const std::string& messageId) {
  return mailbox + '\0' + status + '\0' + std::to_string(firstBlock) + '\0' +
         std::to_string(blocks) + '\0' + std::to_string(size) + '\0' +
         (indexId ? std::to_string(*indexId) : "-") + '\0' + messageId;
}

ListedFiles::ListedFiles(const std::string& root, const output::ManifestContents& listed,
                         const std::set<std::string>& mailboxes, size_t threads)
    : root_(root) {
  for (const output::ListedFile& f : listed.files) {
    // The manifest's lines were read once already; a line that no longer parses, or lacks a
    // field, matches no message and is left to the digest.
    const nlohmann::json j = nlohmann::json::parse(f.line, nullptr, false);
    if (!j.is_object()) continue;
    try {
      const std::string mailbox = j.at("mailbox").get<std::string>();
      if (mailboxes.count(mailbox) == 0) continue;
      const nlohmann::json& id = j.at("index_id");
      const std::optional<uint32_t> indexId =
          id.is_number_unsigned() ? std::optional<uint32_t>(id.get<uint32_t>()) : std::nullopt;
      byIdentity_.emplace(
          MessageIdentity(mailbox, j.at("status").get<std::string>(),
                          j.at("first_block").get<uint64_t>(), j.at("blocks").get<uint64_t>(),
                          f.size, indexId, j.at("message_id").get<std::string>()),
          Match{f.sha256, f.size});
      if (entries_.emplace(f.path, Entry()).second) order_.push_back(f.path);
    } catch (const nlohmann::json::exception&) {
      continue;
    }
  }
  for (size_t i = 0; i < threads && !order_.empty(); ++i) threads_.emplace_back([this] { Work(); });
}

ListedFiles::~ListedFiles() {
  stopping_ = true;
  for (std::thread& t : threads_) t.join();
}

std::optional<ListedFiles::Match> ListedFiles::Find(const output::MessageFacts& facts,
                                                    uint64_t size) const {
  const auto found =
      byIdentity_.find(MessageIdentity(facts.mailbox, facts.status, facts.firstBlock, facts.blocks,
                                       size, facts.indexId, facts.messageId));
  if (found == byIdentity_.end()) return std::nullopt;
  return found->second;
}

void ListedFiles::Work() {
  // Each thread reads through an output folder of its own: the system's is safe to share, but
  // one each costs nothing and keeps it so.
  const std::unique_ptr<output::OutputFs> fs = output::PlatformOutputFs(root_);
  for (;;) {
    std::string path;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (next_ < order_.size() && entries_[order_[next_]].state != State::kWaiting) ++next_;
      if (next_ == order_.size() || stopping_) return;
      path = order_[next_++];
      entries_[path].state = State::kReading;
    }
    output::FileOnDisk disk = output::LookAt(fs.get(), path);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Entry& e = entries_[path];
      e.disk = std::move(disk);
      e.state = State::kDone;
    }
    done_.notify_all();
  }
}

output::FileOnDisk ListedFiles::Look(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = entries_.find(path);
  if (found != entries_.end()) {
    Entry& e = found->second;
    if (e.state == State::kWaiting) {
      e.state = State::kReading;  // read here, now: the threads have not come to it
    } else {
      done_.wait(lock, [&] { return e.state == State::kDone; });
      return e.disk;
    }
  }
  lock.unlock();
  const std::unique_ptr<output::OutputFs> fs = output::PlatformOutputFs(root_);
  output::FileOnDisk disk = output::LookAt(fs.get(), path);
  if (found != entries_.end()) {
    lock.lock();
    found->second.state = State::kDone;
  }
  return disk;
}

}  // namespace quillon
