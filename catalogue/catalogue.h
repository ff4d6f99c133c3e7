// The catalogue of a mailbox file: what its header, file-info area, trees and indexed records say,
// read from the file's own structures (never from its message blocks), with the damage found on
// the way. Every offset and length from the file is checked before use; damage is reported and
// reading goes on with what is sound.
#ifndef QUILLON_CATALOGUE_CATALOGUE_H_
#define QUILLON_CATALOGUE_CATALOGUE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/damage.h"
#include "catalogue/index_tree.h"
#include "catalogue/indexed_record.h"
#include "fs/file_io.h"

namespace quillon::catalogue {

enum class FileKind { kMessages, kFolders, kOffline, kPop3uidl, kNotAMailbox };

// "messages", "folders", "offline", "pop3uidl", "not-a-mailbox".
const char* FileKindName(FileKind kind);

// The header words that say where things are. Zero where the file ends before the word.
struct FileHeader {
  uint32_t magic = 0;
  uint32_t classWord = 0;
  uint32_t fileInfoLength = 0;           // 0x1C
  uint32_t lastSegment = 0;              // 0x3C: the last message segment
  uint32_t segmentLength = 0;            // 0x40
  uint32_t deletedListRoot = 0;          // 0x48: the most recently freed block
  uint32_t lastMessageId = 0;            // 0x5C
  uint32_t usedSpace = 0;                // 0x7C: the file may be longer
  std::array<uint32_t, 3> treeRoots{};   // 0xE4, 0xE8, 0xEC
  std::array<uint32_t, 3> treeCounts{};  // 0xC4, 0xC8, 0xCC
};

// The file-info area of a message folder.
struct FolderFileInfo {
  bool present = false;    // false when the file is not a message folder or ends before it
  uint8_t source = 0;      // as a folder's kind: 0 news, 1 IMAP, 3 local folder
  std::string accountKey;  // the account's registry key ("LocalStore" for local folders)
  std::string name;        // the folder's name as first created (a rename changes Folders.dbx only)
};

// The kind of account a mailbox file's source or a Folders.dbx folder's kind names: "news",
// "imap", "http" (HTTP mail), "local", or null for a value the format does not name.
const char* SourceName(uint32_t source);

struct Catalogue {
  FileKind kind = FileKind::kNotAMailbox;
  uint32_t fileSize = 0;  // the low 32 bits of the file's length when it was read
  FileHeader header;
  FolderFileInfo fileInfo;
  std::array<TreeListing, 3> trees;  // as the header words 0xE4, 0xE8, 0xEC give them
  // A message folder's records in the order of its tree at 0xE4; only those that could be read.
  // What the rest of a record says is read again when wanted (ReadMessageInfoAt).
  std::vector<MessageEntry> messages;
  // Folders.dbx: the records of its three trees, each once, in the order of the first tree that
  // lists it (the trees list the same records in different orders, and not always all of them).
  std::vector<FolderInfo> folders;
  std::vector<Damage> damage;  // the first DamageLog::kKept reports, in the order found
  uint64_t damageCount = 0;    // all of them
};

struct CatalogueOptions {
  bool readRecords = true;  // false: header, file-info area and trees only
  // Records read at most, the first in tree order, and the trees walked only as far as they
  // take: for a look at a few.
  size_t maxRecords = SIZE_MAX;
};

// Reads the catalogue of `file` (not owned). Each piece of damage also goes to `reporter` when it
// is not null. Memory and time are bounded by the file's size, whatever its contents.
Catalogue ReadCatalogue(InputFile* file, DamageReporter* reporter,
                        const CatalogueOptions& options = {});

// The message-info record at `recordOffset` of `file` in full, read again (it was checked, and its
// damage reported, when the catalogue was read). False when it cannot be read now.
bool ReadMessageInfoAt(InputFile* file, uint32_t recordOffset, MessageInfo* info);

// Every record of `catalogue.messages` in full, in that order, for callers that want them all
// at once (tests and tools: a large folder's records hold tens of MiB of strings).
std::vector<MessageInfo> ReadMessageInfos(InputFile* file, const Catalogue& catalogue);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_CATALOGUE_H_
