#include "gen/store_files.h"

#include <algorithm>
#include <cstring>

#include "gen/dbx_layout.h"
#include "gen/index_tree.h"
#include "gen/record_builder.h"
#include "text/ascii.h"

namespace quillon::gen {
namespace {

using namespace dbx;

// Folders.dbx and Pop3uidl.dbx: a file-info area of a creation time and a word 1, and in
// Folders.dbx the info chunks, the first opened by a view filter, then the tree chunks.
constexpr uint32_t kStoreFileInfoSize = 0x108;
constexpr uint32_t kFoldersInfoChunk = kHeaderSize + kStoreFileInfoSize;  // 0x25C4
constexpr char kFolderFilter[] = "(FLDCOL_FLAGS & FOLDER_SUBSCRIBED)";
constexpr uint32_t kFolderFilterSize = 8 + 0x24;
constexpr uint32_t kFoldersFilterField = 0x8C;

// Folder-info fields.
constexpr uint8_t kFolderId = 0x00;
constexpr uint8_t kFolderParent = 0x01;
constexpr uint8_t kFolderName = 0x02;
constexpr uint8_t kFolderFile = 0x03;
constexpr uint8_t kFolderAccount = 0x05;
constexpr uint8_t kFolderFlags = 0x06;
constexpr uint8_t kFolderMessages = 0x07;
constexpr uint8_t kFolderUnread = 0x08;
constexpr uint8_t kFolderSpecial = 0x09;
constexpr uint8_t kFolderKind = 0x0A;

void StartHeader(uint32_t classWord, uint8_t* header) {
  StoreLE32(header, kMagic);
  StoreLE32(header + 4, classWord);
  std::memcpy(header + 8, kStoreFileTag, sizeof kStoreFileTag);
  StoreLE32(header + kFileInfoLengthField, kStoreFileInfoSize);
  StoreLE32(header + 0x64, 1);  // as in every real file
}

void PutStoreFileInfo(uint64_t created, uint8_t* info) {
  StoreLE32(info, static_cast<uint32_t>(created));
  StoreLE32(info + 4, static_cast<uint32_t>(created >> 32));
  StoreLE32(info + 8, 1);
}

// Absent fields read as 0 or empty, so the client leaves them out; so do we.
void AppendFolderRecord(const FolderRecord& f, uint32_t offset, std::string* out) {
  RecordBuilder r;
  if (f.id != 0) r.Word(kFolderId, f.id);
  if (f.parent != 0) r.Word(kFolderParent, f.parent);
  r.Text(kFolderName, f.name);
  if (!f.fileName.empty()) r.Text(kFolderFile, f.fileName);
  if (!f.accountKey.empty()) r.Text(kFolderAccount, f.accountKey);
  r.Word(kFolderFlags, f.flags);
  if (f.messages != 0) r.Word(kFolderMessages, f.messages);
  if (f.unread != 0) r.Word(kFolderUnread, f.unread);
  if (f.special != 0) r.Word(kFolderSpecial, f.special);
  r.Word(kFolderKind, f.kind);
  r.AppendTo(offset, out);
}

}  // namespace

bool WriteFoldersFile(const std::vector<FolderRecord>& folders, uint64_t created, Output& out,
                      std::string* error) {
  if (out.Size() != 0) {
    *error = "the output is not empty";
    return false;
  }
  std::string file(kFoldersInfoChunk, '\0');
  uint8_t* header = reinterpret_cast<uint8_t*>(&file[0]);
  PutStoreFileInfo(created, header + kHeaderSize);

  // The info chunks: the filter, then the records in id order, a record that does not fit what
  // is left of a chunk starting the next (a real store's few hundred folders fit the first).
  std::string chunk(kFolderFilterSize, '\0');
  uint8_t* filter = reinterpret_cast<uint8_t*>(&chunk[0]);
  StoreLE32(filter, kFoldersInfoChunk);
  StoreLE32(filter + 4, kFolderFilterSize - 8);
  std::memcpy(filter + 8, kFolderFilter, sizeof kFolderFilter);
  std::vector<const FolderRecord*> byId;
  for (const FolderRecord& f : folders) byId.push_back(&f);
  std::stable_sort(byId.begin(), byId.end(), [](auto* a, auto* b) { return a->id < b->id; });
  std::vector<uint32_t> offsetOf(folders.size());
  uint32_t lastId = 0;
  std::string record;
  for (const FolderRecord* f : byId) {
    record.clear();
    AppendFolderRecord(*f, 0, &record);
    if (record.size() > kInfoChunkSize) {
      *error = "a folder record is larger than an info chunk";
      return false;
    }
    if (chunk.size() + record.size() > kInfoChunkSize) {
      chunk.resize(kInfoChunkSize, '\0');
      file += chunk;
      chunk.clear();
    }
    const uint32_t offset = static_cast<uint32_t>(file.size() + chunk.size());
    AppendFolderRecord(*f, offset, &chunk);
    offsetOf[static_cast<size_t>(f - folders.data())] = offset;
    lastId = std::max(lastId, f->id);
  }
  const uint32_t lastChunk = static_cast<uint32_t>(file.size());
  const uint32_t chunkUsed = static_cast<uint32_t>(chunk.size());
  chunk.resize(kInfoChunkSize, '\0');
  file += chunk;
  const uint32_t treeChunk = static_cast<uint32_t>(file.size());

  // By id; by parent (the root's 0xFFFFFFFF as -1, so first) and name; the same without the root.
  std::vector<uint32_t> trees[3];
  for (const FolderRecord* f : byId) trees[0].push_back(offsetOf[f - folders.data()]);
  std::vector<const FolderRecord*> byName = byId;
  std::stable_sort(byName.begin(), byName.end(), [](auto* a, auto* b) {
    const int32_t pa = static_cast<int32_t>(a->parent), pb = static_cast<int32_t>(b->parent);
    if (pa != pb) return pa < pb;
    return AsciiLowered(a->name) < AsciiLowered(b->name);
  });
  for (const FolderRecord* f : byName) {
    trees[1].push_back(offsetOf[f - folders.data()]);
    if (f->parent != 0xFFFFFFFFu) trees[2].push_back(offsetOf[f - folders.data()]);
  }
  uint32_t nodes = 0;
  uint32_t roots[3] = {};
  for (int t = 0; t < 3; ++t) {
    const uint32_t count = static_cast<uint32_t>(trees[t].size());
    if (count == 0) continue;
    roots[t] = treeChunk + nodes * kNodeSize;
    BuildIndexTree(trees[t].data(), count, roots[t], [&file](const uint8_t* node) {
      file.append(reinterpret_cast<const char*>(node), kNodeSize);
      return true;
    });
    nodes += IndexNodeCount(count);
  }
  const uint32_t treeChunks = (nodes + kTreeChunkNodes - 1) / kTreeChunkNodes;
  file.resize(treeChunk + size_t{treeChunks} * kTreeChunkSize, '\0');

  header = reinterpret_cast<uint8_t*>(&file[0]);
  StartHeader(kClassFolders, header);
  StoreLE32(header + kLastInfoChunkField, lastChunk);
  StoreLE32(header + kInfoChunkLengthField, kInfoChunkSize);
  StoreLE32(header + kInfoChunkUsedField, chunkUsed);
  if (treeChunks != 0) {
    StoreLE32(header + kLastTreeChunkField, treeChunk + (treeChunks - 1) * kTreeChunkSize);
    StoreLE32(header + kTreeChunkLengthField, kTreeChunkSize);
    StoreLE32(header + kNodeSizeField, (nodes - (treeChunks - 1) * kTreeChunkNodes) * kNodeSize);
  }
  StoreLE32(header + kLastMessageIdField, lastId);
  StoreLE32(header + kUsedSpaceField, static_cast<uint32_t>(file.size()));
  StoreLE32(header + 0x80, 3);  // as in the real Folders.dbx
  StoreLE32(header + kFoldersFilterField, kFoldersInfoChunk);
  for (int t = 0; t < 3; ++t) {
    StoreLE32(header + kMessageCountField + 4 * t, static_cast<uint32_t>(trees[t].size()));
    StoreLE32(header + kTreeRootField + 4 * t, roots[t]);
  }
  return out.Append(file.data(), file.size(), error);
}

bool WritePop3uidlFile(uint64_t created, Output& out, std::string* error) {
  std::string file(kHeaderSize + kStoreFileInfoSize, '\0');
  uint8_t* header = reinterpret_cast<uint8_t*>(&file[0]);
  StartHeader(kClassPop3uidl, header);
  StoreLE32(header + kUsedSpaceField, static_cast<uint32_t>(file.size()));
  PutStoreFileInfo(created, header + kHeaderSize);
  return out.Append(file.data(), file.size(), error);
}

bool WriteOfflineFile(Output& out, std::string* error) {
  // Words of the real file; its tag after the class word differs from the other kinds'.
  constexpr uint8_t kOfflineTag[20] = {0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00, 0x60, 0x97, 0xD4,
                                       0x74, 0xC4, 0x02, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  constexpr uint32_t kOfflineInfoSize = 0xFC;
  std::string file(kHeaderSize + kOfflineInfoSize, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(&file[0]);
  StoreLE32(h, kMagic);
  StoreLE32(h + 4, kClassOffline);
  std::memcpy(h + 8, kOfflineTag, sizeof kOfflineTag);
  StoreLE32(h + kFileInfoLengthField, kOfflineInfoSize);
  StoreLE32(h + kLastMessageIdField, 1);
  StoreLE32(h + 0x64, 1);
  StoreLE32(h + kUsedSpaceField, static_cast<uint32_t>(file.size()));
  StoreLE32(h + 0x80, 2);
  StoreLE32(h + 0x108, 1);
  StoreLE32(h + 0x22BC, 1);
  StoreLE32(h + 0x22EC, 0x30000);
  StoreLE32(h + 0x22F0, 1);
  StoreLE32(h + 0x22F4, 0x20000);
  StoreLE32(h + 0x244C, 0x68);
  StoreLE32(h + kHeaderSize, 1);
  return out.Append(file.data(), file.size(), error);
}

}  // namespace quillon::gen
