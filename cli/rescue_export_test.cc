// The rescue engine's export as a user meets it, on mailboxes the generator made (its manifest
// is the truth) and on the real files of the shared corpus: the same files as the extraction
// engine where the mailbox is sound, the exit status and the report where it is not, and
// --update. Formats and trees are read back by mail programs in output/testing/read_back_test.py.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/export_command.h"
#include "cli/export_places.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class RescueExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp_ = std::make_unique<test::TempFolder>("rescue-export");
    ASSERT_FALSE(tmp_->path().empty());
    dir = tmp_->path();
  }

  // Runs `program` with `args` in `dir`.
  Result Exec(const std::string& program, const std::vector<std::string>& args) {
    std::string command = "cd " + Quote(dir.string()) + " && " + Quote(program);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " >.out 2>.err";
    const int status = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    r.out = test::ReadWholeFile(dir / ".out");
    r.err = test::ReadWholeFile(dir / ".err");
    return r;
  }
  Result Run(const std::vector<std::string>& args) { return Exec(QUILLON_BINARY, args); }
  void Make(const std::vector<std::string>& args) {
    const Result r = Exec(QUILLON_MKDBX, args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // Every file below `folder` but the manifest, by its path relative to it, with its bytes.
  std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (!e.is_regular_file() || e.path().filename() == "quillon-manifest.jsonl") continue;
      files[fs::relative(e.path(), folder).string()] = test::ReadWholeFile(e.path());
    }
    return files;
  }

  static std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
  }
  std::vector<Json> Manifest(const fs::path& folder) {
    return JsonLines(test::ReadWholeFile(folder / "quillon-manifest.jsonl"));
  }

  std::unique_ptr<test::TempFolder> tmp_;
  fs::path dir;
};

// Where the mailbox is sound, the default export writes exactly the files, names and bytes of
// the extraction engine (--desktop): real files of Outlook Express, generated folders of every
// layout, and a whole generated store.
TEST_F(RescueExportTest, SoundMailboxesGiveTheDesktopFilesExactly) {
  std::vector<std::vector<std::string>> runs;
  const fs::path corpus = QUILLON_CORPUS_DIR;
  if (fs::is_directory(corpus)) {
    runs.push_back({corpus.string()});
  } else {
    std::printf("no corpus at %s: generated mailboxes only\n", corpus.c_str());
  }
  Make({"--seed", "1", "--messages", "120", "Plain.dbx"});
  Make({"--seed", "2", "--messages", "120", "--fragmented", "--deleted", "30", "Mixed.dbx"});
  Make({"--seed", "3", "--size", "3M", "--fragmented", "Big.dbx"});
  Make({"--store", "store", "--seed", "4", "--messages", "200"});
  runs.push_back({"Plain.dbx", "Mixed.dbx", "Big.dbx"});
  runs.push_back({"store"});
  for (const auto& paths : runs) {
    SCOPED_TRACE(paths.front());
    fs::remove_all(dir / "rescue");
    fs::remove_all(dir / "desktop");
    std::vector<std::string> rescue{"export", "-q", "-o", "rescue"};
    std::vector<std::string> desktop{"export", "-q", "--desktop", "-o", "desktop"};
    rescue.insert(rescue.end(), paths.begin(), paths.end());
    desktop.insert(desktop.end(), paths.begin(), paths.end());
    const Result r = Run(rescue);
    const Result d = Run(desktop);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(d.status, 0) << d.err;
    const auto written = Files(dir / "rescue");
    EXPECT_GT(written.size(), 2u);
    EXPECT_TRUE(written == Files(dir / "desktop"));
    // The manifest lists each file once, with its digest.
    size_t listed = 0;
    for (const Json& line : Manifest(dir / "rescue")) {
      if (!line.contains("path")) continue;
      ++listed;
      const auto file = written.find(line["path"].get<std::string>());
      ASSERT_NE(file, written.end()) << line.dump();
      EXPECT_EQ(line["sha256"],
                DigestToHex(ComputeSha256(file->second.data(), file->second.size())));
    }
    EXPECT_EQ(listed, written.size());
  }
}

