// One folder's entries as the store finder needs them: what each entry is, seen without following
// a link, and a regular file's size (an output folder lists its entries as FolderEntry too,
// through OutputFs::List). Nothing but folders is ever opened, so a FIFO or a device in
// the tree cannot block the search. Names and paths are UTF-8 (on Windows, the wide API's names
// converted). folder_listing_posix.cc / folder_listing_win32.cc.
#ifndef QUILLON_FS_FOLDER_LISTING_H_
#define QUILLON_FS_FOLDER_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "text/paths.h"  // JoinPath, to reach what a listing found

namespace quillon {

enum class EntryKind {
  kFolder,       // a real folder: not a symbolic link, junction or other reparse point
  kRegularFile,  // a regular file (on POSIX not a link to one)
  kOther,        // links, junctions, FIFOs, devices, sockets, and entries that vanished
};

struct FolderEntry {
  std::string name;  // without the folder
  EntryKind kind = EntryKind::kOther;
  uint64_t size = 0;  // a regular file's length; 0 for anything else
};

// Lists `folder` into *entries ("." and ".." left out), in the system's order, reading at most
// `maxEntries` of them; *truncated says whether more were left unread. `followLink` lets `folder`
// itself be a link to a folder (a path the user named); otherwise a link there fails like a
// non-folder. False, with the system's reason in *error and *entries empty, when the folder
// cannot be opened or read. True with *error set when the folder could be listed but its entries
// could not be looked at (on POSIX, a folder with read but no search permission): those entries
// are kOther, and *error is the system's reason; otherwise *error is left as it was.
bool ListFolder(const std::string& folder, bool followLink, uint64_t maxEntries,
                std::vector<FolderEntry>* entries, bool* truncated, std::string* error);

}  // namespace quillon

#endif  // QUILLON_FS_FOLDER_LISTING_H_
