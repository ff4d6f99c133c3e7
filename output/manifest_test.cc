#include "output/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "fs/testing/mem_file_system.h"
#include "output/mail_time.h"
#include "test_support/test_support.h"

namespace quillon::output {
namespace {

// The lines are written directly, not dumped from an object: they must be, byte for byte, what
// nlohmann writes for the same object, whatever the strings hold (quotes, backslashes, every
// control character, DEL, UTF-8, and bytes that are no UTF-8), and whichever fields are absent.
TEST(Manifest, LinesAreWhatNlohmannWrites) {
  using Json = nlohmann::ordered_json;
  test::SeedRng rng(2024);
  const std::string kPieces[] = {"",     "a",    "\"",          "\\",           "/",
                                 "\x7F", " ",    "\xC3\xA9",    "\xE5\xB7\xA5", "\xF0\x9F\x93\xA7",
                                 "\xC3", "\xFF", "\xED\xA0\x80"};
  const auto text = [&] {
    std::string s;
    for (uint64_t n = rng.Next() % 12; n > 0; --n) {
      const uint64_t pick = rng.Next() % 48;
      // A control character now and then, else one of the pieces above or a letter.
      if (pick < 32) {
        s += pick < 8 ? static_cast<char>(rng.Next() % 32) : static_cast<char>('a' + pick % 26);
      } else {
        s += kPieces[pick % std::size(kPieces)];
      }
    }
    return s;
  };
  for (int round = 0; round < 2000; ++round) {
    MessageFacts facts;
    facts.mailbox = text();
    facts.folder = {text(), text()};
    if (rng.Next() % 2) facts.folderName = text();
    facts.status = text();
    facts.firstBlock = static_cast<uint32_t>(rng.Next());
    facts.blocks = static_cast<uint32_t>(rng.Next() % 1000);
    if (rng.Next() % 2) facts.indexId = static_cast<uint32_t>(rng.Next());
    facts.flags = static_cast<uint32_t>(rng.Next() % (1u << kFlagCount));
    if (rng.Next() % 3)
      facts.received = static_cast<int64_t>(rng.Next() % 400000000000) - 100000000000;
    if (rng.Next() % 3) facts.sent = static_cast<int64_t>(rng.Next() % 5000000000);
    facts.subject = text();
    facts.from = text();
    facts.to = text();
    facts.messageId = text();
    WrittenMessage written;
    written.path = text();
    written.size = rng.Next();
    if (rng.Next() % 2) written.sha256 = ComputeSha256(&round, sizeof round);

    Json j;
    j["mailbox"] = facts.mailbox;
    j["folder"] = facts.FolderName();
    j["status"] = facts.status;
    j["first_block"] = facts.firstBlock;
    j["blocks"] = facts.blocks;
    j["size"] = written.size;
    j["sha256"] = written.sha256 ? Json(DigestToHex(*written.sha256)) : Json(nullptr);
    j["index_id"] = facts.indexId ? Json(*facts.indexId) : Json(nullptr);
    j["flags"] = Json::array();
    for (size_t i = 0; i < kFlagCount; ++i) {
      if (facts.flags & (1u << i)) j["flags"].push_back(kFlagNames[i]);
    }
    const auto time = [](const std::optional<int64_t>& t) {
      const std::string iso = t ? Iso8601Utc(*t) : "";
      return iso.empty() ? Json(nullptr) : Json(iso);
    };
    j["received"] = time(facts.received);
    j["sent"] = time(facts.sent);
    j["subject"] = facts.subject;
    j["from"] = facts.from;
    j["to"] = facts.to;
    j["message_id"] = facts.messageId;
    const auto dump = [](const Json& v) {
      return v.dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    ASSERT_EQ(MessageLine(facts, written.size, written.sha256), dump(j)) << round;
    j["path"] = written.path;
    ASSERT_EQ(FileLine(facts, written), dump(j)) << round;
  }
}

TEST(Manifest, LinesCarryTheListFieldsAndThePath) {
  MessageFacts facts;
  facts.mailbox = "mail/Inbox.dbx";
  facts.folder = {"Local Folders", "Inbox"};
  facts.status = "damaged";
  facts.firstBlock = 0x2B4B4;
  facts.blocks = 3;
  facts.indexId = 7;
  facts.flags = kFlagRead | kFlagAttachment;
  facts.received = 1473548312;
  facts.subject = "Caf\xC3\xA9 \"menu\"";
  facts.from = "Ann <ann@example.org>";
  facts.to = "bob@example.org";
  facts.messageId = "<1@example.org>";
  WrittenMessage written;
  written.path = "Local Folders/Inbox/Inbox.dbx-1.eml";
  written.size = 3;
  written.sha256 = ComputeSha256("abc", 3);
  EXPECT_EQ(FileLine(facts, written),
            "{\"mailbox\":\"mail/Inbox.dbx\",\"folder\":\"Inbox\",\"status\":\"damaged\","
            "\"first_block\":177332,\"blocks\":3,\"size\":3,\"sha256\":"
            "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\","
            "\"index_id\":7,\"flags\":[\"read\",\"attachment\"],"
            "\"received\":\"2016-09-10T22:58:32Z\",\"sent\":null,"
            "\"subject\":\"Caf\xC3\xA9 \\\"menu\\\"\",\"from\":\"Ann <ann@example.org>\","
            "\"to\":\"bob@example.org\",\"message_id\":\"<1@example.org>\","
            "\"path\":\"Local Folders/Inbox/Inbox.dbx-1.eml\"}");
  MailboxSummary summary{"mail/Inbox.dbx", 10, 9, 8, {{"headers-only", 1}, {"lost", 1}}};
  EXPECT_EQ(SummaryLine(summary),
            "{\"mailbox\":\"mail/Inbox.dbx\",\"summary\":true,\"listed\":10,\"found\":9,"
            "\"written\":8,\"not_written\":{\"headers-only\":1,\"lost\":1}}");
}

TEST(Manifest, DecidesFromTheListedFileAndTheDisk) {
  ListedFile listed;
  listed.size = 3;
  listed.sha256 = ComputeSha256("abc", 3);
  const Sha256Digest other = ComputeSha256("abd", 3);
  const struct {
    const ListedFile* listed;
    FileOnDisk disk;
    UpdateAction action;
  } kCases[] = {
      {nullptr, {}, UpdateAction::kWrite},
      {nullptr, {true, 3, listed.sha256}, UpdateAction::kWrite},
      {&listed, {true, 3, listed.sha256}, UpdateAction::kSkip},
      {&listed, {true, 3, other}, UpdateAction::kRewrite},          // changed, same size
      {&listed, {true, 2, std::nullopt}, UpdateAction::kRewrite},   // cut
      {&listed, {false, 0, std::nullopt}, UpdateAction::kRewrite},  // removed
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DecideUpdate(c.listed, c.disk), c.action)
        << UpdateActionName(c.action) << " " << c.disk.size;
  }
  for (const auto& [path, inside] : {std::pair<const char*, bool>{"a.eml", true},
                                     {"A/b/.c/cur/1.M2P3Q4.h:2,S", true},
                                     {"../x", false},
                                     {"a/../../x", false},
                                     {"/etc/passwd", false},
                                     {"a//b", false},
                                     {"./a", false},
                                     {"C:x", false},
                                     {"C:/x/y", false},
                                     {"a\\..\\..\\x", false},
                                     {"", false}}) {
    EXPECT_EQ(PathStaysInside(path), inside) << path;
  }
}

// An export as the command runs it: each message is looked up in the manifest the last run left,
// written, rewritten or skipped, and a new manifest lists every file this tool wrote.
UpdateCounts Export(MemFileSystem* fs, Format format, const std::vector<std::string>& messages,
                    int64_t now) {
  std::string error;
  bool refused = false;
  const std::unique_ptr<ListedManifest> listed =
      ListedManifest::Open(fs, kManifestName, format, nullptr, nullptr, &refused, &error);
  EXPECT_TRUE(listed) << error;
  UpdatePlanner planner(fs, listed.get());
  WriterOptions options;
  options.format = format;
  options.keepExisting = true;
  options.listed = [&](const std::string& path) { return listed->Names(path); };
  options.reservedNames = OwnNames();
  options.clockMicroseconds = [&now] { return now++; };
  options.hostName = "h";
  options.maildirInfoSeparator = ':';
  auto writer = MailWriter::Create(fs, options, &error);
  auto manifest = ManifestWriter::Create(fs, kManifestName, &error);
  uint32_t n = 0;
  std::vector<uint32_t> kept;  // skipped: their lines are carried over
  for (const std::string& bytes : messages) {
    MessageFacts facts;
    facts.mailbox = "Inbox.dbx";
    facts.folder = {"Mail"};
    facts.number = ++n;
    facts.received = 0;
    facts.sha256 = ComputeSha256(bytes.data(), bytes.size());
    const auto source = [&bytes](const ChunkSink& sink, std::string*) {
      return sink(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    const UpdatePlanner::Decision d =
        planner.Decide(writer->Locate(facts.folder).path, *facts.sha256);
    planner.Count(d.action);
    WrittenMessage written;
    if (d.action == UpdateAction::kSkip) {
      kept.push_back(d.listed->line);
      continue;
    }
    const bool ok = d.action == UpdateAction::kRewrite
                        ? writer->Rewrite(d.path, facts, source, &written, &error)
                        : writer->Write(facts, source, &written, &error);
    EXPECT_TRUE(ok) << error;
    EXPECT_TRUE(manifest->AddFile(facts, written, &error));
  }
  for (const uint32_t line : planner.Unclaimed()) kept.push_back(line);
  std::sort(kept.begin(), kept.end());
  EXPECT_TRUE(listed->ReadLines(
      kept, [&](const std::string& line) { EXPECT_TRUE(manifest->AddLine(line, &error)); },
      &error));
  EXPECT_TRUE(writer->Finish(&error) && manifest->Finish(&error)) << error;
  return planner.counts();
}

// The paths a manifest lists, in its order.
std::vector<std::string> ListedPaths(MemFileSystem* fs, Format format) {
  std::string error;
  bool refused = false;
  const auto listed =
      ListedManifest::Open(fs, kManifestName, format, nullptr, nullptr, &refused, &error);
  EXPECT_TRUE(listed) << error;
  std::vector<std::string> paths;
  for (uint32_t i = 0; listed && i < listed->size(); ++i) {
    ListedFile file;
    EXPECT_TRUE(listed->Read(i, &file));
    paths.push_back(file.path);
  }
  return paths;
}

TEST(Manifest, UpdateWritesOnlyWhatIsNotThereWhole) {
  const std::vector<std::string> messages = {"Subject: 1\r\n\r\none", "Subject: 2\r\n\r\ntwo",
                                             "Subject: 3\r\n\r\nthree", "Subject: 4\r\n\r\nfour",
                                             "Subject: 4\r\n\r\nfour"};
  for (Format format : {Format::kEml, Format::kMaildir}) {
    MemFileSystem fs;
    UpdateCounts counts = Export(&fs, format, messages, 1000000000000000);
    EXPECT_EQ(counts.written, 5u);
    std::vector<std::string> paths;  // as the first run wrote them, in its order
    for (const auto& [path, bytes] : fs.Files()) {
      if (path != kManifestName && path.find("maildirfolder") == std::string::npos) {
        paths.push_back(path);
      }
    }
    ASSERT_EQ(paths.size(), 5u) << FormatName(format);

    // One file cut, one changed at the same size, one removed, one renamed as a mail program
    // does when flags change (Maildir), and a file of the user's where the next name would go.
    fs.Put(paths[0], fs.Find(paths[0])->bytes.substr(0, 5));
    std::string changed = fs.Find(paths[1])->bytes;
    changed[0] ^= 1;
    fs.Put(paths[1], changed);
    fs.Erase(paths[2]);
    std::string renamed = paths[3];
    if (format == Format::kMaildir) {
      renamed += "S";
      fs.Put(renamed, fs.Find(paths[3])->bytes);
      fs.Erase(paths[3]);
    }
    const std::string mine = format == Format::kEml ? "Mail/Inbox.dbx-6.eml" : ".Mail/cur/mine";
    fs.Put(mine, "the user's own");
    const auto before = fs.Files();

    counts = Export(
        &fs, format,
        {messages[0], messages[1], messages[2], messages[3], messages[4], "Subject: 6\r\n\r\nsix"},
        2000000000000000);
    EXPECT_EQ(counts.skipped, 2u) << FormatName(format);
    EXPECT_EQ(counts.rewritten, 3u);
    EXPECT_EQ(counts.written, 1u);
    const auto after = fs.Files();
    EXPECT_EQ(after.at(mine), "the user's own");
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after.at(paths[i]), messages[i]);
    EXPECT_EQ(after.at(renamed), messages[3]);
    if (format == Format::kEml) {
      EXPECT_EQ(after.at("Mail/Inbox.dbx-6 (2).eml"), "Subject: 6\r\n\r\nsix");
    }
    // The user's file is not listed; all six messages' files are.
    const std::vector<std::string> listed = ListedPaths(&fs, format);
    EXPECT_EQ(listed.size(), 6u);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), mine), 0);
    // The removed file is back, and the new message's file is added.
    EXPECT_EQ(after.size(), before.size() + 2);
  }
}

