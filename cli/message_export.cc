// Writing one message of the rescue engine's export, in its modes: counted only (--dry-run), its
// digest taken on the hashing thread while it is written, or first (--update, which then keeps,
// writes or rewrites its file), and printed for the deleted copies of it (--deleted).
#include <optional>
#include <utility>

#include "cli/message_facts.h"
#include "cli/rescue_run.h"
#include "hash/digest.h"
#include "output/mail_time.h"
#include "output/names.h"

namespace quillon {

using rescue::PlannedMessage;
using rescue::ReadOutcome;
using rescue::Status;

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
    file =
        output::JoinPath(output_->Locate(facts.folder), template_.Expand(facts, time, 4) + ".eml");
  } else if (o_.format == output::Format::kMbox) {
    file = output_->Locate(facts.folder);
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
      decision = update_->Decide(output_->Locate(facts.folder),
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
      const bool done = output_->WriteMessage(facts, source, rewrite ? &decision.path : nullptr,
                                              &written, &error);
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
}  // namespace quillon
