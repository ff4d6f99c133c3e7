#include "cli/listed_files.h"

#include <algorithm>
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

namespace {

Sha256Digest KeyOf(const std::string& identity) {
  return ComputeSha256(identity.data(), identity.size());
}

bool KeyLess(const std::pair<Sha256Digest, ListedFiles::Match>& a,
             const std::pair<Sha256Digest, ListedFiles::Match>& b) {
  return a.first < b.first;
}

}  // namespace

ListedFiles::ListedFiles(const std::string& root, const std::set<std::string>& mailboxes)
    : root_(root), mailboxes_(mailboxes) {}

void ListedFiles::Add(const output::ListedFile& f, const std::string& line) {
  // A line that lacks a field matches no message and is left to the digest.
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  if (!j.is_object()) return;
  try {
    const std::string mailbox = j.at("mailbox").get<std::string>();
    if (mailboxes_.count(mailbox) == 0) return;
    const nlohmann::json& id = j.at("index_id");
    const std::optional<uint32_t> indexId =
        id.is_number_unsigned() ? std::optional<uint32_t>(id.get<uint32_t>()) : std::nullopt;
    // The key is held as its digest: a few dozen bytes a file instead of the whole identity.
    byIdentity_.emplace_back(
        KeyOf(MessageIdentity(mailbox, j.at("status").get<std::string>(),
                              j.at("first_block").get<uint64_t>(), j.at("blocks").get<uint64_t>(),
                              f.size, indexId, j.at("message_id").get<std::string>())),
        Match{f.sha256, f.size});
    order_.push_back(f.path);
  } catch (const nlohmann::json::exception&) {
  }
}

void ListedFiles::Start(size_t threads) {
  std::stable_sort(byIdentity_.begin(), byIdentity_.end(), KeyLess);
  byIdentity_.shrink_to_fit();
  order_.shrink_to_fit();
  entries_.resize(order_.size());
  byPath_.reserve(order_.size());
  for (size_t i = 0; i < order_.size(); ++i) {
    // A path listed twice is read once, for its first line.
    if (!byPath_.emplace(order_[i], i).second) entries_[i].state = State::kDone;
  }
  for (size_t i = 0; i < threads && !order_.empty(); ++i) threads_.emplace_back([this] { Work(); });
}

ListedFiles::~ListedFiles() {
  stopping_ = true;
  for (std::thread& t : threads_) t.join();
}

std::optional<ListedFiles::Match> ListedFiles::Find(const output::MessageFacts& facts,
                                                    uint64_t size) const {
  const std::pair<Sha256Digest, Match> key{
      KeyOf(MessageIdentity(facts.mailbox, facts.status, facts.firstBlock, facts.blocks, size,
                            facts.indexId, facts.messageId)),
      Match{}};
  const auto found = std::lower_bound(byIdentity_.begin(), byIdentity_.end(), key, KeyLess);
  if (found == byIdentity_.end() || found->first != key.first) return std::nullopt;
  return found->second;
}

void ListedFiles::Work() {
  // Each thread reads through an output folder of its own: the system's is safe to share, but
  // one each costs nothing and keeps it so.
  const std::unique_ptr<output::OutputFs> fs = output::PlatformOutputFs(root_);
  for (;;) {
    size_t i;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (next_ < order_.size() && entries_[next_].state != State::kWaiting) ++next_;
      if (next_ == order_.size() || stopping_) return;
      i = next_++;
      entries_[i].state = State::kReading;
    }
    output::FileOnDisk disk = output::LookAt(fs.get(), order_[i]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      entries_[i].disk = std::move(disk);
      entries_[i].state = State::kDone;
    }
    done_.notify_all();
  }
}

output::FileOnDisk ListedFiles::Look(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = byPath_.find(path);
  if (found != byPath_.end()) {
    Entry& e = entries_[found->second];
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
  if (found != byPath_.end()) {
    lock.lock();
    entries_[found->second].state = State::kDone;
  }
  return disk;
}

}  // namespace quillon
