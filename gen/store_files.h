// The files of a store beside its message folders: Folders.dbx (the folder tree), Pop3uidl.dbx
// and Offline.dbx.
#ifndef QUILLON_GEN_STORE_FILES_H_
#define QUILLON_GEN_STORE_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gen/output.h"

namespace quillon::gen {

// One folder as Folders.dbx records it. Strings are 8-bit, in the writer's code page.
struct FolderRecord {
  uint32_t id = 0;      // the root, "Outlook Express", is 0 and its record has no id field
  uint32_t parent = 0;  // 0xFFFFFFFF for the root
  std::string name;
  std::string fileName;  // the folder's .dbx file; empty for containers and never-made files
  std::string accountKey;
  uint32_t flags = 0;
  uint32_t messages = 0;  // records in its file
  uint32_t unread = 0;
  uint32_t special = 0;  // 1 Inbox, 2 Outbox, 3 Sent Items, 4 Deleted Items, 5 Drafts
  uint32_t kind = 3;     // 0 news, 1 IMAP, 2 HTTP mail, 3 local, 4 the root
};

// Folders.dbx: its three trees list `folders` by id, by parent and name, and by parent and name
// without the root, as in the real file we have. `created` is a FILETIME for the file-info area.
// Appends the file to `out`, which must be empty.
bool WriteFoldersFile(const std::vector<FolderRecord>& folders, uint64_t created, Output& out,
                      std::string* error);

// Pop3uidl.dbx as the client creates it when missing: a header and a file-info area, no
// records yet.
bool WritePop3uidlFile(uint64_t created, Output& out, std::string* error);

// Offline.dbx with no actions waiting: the shape of the real one in the shared corpus.
bool WriteOfflineFile(Output& out, std::string* error);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_STORE_FILES_H_
