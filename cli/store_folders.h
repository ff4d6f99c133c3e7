// The folders of a store folder as Outlook Express showed them, from its Folders.dbx: each
// folder's name and the file that holds its mail, decoded to UTF-8, and the code page to decode
// the store's names with when the user named none.
#ifndef QUILLON_CLI_STORE_FOLDERS_H_
#define QUILLON_CLI_STORE_FOLDERS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "output/folder_paths.h"

namespace quillon {

struct StoreFolder {
  std::vector<std::string> path;  // names from below the root ("Local Folders", "Inbox")
  std::string fileName;           // the .dbx file its record names, UTF-8; empty for none
  uint32_t kind = 0;              // 0 news, 1 IMAP, 2 HTTP mail, 3 local
};

struct StoreFolders {
  bool present = false;        // a Folders.dbx was found and read, whatever its damage
  std::string path;            // of Folders.dbx
  uint32_t codePage = 0;       // its names were decoded with
  bool codePageFound = false;  // the names matched the files on disk under codePage (a guess)
  // Every folder below the root, sorted by path so that each is followed by those beneath it.
  std::vector<StoreFolder> folders;
  // The folder a file that no record names goes under (output::FolderPaths::unlisted); empty
  // when no folder is listed.
  std::string unlisted;

  // The folder whose record names the file `fileName` (its name on disk; case folded as
  // Windows folds it), or null.
  const StoreFolder* FolderOf(const std::string& fileName) const;
};

// Reads the Folders.dbx (its name in any case) in `folder`, whose .dbx files are `dbxNames`
// (names on disk). The names are decoded with `userCodePage` when not 0; otherwise with the code
// page under which the most non-ASCII file names of the records name files of `dbxNames`, else
// Windows-1252. Not present when the folder holds no Folders.dbx or it cannot be read.
StoreFolders ReadStoreFolders(const std::string& folder, const std::vector<std::string>& dbxNames,
                              uint32_t userCodePage);

// The code page under which the most of `rawNames` (8-bit names from the store's records), once
// decoded, equal a name of `dbxNames` as Windows compares names; only names with a byte above
// 0x7F count. 0 when none of them matches under any code page this system has.
uint32_t CodePageOfNames(const std::vector<std::string>& rawNames,
                         const std::vector<std::string>& dbxNames);

// "local", "imap", "http", "news" for a folder record's kind; null for others.
const char* FolderSourceName(uint32_t kind);

}  // namespace quillon

#endif  // QUILLON_CLI_STORE_FOLDERS_H_