// A file the manifest lists is never a new file's name, though it be gone and no message of the
// run claim it: its line is carried over, and the new manifest names each file once.
TEST(Manifest, UpdateTakesNoListedNameForANewFile) {
  MemFileSystem fs;
  Export(&fs, Format::kEml, {"Subject: a\r\n\r\na", "Subject: b\r\n\r\nb"}, 0);
  fs.Erase("Mail/Inbox.dbx-1.eml");
  // The first message is no longer in the mailbox; a new one is, as its first.
  Export(&fs, Format::kEml, {"Subject: c\r\n\r\nc", "Subject: b\r\n\r\nb"}, 0);
  EXPECT_EQ(ListedPaths(&fs, Format::kEml),
            (std::vector<std::string>{"Mail/Inbox.dbx-1 (2).eml", "Mail/Inbox.dbx-1.eml",
                                      "Mail/Inbox.dbx-2.eml"}));
}

// A manifest whose lines do not name files of this output, each once, is refused: --update would
// otherwise overwrite one message with another or never restore one.
TEST(Manifest, ListsEachFileOfTheOutputOnceOrIsRefused) {
  const auto line = [](const std::string& path, char digit = 'a') {
    return R"({"path":")" + path + R"(","size":1,"sha256":")" + std::string(64, digit) + "\"}";
  };
  const struct {
    Format format;
    std::vector<std::string> lines;
    std::string refusal;  // empty: read, with `files` file lines and the rest passed over
    size_t files = 0;
  } kCases[] = {
      {Format::kEml,
       {line("a.eml"), line("x/b.eml"), line("../c.eml"), "{}", "not json", "[" + line("d") + "]",
        R"({"path":{"x":1},"size":1,"sha256":")" + std::string(64, 'a') + "\"}"},
       "",
       2},
      {Format::kEml,
       {line("a.eml"), line("b.eml"), line("a.eml", 'b')},
       "two of its lines name one file, a.eml"},
      {Format::kEml,
       {line("X/A.eml"), line("x/a.eml")},
       "two of its lines name one file, X/A.eml and x/a.eml"},
      {Format::kMaildir,
       {line(".F/cur/1.M2P3Q4.h:2,S"), line(".F/new/1.M2P3Q4.h")},
       "two of its lines name one file, .F/cur/1.M2P3Q4.h:2,S and .F/new/1.M2P3Q4.h"},
      {Format::kMaildir, {line("cur/1.M2P3Q4.h:2,S"), line("cur/1.M2P3Q5.h:2,S")}, "", 2},
      {Format::kEml,
       {line("a.eml"), line("quillon-manifest.jsonl")},
       "line 2 lists quillon-manifest.jsonl, a file of the export's own"},
      {Format::kEml,
       {line(".quillon-manifest.jsonl.tmp")},
       "line 1 lists .quillon-manifest.jsonl.tmp, a file of the export's own"},
      {Format::kEml,
       {line(".Quillon-Lock")},
       "line 1 lists .Quillon-Lock, a file of the export's own"},
      {Format::kEml,
       {line("a.eml"),
        R"({"path":"b.eml","size":1,"path":"c.eml","sha256":")" + std::string(64, 'a') + "\"}"},
       "line 2 gives its path, size or SHA-256 twice"},
  };
  for (const auto& c : kCases) {
    MemFileSystem fs;
    std::string manifest;
    for (const std::string& l : c.lines) manifest += l + "\n";
    fs.Put(kManifestName, manifest);
    bool refused = false;
    std::string error;
    const auto listed =
        ListedManifest::Open(&fs, kManifestName, c.format, nullptr, nullptr, &refused, &error);
    EXPECT_EQ(refused, !c.refusal.empty()) << manifest;
    EXPECT_EQ(listed == nullptr, !c.refusal.empty()) << manifest;
    EXPECT_EQ(error, c.refusal) << manifest;
    if (listed) {
      EXPECT_EQ(listed->size(), c.files) << manifest;
      EXPECT_EQ(listed->size() + listed->ignoredLines(), c.lines.size()) << manifest;
    }
  }
}

