// The store finder on a profile tree built in a temporary folder: Windows XP, Vista and localised
// layouts, identities named by copied hives, and what a search must step over (links, a loop, a
// FIFO, an unreadable folder, folders beyond the depth bound).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/identity_hive.h"
#include "discovery/store_finder.h"
#include "discovery/testing/hive_writer.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr char kGuidA[] = "{A1A1A1A1-0000-4000-8000-00000000000A}";
constexpr char kGuidB[] = "{b2b2b2b2-0000-4000-8000-00000000000b}";
constexpr char kGuidC[] = "{C3C3C3C3-0000-4000-8000-00000000000C}";
constexpr char kGuidD[] = "{D4D4D4D4-0000-4000-8000-00000000000D}";

void WriteHive(const std::string& path,
               const std::vector<std::pair<std::string, std::u16string>>& names) {
  std::string error;
  ASSERT_TRUE(test::WriteIdentityHive(path, names, &error)) << error;
}

void MakeFile(const fs::path& path, size_t size) {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(test::WriteWholeFile(path, std::string(size, 'x')));
}

// The notes' kinds, as words for the lines compared.
const char* KindWord(NoteKind kind) {
  switch (kind) {
    case NoteKind::kGivenFolderUnreadable:
      return "given";
    case NoteKind::kFolderUnreadable:
      return "folder";
    case NoteKind::kDepthBound:
      return "depth";
    case NoteKind::kEntryBound:
      return "entries";
    case NoteKind::kHiveUnreadable:
      return "hive";
    case NoteKind::kNoStoreRoot:
      return "registry";
  }
  return "?";
}

std::string Relative(const std::string& path, const std::string& root) {
  return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

// The result as lines, paths relative to `root`, for one comparison with what is expected.
std::vector<std::string> Render(const FindResult& result, const std::string& root) {
  std::vector<std::string> lines;
  for (const MailStore& s : result.stores) {
    std::string line = Relative(s.path, root) + " |";
    for (const DbxFile& f : s.dbxFiles) line += " " + f.name + ":" + std::to_string(f.size);
    line += " | " + std::to_string(s.totalSize) + (s.hasFoldersDbx ? " Folders.dbx" : "");
    if (s.hasIdentity) {
      const StoreIdentity& id = s.identity;
      line += " | " + id.guid + " user=" + id.user + " profile=" + Relative(id.profile, root) +
              " name=" + id.displayName + " from=" + Relative(id.nameSource, root);
    }
    lines.push_back(line);
  }
  for (const FindNote& n : result.notes) {
    lines.push_back(std::string("note ") + KindWord(n.kind) + " " + Relative(n.path, root) + ": " +
                    n.reason);
  }
  return lines;
}

// Runs `search` where file permissions hold: as root, in a child process that has become
// "nobody" (root reads any folder), its lines handed back through a pipe.
std::vector<std::string> RunUnprivileged(const std::function<std::vector<std::string>()>& search) {
  if (geteuid() != 0) return search();
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {"pipe failed"};
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    std::string text;
    for (const std::string& line : search()) text += line + '\n';
    const bool written =
        write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    _exit(written ? 0 : 4);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"child failed: " + text};
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class StoreFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    umask(022);  // the unprivileged search must be able to read what the test makes
    ASSERT_FALSE(tmp_.path().empty());
    fs::permissions(tmp_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    root_ = tmp_.path().string() + "/";
  }
  void TearDown() override {
    std::error_code ec;
    // So that the folders can be removed.
    for (const fs::path& p : {locked_, listOnly_}) fs::permissions(p, fs::perms::owner_all, ec);
  }

  test::TempFolder tmp_{"store-finder"};
  std::string root_;
  fs::path locked_;
  fs::path listOnly_;
};

