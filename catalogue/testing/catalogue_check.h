// The catalogue reader's fuzzing checks, shared by its three fuzzers and by the unit test that
// replays their findings: whatever the bytes, reading ends, reads stay within what the file's size
// allows, every value and record lies in the file, each piece of damage is reported in words, and
// every decoded string is valid UTF-8.
#ifndef QUILLON_CATALOGUE_TESTING_CATALOGUE_CHECK_H_
#define QUILLON_CATALOGUE_TESTING_CATALOGUE_CHECK_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dbx_format.h"
#include "catalogue/testing/byte_file.h"
#include "catalogue/text.h"
#include "text/utf8.h"

namespace quillon::fuzzing {

namespace catalogue_check {

using namespace quillon::catalogue;

inline bool IsUtf8(const std::string& s) { return ValidUtf8(s) == s; }

// Code pages a fuzzer's input picks from for its strings.
inline uint32_t PickCodePage(std::string_view bytes) {
  static const uint32_t kCodePages[] = {1252, 1251, 936, 932, 949, 950, 20866, 50220, 54936, 65001};
  return bytes.empty() ? 1252 : kCodePages[static_cast<uint8_t>(bytes.back()) % 10];
}

// Every string decodes to valid UTF-8, raw and as header text.
inline std::string CheckText(const std::string& raw, uint32_t codePage) {
  if (!IsUtf8(CodePageToUtf8(raw, codePage))) return "invalid UTF-8 from code page decoding";
  if (!IsUtf8(DecodeHeaderText(raw, codePage))) return "invalid UTF-8 from header decoding";
  return {};
}

inline std::string CheckCatalogue(const Catalogue& cat, uint64_t reads) {
  const uint64_t size = cat.fileSize;
  if (cat.damage.size() != std::min<uint64_t>(cat.damageCount, DamageLog::kKept)) {
    return "kept damage does not match its count";
  }
  for (const Damage& d : cat.damage) {
    if (d.reason.empty() || !IsUtf8(d.reason)) return "a damage report without words";
  }
  uint64_t values = 0;
  uint64_t nodes = 0;
  for (const TreeListing& tree : cat.trees) {
    std::unordered_set<uint32_t> seen;
    for (uint32_t v : tree.values) {
      if (v == 0 || uint64_t{v} + dbx::kRecordHeaderSize > size) return "a tree value outside";
      if (!seen.insert(v).second) return "a tree value listed twice";
    }
    values += tree.values.size();
    nodes += tree.nodes;
  }
  const uint64_t nodeRoom = size / dbx::kNodeSize + 1;
  if (nodes > nodeRoom) return "more nodes than the file has room for";
  // The header, the file-info area, a node at most once per 0x27C bytes of file, and each
  // record's header and body.
  if (reads > 2 + nodeRoom + 2 * values) return "more reads than the structures allow";
  uint64_t recordBytes = 0;
  for (const FolderInfo& f : cat.folders) {
    recordBytes += f.name.size() + f.fileName.size() + f.accountKey.size();
  }
  if (recordBytes > size) return "records hold more bytes than the file";
  if (cat.messages.size() > cat.trees[0].values.size()) return "more messages than listed";
  // Messages come in tree order, each from a value of the first tree.
  size_t next = 0;
  for (const MessageEntry& m : cat.messages) {
    const auto& v = cat.trees[0].values;
    while (next < v.size() && v[next] != m.recordOffset) ++next;
    if (next++ == v.size()) return "a message not from the tree, or out of its order";
  }
  std::unordered_set<uint32_t> listed;
  for (const TreeListing& tree : cat.trees) listed.insert(tree.values.begin(), tree.values.end());
  std::unordered_set<uint32_t> folderRecords;
  for (const FolderInfo& f : cat.folders) {
    if (!folderRecords.insert(f.recordOffset).second) return "a folder record read twice";
    if (listed.count(f.recordOffset) == 0) return "a folder record no tree lists";
  }
  return {};
}

// An input file whose bytes begin at `base`, zeros before: a record seen where it names itself.
class PlacedFile final : public InputFile {
 public:
  PlacedFile(std::string_view bytes, uint32_t base) : bytes_(bytes), base_(base) {}
  uint64_t Size() override { return uint64_t{base_} + bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got, std::string*) override {
    ++reads;
    const uint64_t end = uint64_t{base_} + bytes_.size();
    *got = offset >= end ? 0 : static_cast<size_t>(std::min<uint64_t>(size, end - offset));
    auto* out = static_cast<char*>(buffer);
    for (size_t i = 0; i < *got; ++i) {
      const uint64_t at = offset + i;
      out[i] = at < base_ ? '\0' : bytes_[static_cast<size_t>(at - base_)];
    }
    return true;
  }
  uint64_t reads = 0;

