// Whole generated stores, checked against their manifest by the project's own readers: the
// catalogue reader gives back every folder, file and record the manifest lists, the engine
// writes every live message byte for byte, and what deleted messages leave in their blocks is
// what the manifest says survives.
#include "gen/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "catalogue/catalogue.h"
#include "catalogue/testing/byte_file.h"
#include "catalogue/text.h"
#include "engine/export_result.h"
#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"
#include "gen/code_page_text.h"
#include "gen/mkdbx_command.h"
#include "gen/store_files.h"
#include "test_support/test_support.h"

namespace quillon::gen {
namespace {

using catalogue::Catalogue;

struct Case {
  const char* what;
  StoreOptions options;
};

StoreOptions Options(uint64_t seed, uint32_t codePage, uint32_t messages, uint64_t bytes) {
  StoreOptions o;
  o.seed = seed;
  o.codePage = codePage;
  o.messageCount = messages;
  o.targetBytes = bytes;
  return o;
}

const Case kCases[] = {
    {"Windows-1251, 160 messages", Options(5, 1251, 160, 0)},
    {"Windows-936, 100 messages", Options(6, 936, 100, 0)},
    {"Windows-1252, about 4 MiB", Options(7, 1252, 0, 4 << 20)},
};

struct Generated {
  StoreManifest manifest;
  std::map<std::string, std::string> files;
};

Generated Generate(const StoreOptions& options) {
  Generated g;
  MemoryFileSink sink;
  std::string error;
  EXPECT_TRUE(GenerateStore(options, sink, &g.manifest, &error)) << error;
  g.files = sink.files();
  return g;
}

// Each case's store, made once for all the tests.
const Generated& Stored(const Case& c) {
  static std::map<const Case*, Generated> made;
  auto it = made.find(&c);
  if (it == made.end()) it = made.emplace(&c, Generate(c.options)).first;
  return it->second;
}

uint32_t Le32(const std::string& file, uint64_t at) {
  if (at + 4 > file.size()) return 0xFFFFFFFFu;
  const auto* p = reinterpret_cast<const uint8_t*>(file.data() + at);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The catalogue of every file holds what the manifest says: kinds, the file-info areas, the
// records of each message folder in index order, and the folder tree of Folders.dbx; no damage.
TEST(GenStore, CatalogueReadsBackWhatTheManifestSays) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const Generated& g = Stored(c);
    const StoreManifest& m = g.manifest;
    const uint32_t cp = c.options.codePage;
    ASSERT_EQ(g.files.size(), m.files.size());
    std::multimap<std::string, const StoreManifest::Message*> byFile;
    for (const auto& e : m.messages) byFile.emplace(e.file, &e);

    for (const StoreManifest::File& file : m.files) {
      SCOPED_TRACE(file.name);
      ASSERT_EQ(g.files.count(file.name), 1u);
      const std::string& bytes = g.files.at(file.name);
      EXPECT_EQ(bytes.size(), file.bytes);
      catalogue::testing::ByteFile input(bytes);
      const Catalogue cat = catalogue::ReadCatalogue(&input, nullptr);
      EXPECT_EQ(cat.damageCount, 0u) << (cat.damage.empty() ? "" : cat.damage[0].reason);
      EXPECT_EQ(catalogue::FileKindName(cat.kind), file.kind);
      EXPECT_EQ(cat.header.treeCounts[0], file.indexCount);
      if (file.kind != "messages") continue;

      EXPECT_EQ(catalogue::SourceName(cat.fileInfo.source), file.source);
      EXPECT_EQ(cat.fileInfo.accountKey, file.accountKey);
      EXPECT_EQ(catalogue::CodePageToUtf8(cat.fileInfo.name, cp), file.folder);
      std::vector<const StoreManifest::Message*> listed;
      const auto range = byFile.equal_range(file.name);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second->indexId != 0) listed.push_back(it->second);
      }
      const std::vector<catalogue::MessageInfo> records = catalogue::ReadMessageInfos(&input, cat);
      ASSERT_EQ(records.size(), listed.size());
      for (size_t i = 0; i < listed.size(); ++i) {
        const catalogue::MessageInfo& r = records[i];
        const StoreManifest::Message& e = *listed[i];
        SCOPED_TRACE(e.indexId);
        EXPECT_EQ(r.indexId, e.indexId);
        EXPECT_EQ(r.firstBlock, e.firstBlock);
        EXPECT_EQ(r.flags, e.flags);
        EXPECT_EQ((r.flags & catalogue::kMessageDownloaded) == 0, e.status == "headers-only");
        EXPECT_EQ(catalogue::CodePageToUtf8(r.subject, cp), e.subject);
        EXPECT_EQ(catalogue::CodePageToUtf8(r.senderName, cp) + " <" + r.senderAddress + ">",
                  e.from);
        EXPECT_EQ(catalogue::FiletimeToIso8601(r.received), e.received);
        EXPECT_EQ(catalogue::FiletimeToIso8601(r.sent), e.sent);
        EXPECT_EQ(r.messageId, e.messageId);
      }
    }

