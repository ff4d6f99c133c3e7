#include "rescue/rescue.h"

namespace quillon::rescue {

MailboxRescue PlanRescue(InputFile* file, const RescueOptions& options,
                         catalogue::DamageReporter* reporter, const ScanOptions& scanOptions) {
  MailboxRescue rescue;
  rescue.catalogue = catalogue::ReadCatalogue(file, reporter);
  ScanOptions scanning = scanOptions;
  if (scanning.abort == nullptr) scanning.abort = options.abort;
  BlockScan scan = ScanBlocks(file, ListedFirstBlocks(rescue.catalogue), scanning);
  if (scan.failure != ReadFailure::kNone) {
    rescue.failure = scan.failure;
    rescue.failureOffset = scan.failureOffset;
    rescue.failureReason = std::move(scan.failureReason);
    return rescue;
  }
  rescue.plan = Reconcile(scan, rescue.catalogue, options);
  if (options.abort != nullptr && options.abort->load(std::memory_order_relaxed)) {
    rescue.failure = ReadFailure::kAborted;
    rescue.failureReason = "stopped on request";
  }
  return rescue;
}

}  // namespace quillon::rescue
