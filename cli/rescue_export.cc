#include "cli/rescue_export.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/background_hasher.h"
#include "cli/command_output.h"
#include "cli/export_driver.h"
#include "cli/export_manifest.h"
#include "cli/export_places.h"
#include "cli/export_progress.h"
#include "cli/export_report.h"
#include "cli/export_update.h"
#include "cli/inputs.h"
#include "cli/message_facts.h"
#include "cli/plan_walk.h"
#include "cli/platform.h"
#include "cli/recording_fs.h"
#include "cli/store_folders.h"
#include "fs/output_fs.h"
#include "output/mail_time.h"
#include "output/mail_writer.h"
#include "output/manifest.h"
#include "output/names.h"

namespace quillon {

namespace fs = std::filesystem;
using rescue::PlannedMessage;
using rescue::ReadOutcome;
using rescue::Status;

namespace {

// One output folder's share of the export: its mailboxes walked (cli/plan_walk.h), each message
// that can be read written by Put.
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
           rescue::MessageReader* reader, rescue::RecordReader* records, const PlannedMessage& m,
           uint32_t number, std::vector<std::string> folder, bool printLive, Tally* tally,
           std::string* words);
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
  std::unique_ptr<output::MailWriter> writer_;
  output::NameTemplate template_;
  std::unique_ptr<ExportManifest> manifest_;
  std::unique_ptr<ExportUpdate> update_;
  std::unique_ptr<BackgroundHasher> hasher_;

  bool failed_ = false;
  bool damaged_ = false;
  uint64_t totalFiles_ = 0;
};

std::string RescueRun::Display(const std::string& relative) const {
  std::string shown = relative;
  for (char& c : shown) {
    if (c == '/') c = kPathSeparator;
  }
  return folder_ + kPathSeparator + shown;
}

bool RescueRun::StartOutput() {
  if (o_.dryRun) {
    const std::string problem = CheckOutputFolder(folder_);
    if (!problem.empty()) {
      print_.Error(problem);
      return false;
    }
    return true;
  }
  std::error_code ec;
  fs::create_directories(ToPath(folder_), ec);
  if (ec) {
    print_.Error("quillon: cannot create the output folder " + folder_ + ": " + ErrorText(ec));
    return false;
  }
  fs_ = std::make_unique<RecordingFs>(PlatformOutputFs(folder_));
  manifest_ = std::make_unique<ExportManifest>(fs_.get());
  std::string error;
  // One export at a time: two into one folder would interleave their mbox files and take each
  // other's names. Held until the run ends. A folder that cannot take the lock file (read-only,
  // say) is left to the writes to report, as they would without a lock.
  bool busy = false;
  lock_ = fs_->Lock(output::kLockName, &busy, &error);
  if (busy) {
    refused_ = true;
    print_.Error("quillon: another export is writing into " + folder_ + " (it holds " +
                 Display(output::kLockName) +
                 "); wait for it to end, or export into another folder");
    return false;
  }
  if (o_.update) {
    std::vector<std::string> paths;
    for (const PlacedMailbox& box : mailboxes_) paths.push_back(box.path);
    bool refused = false;
    update_ = ExportUpdate::Open(fs_.get(), folder_, o_.format, paths, &refused, &error);
    if (!update_) {
      refused_ = refused;
      if (refused) {
        print_.Error("quillon: --update refuses the manifest " + Display(output::kManifestName) +
                     ": " + error +
                     "; it is not one this tool wrote (move it away to export afresh)");
      } else if (StopRequested() == StopCause::kNone) {
        print_.Error("quillon: cannot read the manifest " + Display(output::kManifestName) + ": " +
                     ReasonOf(error));
      }
      return false;
    }
  }
  output::WriterOptions writing;
  writing.format = o_.format;
  if (!o_.nameTemplate.empty()) writing.nameTemplate = o_.nameTemplate;
  writing.exportTime = exportTime_;
  writing.reservedNames = output::OwnNames();
  writing.keepExisting = o_.update;
  // Nor a name the last run's manifest lists, though its file be gone: that line is carried over.
  if (update_) {
    writing.listed = [this](const std::string& path) { return update_->Names(path); };
  }
  writing.abort = StopFlag();
  // The digests come from the hasher's thread, or (--update) are known before writing.
  writing.hashMessages = false;
  if (!o_.update) hasher_ = std::make_unique<BackgroundHasher>();
  output::NameTemplate::Parse(writing.nameTemplate, &template_, &error);
  writer_ = output::MailWriter::Create(fs_.get(), writing, &error);
  if (!writer_) {  // the template was checked with the options
    print_.Error("quillon: " + error);
    return false;
  }
  // A copy asked for where the manifest goes anyway is that manifest.
  if (!o_.manifestPath.empty() && !manifestIsOwn_) {
    if (!manifest_->OpenCopy(o_.manifestPath, &error)) {
      print_.Error("quillon: cannot create the manifest " + o_.manifestPath + ": " + error);
      return false;
    }
  }
  return true;
}

