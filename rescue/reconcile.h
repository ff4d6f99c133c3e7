// The second stage of the rescue: the scan's blocks and the catalogue's index, reconciled into one
// list in which every message has one status. It reads nothing from the file; the same scan and
// catalogue always give the same plan. docs/rescue.md explains each decision.
#ifndef QUILLON_RESCUE_RECONCILE_H_
#define QUILLON_RESCUE_RECONCILE_H_

#include <atomic>
#include <vector>

#include "catalogue/catalogue.h"
#include "rescue/block_scan.h"
#include "rescue/rescue_plan.h"

namespace quillon::rescue {

struct RescueOptions {
  bool deleted = false;    // list deleted messages with a readable head (they are always counted)
  bool fragments = false;  // list fragments (they are always counted)
  // Fragments listed at most; the rest are counted only.
  uint32_t maxFragments = 1u << 18;
  const std::atomic<bool>* abort = nullptr;  // checked now and then; an aborted plan is empty
};

// The first blocks the catalogue lists: what ScanBlocks should look at even where the block
// there no longer names itself.
std::vector<uint32_t> ListedFirstBlocks(const catalogue::Catalogue& catalogue);

// Reconciles the blocks of `scan` with the messages the index lists (`records`, the catalogue's,
// in its order). Both are taken: the scan is freed before the plan's list is made, and the
// records become the plan's slots. Time and memory grow with the number of scan entries and
// records, whatever the file holds.
RescuePlan Reconcile(BlockScan scan, std::vector<catalogue::MessageEntry> records,
                     const RescueOptions& options = {});
// The same on copies of both.
RescuePlan Reconcile(const BlockScan& scan, const catalogue::Catalogue& catalogue,
                     const RescueOptions& options = {});

// How many data bytes the reader takes from a block of a live chain, given its header and whether
// it is the chain's last, in a file whose full blocks hold `capacity` bytes. Lengths that agree
// with each other are taken as they stand. When they do not, the one that fits a full block is
// believed: every block of a message but the last is full.
struct TakenLength {
  uint32_t bytes;
  bool estimated;  // the last block's length is unknown: `bytes` is the most it can hold
  bool mended;     // the header's lengths disagree and one of them was set aside
};
TakenLength LengthToTake(uint32_t blockSize, uint32_t dataLength, bool last, uint32_t capacity);

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_RECONCILE_H_
