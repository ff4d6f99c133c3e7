// The rescue engine in one call: the catalogue, the scan of the blocks and their reconciliation,
// run in that order, the scan freed before the plan is returned. Callers that want to look
// between the stages call them one by one (catalogue/catalogue.h, block_scan.h, reconcile.h);
// the message reader (message_reader.h) then streams each planned message's bytes.
#ifndef QUILLON_RESCUE_RESCUE_H_
#define QUILLON_RESCUE_RESCUE_H_

#include <string>

#include "catalogue/catalogue.h"
#include "fs/file_io.h"
#include "rescue/block_scan.h"
#include "rescue/deleted_copies.h"
#include "rescue/mailbox_file.h"
#include "rescue/message_reader.h"
#include "rescue/reconcile.h"
#include "rescue/record_reader.h"
#include "rescue/rescue_plan.h"

namespace quillon::rescue {

struct MailboxRescue {
  // Its message-info records are the plan's (RescuePlan::listed counts them).
  catalogue::Catalogue catalogue;
  RescuePlan plan;
  // Set when the file could not be read to its end (the plan is then empty): fail the mailbox.
  ReadError error;
};

// The catalogue of `file` (catalogue/catalogue.h), its many small reads served from a read
// window of this engine's reading layer. When the file cannot be read (an I/O error, a file that
// shrank, an abort) *error says so.
catalogue::Catalogue ReadCatalogueBuffered(InputFile* file, catalogue::DamageReporter* reporter,
                                           ReadError* error,
                                           const std::atomic<bool>* abort = nullptr);

// Reads `file` (not owned) and plans its rescue. Damage the catalogue reader finds goes to
// `reporter` as it is found, when not null. The scan stops on options.abort too.
MailboxRescue PlanRescue(InputFile* file, const RescueOptions& options = {},
                         catalogue::DamageReporter* reporter = nullptr,
                         const ScanOptions& scanOptions = {});

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_RESCUE_H_