std::string RescueRun::WriteFailureWords(const output::MessageFacts& facts,
                                         const std::string& start, const std::string* rewritePath) {
  const RecordingFs::Failure& f = fs_->failure();
  if (f.op == RecordingFs::Op::kCreate) {
    // Every file of the folder would fail alike: the folder is what failed.
    const size_t slash = f.path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : f.path.substr(0, slash);
    return "cannot create files in " +
           (dir.empty() ? FolderForDisplay(o_.outputFolder) : FolderForDisplay(Display(dir))) +
           ": " + f.reason;
  }
  std::string file;
  if (rewritePath != nullptr) {
    file = *rewritePath;
  } else if (o_.format == output::Format::kEml) {
    // The name the message was to take.
    const int64_t time = output::MessageTime(facts.received, start, exportTime_);
    file = output::JoinPath(writer_->Locate(facts.folder).path,
                            template_.Expand(facts, time, 4) + ".eml");
  } else if (o_.format == output::Format::kMbox) {
    file = writer_->Locate(facts.folder).path;
  } else {
    file = f.path;
  }
  return "cannot write " + Display(file) + ": " + (f.reason.empty() ? "failed" : f.reason);
}

bool RescueRun::Put(const PlacedMailbox& box, const rescue::MailboxRescue& rescue,
                    rescue::MessageReader* reader, rescue::RecordReader* records,
                    const PlannedMessage& m, uint32_t number, std::vector<std::string> folder,
                    bool printLive, Tally* tally, std::string* words) {
  words->clear();
  std::string start;
  ReadOutcome outcome;
  const auto failedRead = [&] {
    if (StopRequested() == StopCause::kNone && outcome.result == ReadOutcome::kFailed &&
        outcome.error.failure != rescue::ReadFailure::kAborted) {
      *words = ReadFailureWords(box.path, outcome.error);
    }
    return false;
  };
  if (!ReadMessageStart(reader, m, &start, &outcome)) return failedRead();
  const catalogue::MessageInfo* record = records != nullptr ? records->RecordOf(m) : nullptr;
  // The texts (subject, names) cost more than the rest of the facts, and only the manifest's
  // line needs them when the file's name does not: they are decoded on the hashing thread, which
  // makes that line.
  const bool textsLater = hasher_ && !template_.UsesTexts();
  const StoreFolders& store = stores_.Of(box.path);
  output::MessageFacts facts = textsLater ? FactsWithoutTexts(box.path, record, m, number, start)
                                          : FactsOf(box.path, record, m, number, start, store);
  facts.folder = std::move(folder);
  if (facts.folder.empty() || facts.folder.back() != box.folderName()) {
    facts.folderName = box.folderName();
  }
  std::optional<rescue::MessagePrinter> printer;
  if (printLive) printer.emplace();
  uint64_t size = 0;
  // --update: a message that a listed file holds needs only that file checked; any other is
  // hashed first, to find a file of the same bytes or to be written.
  std::optional<output::UpdatePlanner::Listed> listed;
  if (update_ && !printer) listed = update_->Find(facts, m.size);
  std::optional<Sha256> hash;
  if (update_ && !listed) hash.emplace();
  // A first pass when the digest must be known before writing (--update), or for a dry run that
  // prints the live messages for the deleted ones.
  if (hash || (o_.dryRun && printer)) {
    outcome = reader->Read(m, [&](const uint8_t* p, size_t n) {
      if (StopRequested() != StopCause::kNone) return false;
      size += n;
      if (hash) hash->Update(p, n);
      if (printer) printer->Update(p, n);
      return true;
    });
    if (outcome.result != ReadOutcome::kComplete) return failedRead();
    if (hash) facts.sha256 = hash->Finish();
  }
  const bool feedPrinter = printer && !hash && !o_.dryRun;
  output::WrittenMessage written;
  if (o_.dryRun) {
    written.size = size != 0 ? size : m.size;
  } else {
    output::UpdatePlanner::Decision decision;
    if (update_) {
      decision = update_->Decide(writer_->Locate(facts.folder).path,
                                 listed ? listed->file.sha256 : *facts.sha256, listed);
    }
    if (update_ && decision.action == output::UpdateAction::kSkip) {
      written.path = decision.path;
      written.size = listed ? listed->file.size : size;
      written.sha256 = listed ? listed->file.sha256 : *facts.sha256;
    } else {
      if (update_ && !facts.sha256) {
        // To be written again: its digest is of the bytes it has now.
        Sha256 bytes;
        outcome = reader->Read(m, [&](const uint8_t* p, size_t n) {
          if (StopRequested() != StopCause::kNone) return false;
          bytes.Update(p, n);
          if (printer) printer->Update(p, n);
          return true;
        });
        if (outcome.result != ReadOutcome::kComplete) return failedRead();
        facts.sha256 = bytes.Finish();
      }
      const output::MessageSource source = [&](const output::ChunkSink& sink, std::string* error) {
        bool sunk = true;
        outcome = reader->Read(m, [&](const uint8_t* p, size_t n) {
          if (StopRequested() != StopCause::kNone) return false;
          if (feedPrinter) printer->Update(p, n);
          // The writer gets the bytes in the hasher's pieces: a block's 512 bytes at a time,
          // its quoting and copying cost more than the bytes themselves.
          if (hasher_) return hasher_->Gather(p, n, sink);
          return sunk = sink(p, n);
        });
        // What was read is written, whatever ended the read.
        if (hasher_) sunk = hasher_->Pass(sink);
        if (outcome.result == ReadOutcome::kComplete && sunk) return true;
        *error = "the message could not be read";
        return false;
      };
      fs_->Forget();
      std::string error;
      const bool rewrite = update_ && decision.action == output::UpdateAction::kRewrite;
      if (hasher_) hasher_->Begin();
      const bool done = rewrite ? writer_->Rewrite(decision.path, facts, source, &written, &error)
                                : writer_->Write(facts, source, &written, &error);
      if (hasher_) {
        // The manifest line is made on the hashing thread, which has time to spare.
        ExportManifest::Pending& p = manifest_->Hold();
        p.facts = done ? std::move(facts) : facts;  // a failure is told with them below
        p.written = written;
        p.listed = done;
        if (textsLater) {
          p.store = &store;
          if (record != nullptr) p.record = *record;
          p.start = done ? std::move(start) : start;  // a failure is told with it below
        }
        hasher_->End([&p](const Sha256Digest& digest) {
          if (p.store != nullptr) {
            AddTextFacts(p.record ? &*p.record : nullptr, p.start, *p.store, &p.facts);
          }
          output::WrittenMessage hashed = p.written;
          hashed.sha256 = digest;
          p.line = output::FileLine(p.facts, hashed);
        });
        manifest_->ListHashed(hasher_.get(), false);
      }
      if (!done) {
        if (StopRequested() != StopCause::kNone) return false;
        if (outcome.result == ReadOutcome::kFailed) return failedRead();
        *words = WriteFailureWords(facts, start, rewrite ? &decision.path : nullptr);
        return false;
      }
    }
    if (update_) update_->Count(decision.action, &tally->update);
    if (!hasher_) manifest_->List(facts, written);
  }
  ++tally->written;
  ++totalFiles_;
  tally->bytes += written.size;
  if (m.status == Status::kDamaged) {
    ++tally->damaged;
    tally->Detail((o_.dryRun ? box.path + " #" + std::to_string(number) : Display(written.path)) +
                  ": damaged: " + NotesOf(rescue.plan, m));
  }
  if (printer) walk_.live().Add(printer->Finish(), o_.dryRun ? box.path : written.path);
  progress_.Written(tally->written);
  return true;
}

