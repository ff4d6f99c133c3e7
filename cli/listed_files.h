// --update's view of what an earlier run wrote: the files its manifest lists for this run's
// mailboxes, read and hashed ahead, on threads of their own, while the mailboxes are planned. So
// an update of an unchanged output reads each file once and no message twice.
#ifndef QUILLON_CLI_LISTED_FILES_H_
#define QUILLON_CLI_LISTED_FILES_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "output/manifest.h"
#include "output/message.h"

namespace quillon {

class ListedFiles {
 public:
  // `root` is the output folder, `manifest` its manifest (which must outlive this); reading
  // stops once `abort` is set.
  ListedFiles(const std::string& root, const output::ListedManifest* manifest,
              const std::atomic<bool>* abort);
  ~ListedFiles();
  ListedFiles(const ListedFiles&) = delete;
  ListedFiles& operator=(const ListedFiles&) = delete;

  // Starts `threads` threads (0: none) reading and hashing the files of this run's lines.
  void Start(size_t threads);

  // The listed file that holds the message of `facts` (whose bytes the plan says are `size`):
  // the line with the same mailbox, status, place and length in the mailbox, index id and
  // Message-ID. Nothing when no file is listed for it.
  std::optional<output::UpdatePlanner::Listed> Find(const output::MessageFacts& facts,
                                                    uint64_t size);

  // What `path` holds now, for the listed file of `line`: from the threads when they read it
  // there, else read now. An UpdatePlanner::Looker.
  output::FileOnDisk Look(uint32_t line, const std::string& path, const output::ListedFile& listed);

 private:
  enum class State : uint8_t { kNone, kWaiting, kReading, kMissing, kChanged, kWhole };
  void Work();

  std::string root_;
  const output::ListedManifest* manifest_;
  const std::atomic<bool>* abort_;
  std::vector<State> states_;  // by line (kNone: not of this run), under mutex_
  size_t next_ = 0;            // the line the threads look at next
  // What the threads read of the lines ahead of the last one found, for Find to take rather
  // than read and parse each line a second time (a third of the feeding thread's time). The
  // threads keep no more than kAhead lines beyond it, so that it stays small.
  static constexpr size_t kAhead = 2048;
  struct Parsed {
    output::ListedFile file;
    std::string identity;
  };
  std::map<uint32_t, Parsed> parsed_;  // under mutex_
  size_t found_ = 0;                   // the last line Find found, under mutex_
  std::condition_variable room_;       // the threads wait on it for found_ to move
  std::mutex mutex_;
  std::condition_variable done_;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> threads_;
};

}  // namespace quillon

#endif  // QUILLON_CLI_LISTED_FILES_H_
