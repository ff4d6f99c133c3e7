#include "cli/export_manifest.h"

#include <filesystem>
#include <system_error>

#include "cli/background_hasher.h"
#include "cli/platform.h"
#include "cli/recording_fs.h"

namespace quillon {

namespace fs = std::filesystem;
using rescue::Status;

namespace {

// The reasons the manifest's summary gives for messages found but not written.
constexpr char kHeadersOnly[] = "headers-only";
constexpr char kLost[] = "lost";
constexpr char kDeletedNotAsked[] = "deleted-not-asked";
constexpr char kDeletedAlsoLive[] = "deleted-also-live";
constexpr char kFragmentNotAsked[] = "fragment-not-asked";
constexpr char kFailed[] = "failed";
constexpr char kStopped[] = "stopped";

}  // namespace

bool ExportManifest::OpenCopy(const std::string& path, std::string* error) {
  std::error_code ec;
  const fs::path file = fs::absolute(ToPath(path), ec);
  copyFs_ = PlatformOutputFs(FromPath(file.parent_path()));
  copy_ = output::ManifestWriter::Create(copyFs_.get(), FromPath(file.filename()), error);
  if (!copy_) *error = ReasonOf(*error);
  return copy_ != nullptr;
}

void ExportManifest::Add(const std::string& line) {
  std::string error;
  if (manifest_ && error_.empty() && !manifest_->AddLine(line, &error)) error_ = ReasonOf(error);
  if (copy_ && copyError_.empty() && !copy_->AddLine(line, &error)) copyError_ = ReasonOf(error);
}

void ExportManifest::List(const output::MessageFacts& facts, const output::WrittenMessage& written,
                          const std::string* line) {
  ++filesListed_;
  std::string error;
  // Made with the first file, so that a run that writes none leaves none, and a folder that
  // takes no file is reported once, by the message that could not be written.
  if (!manifest_ && error_.empty()) {
    manifest_ = output::ManifestWriter::Create(fs_, output::kManifestName, &error);
    if (!manifest_) error_ = ReasonOf(error);
  }
  Add(line ? *line : output::FileLine(facts, written));
}

void ExportManifest::ListHashed(BackgroundHasher* hasher, bool all) {
  while (!pending_.empty() && (all || hasher->Ready())) {
    Pending& p = pending_.front();
    p.written.sha256 = hasher->Take();
    if (p.listed) List(p.facts, p.written, &p.line);
    pending_.pop_front();
  }
}

void ExportManifest::Finish(const std::vector<std::string>& summaries, bool keep,
                            const std::function<bool(const std::function<void(const std::string&)>&,
                                                     std::string*)>& carry) {
  std::string error;
  if ((filesListed_ > 0 || keep) && !manifest_ && error_.empty()) {
    manifest_ = output::ManifestWriter::Create(fs_, output::kManifestName, &error);
    if (!manifest_) error_ = ReasonOf(error);
  }
  std::string carryError;
  if (carry && !carry([this](const std::string& line) { Add(line); }, &carryError)) {
    error_ = "cannot read the last run's: " + ReasonOf(carryError);
  }
  for (const std::string& line : summaries) Add(line);
  if (manifest_ && error_.empty() && !manifest_->Finish(&error)) error_ = ReasonOf(error);
  if (copy_ && copyError_.empty() && !copy_->Finish(&error)) copyError_ = ReasonOf(error);
}

std::vector<std::string> SummaryLines(std::vector<output::MailboxSummary>& summaries,
                                      const std::vector<Tally>& tallies,
                                      const ExportOptions& options) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < summaries.size(); ++i) {
    output::MailboxSummary& s = summaries[i];
    if (s.mailbox.empty()) continue;  // not begun, or not opened
    const Tally& t = tallies[i];
    const auto count = [&](Status status) { return t.counts[static_cast<size_t>(status)]; };
    s.written = t.written + t.fragments + t.deletedWritten;
    uint64_t accounted = s.written;
    const auto reason = [&](const char* why, uint64_t n) {
      if (n == 0) return;
      s.notWritten.emplace_back(why, n);
      accounted += n;
    };
    reason(kHeadersOnly, count(Status::kHeadersOnly));
    reason(kLost, count(Status::kLost));
    reason(options.deleted ? kDeletedAlsoLive : kDeletedNotAsked,
           options.deleted ? t.deletedCopies : count(Status::kDeleted));
    if (!options.fragments) reason(kFragmentNotAsked, count(Status::kFragment));
    // What a failure or a stop left unwritten.
    reason(t.stopped ? kStopped : kFailed, s.found > accounted ? s.found - accounted : 0);
    lines.push_back(output::SummaryLine(s));
  }
  return lines;
}

}  // namespace quillon