std::function<void(uint64_t)> RescueRun::Opening(size_t index, bool) {
  progress_.Begin(index, mailboxes_.size(), mailboxes_[index].path);
  return [this](uint64_t end) { progress_.Reached(end); };
}

void RescueRun::NotOpened(size_t index, const std::string& error) {
  progress_.Clear();
  failed_ = tallies_[index].failed = true;
  print_.Error(mailboxes_[index].path + ": cannot be opened: " + error);
}

bool RescueRun::Planned(size_t index, rescue::MailboxRescue& rescue, rescue::RecordReader*) {
  PlacedMailbox& box = mailboxes_[index];
  Tally& tally = tallies_[index];
  output::MailboxSummary& summary = summaries_[index];
  summary.mailbox = box.path;
  summary.listed = rescue.plan.listed;
  for (uint64_t count : rescue.plan.counts) summary.found += count;
  tally.counts = rescue.plan.counts;
  if (rescue.error.failure != rescue::ReadFailure::kNone) {
    progress_.Clear();
    if (rescue.error.failure == rescue::ReadFailure::kAborted) {
      tally.stopped = true;
      print_.Result(box.path + ": stopped after 0 messages");
      return false;
    }
    failed_ = tally.failed = true;
    print_.Error(box.path +
                 ": failed after 0 messages: " + ReadFailureWords(box.path, rescue.error));
    return false;
  }
  const std::string broken = rule_->Read(box.path, FoundAny(rescue.plan));
  if (!broken.empty()) {
    failed_ = tally.failed = true;
    print_.Error(broken);
    return false;
  }
  if (o_.format == output::Format::kEml && !o_.tree) {
    box.shown = stores_.Of(box.path).PathOf(box.path, rescue.catalogue.fileInfo.name);
    box.messageFolder = rescue.catalogue.kind == catalogue::FileKind::kMessages;
    box.unlisted = box.messageFolder && !stores_.Of(box.path).Listed(box.path);
  }
  std::string error;
  if (box.messageFolder && writer_) writer_->AddFolder(box.place, &error);
  progress_.Writing();
  words_.clear();
  return true;
}

