// The manifest of an export: JSON Lines, one object per file written (the fields of
// `quillon list --json` and "path"), one summary object per mailbox; and the reading side for
// --update, which rewrites only what is missing, changed or cut, and never touches a file the
// manifest does not list. docs/output.md lists the fields.
#ifndef QUILLON_OUTPUT_MANIFEST_H_
#define QUILLON_OUTPUT_MANIFEST_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/output_fs.h"
#include "hash/digest.h"
#include "output/folder_tree.h"
#include "output/mail_writer.h"
#include "output/message.h"

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
};

// The key under which a message and the manifest's line of its file meet: where it lies in its
// mailbox, its length, what the index says of it.
std::string MessageIdentity(const std::string& mailbox, const std::string& status,
                            uint64_t firstBlock, uint64_t blocks, uint64_t size,
                            const std::optional<uint32_t>& indexId, const std::string& messageId);

// True for a relative path that stays inside the output folder.
bool PathStaysInside(const std::string& path);

// The manifest an earlier run left in the output folder, for --update. What its lines say is not
// held: each file line costs a few dozen bytes of index (where it is, a check of what it lists,
// keys of the file's name, place and bytes, and of the message it holds), and is read again from
// the manifest, which stays open, when it is wanted. So a manifest of millions of lines is read
// in a few dozen MiB, however long its lines. Safe to read from several threads at once.
class ListedManifest {
 public:
  // Reads the manifest at `path` (none: an empty one) of an output of `format`, keeping the
  // identity (MessageIdentity) of the message each file holds for the lines whose mailbox
  // `ofThisRun` takes. Null, with *error, when the manifest cannot be read ("PATH: reason") or
  // `abort` was set meanwhile; and null with *refused set and *error in words ("two of its
  // lines name one file, a.eml") when its lines do not name files of this output, each once:
  // two lines naming one file (as a file system that ignores case compares names; a Maildir
  // file by its unique part, which stays when a mail program renames the file), a line naming
  // the output folder's own files (OwnNames), a line giving "path", "size" or "sha256" twice.
  // Other lines that are no file line this tool wrote are passed over and counted: not JSON,
  // nested deeper than a manifest line, longer than 1 MiB, without path, size and sha256, or with
  // a path that would leave the output folder (absolute, "..", a drive, a backslash, ':' but in
  // a file's own name).
  static std::unique_ptr<ListedManifest> Open(
      OutputFs* fs, const std::string& path, Format format,
      const std::function<bool(const std::string& mailbox)>& ofThisRun,
      const std::atomic<bool>* abort, bool* refused, std::string* error);
  ~ListedManifest();

  // The file lines, numbered from 0 in manifest order.
  size_t size() const { return lines_.size(); }
  uint64_t ignoredLines() const { return ignored_; }

  // What file line `index` lists, read again, and the identity of its message when it has one
  // (empty otherwise). False when the line is no longer as it was (the manifest was changed).
  bool Read(uint32_t index, ListedFile* file, std::string* identity = nullptr,
            std::string* line = nullptr) const;

  // The first file line that lists the message of `identity`, and what it lists; false when
  // none does.
  bool FindIdentity(const std::string& identity, uint32_t* line, ListedFile* file) const;
  // The lines that may list the message of `identity` (its key's), ascending: to be read and
  // checked.
  std::vector<uint32_t> IdentityCandidates(const std::string& identity) const;
  // The lines of an identity kept (of this run's mailboxes), ascending.
  std::vector<uint32_t> LinesOfThisRun() const;
  // The file lines that may list a file of `sha256` at the place `place` (PlaceOf), ascending:
  // to be read and checked.
  std::vector<uint32_t> Candidates(const std::string& place, const Sha256Digest& sha256) const;
  // True when a file line names the file `path`, as compared above.
  bool Names(const std::string& path) const;
  // Where a listed file lies, for Candidates: its folder; for Maildir, its Maildir.
  std::string PlaceOf(const std::string& path) const;
  Format format() const { return format_; }

  // Gives `sink` each of the lines `indices` (ascending) that is still as it was, in order.
  bool ReadLines(const std::vector<uint32_t>& indices,
                 const std::function<void(const std::string& line)>& sink,
                 std::string* error) const;

 private:
  class Reader;
  struct Line {
    uint32_t offset;  // of its first byte
    uint32_t check;   // of its bytes
  };
  struct Key {  // a key of a line (a hash: lines found by it are read and checked)
    uint32_t key;
    uint32_t line;
    bool operator<(const Key& other) const {
      return key != other.key ? key < other.key : line < other.line;
    }
  };
  ListedManifest(Format format, std::unique_ptr<InputFile> file);
  std::string NameKey(const std::string& path) const;

  Format format_;
  std::unique_ptr<InputFile> file_;
  std::vector<Line> lines_;
  std::vector<Key> byName_, byPlace_;
  // A message's identity kept in 32 bits: the few keys that meet among millions of lines cost
  // a line read again each, where 64 bits cost a third more memory on every line.
  std::vector<Key> byIdentity_;
  uint64_t ignored_ = 0;
};

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

// What `path` holds now, read through `fs` and hashed: no more than one byte past `listedSize`
// is read (a file longer than listed has changed, and may be endless), and nothing once `abort`
// is set (the file then counts as changed).
FileOnDisk LookAt(OutputFs* fs, const std::string& path, uint64_t listedSize,
                  const std::atomic<bool>* abort = nullptr);

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
  // How the present state of listed file `line` at `path` is found: by default its bytes are
  // read through `fs` and hashed (LookAt). A caller may hand in one that read them ahead.
  using Looker =
      std::function<FileOnDisk(uint32_t line, const std::string& path, const ListedFile& listed)>;
  // `listed` must outlive the planner.
  UpdatePlanner(OutputFs* fs, const ListedManifest* listed, Looker look = nullptr);

  // A listed file, as read.
  struct Listed {
    uint32_t line;
    ListedFile file;
  };
  struct Decision {
    UpdateAction action = UpdateAction::kWrite;
    std::optional<Listed> listed;
    std::string path;  // kSkip, kRewrite: the file's path now (a Maildir reader may rename it)
  };
  // `place` is the message's (MailWriter::Locate(...).path), `sha256` its bytes' digest. `known`
  // is the listed file found for it already (by its identity), taken when it lies there and
  // holds those bytes, and not taken before.
  Decision Decide(const std::string& place, const Sha256Digest& sha256,
                  const std::optional<Listed>& known = std::nullopt);

  void Count(UpdateAction action);
  const UpdateCounts& counts() const { return counts_; }
  // The listed files that no message claimed, to be carried into the new manifest (ascending).
  std::vector<uint32_t> Unclaimed() const;

 private:
  bool Claim(const Listed& listed, const std::string& place, const Sha256Digest& sha256);
  std::optional<std::string> FindRenamed(const std::string& path);

  OutputFs* fs_;
  const ListedManifest* listed_;
  Looker look_;
  std::vector<bool> claimed_;
  // Maildir: the files of a Maildir's cur/ and new/ by their unique part, read when a listed file
  // is not where the manifest says (a mail program renames a file when its flags change). Each
  // name is kept as the key of its unique part and what follows it.
  struct MaildirFile {
    uint64_t key;
    std::string rest;  // "cur/" or "new/" and what follows the unique part
  };
  std::map<std::string, std::vector<MaildirFile>> maildirFiles_;
  UpdateCounts counts_;
};

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MANIFEST_H_