TEST_F(StoreFinderTest, FindsEveryStoreWithItsIdentityAndStepsOverWhatItMustNotEnter) {
  const fs::path disk = tmp_.path() / "disk";
  const fs::path alice = disk / "Documents and Settings" / "alice";
  const fs::path xp = alice / "Local Settings" / "Application Data" / "Identities";
  const fs::path storeA = xp / kGuidA / "Microsoft" / "Outlook Express";
  MakeFile(storeA / "Folders.dbx", 10);
  MakeFile(storeA / "Inbox.dbx", 100);
  MakeFile(storeA / "Sent Items.DBX", 1000);
  MakeFile(storeA / "notes.txt", 5);
  fs::create_symlink("Inbox.dbx", storeA / "Linked.dbx");     // a link to a mailbox: not followed
  ASSERT_EQ(mkfifo((storeA / "Trap.dbx").c_str(), 0644), 0);  // would block whoever opens it
  fs::create_directories(storeA / "Folder.dbx");              // a folder, not a mailbox
  fs::create_directory_symlink("../../../../../../../..", storeA / "loop");  // to `disk`
  WriteHive((alice / "NTUSER.DAT").string(), {{kGuidA, u"Main Identity"}, {kGuidB, u"Büro"}});
  // The second identity of the same user, Folders.dbx not (yet) written.
  MakeFile(xp / kGuidB / "microsoft" / "outlook express" / "Inbox.dbx", 7);

  // Vista: no hive in the profile, only a FIFO of that name.
  const fs::path bob = disk / "Users" / "bob";
  const fs::path storeC =
      bob / "AppData" / "Local" / "Identities" / kGuidC / "Microsoft" / "Outlook Express";
  MakeFile(storeC / "FOLDERS.DBX", 20);
  MakeFile(storeC / "Inbox.dbx", 30);
  ASSERT_EQ(mkfifo((bob / "NTUSER.DAT").c_str(), 0644), 0);

  // A localised XP: the layout's names unknown, the profile known by its hive.
  const fs::path carl = disk / "Dokumente und Einstellungen" / "carl";
  MakeFile(carl / "Lokale Einstellungen" / "Anwendungsdaten" / "Identities" / kGuidD / "Microsoft" /
               "Outlook Express" / "Inbox.dbx",
           40);
  WriteHive((carl / "ntuser.dat").string(), {{kGuidD, u"Carl"}});

  MakeFile(disk / "backup" / "mail" / "Inbox.dbx", 50);
  locked_ = disk / "locked";
  MakeFile(locked_ / "mail" / "Inbox.dbx", 60);
  fs::permissions(locked_, fs::perms::none);
  // Its names can be read, but nothing in it looked at or entered.
  listOnly_ = disk / "listonly";
  MakeFile(listOnly_ / "mail" / "Inbox.dbx", 60);
  fs::permissions(listOnly_, fs::perms::owner_read | fs::perms::others_read);

  // Level 12 below `disk` is searched, level 13 is not.
  fs::path deep = disk / "deep";
  for (int level = 2; level <= 12; ++level) deep /= std::to_string(level);
  MakeFile(deep / "Inbox.dbx", 70);
  MakeFile(deep / "13" / "Inbox.dbx", 80);

  fs::create_directory_symlink(disk / "backup", tmp_.path() / "link-to-backup");
  MakeFile(tmp_.path() / "file.txt", 1);

  // Bob's identity is named only by a hive given explicitly; a text file given as a hive is
  // noted once, however many identities it was asked about.
  const std::string given = root_ + "bob-hive";
  WriteHive(given, {{kGuidC, u"Bob's mail"}});
  MakeFile(tmp_.path() / "not-a-hive", 9000);

  const std::string guidA = kGuidA;
  const std::string guidB = kGuidB;
  const std::string guidC = kGuidC;
  const std::string guidD = kGuidD;
  const struct {
    std::vector<std::string> hives;
    std::string bobName;
  } kRuns[] = {
      {{}, ""},
      {{root_ + "not-a-hive", given}, "Bob's mail"},
  };
  for (const auto& run : kRuns) {
    FindOptions options;
    options.hives = run.hives;
    const std::vector<std::string> folders = {root_ + "disk/", root_ + "disk/Users",
                                              root_ + "missing", root_ + "file.txt",
                                              root_ + "link-to-backup"};
    std::vector<std::string> expected = {
        "disk/Documents and Settings/alice/Local Settings/Application Data/Identities/" + guidA +
            "/Microsoft/Outlook Express | Folders.dbx:10 Inbox.dbx:100 Sent Items.DBX:1000 | "
            "1110 Folders.dbx | " +
            guidA +
            " user=alice profile=disk/Documents and Settings/alice name=Main Identity "
            "from=disk/Documents and Settings/alice/NTUSER.DAT",
        "disk/Documents and Settings/alice/Local Settings/Application Data/Identities/" + guidB +
            "/microsoft/outlook express | Inbox.dbx:7 | 7 | " + guidB +
            " user=alice profile=disk/Documents and Settings/alice name=Büro "
            "from=disk/Documents and Settings/alice/NTUSER.DAT",
        "disk/Dokumente und Einstellungen/carl/Lokale Einstellungen/Anwendungsdaten/"
        "Identities/" +
            guidD + "/Microsoft/Outlook Express | Inbox.dbx:40 | 40 | " + guidD +
            " user=carl profile=disk/Dokumente und Einstellungen/carl name=Carl "
            "from=disk/Dokumente und Einstellungen/carl/ntuser.dat",
        "disk/Users/bob/AppData/Local/Identities/" + guidC +
            "/Microsoft/Outlook Express | FOLDERS.DBX:20 Inbox.dbx:30 | 50 Folders.dbx | " + guidC +
            " user=bob profile=disk/Users/bob name=" + run.bobName +
            " from=" + (run.bobName.empty() ? "" : "bob-hive"),
        "disk/backup/mail | Inbox.dbx:50 | 50",
        "disk/deep/2/3/4/5/6/7/8/9/10/11/12 | Inbox.dbx:70 | 70",
        "link-to-backup/mail | Inbox.dbx:50 | 50",
        "note depth disk: 1 folder lies deeper than 12 levels: not searched",
        "note folder disk/listonly: cannot be searched: Permission denied",
        "note folder disk/locked: cannot be read: Permission denied",
        "note given file.txt: cannot be read: Not a directory",
        "note given missing: cannot be read: No such file or directory",
    };
    if (!run.hives.empty()) {
      expected.push_back(
          "note hive not-a-hive: identity names not read: not a registry hive: "
          "Operation not supported");
    }
    EXPECT_EQ(RunUnprivileged([&] { return Render(FindStores(folders, options), root_); }),
              expected);
  }
}

