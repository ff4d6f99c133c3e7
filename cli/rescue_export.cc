#include "cli/rescue_export.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "cli/inputs.h"
#include "cli/rescue_run.h"

namespace quillon {

namespace {

// Every run has an output folder of its own: the stores that --recursive found each go into
// theirs, so each keeps its own manifest and names.
class RescueEngine final : public ExportEngine {
 public:
  explicit RescueEngine(const ExportContext& context) : context_(context) {}

  std::vector<ExportRun> Runs(const ExpandedInputs& inputs) override {
    std::vector<ExportRun> runs;
    for (const InputGroup& group : inputs.groups) {
      auto it = std::find_if(runs.begin(), runs.end(), [&](const ExportRun& r) {
        return r.subfolder == group.outputSubfolder;
      });
      if (it == runs.end()) it = runs.insert(runs.end(), {group.outputSubfolder, {}});
      it->mailboxes.insert(it->mailboxes.end(), group.mailboxes.begin(), group.mailboxes.end());
    }
    if (runs.empty()) runs.emplace_back();  // the output folder is still made and checked
    return runs;
  }

  int Prepare(std::vector<ExportRun>* runs) override {
    if (runs->size() > 1 && !context_.options.manifestPath.empty()) {
      context_.print->Error(
          "quillon: --manifest FILE takes one output folder; with --recursive each store's "
          "manifest is quillon-manifest.jsonl in its own folder");
      return kExitUsage;
    }
    return kExitOk;
  }

  int Begin(ExportRun* run, const std::string& folder) override {
    ExportOptions one = context_.options;
    one.recursive = false;
    one.paths = run->mailboxes;
    one.outputFolder = folder;
    run_.reset();  // its files are closed and its lock let go before the next run's
    run_ = std::make_unique<RescueRun>(context_, std::move(one));
    const int status = run_->Begin();
    run->mailboxes.clear();
    for (const PlacedMailbox& box : run_->mailboxes()) run->mailboxes.push_back(box.path);
    return status;
  }
  bool Export(size_t index) override { return run_->Export(index); }
  bool Finish(size_t* index) override { return run_->Finish(index); }
  int Status() const override { return run_->ExitStatus(); }
  std::string WrittenSoFar() const override { return run_->WrittenSoFar(); }

 private:
  const ExportContext& context_;
  std::unique_ptr<RescueRun> run_;
};
}  // namespace

std::unique_ptr<ExportEngine> MakeRescueEngine(const ExportContext& context) {
  return std::make_unique<RescueEngine>(context);
}

}  // namespace quillon
