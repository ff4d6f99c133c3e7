// `quillon export --update`: the last run's manifest in the output folder, the files it lists
// read and hashed beside the export, and for each message the decision: the file that holds it
// kept, a new file written, or a changed or cut file written again.
#ifndef QUILLON_CLI_EXPORT_UPDATE_H_
#define QUILLON_CLI_EXPORT_UPDATE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/listed_files.h"
#include "fs/output_fs.h"
#include "output/manifest.h"

namespace quillon {

class ExportUpdate {
 public:
  // Opens the manifest of the output folder `fs` (`folder` on disk) for a run over
  // `mailboxes`, and begins reading and hashing the files it lists on two threads. Null when it
  // cannot be read: *refused when it is no manifest this tool wrote; *error says why.
  static std::unique_ptr<ExportUpdate> Open(OutputFs* fs, const std::string& folder,
                                            output::Format format,
                                            const std::vector<std::string>& mailboxes,
                                            bool* refused, std::string* error);

  // True when the last run's manifest lists the file `path`: no new file takes its name.
  bool Names(const std::string& path) const { return listed_->Names(path); }
  // The file of the last run that holds the message of `facts`, `size` bytes, if any.
  std::optional<output::UpdatePlanner::Listed> Find(const output::MessageFacts& facts,
                                                    uint64_t size) {
    return files_->Find(facts, size);
  }
  // What to do with a message of `digest` bound for `place` (output::MailWriter::Locate).
  output::UpdatePlanner::Decision Decide(const std::string& place, const Sha256Digest& digest,
                                         const std::optional<output::UpdatePlanner::Listed>& held);
  // Counts a decision carried out, into the run's counts and a mailbox's `counts`.
  void Count(output::UpdateAction action, output::UpdateCounts* counts);
  // Hands the lines of the last run's files that this run left alone to `add`, for the new
  // manifest. False, *error why, when they could not be read again.
  bool CarryLines(const std::vector<uint32_t>& lines,
                  const std::function<void(const std::string&)>& add, std::string* error);
  // Those lines: known once every mailbox was exported.
  std::vector<uint32_t> Unclaimed() { return planner_->Unclaimed(); }

 private:
  std::unique_ptr<output::ListedManifest> listed_;
  std::unique_ptr<ListedFiles> files_;
  std::unique_ptr<output::UpdatePlanner> planner_;
};

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_UPDATE_H_