TEST_F(StoreFinderTest, EntryBoundStopsTheSearchOfOneFolderAndSaysSo) {
  for (const char* name : {"a.dbx", "b.dbx", "c.dbx"}) MakeFile(tmp_.path() / "m" / name, 1);
  const struct {
    uint64_t maxEntries;
    std::vector<std::string> expected;
  } kCases[] = {
      {3, {"m | a.dbx:1 b.dbx:1 c.dbx:1 | 3"}},
      {2, {"note entries m: search stopped after 2 entries"}},
  };
  for (const auto& c : kCases) {
    FindOptions options;
    options.maxEntries = c.maxEntries;
    FindResult result = FindStores({root_ + "m"}, options);
    // Which two of the three files were read is the system's choice: only how many is certain.
    if (c.maxEntries == 2) {
      ASSERT_EQ(result.stores.size(), 1u);
      EXPECT_EQ(result.stores[0].dbxFiles.size(), 2u);
      result.stores.clear();
    }
    EXPECT_EQ(Render(result, root_), c.expected) << c.maxEntries;
  }
}

TEST(ParseIdentityPath, RecognisesTheIdentitiesLayoutInAnyCaseAndEitherSeparator) {
  const std::string guid = "{0a1b2c3d-4E5F-6789-abcd-ef0123456789}";
  const struct {
    std::string path;
    bool matches;
    std::string user;
    std::string profile;
  } kCases[] = {
      {"/m/Documents and Settings/alice/Local Settings/Application Data/Identities/" + guid +
           "/Microsoft/Outlook Express",
       true, "alice", "/m/Documents and Settings/alice"},
      {"C:\\users\\Bob\\appdata\\local\\IDENTITIES\\" + guid + "\\microsoft\\outlook express\\",
       true, "Bob", "C:\\users\\Bob"},
      {"copy/Identities/" + guid + "/Microsoft/Outlook Express", true, "", ""},
      {"x/y/z/Identities/" + guid + "/Microsoft/Outlook Express", true, "", ""},
      {"a/Identities/{0a1b2c3d-4E5F-6789-abcd-ef012345678}/Microsoft/Outlook Express", false, "",
       ""},
      {"a/Identities/{0a1b2c3d-4E5F-6789-abcd-ef012345678X}/Microsoft/Outlook Express", false, "",
       ""},
      {"a/Identities/" + guid + "/Microsoft/Outlook Express/Mail", false, "", ""},
      {"a/Identities/" + guid + "/Microsoft", false, "", ""},
      {"a/Identity/" + guid + "/Microsoft/Outlook Express", false, "", ""},
  };
  for (const auto& c : kCases) {
    StoreIdentity identity;
    ASSERT_EQ(ParseIdentityPath(c.path, &identity), c.matches) << c.path;
    if (!c.matches) continue;
    EXPECT_EQ(identity.guid, guid) << c.path;
    EXPECT_EQ(identity.user, c.user) << c.path;
    EXPECT_EQ(identity.profile, c.profile) << c.path;
  }
}