    // Folders.dbx: every record once, as the manifest lists them, in three trees as in the
    // real one (the third without the root); each file a folder names exists, one file is
    // named by none, and some folders have no file.
    catalogue::testing::ByteFile input(g.files.at("Folders.dbx"));
    const Catalogue cat = catalogue::ReadCatalogue(&input, nullptr);
    ASSERT_EQ(cat.folders.size(), m.folders.size());
    EXPECT_EQ(cat.trees[1].values.size(), m.folders.size());
    EXPECT_EQ(cat.trees[2].values.size(), m.folders.size() - 1);
    const char* const kKinds[] = {"news", "imap", "http", "local", "root"};
    const char* const kSpecial[] = {"", "inbox", "outbox", "sent-items", "deleted-items", "drafts"};
    std::set<std::string> named;
    size_t withoutFile = 0;
    for (size_t i = 0; i < m.folders.size(); ++i) {
      const catalogue::FolderInfo& r = cat.folders[i];
      const StoreManifest::Folder& e = m.folders[i];
      SCOPED_TRACE(e.name);
      EXPECT_EQ(r.id, e.id);
      EXPECT_EQ(r.parent, e.parent < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(e.parent));
      EXPECT_EQ(catalogue::CodePageToUtf8(r.name, cp), e.name);
      // The record names the file in the code page; on disk the name is Unicode.
      EXPECT_EQ(catalogue::CodePageToUtf8(r.fileName, cp), e.file);
      ASSERT_LT(r.kind, 5u);
      EXPECT_EQ(kKinds[r.kind], e.kind);
      ASSERT_LT(r.special, 6u);
      EXPECT_EQ(kSpecial[r.special], e.special);
      EXPECT_EQ(r.accountKey, e.accountKey);
      EXPECT_EQ(r.messageCount, e.messages);
      EXPECT_EQ(r.unreadCount, e.unread);
      if (e.file.empty()) {
        ++withoutFile;
      } else {
        EXPECT_EQ(g.files.count(e.file), 1u) << e.file;
        named.insert(e.file);
      }
    }
    EXPECT_GE(withoutFile, 2u);
    std::vector<std::string> unnamed;
    for (const auto& f : m.files) {
      if (f.kind == "messages" && !named.count(f.name)) unnamed.push_back(f.name);
      EXPECT_EQ(f.named, f.kind != "messages" || named.count(f.name) != 0) << f.name;
    }
    EXPECT_EQ(unnamed, std::vector<std::string>{"Old Mail.dbx"});
  }
}

// A folder list longer than one info chunk holds (a real store's few hundred folders fit one)
// goes on in the next chunks; the catalogue reader finds every record, undamaged.
TEST(GenStore, FolderListsLongerThanAnInfoChunkReadBackWhole) {
  std::vector<FolderRecord> records(1);
  records[0].parent = 0xFFFFFFFFu;
  records[0].name = "Outlook Express";
  records[0].kind = 4;
  for (uint32_t id = 1; id <= 3000; ++id) {
    FolderRecord r;
    r.id = id;
    r.parent = id / 2;  // each folder below one made before it
    r.name = "Folder " + std::to_string(id);
    r.fileName = r.name + ".dbx";
    records.push_back(r);
  }
  MemoryOutput out;
  std::string error;
  ASSERT_TRUE(WriteFoldersFile(records, 0x01C21639E9210F00, out, &error)) << error;
  EXPECT_GT(out.Size(), 0x25C4u + 2 * 0xC000u);
  catalogue::testing::ByteFile input(out.bytes());
  const Catalogue cat = catalogue::ReadCatalogue(&input, nullptr);
  EXPECT_EQ(cat.damageCount, 0u);
  ASSERT_EQ(cat.folders.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(cat.folders[i].id, records[i].id);
    EXPECT_EQ(cat.folders[i].parent, records[i].parent);
    EXPECT_EQ(cat.folders[i].name, records[i].name);
    EXPECT_EQ(cat.folders[i].fileName, records[i].fileName);
  }
}

