// The rescue engine's bookkeeping of the files an export writes: the output folder's manifest
// (quillon-manifest.jsonl) and its copy (--manifest FILE), a line per file, then a summary per
// mailbox and, with --update, the lines of earlier runs' files that this run left alone.
#ifndef QUILLON_CLI_EXPORT_MANIFEST_H_
#define QUILLON_CLI_EXPORT_MANIFEST_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/command.h"
#include "cli/export_report.h"
#include "fs/output_fs.h"
#include "output/manifest.h"

namespace quillon {

class BackgroundHasher;
struct StoreFolders;

class ExportManifest {
 public:
  // The manifest goes into the output folder `fs`; it is made with the first file listed, so
  // that a run that writes none leaves none.
  explicit ExportManifest(OutputFs* fs) : fs_(fs) {}

  // --manifest FILE: a copy of every line in `path` too. False, *error the system's reason,
  // when it cannot be made.
  bool OpenCopy(const std::string& path, std::string* error);

  // Lists a file; `line`, when given, is its line made already. A failure is kept for Finish.
  void List(const output::MessageFacts& facts, const output::WrittenMessage& written,
            const std::string* line = nullptr);

  // A file written whose digest the hasher has yet to give.
  struct Pending {
    output::MessageFacts facts;
    output::WrittenMessage written;
    bool listed;  // false: the write failed, and the digest is dropped
    // When `store` is set, the facts' texts are still to be decoded (AddTextFacts), from the
    // record and the message's start, on the hashing thread.
    const StoreFolders* store = nullptr;
    std::optional<catalogue::MessageInfo> record;
    std::string start;
    // Its manifest line (output::FileLine), made once the digest is known.
    std::string line;
  };
  // A new pending file, after every one before it. It stays where it is until listed.
  Pending& Hold() { return pending_.emplace_back(); }
  // Lists the pending files whose digest `hasher` has ready; with `all`, waits for every one.
  void ListHashed(BackgroundHasher* hasher, bool all);

  // Ends the manifest and its copy: first the lines `carry` hands to its callback (--update: the
  // last run's files this run left alone; false, *error why, when they could not be read),
  // then `summaries`. `keep`: a manifest is made even when no file was listed (--update with
  // lines to carry or summaries to give). The errors are then error() and copyError().
  void Finish(const std::vector<std::string>& summaries, bool keep,
              const std::function<bool(const std::function<void(const std::string&)>&,
                                       std::string*)>& carry);
  const std::string& error() const { return error_; }
  // Empty without a copy.
  const std::string& copyError() const { return copyError_; }

 private:
  void Add(const std::string& line);

  OutputFs* fs_;
  std::unique_ptr<output::ManifestWriter> manifest_;
  std::unique_ptr<OutputFs> copyFs_;
  std::unique_ptr<output::ManifestWriter> copy_;
  // Elements of a deque stay where they are while others are added at the back.
  std::deque<Pending> pending_;
  uint64_t filesListed_ = 0;
  std::string error_, copyError_;
};

// The summary line of each mailbox begun (`summaries[i]` found, `tallies[i]` written), with the
// reasons the messages found but not written were not.
std::vector<std::string> SummaryLines(std::vector<output::MailboxSummary>& summaries,
                                      const std::vector<Tally>& tallies,
                                      const ExportOptions& options);

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_MANIFEST_H_