 private:
  std::string_view bytes_;
  uint32_t base_;
};

}  // namespace catalogue_check

// Header and trees of any file.
inline std::string CheckCatalogueTrees(std::string_view bytes) {
  using namespace catalogue_check;
  catalogue::testing::ByteFile file(bytes);
  const Catalogue cat = ReadCatalogue(&file, nullptr, {/*readRecords=*/false});
  if (!cat.messages.empty() || !cat.folders.empty()) return "records read when not asked";
  std::string problem = CheckCatalogue(cat, file.reads);
  if (problem.empty()) problem = CheckText(cat.fileInfo.name, PickCodePage(bytes));
  return problem;
}

// One record, read where its first word says it lies, as message info and as folder info; then
// the whole input as header text and as the start of a message.
inline std::string CheckIndexedRecords(std::string_view bytes) {
  using namespace catalogue_check;
  uint32_t base = 0x100;
  if (bytes.size() >= 4) std::memcpy(&base, bytes.data(), 4);  // little-endian hosts only
  if (uint64_t{base} + bytes.size() > 0xFFFFFFFFu) base = 0x100;
  PlacedFile file(bytes, base);
  DamageLog damage(nullptr);
  FileReader reader(&file, &damage);
  const uint32_t codePage = PickCodePage(bytes);
  uint64_t bytesLeft = reader.size();
  MessageInfo m;
  if (ReadMessageInfo(reader, base, &bytesLeft, &m)) {
    for (const std::string* s :
         {&m.subject, &m.normalizedSubject, &m.senderName, &m.senderAddress, &m.sender,
          &m.receiverName, &m.receiverAddress, &m.messageId, &m.inReplyTo, &m.account}) {
      if (s->size() > bytes.size()) return "a field longer than its record";
      const std::string problem = CheckText(*s, codePage);
      if (!problem.empty()) return problem;
    }
    if (m.recordOffset != base) return "a record read from elsewhere";
  }
  FolderInfo f;
  bytesLeft = reader.size();
  if (ReadFolderInfo(reader, base, &bytesLeft, &f)) {
    for (const std::string* s : {&f.name, &f.fileName, &f.accountKey}) {
      if (s->size() > bytes.size()) return "a field longer than its record";
      const std::string problem = CheckText(*s, codePage);
      if (!problem.empty()) return problem;
    }
  }
  if (file.reads > 4) return "more than two reads per record";
  if (damage.kept().size() != std::min<uint64_t>(damage.count(), DamageLog::kKept)) {
    return "kept damage does not match its count";
  }
  const std::string whole(bytes);
  const std::string problem = CheckText(whole, codePage);
  return problem.empty() ? CheckText(whole, ChooseCodePage(0, whole)) : problem;
}

// Any file, read as Folders.dbx: its first eight bytes are read as the magic and the class.
inline std::string CheckFoldersFile(std::string_view bytes) {
  using namespace catalogue_check;
  // Served through a file that patches the bytes as they are read: copying inputs of 100 KiB
  // to patch eight bytes would halve the fuzzer's speed.
  class AsFolders final : public InputFile {
   public:
    explicit AsFolders(std::string_view bytes) : file_(bytes) {}
    uint64_t Size() override { return file_.Size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                std::string* error) override {
      ++reads;
      const bool ok = file_.ReadAt(offset, buffer, size, got, error);
      const uint8_t head[8] = {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F};
      for (uint64_t at = offset; at < 8 && at < offset + *got; ++at) {
        static_cast<uint8_t*>(buffer)[at - offset] = head[at];
      }
      return ok;
    }
    uint64_t reads = 0;

   private:
    catalogue::testing::ByteFile file_;
  } file(bytes);
  const Catalogue cat = ReadCatalogue(&file, nullptr);
  if (bytes.size() >= 8 && cat.kind != FileKind::kFolders) return "not read as Folders.dbx";
  std::string problem = CheckCatalogue(cat, file.reads);
  const uint32_t codePage = PickCodePage(bytes);
  for (const FolderInfo& f : cat.folders) {
    if (problem.empty()) problem = CheckText(f.name, codePage);
  }
  return problem;
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_CATALOGUE_TESTING_CATALOGUE_CHECK_H_
