// What the PATH arguments of `export`, `check` and `list` stand for: a file is that mailbox; a
// folder holding .dbx files of its own means those files; a folder holding none means nothing,
// but the store folders `locate` finds beneath it are named so the user can pick one. With
// --recursive a folder means every store folder at or beneath it, each given an output subfolder
// of its own, named after its identity, so that two identities never meet in one folder.
#ifndef QUILLON_CLI_INPUTS_H_
#define QUILLON_CLI_INPUTS_H_

#include <set>
#include <string>
#include <vector>

#include "discovery/store_finder.h"

namespace quillon {

struct InputOptions {
  bool recursive = false;
  // Bounds of every search beneath a folder, and the hives that name identities.
  FindOptions find;
};

// One set of mailboxes the run takes together: a file given, the .dbx files of a folder given,
// or (with --recursive) a store folder found at or beneath one.
struct InputGroup {
  std::string given;   // the PATH as the user gave it
  std::string folder;  // the folder whose .dbx files these are; empty for a file given
  // Relative to the output folder, where this group's files go: empty (the output folder itself)
  // unless the group is a store found by --recursive. One level, safe for every file system,
  // never the same for two groups of a run (compared ignoring case).
  std::string outputSubfolder;
  std::vector<std::string> mailboxes;  // UTF-8 paths; a folder's sorted by name (byte order)
  bool hasIdentity = false;            // a store of the Identities layout (--recursive only)
  StoreIdentity identity;
};

// A folder given that holds no .dbx file of its own (and, with --recursive, no store beneath).
struct EmptyFolder {
  std::string given;
  std::vector<MailStore> storesBeneath;  // what `locate` finds beneath it, by path
};

// A folder given that could not be listed.
struct UnreadableInput {
  std::string given;
  std::string reason;  // the system's words
};

struct ExpandedInputs {
  std::vector<InputGroup> groups;  // in the order of the PATHs
  std::vector<EmptyFolder> emptyFolders;
  std::vector<UnreadableInput> unreadable;
  // What the searches stepped over: folders they could not read, bounds they met, hives.
  std::vector<FindNote> notes;
};

// Expands `paths` (UTF-8). A path that is not a folder is a mailbox file, even when missing
// (opening it says what is wrong); nothing is opened here but folders, and the hives that name
// identities. Without options.recursive a folder's own *.dbx entries (any case, anything but
// folders) are its mailboxes, and a folder without any is searched beneath as `locate` searches
// to fill EmptyFolder::storesBeneath. With options.recursive every folder is searched, and each
// store found at or beneath it is a group; a store reached from two paths is taken once.
ExpandedInputs ExpandInputs(const std::vector<std::string>& paths, const InputOptions& options);

// The words for an EmptyFolder: "old: no .dbx files in this folder", and when stores lie
// beneath it "; stores found beneath it: old/.../Outlook Express (Main Identity), ...; use
// --recursive to take them all". At most kMaxStoresNamed stores are named, then "and N more".
std::string EmptyFolderWords(const EmptyFolder& folder);
inline constexpr size_t kMaxStoresNamed = 5;

// How a store's identity is shown: "Main Identity", the GUID when no hive named it, empty
// without an identity.
std::string IdentityWords(const MailStore& store);

// The mailbox count of a store: its .dbx files but Folders.dbx, Pop3uidl.dbx and Offline.dbx.
size_t MailboxCount(const MailStore& store);

// What a file is, for the rule below, when no message was found in it.
struct FileVerdict {
  enum Kind {
    kMailbox,    // a message folder without messages (an empty Outbox.dbx)
    kStoreFile,  // a file of a store that holds no mail: Folders.dbx, Offline.dbx, Pop3uidl.dbx
    kOther,      // anything else: an archive, a registry hive, a file of no known kind
  };
  Kind kind = kOther;
  bool recognised = false;  // kOther: a kind of file known by its first bytes (an archive...)
  // For kStoreFile and kOther, what it is and what to do, after "quillon: PATH: ": "a zip
  // archive, not a mailbox: unpack it first", "the folder list of a store: export the folder
  // that holds it" (`command` names the verb).
  std::string words;
};

// Reads the first bytes and the header of the file at `path` (UTF-8); a file that cannot be
// opened is kOther with the system's reason.
FileVerdict JudgeFile(const std::string& path, const std::string& command);

// The one rule that export, check and list hold their PATHs to: each PATH must yield a mailbox
// (a message folder, an empty one too, or any file in which messages were found). A folder that
// holds no .dbx file breaks it, and so does a file given as a PATH that is not a mailbox; a file
// of a store that holds no mail (Folders.dbx...) breaks it only when no mailbox of its folder is
// in the run (`quillon export store/*.dbx` is fine); and a run in which nothing yielded a
// mailbox breaks it. Each break is an error line with a hint, and the run's exit status is
// kExitFailed. A file found in a folder that is not a mailbox is no error: the folder yields.
class PathRule {
 public:
  PathRule(const ExpandedInputs& inputs, std::string command);

  // The errors known before any file is read: each folder without .dbx files, with the stores
  // beneath it.
  std::vector<std::string> Start();
  // The mailbox file at `path` was read, and messages were (or were not) found in it. Returns
  // the error line when the file breaks the rule, else empty.
  std::string Read(const std::string& path, bool messagesFound);
  // The errors known at the end; `failed`: the run reported an error of its own already (then a
  // run that yielded nothing needs no more words).
  std::vector<std::string> Finish(bool failed);
  bool broken() const { return broken_; }

 private:
  const ExpandedInputs& inputs_;
  std::string command_;
  std::set<std::string> named_;     // mailboxes given as PATHs themselves
  std::set<std::string> yielding_;  // the folders of the files that yielded a mailbox
  std::vector<std::pair<std::string, std::string>> storeFiles_;  // path, words: at the end
  size_t yielded_ = 0;
  bool broken_ = false;
};

}  // namespace quillon

#endif  // QUILLON_CLI_INPUTS_H_
