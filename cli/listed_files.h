// --update's view of what an earlier run wrote: the files its manifest lists, each matched with
// the message it holds by where that lies in its mailbox and what the index says of it, and
// read and hashed ahead, on threads of their own, while the mailboxes are planned. So an update
// of an unchanged output reads each file once and no message twice.
#ifndef QUILLON_CLI_LISTED_FILES_H_
#define QUILLON_CLI_LISTED_FILES_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hash/digest.h"
#include "output/manifest.h"
#include "output/message.h"

namespace quillon {

class ListedFiles {
 public:
  // `root` is the output folder; `mailboxes` the paths of this run's mailboxes, whose listed
  // files are read ahead once Start is called.
  ListedFiles(const std::string& root, const std::set<std::string>& mailboxes);
  ~ListedFiles();
  ListedFiles(const ListedFiles&) = delete;
  ListedFiles& operator=(const ListedFiles&) = delete;

  // A file of the manifest with its line, as ReadManifest reads them (its ListedLineObserver):
  // only the line's identity of the message is kept, as a digest, not the line.
  void Add(const output::ListedFile& file, const std::string& line);
  // Starts `threads` threads (0: none) reading and hashing the files added.
  void Start(size_t threads);

  struct Match {
    Sha256Digest sha256;
    uint64_t size;
  };
  // The digest and size a listed file gives the message of `facts` (whose bytes the plan says
  // are `size`): one with the same mailbox, status, place and length in the mailbox, index id and
  // Message-ID. Nothing when no file is listed for it.
  std::optional<Match> Find(const output::MessageFacts& facts, uint64_t size) const;

  // What `path` holds now: from the threads when they read it, else read now.
  output::FileOnDisk Look(const std::string& path);

 private:
  enum class State : uint8_t { kWaiting, kReading, kDone };
  struct Entry {
    State state = State::kWaiting;
    output::FileOnDisk disk;
  };
  void Work();

  std::string root_;
  std::set<std::string> mailboxes_;
  // By the digest of MessageIdentity; the first of equal keys is the manifest's first.
  std::vector<std::pair<Sha256Digest, Match>> byIdentity_;
  std::vector<std::string> order_;  // listed paths of this run's mailboxes, in manifest order
  std::vector<Entry> entries_;      // order_'s, by position
  std::unordered_map<std::string_view, size_t> byPath_;  // into order_, the first of a path
  size_t next_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> threads_;
};

// The key under which a message and the manifest's line of its file meet.
std::string MessageIdentity(const std::string& mailbox, const std::string& status,
                            uint64_t firstBlock, uint64_t blocks, uint64_t size,
                            const std::optional<uint32_t>& indexId, const std::string& messageId);

}  // namespace quillon

#endif  // QUILLON_CLI_LISTED_FILES_H_