bool RescueRun::Visit(const WalkedMessage& w) {
  const PlacedMailbox& box = mailboxes_[w.mailbox];
  Tally& tally = tallies_[w.mailbox];
  const PlannedMessage& m = w.message;
  switch (m.status) {
    case Status::kLive:
    case Status::kOrphan:
    case Status::kDamaged:
      // With --deleted, every live message of the run is printed, for the deleted copies of it.
      return Put(box, w.rescue, w.reader, w.records, m, w.number, box.place,
                 o_.deleted && m.status == Status::kLive, &tally, &words_);
    case Status::kFragment: {
      std::vector<std::string> folder = box.place;
      folder.push_back(kFragmentFolder);
      if (!Put(box, w.rescue, w.reader, nullptr, m, w.number, std::move(folder), false, &tally,
               &words_)) {
        return false;
      }
      --tally.written;
      ++tally.fragments;
      return true;
    }
    case Status::kLost: {
      const catalogue::MessageInfo* info = w.records->RecordOf(m);
      const output::MessageFacts facts = FactsOf(box.path, info, m, 0, "", stores_.Of(box.path));
      tally.Detail(box.path +
                   ": lost: " + (info ? "index id " + std::to_string(info->indexId) + ", " : "") +
                   "\"" + facts.subject + "\": " + NotesOf(w.rescue.plan, m));
      return true;
    }
    default:
      return true;
  }
}

