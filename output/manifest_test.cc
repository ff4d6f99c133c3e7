#include "output/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "output/testing/mem_output_fs.h"

namespace quillon::output {
namespace {

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
UpdateCounts Export(MemOutputFs* fs, Format format, const std::vector<std::string>& messages,
                    int64_t now) {
  std::string error;
  ManifestContents listed;
  EXPECT_TRUE(ReadManifest(fs, kManifestName, &listed, &error)) << error;
  UpdatePlanner planner(fs, format, std::move(listed));
  WriterOptions options;
  options.format = format;
  options.keepExisting = true;
  options.reservedNames = {kManifestName};
  options.clockMicroseconds = [&now] { return now++; };
  options.hostName = "h";
  options.maildirInfoSeparator = ':';
  auto writer = MailWriter::Create(fs, options, &error);
  auto manifest = ManifestWriter::Create(fs, kManifestName, &error);
  uint32_t n = 0;
  std::vector<const ListedFile*> kept;  // skipped: their lines are carried over
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
      kept.push_back(d.listed);
      continue;
    }
    const bool ok = d.action == UpdateAction::kRewrite
                        ? writer->Rewrite(d.path, facts, source, &written, &error)
                        : writer->Write(facts, source, &written, &error);
    EXPECT_TRUE(ok) << error;
    EXPECT_TRUE(manifest->AddFile(facts, written, &error));
  }
  for (const ListedFile* file : planner.Unclaimed()) kept.push_back(file);
  std::sort(kept.begin(), kept.end(),
            [](const ListedFile* a, const ListedFile* b) { return a->line < b->line; });
  EXPECT_TRUE(ReadListedLines(
      fs, kManifestName, kept,
      [&](const std::string& line) { EXPECT_TRUE(manifest->AddLine(line, &error)); }, &error));
  EXPECT_TRUE(writer->Finish(&error) && manifest->Finish(&error)) << error;
  return planner.counts();
}

TEST(Manifest, UpdateWritesOnlyWhatIsNotThereWhole) {
  const std::vector<std::string> messages = {"Subject: 1\r\n\r\none", "Subject: 2\r\n\r\ntwo",
                                             "Subject: 3\r\n\r\nthree", "Subject: 4\r\n\r\nfour",
                                             "Subject: 4\r\n\r\nfour"};
  for (Format format : {Format::kEml, Format::kMaildir}) {
    MemOutputFs fs;
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
    ManifestContents listed;
    std::string error;
    ASSERT_TRUE(ReadManifest(&fs, kManifestName, &listed, &error));
    EXPECT_EQ(listed.files.size(), 6u);
    for (const ListedFile& file : listed.files) EXPECT_NE(file.path, mine);
    // The removed file is back, and the new message's file is added.
    EXPECT_EQ(after.size(), before.size() + 2);
  }
}

// The lines carried over are read again at the end: as they were, and only while they still list
// the same file.
TEST(Manifest, ListedLinesAreReadAgainOnlyWhileUnchanged) {
  const std::string a = R"({"path":"a.eml","size":1,"sha256":")" + std::string(64, 'a') + R"("})";
  const std::string b = R"({"path":"b.eml","size":2,"sha256":")" + std::string(64, 'b') + R"("})";
  const std::string c = R"({"path":"c.eml","size":3,"sha256":")" + std::string(64, 'c') + R"("})";
  MemOutputFs fs;
  fs.Put(kManifestName, a + "\nnot json\n\n" + b + "\n{\"summary\":true}\n" + c);
  ManifestContents listed;
  std::vector<std::string> seen;  // what the observer saw
  std::string error;
  ASSERT_TRUE(ReadManifest(
      &fs, kManifestName, &listed, &error,
      [&](const ListedFile& f, const std::string& line) { seen.push_back(f.path + " " + line); }));
  EXPECT_EQ(seen, (std::vector<std::string>{"a.eml " + a, "b.eml " + b, "c.eml " + c}));
  ASSERT_EQ(listed.files.size(), 3u);
  EXPECT_EQ(listed.ignoredLines, 1u);
  EXPECT_EQ(listed.files[1].line, 3u);
  const std::vector<const ListedFile*> all = {&listed.files[0], &listed.files[1], &listed.files[2]};
  for (const auto& [manifest, expected] : std::vector<std::pair<std::string, std::string>>{
           {a + "\nnot json\n\n" + b + "\n{\"summary\":true}\n" + c, a + b + c},
           // b's size changed, c's line moved: neither is carried over as it now reads.
           {a + "\nnot json\n\n" + b.substr(0, b.find("2")) + "5" + b.substr(b.find("2") + 1) +
                "\n" + c,
            a},
       }) {
    fs.Put(kManifestName, manifest);
    std::string lines;
    ASSERT_TRUE(ReadListedLines(
        &fs, kManifestName, all, [&](const std::string& line) { lines += line; }, &error));
    EXPECT_EQ(lines, expected);
  }
}

}  // namespace
}  // namespace quillon::output