// A damaged mailbox: everything readable is written, the report names what is damaged or lost,
// the exit status is 3; the extraction engine, which does not know, says 0.
TEST_F(RescueExportTest, DamagedMailboxesExitThreeAndSayWhatIsMissing) {
  Make({"--seed", "5", "--messages", "40", "--manifest", "m.txt", "Good.dbx"});
  std::string bytes = test::ReadWholeFile(dir / "Good.dbx");
  // The first message of several blocks, from the generator's manifest.
  uint32_t first = 0;
  std::istringstream manifest(test::ReadWholeFile(dir / "m.txt"));
  for (std::string line; std::getline(manifest, line);) {
    if (line[0] == '#') continue;
    std::istringstream words(line);
    std::string at;
    size_t length = 0;
    words >> at >> length;
    if (length > 0x600) {
      first = static_cast<uint32_t>(std::stoul(at, nullptr, 16));
      break;
    }
  }
  ASSERT_NE(first, 0u);
  const auto put = [&](std::string b, uint32_t at, const std::string& word) {
    b.replace(at, word.size(), word);
    return b;
  };
  const struct {
    const char* name;
    std::string bytes;
    std::string line, detail;
    const char* status;
  } cases[] = {
      // Its first block's link leads past the end of the file.
      {"Link.dbx", put(bytes, first + 12, std::string("\xF0\xFF\xFF\xFF", 4)),
       "Link.dbx: 40 messages written (1 damaged)\n", "  out/Link.dbx-1.eml: damaged: ", "damaged"},
      // Its first block's header is gone: the index lists a message no block begins.
      {"Head.dbx", put(bytes, first, std::string(16, '\0')),
       "Head.dbx: 39 messages written; not written: 1 lost, 1 fragment (--fragments)\n",
       "  Head.dbx: lost: index id 1, ", "lost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::WriteWholeFile(dir / c.name, c.bytes));
    fs::remove_all(dir / "out");
    const Result r = Run({"export", "-o", "out", c.name});
    EXPECT_EQ(r.status, kExitDamaged) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), c.line);
    EXPECT_EQ(r.out.find(c.detail), c.line.size()) << r.out;
    EXPECT_EQ(r.err, "");
    // The summary accounts for every message found.
    const std::vector<Json> lines = Manifest(dir / "out");
    const Json& summary = lines.back();
    ASSERT_TRUE(summary.value("summary", false));
    uint64_t accounted = summary["written"];
    for (const auto& [reason, n] : summary["not_written"].items()) accounted += n.get<uint64_t>();
    EXPECT_EQ(accounted, summary["found"].get<uint64_t>()) << summary.dump();
    // list --json gives the message its status.
    const Result listed = Run({"list", "--json", c.name});
    EXPECT_EQ(listed.status, 0);
    size_t marked = 0;
    for (const Json& m : JsonLines(listed.out)) marked += m["status"] == c.status;
    EXPECT_EQ(marked, 1u);
    EXPECT_EQ(Run({"export", "-q", "--desktop", "-o", "desktop", c.name}).status, 0);
  }
}