// Follows a deleted message's blocks by the next offsets they keep, and returns its bytes as
// the file still holds them; the last block (reused or not) gives what is left of `size`.
std::string DeletedBytes(const std::string& file, const StoreManifest::Message& e) {
  std::string bytes;
  uint32_t block = e.firstBlock;
  for (uint32_t k = 0; k < e.blocks && block + 0x210 <= file.size(); ++k) {
    const uint32_t take = std::min<uint32_t>(0x200, e.size - k * 0x200);
    bytes.append(file, block + 16, take);
    block = Le32(file, block + 12);
  }
  return bytes;
}

// The engine writes each file's live messages, in first-block order, byte for byte, and nothing
// else: neither headers-only messages nor deleted ones. Each deleted message's blocks still hold
// its bytes outside the ranges the manifest says were overwritten; a moved one's bytes are its
// live copy's.
TEST(GenStore, EngineExportsEveryLiveMessageAndDeletedOnesSurviveAsTold) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const Generated& g = Stored(c);
    MemFileSystem fs;
    for (const auto& f : g.files) fs.Put(f.first, f.second);
    std::map<std::pair<std::string, uint32_t>, std::string> liveText;  // (file, index id)
    for (const StoreManifest::File& file : g.manifest.files) {
      if (file.kind != "messages") continue;
      SCOPED_TRACE(file.name);
      std::vector<const StoreManifest::Message*> live;
      for (const auto& e : g.manifest.messages) {
        if (e.file == file.name && e.status == "live") live.push_back(&e);
      }
      std::sort(live.begin(), live.end(),
                [](auto* a, auto* b) { return a->firstBlock < b->firstBlock; });
      RecordingSink sink;
      CMailboxExtractor engine(&fs);
      engine.m_pSink = &sink;
      ASSERT_EQ(engine.ExportMailbox(file.name.c_str(), "out"),
                live.empty() ? kExportNoMessages : kExportWritten);
      const auto written = fs.FilesUnder("out/" + file.name + "-");
      ASSERT_EQ(written.size(), live.size());
      for (size_t i = 0; i < live.size(); ++i) {
        const std::string& eml = fs.Get("out/" + file.name + "-" + std::to_string(i + 1) + ".eml");
        ASSERT_EQ(eml.size(), live[i]->size) << i;
        EXPECT_TRUE(ComputeSha256(eml.data(), eml.size()) == live[i]->sha256) << i;
        liveText[{file.name, live[i]->indexId}] = eml;
      }
    }

    size_t checkedAgainstCopy = 0;
    for (const auto& e : g.manifest.messages) {
      if (e.indexId != 0) continue;
      SCOPED_TRACE(e.file + " deleted at " + std::to_string(e.firstBlock));
      const std::string& file = g.files.at(e.file);
      const std::string kept = DeletedBytes(file, e);
      ASSERT_EQ(kept.size(), e.size);
      ASSERT_FALSE(e.overwritten.empty());
      // Every block of the message is marked deleted, but a last block taken again.
      uint32_t block = e.firstBlock;
      for (uint32_t k = 0; k < e.blocks; ++k, block = Le32(file, block + 12)) {
        const bool reused = e.lastBlockReused && k + 1 == e.blocks;
        EXPECT_EQ(Le32(file, block), block);
        EXPECT_EQ(Le32(file, block + 4), reused ? 0x200u : 0x1FCu) << k;
      }
      if (e.status != "deleted-also-live") continue;
      const auto copy = liveText.find({e.liveInFile, e.liveInId});
      ASSERT_NE(copy, liveText.end());
      ASSERT_TRUE(ComputeSha256(copy->second.data(), copy->second.size()) == e.sha256);
      std::string expected = copy->second;
      for (const auto& range : e.overwritten) {
        for (uint32_t i = range.first; i < range.second; ++i) expected[i] = kept[i];
      }
      EXPECT_TRUE(kept == expected);
      ++checkedAgainstCopy;
    }
    EXPECT_GE(checkedAgainstCopy, 3u);
  }
}

