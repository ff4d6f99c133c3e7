// From what the rescue engine found to what the output side and `quillon list` need: each
// message's facts in UTF-8 (output/message.h), and each mailbox's folder path as Outlook Express
// showed it. The texts of a mailbox file are 8-bit in the code page of the Windows that wrote
// it; they are decoded with the one the user names, else the one the message's own headers show,
// else Windows-1252 (catalogue/text.h).
#ifndef QUILLON_CLI_MESSAGE_FACTS_H_
#define QUILLON_CLI_MESSAGE_FACTS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "output/folder_paths.h"
#include "output/message.h"
#include "rescue/rescue.h"

namespace quillon {

// The facts of `message`, a planned message of a rescue of the mailbox file `mailbox` (the path
// as the user gave it), whose index record, read again for this (rescue::RecordReader), is
// `record` (null when it has none, or it could not be read). `messageStart` holds the first bytes
// of its text (its header block, or as much of it as was read): the code page hint, and subject,
// sender, recipient, Message-ID and date where the index gives none. `number` is n. Texts are
// decoded with `userCodePage` when not 0, else the code page the message's headers show, else
// `fallbackCodePage` (the store's, when known: headers-only messages have no headers), else
// Windows-1252. The caller sets `folder`, where the message goes.
output::MessageFacts FactsOf(const std::string& mailbox, const catalogue::MessageInfo* record,
                             const rescue::PlannedMessage& message, uint32_t number,
                             std::string_view messageStart, uint32_t userCodePage,
                             uint32_t fallbackCodePage = 0);

// The output side's flags of an index record's flags.
uint32_t OutputFlags(uint32_t indexFlags);

// The folder paths of mailbox files, from the Folders.dbx that lies beside them, each store
// folder read once. The folder names in Folders.dbx are 8-bit and name no code page: unless the
// user names one, it is the one under which the most file names the records hold match the
// files beside it (a store copied from a Windows disk has its file names in Unicode), else
// Windows-1252.
class StoreFolders {
 public:
  explicit StoreFolders(uint32_t userCodePage) : userCodePage_(userCodePage) {}

  // The folder path of the mailbox file at `mailboxPath`, outermost name first: its record's in
  // Folders.dbx, else `ownName` (the 8-bit name of its file-info area), else the file's name
  // without ".dbx".
  std::vector<std::string> PathOf(const std::string& mailboxPath, const std::string& ownName);

  // False when the store folder that holds `mailboxPath` has a Folders.dbx that does not list
  // it: PathOf then puts it under a folder of its own (output::FolderPaths::unlisted).
  bool Listed(const std::string& mailboxPath) {
    return StoreOf(mailboxPath).paths.Lists(mailboxPath);
  }

  // The code page of the store folder that holds `mailboxPath`: the user's, or the one its file
  // names showed; 0 when nothing showed one.
  uint32_t CodePageOf(const std::string& mailboxPath) { return StoreOf(mailboxPath).codePage; }

  // Every folder Folders.dbx beside `mailboxPath` names, parents first; none without one.
  const std::vector<std::vector<std::string>>& AllFolders(const std::string& mailboxPath);

 private:
  struct Store {
    output::FolderPaths paths;
    uint32_t codePage = 0;
  };
  const Store& StoreOf(const std::string& mailboxPath);

  uint32_t userCodePage_;
  std::map<std::string, Store> stores_;  // by the folder as given
};

// The folder a path lies in, as given ("" for a bare file name), and the file's own name.
std::string ParentOf(const std::string& path);

}  // namespace quillon

#endif  // QUILLON_CLI_MESSAGE_FACTS_H_
