#include "cli/export_update.h"

#include <set>
#include <utility>

#include "cli/command.h"

namespace quillon {

std::unique_ptr<ExportUpdate> ExportUpdate::Open(OutputFs* fs, const std::string& folder,
                                                 output::Format format,
                                                 const std::vector<std::string>& mailboxes,
                                                 bool* refused, std::string* error) {
  const std::set<std::string> paths(mailboxes.begin(), mailboxes.end());
  std::unique_ptr<output::ListedManifest> listed = output::ListedManifest::Open(
      fs, output::kManifestName, format,
      [&paths](const std::string& mailbox) { return paths.count(mailbox) != 0; }, StopFlag(),
      refused, error);
  if (!listed) return nullptr;
  std::unique_ptr<ExportUpdate> update(new ExportUpdate());
  update->listed_ = std::move(listed);
  // The listed files are read and hashed on two threads while the mailboxes are planned.
  update->files_ = std::make_unique<ListedFiles>(folder, update->listed_.get(), StopFlag());
  update->files_->Start(2);
  ListedFiles* files = update->files_.get();
  update->planner_ = std::make_unique<output::UpdatePlanner>(
      fs, update->listed_.get(),
      [files](uint32_t line, const std::string& path, const output::ListedFile& file) {
        return files->Look(line, path, file);
      });
  return update;
}

output::UpdatePlanner::Decision ExportUpdate::Decide(
    const std::string& place, const Sha256Digest& digest,
    const std::optional<output::UpdatePlanner::Listed>& held) {
  return planner_->Decide(place, digest, held);
}

void ExportUpdate::Count(output::UpdateAction action, output::UpdateCounts* counts) {
  planner_->Count(action);
  uint64_t& n = action == output::UpdateAction::kSkip    ? counts->skipped
                : action == output::UpdateAction::kWrite ? counts->written
                                                         : counts->rewritten;
  ++n;
}

bool ExportUpdate::CarryLines(const std::vector<uint32_t>& lines,
                              const std::function<void(const std::string&)>& add,
                              std::string* error) {
  return listed_->ReadLines(lines, add, error);
}

}  // namespace quillon
