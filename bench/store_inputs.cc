// Writes the store folders of bench/stores.py: the worst stores for the cost of reading a store
// as a whole (its folder list, its many mailbox files) rather than one large mailbox.
//
//   quillon-bench-stores KIND COUNT DIR
//   quillon-bench-stores --list
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gen/generator.h"
#include "gen/output.h"
#include "gen/store_files.h"

namespace {

namespace fs = std::filesystem;
using quillon::gen::FolderFileSink;

constexpr uint64_t kCreated = 0x01C21639E9210F00;  // 2002-06-17

struct Kind {
  const char* name;
  const char* what;
};

const Kind kKinds[] = {
    {"nested-folders",
     "Folders.dbx of COUNT folders below Local Folders, each inside the one before, and the "
     "deepest one's mailbox"},
    {"same-name", "COUNT names of one small mailbox whose own folder name is \"Inbox\""},
    {"distinct-names", "COUNT names of one small mailbox without a folder name of its own"},
};

std::string Numbered(const char* stem, uint32_t n) {
  char text[64];
  std::snprintf(text, sizeof text, "%s %05u", stem, n);
  return text;
}

bool WriteNested(uint32_t count, FolderFileSink& sink, std::string* error) {
  std::vector<quillon::gen::FolderRecord> records;
  quillon::gen::FolderRecord root;
  root.parent = 0xFFFFFFFFu;
  root.name = "Outlook Express";
  root.kind = 4;
  records.push_back(root);
  quillon::gen::FolderRecord local;
  local.id = 1;
  local.name = "Local Folders";
  local.accountKey = "LocalStore";
  records.push_back(local);
  for (uint32_t i = 0; i < count; ++i) {
    quillon::gen::FolderRecord r;
    r.id = 100 + i;
    r.parent = i == 0 ? 1 : 100 + i - 1;
    // Names as long as the client allows in practice, so that paths cost what they can.
    r.name = Numbered("Folder", i + 1) + " of a store whose folders each hold the one after it";
    r.name.resize(96, '.');
    r.fileName = r.name + ".dbx";
    records.push_back(r);
  }
  quillon::gen::Output* out = sink.Begin("Folders.dbx", error);
  if (out == nullptr || !quillon::gen::WriteFoldersFile(records, kCreated, *out, error) ||
      !sink.End(error)) {
    return false;
  }
  // The deepest folder's file, so that the store holds a mailbox to export.
  quillon::gen::GeneratorOptions options;
  options.messageCount = 2;
  options.shape = quillon::gen::Shape::kSmall;
  options.identity.name = records.back().name;
  quillon::gen::GeneratorStats stats;
  out = sink.Begin(records.back().fileName, error);
  return out != nullptr && quillon::gen::GenerateMailbox(options, *out, nullptr, &stats, error) &&
         sink.End(error);
}

// One small mailbox, and COUNT - 1 more names for it (hard links): what is measured is the cost
// of many mailbox files, not of their bytes. Without a name of its own each is named after its
// file.
bool WriteMailboxes(uint32_t count, bool sameName, const std::string& dir, FolderFileSink& sink,
                    std::string* error) {
  quillon::gen::GeneratorOptions options;
  options.messageCount = 2;
  options.shape = quillon::gen::Shape::kSmall;  // a few KB each: the cost measured is per file
  if (sameName) options.identity.name = "Inbox";
  const std::string first = Numbered("Mail", 1) + ".dbx";
  quillon::gen::Output* out = sink.Begin(first, error);
  quillon::gen::GeneratorStats stats;
  if (out == nullptr || !quillon::gen::GenerateMailbox(options, *out, nullptr, &stats, error) ||
      !sink.End(error)) {
    return false;
  }
  const fs::path folder = fs::u8path(dir);
  for (uint32_t i = 1; i < count; ++i) {
    std::error_code ec;
    fs::create_hard_link(folder / first, folder / (Numbered("Mail", i + 1) + ".dbx"), ec);
    if (ec) {
      *error = ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Kind& k : kKinds) std::printf("%s\t%s\n", k.name, k.what);
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s KIND COUNT DIR | --list\n", argv[0]);
    return 64;
  }
  const std::string kind = argv[1];
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  if (count == 0 || count > 1000000) {
    std::fprintf(stderr, "%s: COUNT must be within 1 to 1000000\n", argv[0]);
    return 64;
  }
  FolderFileSink sink(argv[3]);
  std::string error;
  bool ok;
  if (kind == "nested-folders") {
    ok = WriteNested(static_cast<uint32_t>(count), sink, &error);
  } else if (kind == "same-name" || kind == "distinct-names") {
    ok = WriteMailboxes(static_cast<uint32_t>(count), kind == "same-name", argv[3], sink, &error);
  } else {
    std::fprintf(stderr, "%s: unknown kind '%s'\n", argv[0], argv[1]);
    return 64;
  }
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  return 0;
}
