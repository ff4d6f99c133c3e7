#include "catalogue/catalogue.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "catalogue/dbx_format.h"
#include "catalogue/file_reader.h"

namespace quillon::catalogue {
namespace {

FileKind KindOfClass(uint32_t classWord) {
  switch (classWord) {
    case dbx::kClassMessages:
      return FileKind::kMessages;
    case dbx::kClassFolders:
      return FileKind::kFolders;
    case dbx::kClassOffline:
      return FileKind::kOffline;
    case dbx::kClassPop3uidl:
      return FileKind::kPop3uidl;
    default:
      return FileKind::kNotAMailbox;
  }
}

// The zero-terminated string in [begin, end) of `bytes`.
std::string Terminated(const uint8_t* bytes, size_t begin, size_t end) {
  const char* p = reinterpret_cast<const char*>(bytes) + begin;
  const void* zero = std::memchr(p, 0, end - begin);
  return std::string(p, zero ? static_cast<const char*>(zero) - p : end - begin);
}

// Reads the header; false when the file is no mailbox, or of a class this reader does not know.
bool ReadHeader(FileReader& reader, Catalogue* cat) {
  std::vector<uint8_t> bytes(dbx::kHeaderSize, 0);
  const uint32_t got = reader.ReadUpTo(0, dbx::kHeaderSize, bytes.data(), "file header");
  if (got < 8) return false;
  FileHeader& h = cat->header;
  h.magic = Le32(&bytes[0]);
  h.classWord = Le32(&bytes[4]);
  if (h.magic != dbx::kMagic) return false;
  cat->kind = KindOfClass(h.classWord);
  if (cat->kind == FileKind::kNotAMailbox) {
    reader.damage().Damaged(4, "the file class " + Hex(h.classWord) + " is none of a mailbox's");
    return false;
  }
  if (got < dbx::kHeaderSize) {
    // What the file has of the header is still worth reading; the words past its end read as 0.
    reader.damage().Damaged(0, "the file ends at " + Hex(got) + ", inside the " +
                                   Hex(dbx::kHeaderSize) + "-byte header");
  }
  h.fileInfoLength = Le32(&bytes[dbx::kFileInfoLengthWord]);
  h.lastSegment = Le32(&bytes[dbx::kLastSegmentWord]);
  h.segmentLength = Le32(&bytes[dbx::kSegmentLengthWord]);
  h.deletedListRoot = Le32(&bytes[dbx::kDeletedListWord]);
  h.lastMessageId = Le32(&bytes[dbx::kLastMessageIdWord]);
  h.usedSpace = Le32(&bytes[dbx::kUsedSpaceWord]);
  for (int i = 0; i < 3; ++i) {
    h.treeRoots[i] = Le32(&bytes[dbx::kTreeRootWords[i]]);
    h.treeCounts[i] = Le32(&bytes[dbx::kTreeCountWords[i]]);
  }
  // The client may leave the file longer than the space in use, never shorter.
  if (h.usedSpace > reader.size()) {
    reader.damage().Damaged(dbx::kUsedSpaceWord, "the header says " + Hex(h.usedSpace) +
                                                     " bytes are in use; the file ends at " +
                                                     Hex(reader.size()));
  }
  if (h.deletedListRoot != 0 && !reader.Fits(h.deletedListRoot, 4)) {
    reader.damage().Damaged(dbx::kDeletedListWord, "the list of deleted blocks starts at " +
                                                       Hex(h.deletedListRoot) +
                                                       ", past the end of the file");
  }
  return true;
}

void ReadFileInfo(FileReader& reader, Catalogue* cat) {
  // The area's place and layout are fixed; a length word that says otherwise is damaged, and
  // the area is read as every message folder has it.
  if (cat->header.fileInfoLength != dbx::kMessageFileInfoLength) {
    reader.damage().Damaged(dbx::kFileInfoLengthWord, "the header gives the file-info area " +
                                                          Hex(cat->header.fileInfoLength) +
                                                          " bytes, not " +
                                                          Hex(dbx::kMessageFileInfoLength));
  }
  uint8_t area[dbx::kMessageFileInfoLength] = {};
  const uint32_t got =
      reader.ReadUpTo(dbx::kFileInfoOffset, sizeof area, area, "the file-info area");
  if (!reader.Fits(dbx::kFileInfoOffset, sizeof area)) {
    reader.damage().Damaged(dbx::kFileInfoOffset, "the file ends at " + Hex(reader.size()) +
                                                      ", before the end of the file-info area");
  }
  if (got < sizeof area) {
    // Without its source byte and the start of the name there is nothing to tell.
    if (got <= dbx::kFileInfoName) return;
  }
  FolderFileInfo& info = cat->fileInfo;
  info.present = true;
  info.source = area[dbx::kFileInfoSource];
  info.accountKey = Terminated(area, dbx::kFileInfoAccountKey, dbx::kFileInfoName);
  info.name = Terminated(area, dbx::kFileInfoName, got);
}

}  // namespace

const char* FileKindName(FileKind kind) {
  switch (kind) {
    case FileKind::kMessages:
      return "messages";
    case FileKind::kFolders:
      return "folders";
    case FileKind::kOffline:
      return "offline";
    case FileKind::kPop3uidl:
      return "pop3uidl";
    case FileKind::kNotAMailbox:
      break;
  }
  return "not-a-mailbox";
}

const char* SourceName(uint32_t source) {
  switch (source) {
    case 0:
      return "news";
    case 1:
      return "imap";
    case 2:
      return "http";
    case 3:
      return "local";
    default:
      return nullptr;
  }
}

Catalogue ReadCatalogue(InputFile* file, DamageReporter* reporter,
                        const CatalogueOptions& options) {
  Catalogue cat;
  DamageLog damage(reporter);
  FileReader reader(file, &damage);
  cat.fileSize = reader.size();
  if (ReadHeader(reader, &cat)) {
    if (cat.kind == FileKind::kMessages) ReadFileInfo(reader, &cat);
    TreeReader trees(&reader);
    for (int i = 0; i < 3; ++i) {
      cat.trees[i] = trees.Read(dbx::kTreeRootWords[i], cat.header.treeRoots[i],
                                cat.header.treeCounts[i], options.maxRecords);
    }
    uint64_t recordBytesLeft = reader.size();
    if (options.readRecords && cat.kind == FileKind::kMessages) {
      // Room for every record the tree lists, so that the array is never copied as it grows (a
      // copy holds both at once: 48 MiB for a folder of 1.3 million short messages). A tree that
      // lists more than one record per 32 bytes of file lists mostly none, and gets its room as
      // it goes.
      const size_t listed = std::min(cat.trees[0].values.size(), options.maxRecords);
      cat.messages.reserve(listed <= reader.size() / 32 ? listed
                                                        : std::min<size_t>(listed, 1 << 16));
      IndexedRecord scratch;
      for (uint32_t offset : cat.trees[0].values) {
        if (cat.messages.size() >= options.maxRecords) break;
        MessageEntry entry;
        if (ReadMessageEntry(reader, offset, &recordBytesLeft, &entry, &scratch)) {
          cat.messages.push_back(entry);
        }
      }
    } else if (options.readRecords && cat.kind == FileKind::kFolders) {
      // Room for the records of the longest tree, as for messages above.
      size_t listed = 0;
      for (const TreeListing& tree : cat.trees) listed = std::max(listed, tree.values.size());
      cat.folders.reserve(std::min<size_t>(listed, size_t{1} << 16));
      std::unordered_set<uint32_t> seen;
      for (const TreeListing& tree : cat.trees) {
        for (uint32_t offset : tree.values) {
          if (!seen.insert(offset).second) continue;
          FolderInfo info;
          if (ReadFolderInfo(reader, offset, &recordBytesLeft, &info)) {
            cat.folders.push_back(std::move(info));
          }
        }
      }
    }
  }
  cat.damageCount = damage.count();
  cat.damage = damage.TakeKept();
  return cat;
}

bool ReadMessageInfoAt(InputFile* file, uint32_t recordOffset, MessageInfo* info) {
  DamageLog ignored(nullptr);  // reported when the catalogue was read
  FileReader reader(file, &ignored);
  uint64_t bytesLeft = reader.size();
  return ReadMessageInfo(reader, recordOffset, &bytesLeft, info);
}

std::vector<MessageInfo> ReadMessageInfos(InputFile* file, const Catalogue& catalogue) {
  std::vector<MessageInfo> infos;
  for (const MessageEntry& entry : catalogue.messages) {
    MessageInfo info;
    if (ReadMessageInfoAt(file, entry.recordOffset, &info)) infos.push_back(std::move(info));
  }
  return infos;
}

}  // namespace quillon::catalogue