bool RescueRun::Walked(size_t index, const rescue::MailboxRescue& rescue, bool ended) {
  const PlacedMailbox& box = mailboxes_[index];
  Tally& tally = tallies_[index];
  progress_.Clear();
  if (StopRequested() != StopCause::kNone || (ended && words_.empty())) {
    tally.stopped = true;
    print_.Result(box.path + ": stopped after " + Messages(tally.written));
    return false;
  }
  if (ended) {
    failed_ = tally.failed = true;
    print_.Error(box.path + ": failed after " + Messages(tally.written) + ": " + words_);
    return false;
  }
  Report(box, rescue, tally);
  return o_.deleted;
}

bool RescueRun::Examined(size_t index, const rescue::MailboxRescue&, const ReadOutcome& examined) {
  words_.clear();
  if (examined.result == ReadOutcome::kFailed &&
      examined.error.failure != rescue::ReadFailure::kAborted) {
    words_ = ReadFailureWords(mailboxes_[index].path, examined.error);
  }
  progress_.Writing();
  writtenBefore_ = tallies_[index].written;
  return examined.result == ReadOutcome::kComplete;
}

bool RescueRun::VisitDeleted(const WalkedMessage& w) {
  const PlacedMailbox& box = mailboxes_[w.mailbox];
  Tally& tally = tallies_[w.mailbox];
  if (w.message.liveCopy != rescue::kNoRecord) {
    ++tally.deletedCopies;
    return true;
  }
  std::vector<std::string> folder = box.place;
  folder.push_back(kDeletedFolder);
  if (!Put(box, w.rescue, w.reader, nullptr, w.message, w.number, std::move(folder), false, &tally,
           &words_)) {
    return false;
  }
  ++tally.deletedWritten;
  return true;
}

bool RescueRun::WalkedDeleted(size_t index, bool ended) {
  const PlacedMailbox& box = mailboxes_[index];
  Tally& tally = tallies_[index];
  tally.written = writtenBefore_;
  progress_.Clear();
  const std::string what = Plural(tally.deletedWritten, "deleted message", "deleted messages");
  if (StopRequested() != StopCause::kNone || (ended && words_.empty())) {
    tally.stopped = true;
    print_.Result(box.path + ": stopped after " + what);
  } else if (ended) {
    failed_ = tally.failed = true;
    print_.Error(box.path + ": failed after " + what + ": " + words_);
  } else {
    print_.Result(DeletedReport(box.path, tally, o_.dryRun));
  }
  return !tally.stopped;
}

void RescueRun::Report(const PlacedMailbox& box, const rescue::MailboxRescue& rescue,
                       const Tally& tally) {
  const rescue::RescuePlan& plan = rescue.plan;
  damaged_ = damaged_ || plan.Count(Status::kDamaged) + plan.Count(Status::kLost) > 0;
  for (const std::string& line : MailboxReport(box, rescue, tally, o_, update_ != nullptr)) {
    print_.Result(line);
  }
}

