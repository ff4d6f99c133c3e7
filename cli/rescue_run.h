// One output folder's share of the rescue engine's export: its mailboxes placed, walked
// (cli/plan_walk.h) and each message that can be read written (cli/message_export.cc) into the
// output (cli/message_output.h), with the manifest, --update and the result lines.
#ifndef QUILLON_CLI_RESCUE_RUN_H_
#define QUILLON_CLI_RESCUE_RUN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/background_hasher.h"
#include "cli/command_output.h"
#include "cli/export_driver.h"
#include "cli/export_manifest.h"
#include "cli/export_places.h"
#include "cli/export_progress.h"
#include "cli/export_report.h"
#include "cli/export_update.h"
#include "cli/inputs.h"
#include "cli/message_output.h"
#include "cli/plan_walk.h"
#include "cli/recording_fs.h"
#include "cli/store_folders.h"
#include "output/mail_writer.h"
#include "output/manifest.h"

namespace quillon {

// The export into one output folder: the driver's run, for the rescue engine (rescue_export.h).
class RescueRun final : private PlanVisitor {
 public:
  RescueRun(const ExportContext& context, ExportOptions options)
      : o_(std::move(options)),
        rule_(context.rule),
        print_(*context.print),
        progress_(*context.progress),
        stores_(o_.codePage,
                [this](const std::string& note) {
                  if (o_.quiet) return;
                  progress_.Clear();
                  print_.Error("quillon: " + note);
                }),
        walk_(o_.deleted, o_.fragments, this) {
    folder_ = TrimSeparators(o_.outputFolder);
    exportTime_ = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  }

  // Places the mailboxes and sets up the output: kExitOk, or the run's exit status.
  int Begin();
  // Exports mailbox `index`: false when it was stopped.
  bool Export(size_t index);
  // The deleted messages, once every live one was seen, and the manifest. False when a stop
  // ended the deleted messages of mailbox *index.
  bool Finish(size_t* index);
  int ExitStatus() const { return failed_ ? kExitFailed : damaged_ ? kExitDamaged : kExitOk; }
  std::string WrittenSoFar() const;
  const std::vector<PlacedMailbox>& mailboxes() const { return mailboxes_; }

 private:
  bool StartOutput();
  // What the walk tells: each mailbox opened, planned, its messages and its deleted ones.
  std::function<void(uint64_t)> Opening(size_t index, bool deleted) override;
  void NotOpened(size_t index, const std::string& error) override;
  bool Planned(size_t index, rescue::MailboxRescue& rescue, rescue::RecordReader*) override;
  bool Visit(const WalkedMessage& message) override;
  bool Walked(size_t index, const rescue::MailboxRescue& rescue, bool ended) override;
  bool Examined(size_t index, const rescue::MailboxRescue& rescue,
                const rescue::ReadOutcome& outcome) override;
  bool VisitDeleted(const WalkedMessage& message) override;
  bool WalkedDeleted(size_t index, bool ended) override;
  bool FinishOutput();
  // Writes (or counts) one message into `folder`. False when the mailbox must stop: *words says
  // why ("" when a stop was asked for).
  // `records` reads the index records again (null: none is wanted, as for deleted messages).
  bool Put(const PlacedMailbox& box, const rescue::MailboxRescue& rescue,
           rescue::MessageReader* reader, rescue::RecordReader* records,
           const rescue::PlannedMessage& m, uint32_t number, std::vector<std::string> folder,
           bool printLive, Tally* tally, std::string* words);
  std::string WriteFailureWords(const output::MessageFacts& facts, const std::string& start,
                                const std::string* rewritePath);
  void Report(const PlacedMailbox& box, const rescue::MailboxRescue& rescue, const Tally& tally);
  std::string Display(const std::string& relative) const;

  const ExportOptions o_;
  PathRule* rule_;
  Printer& print_;
  ExportProgress& progress_;
  StoreReader stores_;
  std::string folder_;  // the output folder without trailing separators
  int64_t exportTime_ = 0;

  std::vector<PlacedMailbox> mailboxes_;
  std::vector<output::MailboxSummary> summaries_;
  std::vector<Tally> tallies_;
  PlanWalk walk_;
  std::string words_;           // why the mailbox's messages ended, as Put says
  uint64_t writtenBefore_ = 0;  // the mailbox's messages written before its deleted ones

  // Let go of last, once every file of the run is closed.
  std::unique_ptr<Held> lock_;
  bool refused_ = false;        // another export holds the output folder
  bool manifestIsOwn_ = false;  // --manifest names the output folder's own manifest
  std::unique_ptr<RecordingFs> fs_;
  std::unique_ptr<MessageOutput> output_;  // null for a dry run
  output::NameTemplate template_;
  std::unique_ptr<ExportManifest> manifest_;
  std::unique_ptr<ExportUpdate> update_;
  std::unique_ptr<BackgroundHasher> hasher_;

  bool failed_ = false;
  bool damaged_ = false;
  uint64_t totalFiles_ = 0;
};

}  // namespace quillon

#endif  // QUILLON_CLI_RESCUE_RUN_H_
