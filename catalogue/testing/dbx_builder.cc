#include "catalogue/testing/dbx_builder.h"

#include "catalogue/dbx_format.h"

namespace quillon::catalogue::testing {

DbxBuilder::Field DbxBuilder::Time(uint8_t number, uint64_t filetime) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(filetime >> (8 * i));
  return {number, false, 0, b};
}

DbxBuilder::DbxBuilder(size_t size, uint32_t classWord) : bytes(size, '\0') {
  PutWord(0, dbx::kMagic);
  PutWord(4, classWord);
  if (classWord == dbx::kClassMessages) {
    PutWord(dbx::kFileInfoLengthWord, dbx::kMessageFileInfoLength);
  }
}

void DbxBuilder::PutWord(size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

void DbxBuilder::Tree(int i, uint32_t root, uint32_t count) {
  PutWord(dbx::kTreeRootWords[i], root);
  PutWord(dbx::kTreeCountWords[i], count);
}

void DbxBuilder::Node(uint32_t at, uint32_t parent, uint32_t leftChild, uint32_t leftCount,
                      const std::vector<Entry>& entries) {
  PutWord(at + dbx::kNodeSelf, at);
  PutWord(at + dbx::kNodeLeftChild, leftChild);
  PutWord(at + dbx::kNodeParent, parent);
  PutByte(at + dbx::kNodeEntryCount, static_cast<uint8_t>(entries.size()));
  PutWord(at + dbx::kNodeLeftCount, leftCount);
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint32_t e = at + dbx::kNodeEntries + static_cast<uint32_t>(i) * dbx::kNodeEntrySize;
    PutWord(e, entries[i].value);
    PutWord(e + 4, entries[i].child);
    PutWord(e + 8, entries[i].count);
  }
}

uint32_t DbxBuilder::Record(uint32_t at, const std::vector<Field>& fields) {
  std::string data;
  const uint32_t entries = at + dbx::kRecordHeaderSize;
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    uint32_t entry = f.number;
    if (f.direct) {
      entry |= dbx::kFieldDirect | f.value << 8;
    } else {
      entry |= static_cast<uint32_t>(data.size()) << 8;
      data += f.bytes;
    }
    PutWord(entries + 4 * static_cast<uint32_t>(i), entry);
  }
  const uint32_t dataAt = entries + 4 * static_cast<uint32_t>(fields.size());
  bytes.replace(dataAt, data.size(), data);
  PutWord(at, at);
  PutWord(at + 4, dataAt + static_cast<uint32_t>(data.size()) - entries);
  PutByte(at + dbx::kRecordEntryCount, static_cast<uint8_t>(fields.size()));
  return dataAt + static_cast<uint32_t>(data.size());
}

void DbxBuilder::FileInfo(uint8_t source, const std::string& accountKey, const std::string& name) {
  PutByte(dbx::kFileInfoOffset + dbx::kFileInfoSource, source);
  bytes.replace(dbx::kFileInfoOffset + dbx::kFileInfoAccountKey, accountKey.size(), accountKey);
  bytes.replace(dbx::kFileInfoOffset + dbx::kFileInfoName, name.size(), name);
}

}  // namespace quillon::catalogue::testing
