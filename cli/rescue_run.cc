#include "cli/rescue_run.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "catalogue/catalogue.h"
#include "cli/message_facts.h"
#include "cli/platform.h"
#include "fs/output_fs.h"
#include "output/names.h"

namespace quillon {

using rescue::PlannedMessage;
using rescue::ReadOutcome;
using rescue::Status;

std::string RescueRun::Display(const std::string& relative) const {
  std::string shown = relative;
  for (char& c : shown) {
    if (c == '/') c = kPathSeparator;
  }
  return folder_ + kPathSeparator + shown;
}
bool RescueRun::StartOutput() {
  if (!SetUpOutputFolder(folder_, o_.dryRun, &print_)) return false;
  if (o_.dryRun) return true;
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
  std::unique_ptr<output::MailWriter> writer =
      output::MailWriter::Create(fs_.get(), writing, &error);
  if (!writer) {  // the template was checked with the options
    print_.Error("quillon: " + error);
    return false;
  }
  output_ = MakeFormatOutput(std::move(writer));
  // A copy asked for where the manifest goes anyway is that manifest.
  if (!o_.manifestPath.empty() && !manifestIsOwn_) {
    if (!manifest_->OpenCopy(o_.manifestPath, &error)) {
      print_.Error("quillon: cannot create the manifest " + o_.manifestPath + ": " + error);
      return false;
    }
  }
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
  if (box.messageFolder && output_) output_->BeginMailbox(box.place, &error);
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
  if (box.messageFolder && output_) output_->EndMailbox();
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
  if (!output_->Finish(&error)) {
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
  if (o_.tree && output_) {
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
        if (!output_->AddFolder(tree.PathOf(f), &error)) {
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
}  // namespace quillon