// What a line lists is read again when it is wanted, and only while the line is as it was; the
// lines carried over are read again at the end alike.
TEST(Manifest, ListedLinesAreReadAgainOnlyWhileUnchanged) {
  const std::string a = R"({"path":"a.eml","size":1,"sha256":")" + std::string(64, 'a') + R"("})";
  const std::string b = R"({"path":"b.eml","size":2,"sha256":")" + std::string(64, 'b') + R"("})";
  const std::string c = R"({"path":"c.eml","size":3,"sha256":")" + std::string(64, 'c') + R"("})";
  MemFileSystem fs;
  fs.Put(kManifestName, a + "\nnot json\n\n" + b + "\n{\"summary\":true}\n" + c);
  std::string error;
  bool refused = false;
  const auto listed =
      ListedManifest::Open(&fs, kManifestName, Format::kEml, nullptr, nullptr, &refused, &error);
  ASSERT_TRUE(listed) << error;
  ASSERT_EQ(listed->size(), 3u);
  EXPECT_EQ(listed->ignoredLines(), 1u);
  ListedFile file;
  std::string text;
  ASSERT_TRUE(listed->Read(1, &file, nullptr, &text));
  EXPECT_EQ(file.path, "b.eml");
  EXPECT_EQ(file.size, 2u);
  EXPECT_EQ(text, b);
  for (const auto& [manifest, expected] : std::vector<std::pair<std::string, std::string>>{
           {a + "\nnot json\n\n" + b + "\n{\"summary\":true}\n" + c, a + b + c},
           // b's size changed, c's line moved: neither is carried over as it now reads.
           {a + "\nnot json\n\n" + b.substr(0, b.find("2")) + "5" + b.substr(b.find("2") + 1) +
                "\n" + c,
            a},
       }) {
    *fs.Mutable(kManifestName) = manifest;  // changed in place, as the open manifest sees it
    std::string lines;
    ASSERT_TRUE(listed->ReadLines(
        {0, 1, 2}, [&](const std::string& line) { lines += line; }, &error));
    EXPECT_EQ(lines, expected);
  }
  EXPECT_FALSE(listed->Read(1, &file));
}

// A listed file is read no further than one chunk past its listed size: a file that grew without
// end is changed, whatever else it holds.
TEST(Manifest, LooksAtAListedFileNoFurtherThanItsSize) {
  MemFileSystem fs;
  fs.Put("a.eml", "abc");
  fs.Put("big.eml", std::string(3 << 20, 'x'));
  const FileOnDisk whole = LookAt(&fs, "a.eml", 3);
  EXPECT_TRUE(whole.present);
  EXPECT_EQ(whole.sha256, ComputeSha256("abc", 3));
  const FileOnDisk big = LookAt(&fs, "big.eml", 3);
  EXPECT_TRUE(big.present);
  EXPECT_FALSE(big.sha256);
  EXPECT_LT(big.size, uint64_t{3} << 20);
  EXPECT_FALSE(LookAt(&fs, "gone.eml", 3).present);
}

}  // namespace
}  // namespace quillon::output