// What the exporters' tests need is there: every status and flag, subjects and senders as
// encoded-words and as 8-bit text, "From " lines, a message without a Date header, one without
// a received time, a copy live in two folders, a deleted message whose last block the next
// message took but in part; the same options give the same bytes, other ones others.
TEST(GenStore, HoldsEveryCaseExportsMeetAndIsDeterministic) {
  const Case& c = kCases[0];
  const Generated& g = Stored(c);
  const CodePageText& texts = *FindCodePageText(c.options.codePage);
  const std::string charset = texts.charset;
  std::set<std::string> statuses, flags;
  std::map<std::string, std::set<std::string>> filesOfSha;
  bool noReceived = false, partlyReused = false;
  for (const auto& e : g.manifest.messages) {
    statuses.insert(e.status);
    for (uint32_t bit : {0x80u, 0x20u, 0x80000u, 0x100000u, 0x08u, 0x4000u, 0x800u}) {
      if (e.flags & bit) flags.insert(std::to_string(bit));
    }
    if (e.status == "live") filesOfSha[DigestToHex(e.sha256)].insert(e.file);
    if (e.indexId != 0 && e.received.empty()) noReceived = true;
    if (e.lastBlockReused) {
      const uint32_t lastStart = (e.blocks - 1) * 0x200;
      partlyReused |=
          e.overwritten.back().first == lastStart && e.overwritten.back().second < e.size;
    }
  }
  EXPECT_EQ(statuses,
            (std::set<std::string>{"live", "headers-only", "deleted", "deleted-also-live"}));
  EXPECT_EQ(flags.size(), 7u);
  EXPECT_TRUE(noReceived);
  EXPECT_TRUE(partlyReused);
  EXPECT_TRUE(std::any_of(filesOfSha.begin(), filesOfSha.end(),
                          [](const auto& f) { return f.second.size() == 2; }));

  // The Inbox's texts, as the engine finds them.
  MemFileSystem fs;
  fs.Put("Inbox.dbx", g.files.at("Inbox.dbx"));
  RecordingSink sink;
  CMailboxExtractor engine(&fs);
  engine.m_pSink = &sink;
  ASSERT_EQ(engine.ExportMailbox("Inbox.dbx", "out"), 0);
  const std::string kWanted[] = {
      "\r\nSubject: =?" + charset + "?B?",  // subjects as encoded-words
      "\r\nSubject: Re: =?" + charset + "?",
      "\r\nSubject: =?" + charset + "?Q?",
      "\r\nFrom: =?" + charset + "?B?",  // a sender's name as one
      "\r\n\r\nFrom ",                   // lines an mbox writer must quote
      "\r\n>From ",
      "\r\n>>From ",
  };
  std::set<std::string> found;
  bool undated = false, rawSubject = false, rawSender = false;
  auto eightBit = [](const std::string& head, const char* name) {
    const size_t at = head.find(name);
    if (at == std::string::npos) return false;
    const size_t end = head.find("\r\n", at + 2);
    return head.compare(at + std::strlen(name), 2, "=?") != 0 &&
           std::any_of(head.begin() + at, head.begin() + end,
                       [](char ch) { return static_cast<uint8_t>(ch) >= 0x80; });
  };
  for (const auto& f : fs.FilesUnder("out/")) {
    for (const std::string& w : kWanted) {
      if (f.second.find(w) != std::string::npos) found.insert(w);
    }
    const std::string head = "\r\n" + f.second.substr(0, f.second.find("\r\n\r\n") + 2);
    undated |= head.find("\r\nDate: ") == std::string::npos;
    rawSubject |= eightBit(head, "\r\nSubject: ");
    rawSender |= eightBit(head, "\r\nFrom: ");
  }
  EXPECT_EQ(found.size(), std::size(kWanted));
  EXPECT_TRUE(undated);
  EXPECT_TRUE(rawSubject);
  EXPECT_TRUE(rawSender);

  const Generated again = Generate(c.options);
  EXPECT_TRUE(again.files == g.files);
  EXPECT_EQ(ManifestJsonLines(again.manifest), ManifestJsonLines(g.manifest));
  StoreOptions other = c.options;
  other.seed += 1;
  EXPECT_FALSE(Generate(other).files.at("Inbox.dbx") == g.files.at("Inbox.dbx"));
}

