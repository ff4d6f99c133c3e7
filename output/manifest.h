// The manifest of an export: JSON Lines, one object per file written (the fields of
// `quillon list --json` and "path"), one summary object per mailbox; and the reading side for
// --update, which rewrites only what is missing, changed or cut, and never touches a file the
// manifest does not list. docs/output.md lists the fields.
#ifndef QUILLON_OUTPUT_MANIFEST_H_
#define QUILLON_OUTPUT_MANIFEST_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hash/digest.h"
#include "output/folder_tree.h"
#include "output/mail_writer.h"
#include "output/message.h"
#include "output/output_fs.h"

namespace quillon::output {

// Where the export leaves its manifest in the output folder, for the next --update.
inline constexpr char kManifestName[] = "quillon-manifest.jsonl";
// The file that keeps a second export out of an output folder while one runs (OutputFs::Lock).
inline constexpr char kLockName[] = ".quillon-lock";

// The temporary file that the manifest at `path` is written to before it replaces the old one.
std::string ManifestTemporaryOf(const std::string& path);
// The output folder's own files: the manifest, its temporary file and the lock. No message or
// folder takes their names, and a manifest line that names one lists no message.
std::vector<std::string> OwnNames();

// A mailbox's counts: what the index listed, what was found, what was written, and what was
// not written, by reason ("headers-only", "lost", "write failed"...).
struct MailboxSummary {
  std::string mailbox;
  uint64_t listed = 0;
  uint64_t found = 0;
  uint64_t written = 0;
  std::vector<std::pair<std::string, uint64_t>> notWritten;
};

// One line, without its line end. MessageLine is what `quillon list --json` prints of a message:
// the fields of FileLine but "path", `size` and `sha256` being of the message's bytes.
std::string MessageLine(const MessageFacts& facts, uint64_t size,
                        const std::optional<Sha256Digest>& sha256);
std::string FileLine(const MessageFacts& facts, const WrittenMessage& written);
std::string SummaryLine(const MailboxSummary& summary);

// Writes the manifest as a file of its own, whole: it replaces the old one only at Finish.
class ManifestWriter {
 public:
  static std::unique_ptr<ManifestWriter> Create(OutputFs* fs, const std::string& path,
                                                std::string* error);
  bool AddFile(const MessageFacts& facts, const WrittenMessage& written, std::string* error);
  bool AddSummary(const MailboxSummary& summary, std::string* error);
  // A line kept as it was read (a file of an earlier run that this run left alone).
  bool AddLine(const std::string& line, std::string* error);
  bool Finish(std::string* error);

 private:
  ManifestWriter(std::unique_ptr<NewFile> file, std::string path)
      : file_(std::move(file)), path_(std::move(path)) {}
  bool Line(const std::string& line, std::string* error);
  bool Flush(std::string* error);
  static constexpr size_t kPendingBytes = 64 * 1024;
  std::unique_ptr<NewFile> file_;
  std::string path_;
  std::string pending_;  // lines not yet written
};

// A file an earlier run wrote, as its manifest lists it.
struct ListedFile {
  std::string path;
  uint64_t size = 0;
  Sha256Digest sha256{};
  // Which line of the manifest lists it (counted from 0), to carry the line over: the lines
  // themselves are read again then (ReadListedLines), not held through the run.
  uint64_t line = 0;
};

struct ManifestContents {
  std::vector<ListedFile> files;
  // Lines that are not a file written by this tool: not JSON, no path or digest, a path that
  // leaves the output folder. Their files are never touched.
  uint64_t ignoredLines = 0;
};

// Sees each listed file with its line, as the manifest is read, for a caller that needs more
// of the line than ListedFile keeps.
using ListedLineObserver = std::function<void(const ListedFile& file, const std::string& line)>;

// Reads the manifest at `path`. A missing manifest is an empty one; false (with *error) when it
// exists and cannot be read.
bool ReadManifest(OutputFs* fs, const std::string& path, ManifestContents* contents,
                  std::string* error, const ListedLineObserver& observe = nullptr);

// Reads the lines of `files` again from the manifest at `path` that ReadManifest read them from,
// in line order (`files` ascending by line), and hands each to `sink`. A line that no longer
// lists the same path, size and SHA-256 (the manifest was changed since) is left out. False (with
// *error) when the manifest cannot be read.
bool ReadListedLines(OutputFs* fs, const std::string& path,
                     const std::vector<const ListedFile*>& files,
                     const std::function<void(const std::string& line)>& sink, std::string* error);

// True for a relative path that stays inside the output folder.
bool PathStaysInside(const std::string& path);

enum class UpdateAction : uint8_t {
  kWrite,    // no file of the message is listed: write it under a new name
  kSkip,     // the listed file is there whole
  kRewrite,  // the listed file is missing, changed or cut: write it again in its place
};
const char* UpdateActionName(UpdateAction action);

// What is on disk at a listed file's path now.
struct FileOnDisk {
  bool present = false;
  uint64_t size = 0;
  std::optional<Sha256Digest> sha256;  // absent when the size already tells it changed
};

// What `path` holds now, its bytes read through `fs` and hashed.
FileOnDisk LookAt(OutputFs* fs, const std::string& path);

// The --update decision for one message: `listed` is the manifest's file of the same bytes in
// the same folder (null when there is none), `disk` what its path holds.
UpdateAction DecideUpdate(const ListedFile* listed, const FileOnDisk& disk);

struct UpdateCounts {
  uint64_t skipped = 0;
  uint64_t written = 0;
  uint64_t rewritten = 0;
};

// Matches each message of a run with the listed file of the same bytes in the same folder,
// looks at that file on disk and decides. Each listed file answers for one message at most.
class UpdatePlanner {
 public:
  // How the present state of a file is found: by default its bytes are read through `fs` and
  // hashed. A caller may hand in one that has read them ahead (on other threads).
  using Looker = std::function<FileOnDisk(const std::string& path)>;
  UpdatePlanner(OutputFs* fs, Format format, ManifestContents listed, Looker look = nullptr);

  struct Decision {
    UpdateAction action = UpdateAction::kWrite;
    const ListedFile* listed = nullptr;
    std::string path;  // kSkip, kRewrite: the file's path now (a Maildir reader may rename it)
  };
  // `folder` is the message's place (MailWriter::Locate(...).path), `sha256` its bytes' digest.
  Decision Decide(const std::string& folder, const Sha256Digest& sha256);

  void Count(UpdateAction action);
  const UpdateCounts& counts() const { return counts_; }
  // The listed files that no message claimed, to be carried into the new manifest.
  std::vector<const ListedFile*> Unclaimed() const;

 private:
  std::string FolderOf(const std::string& path) const;
  std::string FindNow(const ListedFile& listed);
  FileOnDisk Look(const std::string& path);

  OutputFs* fs_;
  Format format_;
  ManifestContents listed_;
  Looker look_;
  std::vector<bool> claimed_;
  std::multimap<std::pair<std::string, Sha256Digest>, size_t> byContent_;
  // Maildir: the files of a Maildir's cur/ and new/ by their unique part.
  std::map<std::string, std::map<std::string, std::string>> maildirFiles_;
  UpdateCounts counts_;
};

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MANIFEST_H_