// --update writes what is missing, rewrites what was changed, cut or removed, skips the rest,
// and never touches a file the manifest does not list.
TEST_F(RescueExportTest, UpdateRewritesOnlyWhatIsNotThereWhole) {
  Make({"--store", "store", "--seed", "6", "--messages", "120"});
  for (const char* format : {"eml", "maildir"}) {
    SCOPED_TRACE(format);
    const fs::path out = dir / format;
    ASSERT_EQ(Run({"export", "-q", "--tree", "-f", format, "-o", format, "store"}).status, 0);
    const auto before = Files(out);
    // An update of an unchanged output writes nothing.
    Result r = Run({"export", "--tree", "-f", format, "--update", "-o", format, "store/Inbox.dbx"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" already there, 0 written, 0 rewritten"), std::string::npos) << r.out;
    EXPECT_TRUE(Files(out) == before);

    // Cut one file, change a byte of another, remove a third; add files of our own beside them.
    std::vector<fs::path> inbox;
    for (const auto& [path, bytes] : before) {
      if (path.find("Inbox") != std::string::npos && path.find("imap") == std::string::npos &&
          path.find("Работа") == std::string::npos) {
        inbox.push_back(out / path);
      }
    }
    ASSERT_GE(inbox.size(), 3u);
    fs::resize_file(inbox[0], fs::file_size(inbox[0]) / 2);
    std::string changed = test::ReadWholeFile(inbox[1]);
    changed[changed.size() / 2] ^= 1;
    ASSERT_TRUE(test::WriteWholeFile(inbox[1], changed));
    fs::remove(inbox[2]);
    const fs::path foreign = inbox[0].parent_path() / "mine.eml";
    ASSERT_TRUE(test::WriteWholeFile(foreign, "not quillon's"));
    ASSERT_TRUE(test::WriteWholeFile(out / "notes.txt", "mine too"));

    r = Run({"export", "--tree", "-f", format, "--update", "-o", format, "store"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" already there, 0 written, 3 rewritten"), std::string::npos) << r.out;
    auto after = Files(out);
    EXPECT_EQ(after[fs::relative(foreign, out).string()], "not quillon's");
    EXPECT_EQ(after["notes.txt"], "mine too");
    after.erase(fs::relative(foreign, out).string());
    after.erase("notes.txt");
    EXPECT_TRUE(after == before);
    // The manifest still lists every file, each once.
    std::set<std::string> paths;
    for (const Json& line : Manifest(out)) {
      if (line.contains("path")) {
        EXPECT_TRUE(paths.insert(line["path"]).second);
      }
    }
    const size_t messages = std::count_if(before.begin(), before.end(), [](const auto& f) {
      return fs::path(f.first).filename() != "maildirfolder";  // Maildir++'s mark
    });
    EXPECT_EQ(paths.size(), messages);
  }
  const Result mbox = Run({"export", "-f", "mbox", "--update", "-o", "m", "store"});
  EXPECT_EQ(mbox.status, kExitUsage);
  EXPECT_FALSE(fs::exists(dir / "m"));
}