// The code pages' texts are what the system's own conversion makes of their bytes.
TEST(GenStore, CodePageTablesAgreeWithTheSystem) {
  for (uint32_t cp : {1251u, 936u, 1252u}) {
    const CodePageText* t = FindCodePageText(cp);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(catalogue::CodePageOfCharset(t->charset), cp);
    std::vector<Text> all(std::begin(t->words), std::end(t->words));
    all.insert(all.end(), std::begin(t->names), std::end(t->names));
    all.insert(all.end(), std::begin(t->folders), std::end(t->folders));
    for (const Text& text : all) {
      EXPECT_EQ(catalogue::CodePageToUtf8(text.bytes, cp), text.utf8) << cp;
      EXPECT_EQ(catalogue::DecodeHeaderText(EncodedWordB(t->charset, text.bytes), 1252), text.utf8);
      EXPECT_EQ(catalogue::DecodeHeaderText(EncodedWordQ(t->charset, text.bytes), 1252), text.utf8);
    }
  }
  EXPECT_EQ(FindCodePageText(1250), nullptr);
}

// quillon-mkdbx --store writes the folder and the JSON Lines manifest the library gives.
TEST(GenStore, CommandWritesTheStoreAndItsManifest) {
  test::TempFolder dir("mkdbx-store");
  const std::string store = dir / "store", list = dir / "store.jsonl";
  std::string out, err;
  ASSERT_EQ(RunMkdbx({"--store", store, "--seed", "3", "--messages", "90", "--codepage", "936",
                      "--manifest", list},
                     &out, &err),
            kMkdbxOk)
      << err;
  const Generated g = Generate(Options(3, 936, 90, 0));
  for (const auto& f : g.files) {
    EXPECT_EQ(test::ReadWholeFile(dir.path() / "store" / std::filesystem::u8path(f.first)),
              f.second)
        << f.first;
  }
  const std::string jsonl = ManifestJsonLines(g.manifest);
  EXPECT_EQ(test::ReadWholeFile(list), jsonl);
  // The manifest's bytes are those the tests and scripts that read it were written against.
  EXPECT_EQ(DigestToHex(ComputeSha256(jsonl.data(), jsonl.size())),
            "e0cace32356d9cf9b4296fcfc760c07c829b66d643208ce6175cfc692844aecc");
  const std::string head = "{\"type\":\"store\",\"seed\":3,\"codepage\":936,\"charset\":\"gb2312\"";
  EXPECT_EQ(jsonl.compare(0, head.size(), head), 0) << jsonl.substr(0, 200);
  const StoreStats& s = g.manifest.stats;
  EXPECT_EQ(out.compare(0, store.size(), store), 0);
  EXPECT_NE(out.find(": " + std::to_string(s.files) + " files, " + std::to_string(s.folders) +
                     " folders, " + std::to_string(s.live) + " live messages, "),
            std::string::npos)
      << out;

  const std::pair<std::vector<std::string>, std::string> kBad[] = {
      {{"--store", store, "x.dbx"}, "--store writes a folder; no output file goes with it"},
      {{"--store", store, "--fragmented"},
       "--fragmented and --deleted do not apply to --store, which has its own"},
      {{"--store", store, "--size", "5G"}, "--size: a store of at most 4G"},
      {{"--store", store, "--codepage", "1250"}, "--codepage: '1250' is not 1251, 936 or 1252"},
      {{"--codepage", "936", "x.dbx"},
       "--codepage applies to --store, --shape small and --shape tiny only"},
      {{"--store="}, "--store: the folder name is empty"},
  };
  for (const auto& c : kBad) {
    std::string o, e;
    EXPECT_EQ(RunMkdbx(c.first, &o, &e), kMkdbxUsage) << c.second;
    EXPECT_EQ(e, "quillon-mkdbx: " + c.second + "\nTry 'quillon-mkdbx --help'.\n");
  }
}

}  // namespace
}  // namespace quillon::gen
