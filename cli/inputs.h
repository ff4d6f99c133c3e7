// What the PATH arguments of `export`, `check` and `list` stand for: a file is that mailbox; a
// folder holding .dbx files of its own means those files; a folder holding none means nothing,
// but the store folders `locate` finds beneath it are named so the user can pick one. With
// --recursive a folder means every store folder at or beneath it, each given an output subfolder
// of its own, named after its identity, so that two identities never meet in one folder.
#ifndef QUILLON_CLI_INPUTS_H_
#define QUILLON_CLI_INPUTS_H_

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

}  // namespace quillon

#endif  // QUILLON_CLI_INPUTS_H_
