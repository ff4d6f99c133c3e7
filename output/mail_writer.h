// Writes messages into an output folder as eml files, mbox files or Maildirs, message by
// message, streaming each one's bytes through (docs/output.md describes what each format gets).
#ifndef QUILLON_OUTPUT_MAIL_WRITER_H_
#define QUILLON_OUTPUT_MAIL_WRITER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fs/output_fs.h"
#include "hash/digest.h"
#include "output/folder_tree.h"
#include "output/mbox_quoting.h"
#include "output/message.h"
#include "output/names.h"

namespace quillon::output {

struct WriterOptions {
  Format format = Format::kEml;
  // eml only (NameTemplate).
  std::string nameTemplate = "{mailbox}-{n}";
  // The time of a message whose index and headers give none, in seconds since 1970 UTC.
  int64_t exportTime = 0;
  // Compute each message's SHA-256 (for the manifest) when the caller did not give it.
  bool hashMessages = true;
  // Names in the output folder that no message or folder may take (the manifest's).
  std::vector<std::string> reservedNames;
  // --update: a name that exists in a folder is never taken, so files this run did not write
  // are never replaced. Otherwise a file of the name a message gets is replaced.
  bool keepExisting = false;
  // True for a path (relative to the output folder) that no new file may take though nothing is
  // there: a file the last run's manifest lists, gone since, whose line is carried over.
  std::function<bool(const std::string& path)> listed;
  // Maildir names: "<seconds>.M<microseconds>P<pid>Q<count>.<host>". Defaults: the system's.
  std::function<int64_t()> clockMicroseconds;
  std::optional<uint64_t> processId;
  std::optional<std::string> hostName;
  std::optional<char> maildirInfoSeparator;
  // Set once the run is being stopped (a signal): a message whose source fails then is cut away
  // from its mbox rather than kept, so that the mbox ends at the last whole message.
  const std::atomic<bool>* abort = nullptr;
};

// What became of one message.
struct WrittenMessage {
  std::string path;   // relative to the output folder, '/' between folders (mbox: its file)
  uint64_t size = 0;  // bytes of the message as given (before any mbox quoting)
  std::optional<Sha256Digest> sha256;  // given by the caller, or computed when asked
  int64_t time = 0;                    // MessageTime: the From line's time, the file's time
};

class MailWriter {
 public:
  // Null, with *error in words, when the options cannot be used (a name template with a folder
  // separator: a usage error for the command). `fs` must outlive the writer.
  static std::unique_ptr<MailWriter> Create(OutputFs* fs, WriterOptions options,
                                            std::string* error);
  ~MailWriter();

  // Makes `folder` (outermost name first) exist in the output even when no message goes there.
  bool AddFolder(const std::vector<std::string>& folder, std::string* error);

  // Writes one message into its folder. eml and maildir files appear whole or not at all: when
  // the source fails or a write fails, nothing of the message stays. An mbox keeps what was
  // written of a message whose source failed, ended as a message, and the call says so; but
  // when a write failed, or the source failed because the run is being stopped (`abort`), the
  // mbox is cut back to where the message began, and ends at the last whole message.
  bool Write(const MessageFacts& facts, const MessageSource& source, WrittenMessage* written,
             std::string* error);

  // eml and maildir: writes the message over `path`, a file this tool wrote before (--update).
  bool Rewrite(const std::string& path, const MessageFacts& facts, const MessageSource& source,
               WrittenMessage* written, std::string* error);

  // Closes the open mbox file. Call once after the last message; false when that failed.
  bool Finish(std::string* error);

  // The place of a folder (FolderTree): for --update, which compares a message with what its
  // folder holds.
  FolderTree::Place Locate(const std::vector<std::string>& folder) { return tree_.Locate(folder); }
  // "cur/<unique>" and the like in the Maildir of `path` ("<maildir>/cur/..."), for --update.
  static std::string MaildirOf(const std::string& path);

 private:
  MailWriter(OutputFs* fs, WriterOptions options, NameTemplate nameTemplate);
  bool MakeFolder(const std::string& folder, std::string* error);
  bool MakeMaildir(const std::string& maildir, std::string* error);
  bool CreateMaildir(const std::string& maildir, std::string* error);
  // Folder `node` of the tree made (eml) or its Maildir (maildir), once.
  bool MakePlace(size_t node, std::string* error);
  // The mbox file of folder `node` begun empty, once.
  bool TouchMbox(size_t node, std::string* error);
  bool OpenMbox(const FolderTree::Place& place, std::string* error);
  uint8_t& StateOf(size_t node);
  bool CloseMbox(std::string* error);
  NameSet& Names(const std::string& dir);
  // The first name of `stem` in `names` that the last run's manifest does not list (the listed
  // ones are taken on the way).
  NameSet::Offer UnlistedName(const std::string& dir, NameSet& names, const std::string& stem);
  std::string UniqueMaildirName();
  std::string TemporaryName();
  bool WriteFile(const std::string* rewritePath, const MessageFacts& facts,
                 const MessageSource& source, WrittenMessage* written, std::string* error);
  bool WriteMbox(const MessageFacts& facts, const MessageSource& source, WrittenMessage* written,
                 std::string* error);
  // Cuts the open mbox back to its first `size` bytes; false when the file would not be cut.
  bool CutMbox(uint64_t size);

  OutputFs* fs_;
  WriterOptions options_;
  NameTemplate template_;
  FolderTree tree_;
  WriteBuffer buffer_;
  // The tree's folders, by node: made (eml, maildir), or their mbox begun in this run. A flag
  // a folder, where a set of paths held every path of a deep tree whole.
  enum : uint8_t { kMade = 1, kTouched = 2 };
  std::vector<uint8_t> nodeState_;
  std::set<std::string> made_;    // other folders made or seen to exist (an mbox's, a rewrite's)
  std::set<std::string> listed_;  // folders whose names were read (keepExisting)
  uint64_t sequence_ = 0;         // Q of Maildir names, and temporary names
  // The mbox file being written.
  std::string mboxPath_;
  std::unique_ptr<NewFile> mboxNew_;
  std::unique_ptr<AppendFile> mboxAppend_;
  FromQuoter quoter_;
};

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MAIL_WRITER_H_
