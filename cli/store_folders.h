// A store folder as every command reads it, once: the folders of its Folders.dbx (each folder's
// name and the file that holds its mail) and the one code page in which the store's 8-bit
// strings are decoded: Folders.dbx's names, each folder file's own name, the index's subjects
// and people's names. Outlook Express writes them in the ANSI code page of the Windows that
// stored them, never in a message's charset, and names it nowhere: unless the user names it, it
// is decided from what the store shows (catalogue/code_page_guess.h).
#ifndef QUILLON_CLI_STORE_FOLDERS_H_
#define QUILLON_CLI_STORE_FOLDERS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/folder_paths.h"

namespace quillon {

struct StoreCodePage {
  uint32_t codePage = 1252;
  bool given = false;  // by the user (--codepage)
  // Code pages that fit what the store shows as well, and read some of its strings otherwise:
  // not empty when `codePage` was a default among them.
  std::vector<uint32_t> alsoPossible;
};

struct StoreFolders {
  std::string folder;    // the store folder, as the mailbox paths give it ("" for the current one)
  bool present = false;  // a Folders.dbx was found and read, whatever its damage
  StoreCodePage codePage;
  // The folders of Folders.dbx, their names decoded; `records[f.record]` is folder f's record.
  output::FolderPaths paths;
  struct Record {
    std::string fileName;  // the .dbx file it names, UTF-8; empty for none
    uint32_t kind = 0;     // 0 news, 1 IMAP, 2 HTTP mail, 3 local
  };
  std::vector<Record> records;

  // A string of the store's files (an index's subject or name, a folder name) as UTF-8: RFC 2047
  // words decoded, every other byte in the store's code page. The one place such strings are
  // decoded.
  std::string Text(std::string_view raw) const;
  // The folder path of the mailbox file `fileName` (its name on disk, or its path): its
  // record's in Folders.dbx; when Folders.dbx does not list it, a folder of its own under
  // paths.unlisted; without Folders.dbx, `ownName` (the 8-bit name of its file-info area), else
  // the file's name without ".dbx".
  std::vector<std::string> PathOf(const std::string& fileName, std::string_view ownName) const;
  // False when Folders.dbx names folders but not the file `fileName`: PathOf then puts it under
  // paths.unlisted.
  bool Listed(const std::string& fileName) const { return paths.Lists(fileName); }
  // The folder whose record names the file `fileName`, or FolderPaths::kTop.
  uint32_t FolderOf(const std::string& fileName) const { return paths.FolderOfFile(fileName); }
  // "local", "imap", "http", "news" for the record of folder `index`; null for others.
  const char* SourceOf(uint32_t index) const;
};

// Reads the store folder `folder`: its Folders.dbx (its name in any case), and unless
// `userCodePage` is not 0, a sample of what its mailbox files hold (the records and message
// headers of the largest few) to decide the code page. Memory and time are bounded whatever the
// store holds.
StoreFolders ReadStoreFolders(const std::string& folder, uint32_t userCodePage);

// The words of a store's note when its code page was a guess among others ("" when it was not):
// what was taken, what else would fit, and the --codepage hint.
std::string CodePageNote(const StoreFolders& store);

// The store folders of one run, each read once, when first asked for. The note of each store
// whose code page was a guess goes to `note` then, once.
class StoreReader {
 public:
  StoreReader(uint32_t userCodePage, std::function<void(const std::string&)> note)
      : userCodePage_(userCodePage), note_(std::move(note)) {}

  // The store that holds the mailbox file `mailboxPath` (the folder it lies in).
  const StoreFolders& Of(const std::string& mailboxPath);
  const StoreFolders& OfFolder(const std::string& folder);

 private:
  uint32_t userCodePage_;
  std::function<void(const std::string&)> note_;
  std::map<std::string, std::unique_ptr<StoreFolders>> stores_;  // by the folder as given
};

// The folder a path lies in, as given ("" for a bare file name).
std::string ParentOf(const std::string& path);

}  // namespace quillon

#endif  // QUILLON_CLI_STORE_FOLDERS_H_