bool RescueRun::FinishOutput() {
  if (o_.dryRun) return true;
  if (hasher_) manifest_->ListHashed(hasher_.get(), true);
  bool ok = true;
  std::string error;
  if (!writer_->Finish(&error)) {
    print_.Error("quillon: cannot write " + Display(fs_->failure().path) + ": " +
                 fs_->failure().reason);
    ok = false;
  }
  const std::vector<std::string> summaries = SummaryLines(summaries_, tallies_, o_);
  // The files of earlier runs that this run left alone, read again from the old manifest (open
  // since the start; the mailboxes' plans are gone by now) and handed on line by line, and every
  // summary, for the next --update; the lines go to the manifest and its copy alike.
  const std::vector<uint32_t> carried = update_ ? update_->Unclaimed() : std::vector<uint32_t>();
  manifest_->Finish(summaries, update_ && (!carried.empty() || !summaries.empty()),
                    [&](const std::function<void(const std::string&)>& add, std::string* why) {
                      return !update_ || update_->CarryLines(carried, add, why);
                    });
  if (!manifest_->error().empty()) {
    print_.Error("quillon: cannot write the manifest " + Display(output::kManifestName) + ": " +
                 manifest_->error());
    ok = false;
  }
  if (!manifest_->copyError().empty()) {
    print_.Error("quillon: cannot write the manifest " + o_.manifestPath + ": " +
                 manifest_->copyError());
    ok = false;
  }
  return ok;
}

int RescueRun::Begin() {
  if (!PlaceMailboxes(o_, o_.paths, &stores_, &print_, &mailboxes_)) {
    print_.Error(kClashRefusal);
    return kExitUsage;
  }
  if (!o_.manifestPath.empty()) {
    std::vector<std::string> inputs;
    for (const PlacedMailbox& box : mailboxes_) inputs.push_back(box.path);
    const std::string problem =
        CheckManifestCopy(o_.manifestPath, folder_, inputs, &manifestIsOwn_);
    if (!problem.empty()) {
      print_.Error(problem);
      return kExitUsage;
    }
  }
  if (!StartOutput()) {
    if (refused_) return kExitUsage;
    // A stop while the last run's manifest was read: nothing was begun.
    const StopCause cause = StopRequested();
    if (cause == StopCause::kNone) return kExitFailed;
    print_.Error(std::string("quillon: ") + ReportOf(cause).what + "; nothing was written");
    return ReportOf(cause).status;
  }
  summaries_.resize(mailboxes_.size());
  tallies_.resize(mailboxes_.size());
  if (o_.tree && writer_) {
    // A store given whole shows every folder of its Folders.dbx, those without mail too.
    for (const PlacedMailbox& box : mailboxes_) {
      // Not for a Folders.dbx without a mailbox of its store: the rule refuses that.
      if (!box.foldersFile ||
          std::none_of(mailboxes_.begin(), mailboxes_.end(), [&](const PlacedMailbox& other) {
            return other.messageFolder && ParentOf(other.path) == ParentOf(box.path);
          })) {
        continue;
      }
      std::string error;
      const output::FolderPaths& tree = stores_.Of(box.path).paths;
      for (uint32_t f = 0; f < tree.folders.size(); ++f) {
        if (!writer_->AddFolder(tree.PathOf(f), &error)) {
          print_.Error("quillon: cannot create files in " + FolderForDisplay(o_.outputFolder) +
                       ": " + fs_->failure().reason);
          return kExitFailed;
        }
      }
    }
  }
  return kExitOk;
}

bool RescueRun::Export(size_t index) {
  walk_.Mailbox(index, mailboxes_[index].path);
  return !tallies_[index].stopped;
}

bool RescueRun::Finish(size_t* index) {
  const bool whole = walk_.Deleted(index);
  if (!FinishOutput()) failed_ = true;
  return whole;
}

std::string RescueRun::WrittenSoFar() const {
  // An mbox holds many messages: each ends at the last whole one, as the manifest lists them.
  const bool mbox = o_.format == output::Format::kMbox;
  return "the " + std::to_string(totalFiles_) + (mbox ? " messages" : " files") +
         " written so far are whole" + (mbox ? ", and the mbox files end with them" : "");
}

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
