#include "rescue/rescue.h"

namespace quillon::rescue {

catalogue::Catalogue ReadCatalogueBuffered(InputFile* file, catalogue::DamageReporter* reporter,
                                           ReadError* error, const std::atomic<bool>* abort) {
  MailboxFile buffered(file, abort);
  // Records and tree nodes lie together in chunks: a window serves most of them in one read.
  buffered.SetWindowSize(size_t{256} << 10);
  catalogue::Catalogue cat = catalogue::ReadCatalogue(buffered.AsInputFile(), reporter);
  *error = buffered.error();
  return cat;
}

MailboxRescue PlanRescue(InputFile* file, const RescueOptions& options,
                         catalogue::DamageReporter* reporter, const ScanOptions& scanOptions) {
  MailboxRescue rescue;
  ScanOptions scanning = scanOptions;
  if (scanning.abort == nullptr) scanning.abort = options.abort;
  // The scan needs the catalogue only for its probes: the catalogue is read while the scan's
  // other thread begins (when it has one).
  scanning.beside = [&] {
    rescue.catalogue = ReadCatalogueBuffered(file, reporter, &rescue.error, options.abort);
    return rescue.error.failure == ReadFailure::kNone;
  };
  BlockScan scan = ScanPass(file, scanning);
  if (rescue.error.failure != ReadFailure::kNone) return rescue;
  // The trees gave the records, which are read: what they list is not needed again.
  for (catalogue::TreeListing& tree : rescue.catalogue.trees) {
    std::vector<uint32_t>().swap(tree.values);
  }
  if (scan.error.failure == ReadFailure::kNone) {
    ProbeScanned(file, ListedFirstBlocks(rescue.catalogue), scanning, &scan);
  }
  if (scan.error.failure != ReadFailure::kNone) {
    rescue.error = std::move(scan.error);
    return rescue;
  }
  rescue.plan = Reconcile(std::move(scan), std::move(rescue.catalogue.messages), options);
  if (options.abort != nullptr && options.abort->load(std::memory_order_relaxed)) {
    rescue.error = ReadError{ReadFailure::kAborted, 0, "stopped on request"};
  }
  return rescue;
}

}  // namespace quillon::rescue