// A hive cut short is no hive and names nobody, wherever the cut falls. One that another program
// shortens and restores while it is read names the identity or nobody, and never ends the
// process: a mapped hive would die of SIGBUS there.
TEST(IdentityHiveTest, ShortenedHives) {
  test::TempFolder tmp("quillon-hive");
  const std::string path = tmp / "NTUSER.DAT";
  WriteHive(path, {{kGuidA, u"Main Identity"}});
  const std::string whole = test::ReadWholeFile(path);
  ASSERT_EQ(whole.size(), 0x3000u);  // the base block and two bins

  std::string name, error;
  ASSERT_EQ(ReadIdentityName(path, kGuidA, &name, &error), HiveLookup::kFound);
  EXPECT_EQ(name, "Main Identity");
  // Cut inside the base block or a bin, the file is refused; cut at the end of the first bin it
  // is a sound hive without the identities, which lay in the second.
  const struct {
    size_t cut;
    HiveLookup result;
  } kCuts[] = {{0, HiveLookup::kUnreadable},      {0x200, HiveLookup::kUnreadable},
               {0x1000, HiveLookup::kUnreadable}, {0x1800, HiveLookup::kUnreadable},
               {0x2000, HiveLookup::kNoName},     {whole.size() - 1, HiveLookup::kUnreadable}};
  for (const auto& c : kCuts) {
    SCOPED_TRACE(c.cut);
    ASSERT_TRUE(test::WriteWholeFile(path, whole.substr(0, c.cut)));
    name.clear();
    error.clear();
    EXPECT_EQ(ReadIdentityName(path, kGuidA, &name, &error), c.result);
    EXPECT_EQ(name, "");
    if (c.result == HiveLookup::kUnreadable) {
      EXPECT_EQ(error.rfind("not a registry hive", 0), 0u) << error;
    }
  }

  ASSERT_TRUE(test::WriteWholeFile(path, whole));
  std::atomic<bool> done{false};
  std::thread shrinker([&] {
    const int fd = open(path.c_str(), O_WRONLY);
    while (!done.load()) {
      (void)!ftruncate(fd, 0x1000);
      (void)!pwrite(fd, whole.data(), whole.size(), 0);
    }
    close(fd);
  });
  int found = 0;
  for (int i = 0; i < 10000; ++i) {
    name.clear();
    if (ReadIdentityName(path, kGuidA, &name, &error) == HiveLookup::kFound) {
      ++found;
      EXPECT_EQ(name, "Main Identity");
    }
  }
  done = true;
  shrinker.join();
  // How often the whole hive was there depends on timing; that the process lives is the test.
  RecordProperty("found", found);
}

}  // namespace
}  // namespace quillon