// Deleted messages and fragments go apart from the mail; every summary adds up.
TEST_F(RescueExportTest, DeletedMessagesAndFragmentsGoApart) {
  Make({"--store", "store", "--seed", "7", "--messages", "150", "--manifest", "truth.jsonl"});
  const Result r = Run({"export", "-q", "--deleted", "--fragments", "--name", "{date} {subject}",
                        "--manifest", "copy/m.jsonl", "-o", "out", "store"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadWholeFile(dir / "copy/m.jsonl"),
            test::ReadWholeFile(dir / "out/quillon-manifest.jsonl"));
  size_t deleted = 0, files = 0;
  std::multiset<std::string> exportedDeleted;  // their digests
  for (const Json& line : Manifest(dir / "out")) {
    if (line.value("summary", false)) {
      uint64_t accounted = line["written"];
      for (const auto& [reason, n] : line["not_written"].items()) accounted += n.get<uint64_t>();
      EXPECT_EQ(accounted, line["found"].get<uint64_t>()) << line.dump();
      continue;
    }
    ++files;
    const std::string path = line["path"];
    const bool apart = path.rfind(std::string(kDeletedFolder) + "/", 0) == 0;
    EXPECT_EQ(apart, line["status"] == "deleted") << path;
    deleted += apart;
    if (apart) exportedDeleted.insert(line["sha256"].get<std::string>());
    // Named after its date and subject.
    if (!line["received"].is_null()) {
      EXPECT_EQ(path.substr(path.find('/') + 1, 10),
                line["received"].get<std::string>().substr(0, 10))
          << path;
    }
  }
  EXPECT_GT(deleted, 0u);
  EXPECT_EQ(files, Files(dir / "out").size());
  // list --deleted shows the same deleted messages (a copy of a live one marked, not exported),
  // under a line of their own per mailbox.
  const Result listed = Run({"list", "--json", "--deleted", "store"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::multiset<std::string> listedDeleted;
  for (const Json& m : JsonLines(listed.out)) {
    if (m["status"] == "deleted") listedDeleted.insert(m["sha256"].get<std::string>());
  }
  EXPECT_TRUE(listedDeleted == exportedDeleted);
  const Result rows = Run({"list", "--deleted", "store"});
  EXPECT_EQ(rows.status, 0) << rows.err;
  size_t headings = 0;
  for (size_t at = rows.out.find(" (deleted)\n"); at != std::string::npos;
       at = rows.out.find(" (deleted)\n", at + 1)) {
    ++headings;
  }
  EXPECT_GT(headings, 0u) << rows.out;
  EXPECT_EQ(Run({"list", "--json", "store"}).out.find("\"deleted"), std::string::npos);
}

// Two folders of one store that would share a place are numbered; two stores are refused.
TEST_F(RescueExportTest, FoldersOfOneNameApartAndTwoStoresRefused) {
  Make({"--store", "a", "--seed", "8", "--messages", "60"});
  fs::copy(dir / "a", dir / "b");
  const Result flat = Run({"export", "-q", "-f", "mbox", "-o", "flat", "a"});
  EXPECT_EQ(flat.status, 0) << flat.err;
  // Local Folders' Inbox and the IMAP account's, side by side.
  EXPECT_TRUE(fs::is_regular_file(dir / "flat" / "Inbox"));
  EXPECT_TRUE(fs::is_regular_file(dir / "flat" / "Inbox (2)"));
  for (const char* format : {"mbox", "maildir"}) {
    const Result both = Run({"export", "--tree", "-f", format, "-o", "both", "a", "b"});
    EXPECT_EQ(both.status, kExitUsage);
    EXPECT_NE(both.err.find("would both write into the folder Local Folders/Inbox of both\n"),
              std::string::npos)
        << both.err;
    EXPECT_FALSE(fs::exists(dir / "both"));
  }
}

// A link planted where a folder of the output goes is refused, never written through: nothing
// lands outside the output folder, and the export fails saying why.
TEST_F(RescueExportTest, LinksInTheOutputFolderAreNotFollowed) {
  Make({"--store", "store", "--seed", "9", "--messages", "40"});
  const struct {
    const char* format;
    const char* link;  // in the output folder
  } cases[] = {
      {"eml", "Local Folders"},
      {"maildir", "cur"},
      {"mbox", "Local Folders.sbd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    fs::remove_all(dir / "out");
    fs::remove_all(dir / "elsewhere");
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    ASSERT_TRUE(test::WriteWholeFile(dir / "elsewhere" / "Inbox", "theirs"));
    fs::create_directory_symlink(dir / "elsewhere", dir / "out" / c.link);
    const Result r = Run({"export", "-q", "--tree", "-f", c.format, "-o", "out", "store"});
    EXPECT_EQ(r.status, kExitFailed) << r.out << r.err;
    EXPECT_NE(r.err.find("out/" + std::string(c.link) +
                         " is a symbolic link, which the export does not follow"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::ReadWholeFile(dir / "elsewhere" / "Inbox"), "theirs");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "elsewhere"), fs::directory_iterator()),
              1);
  }
}

// --manifest FILE is renamed over FILE when the export ends: a FILE that is an input, lies among
// the outputs or is no regular file is refused before anything is written, and stays as it was.
TEST_F(RescueExportTest, AManifestCopyReplacesNothingButAFileOfItsOwn) {
  Make({"--seed", "10", "--messages", "5", "in.dbx"});
  const std::string mailbox = test::ReadWholeFile(dir / "in.dbx");
  ASSERT_EQ(Run({"export", "-q", "-o", "out", "in.dbx"}).status, 0);
  const std::string message = test::ReadWholeFile(dir / "out" / "in.dbx-1.eml");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink(dir / "in.dbx", dir / "link.jsonl");
  fs::create_directory_symlink(dir / "out", dir / "outlink");
  const struct {
    std::string file, said;
  } cases[] = {
      {"in.dbx", "that is a mailbox this export reads; give the copy another name"},
      {"out/in.dbx-1.eml",
       "that lies in the output folder out, among the files the export writes; give a path "
       "outside it (the export's own manifest is out/quillon-manifest.jsonl)"},
      {"outlink/new/m.jsonl", "that lies in the output folder out, among the files"},
      {"fifo",
       "that is not a regular file, and the copy replaces nothing else; give the path "
       "of a file"},
      {"link.jsonl", "that is not a regular file, and the copy replaces nothing else"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    for (const char* format : {"eml", "mbox"}) {
      const Result r = Run({"export", "-f", format, "--manifest", c.file, "-o", "out", "in.dbx"});
      EXPECT_EQ(r.status, kExitUsage);
      EXPECT_EQ(r.err.rfind("quillon: --manifest " + c.file + ": " + c.said, 0), 0u) << r.err;
    }
  }
  EXPECT_EQ(test::ReadWholeFile(dir / "in.dbx"), mailbox);
  EXPECT_EQ(test::ReadWholeFile(dir / "out" / "in.dbx-1.eml"), message);
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.jsonl"));
  EXPECT_FALSE(fs::exists(dir / "out" / "Inbox"));  // no mbox was begun
  // The output folder's own manifest, named so, is that manifest; a file elsewhere is replaced.
  EXPECT_EQ(Run({"export", "-q", "--manifest", "out/quillon-manifest.jsonl", "-o", "out", "in.dbx"})
                .status,
            0);
  ASSERT_TRUE(test::WriteWholeFile(dir / "copy.jsonl", "old"));
  EXPECT_EQ(Run({"export", "-q", "--manifest", "copy.jsonl", "-o", "out", "in.dbx"}).status, 0);
  EXPECT_EQ(test::ReadWholeFile(dir / "copy.jsonl"),
            test::ReadWholeFile(dir / "out" / "quillon-manifest.jsonl"));
}

// A mailbox file that Folders.dbx does not list never takes the place of a folder it lists, in
// any format, with --tree or without, even when the file calls itself by that folder's name (a
// stray copy of the IMAP account's Inbox here); the export says where it went.
TEST_F(RescueExportTest, AFileFoldersDbxDoesNotListGoesUnderAFolderOfItsOwn) {
  Make({"--store", "s", "--seed", "8", "--messages", "60"});
  fs::copy_file(dir / "s" / "Inbox1.dbx", dir / "s" / "Old Archive.dbx");
  const struct {
    std::vector<std::string> args;
    std::string folder;  // where the stray file's messages go, below the output folder
    std::string said;
  } cases[] = {
      {{"-f", "eml", "--tree"}, "Unlisted files/Old Archive/", "Unlisted files/Old Archive"},
      {{"-f", "mbox", "--tree"}, "Unlisted files.sbd/Old Archive", "Unlisted files/Old Archive"},
      {{"-f", "mbox"}, "Unlisted files.sbd/Old Archive", "Unlisted files/Old Archive"},
      {{"-f", "maildir", "--tree"}, ".Unlisted files.Old Archive/", "Unlisted files/Old Archive"},
      {{"-f", "maildir"}, ".Unlisted files.Old Archive/", "Unlisted files/Old Archive"},
      // Files named after the mailbox file: no folder to take.
      {{"-f", "eml"}, "Old Archive.dbx-", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    fs::remove_all(dir / "out");
    std::vector<std::string> args{"export", "-o", "out", "s"};
    args.insert(args.begin() + 1, c.args.begin(), c.args.end());
    const Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string words = "  Folders.dbx does not list this file" +
                              (c.said.empty() ? "" : ": its folder is \"" + c.said + "\"") + "\n";
    // The copy's line says what the Inbox's says, then where it went.
    const size_t inbox = r.out.find("s/Inbox1.dbx: ");
    ASSERT_NE(inbox, std::string::npos) << r.out;
    const std::string said = r.out.substr(inbox + 14, r.out.find('\n', inbox) - inbox - 13);
    EXPECT_NE(said.find(" headers only (their bodies were never downloaded from the IMAP server)"),
              std::string::npos)
        << said;
    EXPECT_NE(r.out.find("s/Old Archive.dbx: " + said + words), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("s/Inbox1.dbx: " + said + "s/Offline.dbx"), std::string::npos);
    // Each file of the stray copy in its own folder, and none of a listed mailbox there.
    std::map<std::string, std::set<std::string>> places;  // mailbox -> folders of its files
    for (const Json& line : Manifest(dir / "out")) {
      if (!line.contains("path")) continue;
      const std::string path = line["path"];
      const bool stray = line["mailbox"] == "s/Old Archive.dbx";
      EXPECT_EQ(path.rfind(c.folder, 0) == 0, stray) << path;
      places[line["mailbox"]].insert(path.substr(0, path.rfind('/') + 1));
    }
    EXPECT_EQ(places["s/Old Archive.dbx"].size(), 1u);
    EXPECT_EQ(places["s/Inbox1.dbx"].size(), 1u);
    if (!c.said.empty()) {
      EXPECT_NE(places["s/Old Archive.dbx"], places["s/Inbox1.dbx"]);
    }
  }
  // list names the folder alike, each mailbox's line before the header of its rows, and no
  // header for a mailbox without a message.
  const Result listed = Run({"list", "s/Folders.dbx", "s/Old Archive.dbx", "s/Outbox.dbx"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::vector<std::string> lines;
  std::istringstream in(listed.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u) << listed.out;
  EXPECT_EQ(lines[0], "s/Folders.dbx (Folders): no messages found");  // no folder of its own
  EXPECT_EQ(lines[1], "s/Old Archive.dbx (Unlisted files/Old Archive)");
  EXPECT_EQ(lines[2],
            "  Folders.dbx does not list this file: its folder is \"Unlisted files/Old Archive\"");
  EXPECT_EQ(lines[3].rfind("STATUS        RECEIVED", 0), 0u) << lines[3];
  EXPECT_EQ(lines.back(), "s/Outbox.dbx (Local Folders/Outbox): no messages found");
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("STATUS", 0) == 0; }),
            1);
}

TEST_F(RescueExportTest, OptionsThatDoNotGoTogetherAreRefused) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"export", "--desktop", "--tree", "x"},
       "--desktop writes .eml files as Quillon.exe does and takes only -o, -q and --dry-run"},
      {{"export", "-f", "mbox", "--update", "x"},
       "--update works on eml and maildir output; an mbox file is written whole"},
      {{"export", "--update", "-n", "x"},
       "--update reads and writes the output folder; it cannot be combined with --dry-run"},
      {{"export", "-f", "maildir", "--name", "{n}", "x"},
       "--name names .eml files; --format maildir names its own"},
      {{"export", "--name", "a/{n}", "x"}, "--name: "},
      {{"export", "-f", "mh", "x"}, "unknown format 'mh' (eml, mbox or maildir)"},
      {{"export", "--codepage", "99999", "x"}, "code page 99999 is not known to this system"},
      {{"list", "--json"}, "no mailbox file or folder given"},
      {{"list", "-o", "x", "y"}, "unknown option '-o'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("quillon: " + c.error, 0), 0u) << r.err;
  }
}

}  // namespace
}  // namespace quillon
