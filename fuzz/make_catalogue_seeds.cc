// Writes the catalogue fuzzers' seeds: hand-built trees and a Folders.dbx of a whole store (nested
// local folders, an IMAP account, a news account, trees of two levels), and every indexed record
// of the mailbox files named, one file each.
// Usage: make_catalogue_seeds OUT_DIR [MAILBOX...]; writes OUT_DIR/{trees,records,folders}.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/dbx_format.h"
#include "catalogue/file_reader.h"
#include "catalogue/testing/byte_file.h"
#include "catalogue/testing/dbx_builder.h"

namespace {

namespace dbx = quillon::catalogue::dbx;
using quillon::catalogue::testing::DbxBuilder;

bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A tree of two levels over `values` with its nodes from `at` on: leaves of up to 20 values
// between the root's entries. Returns the offset after the last node.
uint32_t TwoLevelTree(DbxBuilder& b, int tree, const std::vector<uint32_t>& values, uint32_t at) {
  const uint32_t root = at;
  at += dbx::kNodeSize;
  std::vector<DbxBuilder::Entry> rootEntries;
  uint32_t left = 0, leftCount = 0;
  size_t i = 0;
  while (i < values.size()) {
    std::vector<DbxBuilder::Entry> leaf;
    for (; i < values.size() && leaf.size() < 20; ++i) leaf.push_back({values[i]});
    const uint32_t node = at;
    at += dbx::kNodeSize;
    b.Node(node, root, 0, 0, leaf);
    if (left == 0) {
      left = node;
      leftCount = static_cast<uint32_t>(leaf.size());
    } else {
      rootEntries.back().child = node;
      rootEntries.back().count = static_cast<uint32_t>(leaf.size());
    }
    if (i < values.size()) rootEntries.push_back({values[i++]});
  }
  b.Node(root, 0, left, leftCount, rootEntries);
  b.Tree(tree, root, static_cast<uint32_t>(values.size()));
  return at;
}

std::string FolderStore() {
  DbxBuilder b(0x20000, dbx::kClassFolders);
  struct F {
    uint32_t id, parent;
    std::string name, file;
    uint32_t special, kind;
  };
  std::vector<F> folders = {
      {0, 0xFFFFFFFF, "Outlook Express", "", 0, 4},
      {1, 0, "Local Folders", "", 0, 3},
      {2, 1, "Inbox", "Inbox.dbx", 1, 3},
      {3, 1, "Sent Items", "Sent Items.dbx", 3, 3},
      {4, 1, "Deleted Items", "Deleted Items.dbx", 4, 3},
      {5, 2, "Projekte", "Projekte.dbx", 0, 3},
      {6, 5, "\xC0\xF0\xF5\xE8\xE2", "\xC0\xF0\xF5\xE8\xE2.dbx", 0, 3},
      {7, 0, "mail.example.org", "", 0, 1},
      {8, 7, "INBOX", "INBOX.dbx", 1, 1},
      {9, 0, "news.example.org", "", 0, 0},
      {10, 9, "comp.lang.c++", "comp.lang.c++.dbx", 0, 0},
  };
  for (uint32_t k = 0; k < 40; ++k) {
    folders.push_back({11 + k, 5, "Archive " + std::to_string(k), "", 0, 3});
  }
  std::vector<uint32_t> records;
  uint32_t at = 0x2600;
  for (const F& f : folders) {
    records.push_back(at);
    std::vector<DbxBuilder::Field> fields;
    if (f.id != 0) fields.push_back(DbxBuilder::Direct(dbx::folder::kId, f.id));
    fields.push_back(f.parent == 0xFFFFFFFF
                         ? DbxBuilder::Bytes(dbx::folder::kParent, "\xFF\xFF\xFF\xFF")
                         : DbxBuilder::Direct(dbx::folder::kParent, f.parent));
    fields.push_back(DbxBuilder::Text(dbx::folder::kName, f.name));
    if (!f.file.empty()) fields.push_back(DbxBuilder::Text(dbx::folder::kFileName, f.file));
    fields.push_back(DbxBuilder::Direct(dbx::folder::kMessageCount, f.id % 3));
    if (f.special) fields.push_back(DbxBuilder::Direct(dbx::folder::kSpecial, f.special));
    fields.push_back(DbxBuilder::Direct(dbx::folder::kKind, f.kind));
    at = (b.Record(at, fields) + 3) & ~3u;
  }
  at = 0x8000;
  at = TwoLevelTree(b, 0, records, at);
  at = TwoLevelTree(b, 1, std::vector<uint32_t>(records.rbegin(), records.rend()), at);
  TwoLevelTree(b, 2, std::vector<uint32_t>(records.begin() + 1, records.end()), at);
  return b.bytes;
}

std::vector<std::pair<std::string, std::string>> Trees() {
  std::vector<std::pair<std::string, std::string>> seeds;
  {
    DbxBuilder b(0x10000);
    std::vector<uint32_t> values;
    for (uint32_t k = 0; k < 120; ++k) values.push_back(0x2B00 + 0x10 * k);
    TwoLevelTree(b, 0, values, 0x4000);
    seeds.emplace_back("two-levels.dbx", b.bytes);
  }
  {
    DbxBuilder b(0x9000);
    b.Tree(0, 0x3000, 40);
    for (uint32_t k = 0; k < 24; ++k) {
      const uint32_t node = 0x3000 + 0x280 * k;
      b.Node(node, k ? node - 0x280 : 0, k < 23 ? node + 0x280 : 0x3000, 23 - k, {{0x100 + 4 * k}});
    }
    seeds.emplace_back("deep-loop.dbx", b.bytes);
  }
  return seeds;
}

std::vector<std::pair<std::string, std::string>> Records() {
  DbxBuilder b(0x3000);
  namespace m = dbx::message;
  const uint32_t end = b.Record(
      0x2B00,
      {DbxBuilder::Direct(m::kIndexId, 7), DbxBuilder::Bytes(m::kFlags, "\x81\x00\x08\x00"),
       DbxBuilder::Time(m::kSent, 0x01D20C800503D490), DbxBuilder::Direct(m::kFirstBlock, 0xEAD4),
       DbxBuilder::Text(m::kNormalizedSubject, "=?koi8-r?B?8NLJ18XU?="),
       DbxBuilder::Text(m::kMessageId, "<1@example.org>"),
       DbxBuilder::Text(m::kSubject, "Re: =?koi8-r?B?8NLJ18XU?="),
       DbxBuilder::Text(m::kSender, "\xC8\xE2\xE0\xED <ivan@example.org>"),
       DbxBuilder::Text(m::kSenderName, "\xC8\xE2\xE0\xED"),
       DbxBuilder::Text(m::kSenderAddress, "ivan@example.org"), DbxBuilder::Direct(m::kPriority, 3),
       DbxBuilder::Direct(m::kSize, 1195), DbxBuilder::Time(m::kReceived, 0x01D20C800503D490),
       DbxBuilder::Text(m::kReceiverName, "\xD6\xD0\xCE\xC4"),
       DbxBuilder::Text(m::kAccount, "mail.example.org"),
       DbxBuilder::Text(m::kAccountKey, "00000001")});
  return {{"message-info.rec", b.bytes.substr(0x2B00, end - 0x2B00)}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR [MAILBOX...]\n", argv[0]);
    return 64;
  }
  const std::string out = argv[1];
  for (const char* dir : {"/trees", "/records", "/folders"}) {
    std::filesystem::create_directories(out + dir);
  }
  bool ok = true;
  for (const auto& [name, bytes] : Trees()) ok &= Write(out + "/trees/" + name, bytes);
  for (const auto& [name, bytes] : Records()) ok &= Write(out + "/records/" + name, bytes);
  ok &= Write(out + "/folders/store.dbx", FolderStore());
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    quillon::catalogue::testing::ByteFile file(bytes);
    const auto cat = quillon::catalogue::ReadCatalogue(&file, nullptr, {false});
    const std::string stem = std::filesystem::path(argv[i]).stem().string();
    for (const auto& tree : cat.trees) {
      for (uint32_t v : tree.values) {
        const uint32_t body =
            quillon::catalogue::Le32(reinterpret_cast<const uint8_t*>(bytes.data()) + v + 4);
        if (uint64_t{v} + 12 + body > bytes.size()) continue;
        ok &= Write(out + "/records/" + stem + "-" + std::to_string(v) + ".rec",
                    bytes.substr(v, 12 + body));
      }
    }
  }
  if (!ok) {
    std::perror(out.c_str());
    return 1;
  }
  return 0;
}
