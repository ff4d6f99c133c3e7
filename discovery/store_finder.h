// Finds Outlook Express store folders under folders the user names: an old disk, a copied
// profile, a backup. A store folder is one that holds at least one regular file named *.dbx (any
// case); Folders.dbx is one of them when present. docs/locate.md describes the search.
#ifndef QUILLON_DISCOVERY_STORE_FINDER_H_
#define QUILLON_DISCOVERY_STORE_FINDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// How far the search goes below each folder it is given (that folder is level 0). The Identities
// layout lies 8 levels below a Windows disk's root, so a whole disk copied into a folder fits.
inline constexpr int kDefaultMaxDepth = 12;
// Entries (files and folders alike) read under one given folder before the search of it stops:
// a Windows XP disk holds some 100,000; this keeps a search of a huge share from running on.
inline constexpr uint64_t kDefaultMaxEntries = 2'000'000;

struct DbxFile {
  std::string name;  // as on disk, without the folder
  uint64_t size = 0;
};

// What a store's path says about its identity: .../Identities/{GUID}/Microsoft/Outlook Express,
// names in any case.
struct StoreIdentity {
  std::string guid;         // "{...}" as in the path
  std::string user;         // the profile folder's name; empty when the layout is not known
  std::string profile;      // the user's profile folder; empty when not known
  std::string displayName;  // "Username" of the identity, UTF-8; empty when no hive gave it
  std::string nameSource;   // the hive file that gave displayName, or "registry"
};

struct MailStore {
  std::string path;  // the store folder, as reached from the given folder
  bool hasFoldersDbx = false;
  std::vector<DbxFile> dbxFiles;  // sorted by name, byte order
  uint64_t totalSize = 0;         // of dbxFiles
  bool hasIdentity = false;
  StoreIdentity identity;  // meaningful when hasIdentity
};

enum class NoteKind {
  kGivenFolderUnreadable,  // a folder given to the search (or named by the registry) is no
                           // folder, or cannot be read: nothing was searched there
  kFolderUnreadable,       // a folder below it cannot be read
  kDepthBound,             // folders lie deeper than the bound (path: the given folder)
  kEntryBound,             // the entry bound stopped the search (path: the given folder)
  kHiveUnreadable,         // a hive could not be read for identity names
  kNoStoreRoot,            // an identity in the registry names no usable folder
};

// Something the search stepped over: a folder it could not read, a bound it met, a hive it could
// not read. Not fatal: the search goes on with the rest.
struct FindNote {
  std::string path;
  std::string reason;  // English, for people: "cannot be read: Permission denied"
  NoteKind kind = NoteKind::kFolderUnreadable;
};

struct FindOptions {
  int maxDepth = kDefaultMaxDepth;
  uint64_t maxEntries = kDefaultMaxEntries;
  // Copied NTUSER.DAT files to read identity names from, tried in order before the hive found in
  // each store's profile folder.
  std::vector<std::string> hives;
};

struct FindResult {
  std::vector<MailStore> stores;  // sorted by path, byte order; each store once
  std::vector<FindNote> notes;    // sorted by path, then reason
};

// Searches each of `folders` (a link there is followed; none beneath it is, nor any junction or
// other reparse point on Windows) to options.maxDepth levels, reading at most options.maxEntries
// entries under each, for store folders. Only folders are opened; files are looked at, never
// opened, except the hives of identity names. A folder that cannot be read, and one beyond the
// depth bound, gives a note; a given path that is no folder gives a note too.
FindResult FindStores(const std::vector<std::string>& folders, const FindOptions& options);

// The store folder `folder` itself, not searched below: its .dbx files and identity. False, with a
// note in *notes, when it cannot be listed.
bool DescribeStore(const std::string& folder, const FindOptions& options, MailStore* store,
                   std::vector<FindNote>* notes);

// Recognises the Identities layout in a store's path, separators '/' or '\'. True, with *identity
// set (no displayName), when the path ends in Identities/{GUID}/Microsoft/Outlook Express (a
// trailing separator allowed), GUID being 8-4-4-4-12 hex digits in braces. The profile, and the
// user named after it, are known when the two folders between it and Identities are
// "Local Settings/Application Data" (Windows 2000, XP) or "AppData/Local" (Vista and later).
bool ParseIdentityPath(const std::string& path, StoreIdentity* identity);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_STORE_FINDER_H_
