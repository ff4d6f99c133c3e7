// `quillon check` and `quillon locate` as a user meets them, run as processes on stores the
// generator writes (its manifest says what each holds) and on profile trees built here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/check_command.h"
#include "cli/inputs.h"
#include "discovery/testing/hive_writer.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr char kGuidA[] = "{A1A1A1A1-0000-4000-8000-00000000000A}";
constexpr char kGuidB[] = "{B2B2B2B2-0000-4000-8000-00000000000B}";

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs `binary` with `args` in `dir`, its output in files; waits for its end.
Result RunProgram(const fs::path& dir, const char* binary, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    const int out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(".err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary, argv.data());
    _exit(98);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  r.out = test::ReadWholeFile(dir / ".out");
  r.err = test::ReadWholeFile(dir / ".err");
  fs::remove(dir / ".out");
  fs::remove(dir / ".err");
  return r;
}

Result Quillon(const fs::path& dir, const std::vector<std::string>& args) {
  return RunProgram(dir, QUILLON_BINARY, args);
}

std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  return lines;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the generator's manifest says of each file: the fields `check --json` gives.
struct Expected {
  std::map<std::string, Json> byFile;
  std::vector<std::string> unnamed;
  std::vector<Json> folders;  // the records below the root
};

Expected ExpectedFromManifest(const std::string& manifest) {
  Expected e;
  std::map<std::string, Json> namedBy;  // file -> its folder record
  for (const Json& line : JsonLines(manifest)) {
    const std::string type = line["type"];
    if (type == "folder") {
      if (!line["file"].is_null()) namedBy[line["file"]] = line;
      if (!line["parent"].is_null()) e.folders.push_back(line);
    } else if (type == "file") {
      Json j;
      const std::string file = line["file"];
      const std::string kind = line["kind"];
      j["kind"] = kind;
      j["index_count"] = line["index_count"];
      j["folder"] = nullptr;
      j["source"] = nullptr;
      j["folder_path"] = nullptr;
      for (const char* status :
           {"live", "orphan", "damaged", "headers_only", "lost", "fragment", "deleted"}) {
        j[status] = 0;
      }
      if (kind == "messages") {
        const auto named = namedBy.find(file);
        j["folder"] = named != namedBy.end() ? named->second["name"] : line["folder"];
        j["source"] = named != namedBy.end() ? named->second["kind"] : line["source"];
        if (named != namedBy.end()) j["folder_path"] = named->second["folder_path"];
        if (!line["named"].get<bool>()) {
          // A folder of its own, named after the file, as the export places it.
          e.unnamed.push_back(file);
          j["folder"] = file.substr(0, file.size() - 4);
          j["folder_path"] = {"Unlisted files", j["folder"]};
        }
      }
      e.byFile[file] = j;
    } else if (type == "message") {
      const std::string status = line["status"];
      const char* key = status == "headers-only"        ? "headers_only"
                        : status == "deleted-also-live" ? "deleted"
                                                        : status.c_str();
      Json& counts = e.byFile[line["file"]];
      counts[key] = counts[key].get<int>() + 1;
    }
  }
  return e;
}

class CheckTest : public ::testing::Test {
 protected:
  // Writes a store with the generator into tmp/name; returns its manifest.
  std::string MakeStore(const std::string& name, const std::string& codePage,
                        const std::vector<std::string>& more = {}) {
    const std::string manifest = tmp_ / (name + ".jsonl");
    std::vector<std::string> args = {"--store", name,         "--messages", "60",         "--seed",
                                     "7",       "--codepage", codePage,     "--manifest", manifest};
    args.insert(args.end(), more.begin(), more.end());
    const Result r = RunProgram(tmp_.path(), QUILLON_MKDBX, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadWholeFile(manifest);
  }

  test::TempFolder tmp_{"quillon-check"};
};

// Every file of a generated store, in each of its code pages (found from the names on disk, not
// given): kind, folder, source, the index's count and each status's count as the manifest says.
TEST_F(CheckTest, CountsAgreeWithTheManifest) {
  for (const char* codePage : {"1251", "936", "1252"}) {
    SCOPED_TRACE(codePage);
    const Expected expected = ExpectedFromManifest(MakeStore("store", codePage));
    const Result r = Quillon(tmp_.path(), {"check", "--json", "store"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::vector<Json> lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), expected.byFile.size());
    for (Json line : lines) {
      const std::string file = fs::u8path(line["mailbox"].get<std::string>()).filename().u8string();
      SCOPED_TRACE(file);
      EXPECT_EQ(line["mailbox"], "store/" + file);
      EXPECT_EQ(line["damage"], Json::array());
      EXPECT_EQ(line["damage_count"], 0);
      if (line["kind"] == "folders") {
        EXPECT_EQ(line["unnamed_files"], expected.unnamed);
        EXPECT_EQ(line["missing_files"], Json::array());
      }
      for (const char* extra :
           {"mailbox", "damage", "damage_count", "unnamed_files", "missing_files"}) {
        line.erase(extra);
      }
      ASSERT_EQ(expected.byFile.count(file), 1u);
      EXPECT_EQ(line, expected.byFile.at(file));
    }
    fs::remove_all(tmp_.path() / "store");
  }
}

// The text of a store folder: the tree with each folder's counts, a file no folder names, a
// folder whose file is gone.
TEST_F(CheckTest, StoreTreeWithGaps) {
  const std::string manifest = MakeStore("store", "1251");
  fs::remove(tmp_.path() / "store" / "Family.dbx");
  fs::copy_file(tmp_.path() / "store" / "Drafts.dbx", tmp_.path() / "store" / "Extra.dbx");
  Expected expected = ExpectedFromManifest(manifest);
  const Result r = Quillon(tmp_.path(), {"check", "store"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  const auto counts = [&](const std::string& file) {
    const Json& j = expected.byFile.at(file);
    std::string words;
    const auto add = [&](const char* key, const std::string& one, const std::string& many) {
      const int n = j[key];
      if (n > 0)
        words += (words.empty() ? "" : ", ") + std::to_string(n) + " " + (n == 1 ? one : many);
    };
    add("live", "live", "live");
    // Why a folder's messages have no body: never downloaded from its server.
    const std::string source = j["source"].is_null() ? "" : j["source"].get<std::string>();
    const std::string server = source == "imap"   ? " from the IMAP server"
                               : source == "news" ? " from the news server"
                                                  : "";
    add("headers_only", "headers only (their bodies were never downloaded" + server + ")",
        "headers only (their bodies were never downloaded" + server + ")");
    add("deleted", "deleted and recoverable", "deleted and recoverable");
    return words.empty() ? "no messages" : words;
  };
  std::vector<Json> folders = expected.folders;
  std::sort(folders.begin(), folders.end(), [](const Json& a, const Json& b) {
    return a["folder_path"].get<std::vector<std::string>>() <
           b["folder_path"].get<std::vector<std::string>>();
  });
  std::vector<std::string> tree{"store: the folders of Folders.dbx"};
  for (const Json& f : folders) {
    const std::vector<std::string> path = f["folder_path"];
    std::string line = std::string(2 * path.size(), ' ') + f["name"].get<std::string>();
    if (!f["file"].is_null()) {
      const std::string file = f["file"];
      line += " (" + file + (file == "Family.dbx" ? ", missing)" : "): " + counts(file));
    }
    tree.push_back(line);
  }
  tree.push_back("  files no folder names (under \"Unlisted files\"): Extra.dbx, Old Mail.dbx");
  tree.push_back("  folders whose file is missing: Local Folders > Family (Family.dbx)");

  const std::vector<std::string> lines = Lines(r.out);
  // One line per file (Family.dbx gone, Extra.dbx added), a second for each unlisted one, then
  // the tree. Extra.dbx, a copy of Drafts.dbx, calls itself "Drafts": it is named after its file.
  ASSERT_EQ(lines.size(), expected.byFile.size() + 2 + tree.size());
  const auto extra = std::find(
      lines.begin(), lines.end(),
      "store/Extra.dbx: message folder \"Extra\" (local), the index lists " +
          expected.byFile["Drafts.dbx"]["index_count"].dump() + ": " + counts("Drafts.dbx"));
  ASSERT_NE(extra, lines.end()) << r.out;
  EXPECT_EQ(extra[1],
            "  Folders.dbx does not list this file: its folder is \"Unlisted files/Extra\"");
  EXPECT_EQ(lines[0], "store/2003.dbx: message folder \"2003\" (local), the index lists " +
                          expected.byFile["2003.dbx"]["index_count"].dump() + ": " +
                          counts("2003.dbx"));
  const std::vector<std::string> shownTree(lines.end() - tree.size(), lines.end());
  EXPECT_EQ(shownTree, tree);
}

// One rule for every command: each PATH yields a mailbox (an empty one too), else the run exits 2
// and says what the PATH is and what to do; nothing is written for it.
TEST_F(CheckTest, EveryPathMustYieldAMailbox) {
  MakeStore("store", "1252");
  const fs::path t = tmp_.path();
  test::WriteWholeFile(t / "mail.zip", std::string("PK\x03\x04", 4) + std::string(60, 'z'));
  std::string error;
  ASSERT_TRUE(test::WriteIdentityHive(t / "NTUSER.DAT", {{kGuidA, u"Main Identity"}}, &error))
      << error;
  fs::create_directories(t / "My Documents" / "Pictures");
  test::WriteWholeFile(t / "notes.txt", "not mail");
  const std::string folders = "store/Folders.dbx: the folder list of a store: ";
  const struct {
    std::vector<std::string> paths;
    int status;
    std::string error;  // the first line on standard error; empty: none at all
  } cases[] = {
      {{"mail.zip"}, kExitFailed, "mail.zip: a zip archive, not a mailbox: unpack it first"},
      {{"NTUSER.DAT"},
       kExitFailed,
       "NTUSER.DAT: this is a registry file: give it to `quillon locate --hive`"},
      {{"notes.txt"}, kExitFailed, "notes.txt: not an Outlook Express mailbox file"},
      {{"My Documents"}, kExitFailed, "My Documents: no .dbx files in this folder or beneath it"},
      {{"store/Folders.dbx"}, kExitFailed, folders + "COMMAND the folder that holds it"},
      // An empty mailbox is a mailbox; Folders.dbx beside a mailbox of its store is fine, as a
      // shell's store/*.dbx gives it.
      {{"store/Outbox.dbx"}, 0, ""},
      {{"store/Folders.dbx", "store/Outbox.dbx"}, 0, ""},
      // What yields is done; what does not is still an error.
      {{"store/Outbox.dbx", "mail.zip"},
       kExitFailed,
       "mail.zip: a zip archive, not a mailbox: unpack it first"},
  };
  for (const std::string command : {"export", "check", "list"}) {
    for (const auto& c : cases) {
      std::vector<std::string> args{command};
      if (command == "export") args = {"export", "--tree", "-f", "mbox", "-o", "out"};
      args.insert(args.end(), c.paths.begin(), c.paths.end());
      SCOPED_TRACE(::testing::PrintToString(args));
      fs::remove_all(t / "out");
      const Result r = Quillon(t, args);
      EXPECT_EQ(r.status, c.status) << r.out << r.err;
      std::string want = c.error;
      const size_t verb = want.find("COMMAND");
      if (verb != std::string::npos) want.replace(verb, 7, command);
      EXPECT_EQ(r.err.substr(0, r.err.find('\n')), want.empty() ? "" : "quillon: " + want);
      if (command == "export" && c.status != 0 && c.paths.size() == 1) {
        // No empty mbox files for Folders.dbx's folders: nothing at all but the output folder.
        EXPECT_TRUE(fs::is_empty(t / "out")) << r.out;
      }
    }
  }
  // locate takes folders: a file given says what it is, a folder without a store says so too.
  for (const auto& [path, words] : std::vector<std::pair<std::string, std::string>>{
           {"mail.zip", "a zip archive, not a mailbox: unpack it first"},
           {"NTUSER.DAT", "this is a registry file: give it to `quillon locate --hive`"},
           {"store/Inbox.dbx",
            "a file of a store, not a folder: the folder that holds it is the "
            "store"},
           {"My Documents", "no Outlook Express store folder in it or beneath it"}}) {
    const Result r = Quillon(t, {"locate", path, "store"});
    EXPECT_EQ(r.status, kExitFailed) << path;
    EXPECT_EQ(r.err, "quillon: " + path + ": " + words + "\n");
    EXPECT_EQ(r.out.rfind("store: ", 0), 0u) << r.out;  // the other PATH is still searched
  }
}

// Every index string in the store's code page, whatever charset the messages declare: a 1252
// index in mail that declares UTF-8 (the subjects once came out as "Cat?lica", U+FFFD in the
// manifest and in file names), a 1251 store whose Folders.dbx names Cyrillic folders, a 936
// store. list's subjects, senders and recipients, and the export's file names from {subject},
// are the generator's texts exactly; the evidence is plain, so nothing is said of it.
TEST_F(CheckTest, IndexTextsAreReadInTheStoresCodePage) {
  const struct {
    const char* codePage;
    std::vector<std::string> mkdbx;
  } kStores[] = {{"1252", {"--mail-charset", "utf-8"}}, {"1251", {}}, {"936", {}}};
  for (const auto& k : kStores) {
    SCOPED_TRACE(k.codePage);
    fs::remove_all(tmp_.path() / "store");
    fs::remove_all(tmp_.path() / "out");
    std::map<std::pair<std::string, int>, Json> truth;  // (file, index id) -> message
    size_t eightBit = 0;
    for (const Json& m : JsonLines(MakeStore("store", k.codePage, k.mkdbx))) {
      if (m["type"] != "message" || m["index_id"].is_null()) continue;
      truth[{m["file"], m["index_id"]}] = m;
      const std::string subject = m["subject"];
      if (std::any_of(subject.begin(), subject.end(), [](char c) { return c & 0x80; })) {
        ++eightBit;
      }
    }
    EXPECT_GE(eightBit, 5u);

    const Result list = Quillon(tmp_.path(), {"list", "--json", "store"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    size_t compared = 0;
    for (const Json& j : JsonLines(list.out)) {
      const std::string file = fs::u8path(j["mailbox"].get<std::string>()).filename().u8string();
      const auto m = truth.find({file, j["index_id"].get<int>()});
      ASSERT_NE(m, truth.end()) << j.dump();
      EXPECT_EQ(j["subject"], m->second["subject"]);
      EXPECT_EQ(j["from"], m->second["from"]);
      EXPECT_EQ(j["to"], m->second["to"]);
      ++compared;
    }
    EXPECT_GE(compared, 60u);

    const Result exported =
        Quillon(tmp_.path(), {"export", "-q", "--name", "{subject}", "-o", "out", "store"});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.err, "");
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(tmp_.path() / "out")) {
      names.insert(e.path().filename().u8string());
    }
    for (const auto& [key, m] : truth) {
      if (m["status"] != "live") continue;
      const std::string subject = m["subject"];
      // Made safe as file names are ("Re: x" is "Re_ x"); taken names get " (2)".
      std::string safe = subject;
      for (char& c : safe) c = c == ':' ? '_' : c;
      EXPECT_TRUE(names.count(safe + ".eml") || names.count(safe + " (2).eml") ||
                  names.count(safe + " (3).eml"))
          << safe;
    }
    const std::string manifest =
        test::ReadWholeFile(tmp_.path() / "out" / "quillon-manifest.jsonl");
    EXPECT_EQ(manifest.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(list.out.find("\xEF\xBF\xBD"), std::string::npos);
  }
}

// check, list and export --tree read a store's folder list and its code page alike, so each
// names every mailbox's folder the same: here a folder whose name holds a control character
// (check once printed it cleaned in its JSON, the others as it is) and the Cyrillic names.
TEST_F(CheckTest, CheckListAndExportNameEveryFolderAlike) {
  MakeStore("store", "1251");
  const fs::path folders = tmp_.path() / "store" / "Folders.dbx";
  std::string bytes = test::ReadWholeFile(folders);
  const size_t at = bytes.find(std::string("Projects\0", 9));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] = '\x01';  // "Pro\x01ects", the same length
  ASSERT_TRUE(test::WriteWholeFile(folders, bytes));

  std::map<std::string, std::string> byCheck;  // mailbox -> folder
  const Result check = Quillon(tmp_.path(), {"check", "--json", "store"});
  ASSERT_EQ(check.status, 0) << check.err;
  for (const Json& j : JsonLines(check.out)) {
    if (j["kind"] != "messages") continue;
    byCheck[j["mailbox"]] = j["folder"];
    if (!j["folder_path"].is_null()) {
      EXPECT_EQ(j["folder_path"].back(), j["folder"]);
    }
  }
  EXPECT_EQ(byCheck["store/Projects.dbx"],
            "Pro\x01"
            "ects");
  EXPECT_EQ(byCheck["store/Работа.dbx"], "Работа");
  EXPECT_EQ(byCheck["store/Old Mail.dbx"], "Old Mail");

  const Result list = Quillon(tmp_.path(), {"list", "--json", "store"});
  ASSERT_EQ(list.status, 0) << list.err;
  const Result exported = Quillon(tmp_.path(), {"export", "-q", "--tree", "-o", "out", "store"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  for (const auto& [what, text] :
       {std::make_pair("list", list.out),
        std::make_pair("export",
                       test::ReadWholeFile(tmp_.path() / "out" / "quillon-manifest.jsonl"))}) {
    std::set<std::string> seen;
    for (const Json& j : JsonLines(text)) {
      if (!j.contains("folder")) continue;  // the export's summaries
      const std::string mailbox = j["mailbox"];
      seen.insert(mailbox);
      EXPECT_EQ(j["folder"], byCheck[mailbox]) << what << ": " << mailbox;
    }
    EXPECT_GE(seen.size(), 10u) << what;
  }
}

// A damaged mailbox exits 1 and says which messages suffered; what cannot be read exits 2; a
// usage error 64.
TEST_F(CheckTest, DamageAndExitStatuses) {
  MakeStore("store", "1252");
  const fs::path store = tmp_.path() / "store";
  // In Sent Items, the first message's first link leads past the end and the second message's
  // first block header is wiped.
  const Expected expected = ExpectedFromManifest(test::ReadWholeFile(tmp_ / "store.jsonl"));
  std::string sent = test::ReadWholeFile(store / "Sent Items.dbx");
  std::vector<uint32_t> firstBlocks;
  for (const Json& m : JsonLines(test::ReadWholeFile(tmp_ / "store.jsonl"))) {
    if (m["type"] == "message" && m["file"] == "Sent Items.dbx" && m["blocks"] >= 3) {
      firstBlocks.push_back(m["first_block"]);
    }
  }
  ASSERT_GE(firstBlocks.size(), 2u);
  std::sort(firstBlocks.begin(), firstBlocks.end());
  const uint32_t pastEnd = 0x7FFFFFF0;
  std::memcpy(&sent[firstBlocks[0] + 12], &pastEnd, 4);
  std::memset(&sent[firstBlocks[1]], 0, 16);
  fs::create_directory(tmp_.path() / "bad");
  ASSERT_TRUE(test::WriteWholeFile(tmp_.path() / "bad" / "Sent Items.dbx", sent));
  ASSERT_EQ(mkfifo((tmp_ / "fifo.dbx").c_str(), 0600), 0);
  fs::create_directories(tmp_.path() / "old" / "backup");
  fs::copy_file(store / "Outbox.dbx", tmp_.path() / "old" / "backup" / "Outbox.dbx");

  const Result damaged = Quillon(tmp_.path(), {"check", "--json", "bad/Sent Items.dbx"});
  EXPECT_EQ(damaged.status, kExitCheckDamaged);
  const std::vector<Json> lines = JsonLines(damaged.out);
  ASSERT_EQ(lines.size(), 1u);
  const Json& j = lines[0];
  EXPECT_EQ(j["damaged"], 1);
  EXPECT_EQ(j["lost"], 1);
  const int live = expected.byFile.at("Sent Items.dbx")["live"];
  EXPECT_EQ(j["live"], live - 2);
  ASSERT_GE(j["damage"].size(), 2u);
  char first[32];
  std::snprintf(first, sizeof first, "damaged: message 1 at 0x%X ", firstBlocks[0]);
  EXPECT_EQ(j["damage"][0].get<std::string>().rfind(first, 0), 0u) << j["damage"][0];
  char header[64];
  std::snprintf(header, sizeof header, "the header at its first block, 0x%X, is not a block's",
                firstBlocks[1]);
  const std::string lost = j["damage"][1];
  EXPECT_EQ(lost.rfind("lost: the message of index id ", 0), 0u) << lost;
  EXPECT_NE(lost.find(header), std::string::npos) << lost;

  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;  // what standard error begins with
  } kRuns[] = {
      {{"check", "store/Inbox.dbx", "store/Outbox.dbx"}, kExitOk, ""},
      {{"check", "store", "bad"}, kExitCheckDamaged, ""},
      {{"check", "fifo.dbx", "store/Outbox.dbx"},
       kExitUnreadable,
       "quillon: fifo.dbx: cannot be opened: not a regular file\n"},
      {{"check", "missing.dbx"},
       kExitUnreadable,
       "quillon: missing.dbx: cannot be opened: No such file or directory\n"},
      {{"check", "bad", "old"},
       kExitUnreadable,
       "quillon: old: no .dbx files in this folder; stores found beneath it: old/backup; use "
       "--recursive to take them all\n"},
      {{"check", "-r", "old"}, kExitOk, ""},
      {{"check"}, kExitUsage, "quillon: no mailbox file or folder given\n"},
      {{"check", "--codepage", "1251x", "store"},
       kExitUsage,
       "quillon: the code page must be a number such as 1251, not '1251x'\n"},
      {{"check", "store", "--codepage"},
       kExitUsage,
       "quillon: option '--codepage' needs a number\n"},
      {{"check", "--json=1", "store"}, kExitUsage, "quillon: unknown option '--json=1'\n"},
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(::testing::PrintToString(run.args));
    const Result r = Quillon(tmp_.path(), run.args);
    EXPECT_EQ(r.status, run.status) << r.err;
    EXPECT_EQ(r.err.substr(0, run.err.size()), run.err);
    if (run.err.empty()) {
      EXPECT_EQ(r.err, "");
    }
  }
}

// export --recursive writes each identity's mail into a subfolder of its own, so two Inbox.dbx
// files never meet; without it, the folder's stores are named.
TEST_F(CheckTest, ExportRecursiveGivesEachIdentityItsFolder) {
  const Expected expected = ExpectedFromManifest(MakeStore("store", "1252"));
  const int inbox = expected.byFile.at("Inbox.dbx")["live"];
  const int deleted = expected.byFile.at("Inbox.dbx")["deleted"];
  const std::string guids[] = {
      "old/a/Local Settings/Application Data/Identities/" + std::string(kGuidA) +
          "/Microsoft/Outlook Express",
      "old/b/AppData/Local/Identities/" + std::string(kGuidB) + "/Microsoft/Outlook Express"};
  for (const std::string& store : guids) {
    fs::create_directories(tmp_.path() / store);
    fs::copy_file(tmp_.path() / "store" / "Inbox.dbx", tmp_.path() / store / "Inbox.dbx");
  }
  std::string error;
  for (const char* user : {"a", "b"}) {
    ASSERT_TRUE(test::WriteIdentityHive(tmp_ / ("old/" + std::string(user) + "/NTUSER.DAT"),
                                        {{kGuidA, u"Main Identity"}, {kGuidB, u"Main Identity"}},
                                        &error))
        << error;
  }

  const Result named = Quillon(tmp_.path(), {"export", "-o", "out", "old"});
  EXPECT_EQ(named.status, kExitFailed);
  EXPECT_EQ(named.err, "quillon: old: no .dbx files in this folder; stores found beneath it: " +
                           guids[0] + " (Main Identity), " + guids[1] +
                           " (Main Identity); use --recursive to take them all\n");
  EXPECT_FALSE(fs::exists(tmp_.path() / "out" / "Inbox.dbx-1.eml"));

  // list takes -r as export does: each store's Inbox, with a row per message.
  const Result listed = Quillon(tmp_.path(), {"list", "-r", "old"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  const std::vector<std::string> rows = Lines(listed.out);
  for (const std::string& store : guids) {
    const auto title = std::find(rows.begin(), rows.end(), store + "/Inbox.dbx (Inbox)");
    ASSERT_NE(title, rows.end()) << listed.out;
    const auto next = std::find_if(title + 1, rows.end(), [](const std::string& row) {
      return row.rfind("old/", 0) == 0;  // the next mailbox's line
    });
    EXPECT_EQ(std::count_if(title + 1, next,
                            [](const std::string& row) { return row.rfind("live ", 0) == 0; }),
              inbox)
        << listed.out;
  }

  const Result r = Quillon(tmp_.path(), {"export", "--recursive", "-o", "out", "old"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string written =
      ": " + std::to_string(inbox) + " messages written" +
      (deleted == 0 ? "" : "; not written: " + std::to_string(deleted) + " deleted (--deleted)") +
      "\n";
  EXPECT_EQ(r.out, "into out/Main Identity (a)/:\n" + guids[0] + "/Inbox.dbx" + written +
                       "into out/Main Identity (b)/:\n" + guids[1] + "/Inbox.dbx" + written);
  for (const char* user : {"a", "b"}) {
    const fs::path folder = tmp_.path() / "out" / ("Main Identity (" + std::string(user) + ")");
    EXPECT_EQ(test::ReadWholeFile(folder / ("Inbox.dbx-" + std::to_string(inbox) + ".eml")),
              test::ReadWholeFile(tmp_.path() / "out" / "Main Identity (a)" /
                                  ("Inbox.dbx-" + std::to_string(inbox) + ".eml")));
    EXPECT_FALSE(fs::exists(folder / ("Inbox.dbx-" + std::to_string(inbox + 1) + ".eml")));
    EXPECT_GT(fs::file_size(folder / "Inbox.dbx-1.eml"), 0u);
  }
}

// A profile tree: an XP identity named by its profile's hive, a Vista one known by its GUID, a
// store outside any identity, a link loop, a store at the depth bound and one beyond it.
class LocateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path old = tmp_.path() / "old";
    alice_ = "old/Documents and Settings/alice/Local Settings/Application Data/Identities/" +
             std::string(kGuidA) + "/Microsoft/Outlook Express";
    bob_ = "old/Users/bob/AppData/Local/Identities/" + std::string(kGuidB) +
           "/Microsoft/Outlook Express";
    Touch(alice_ + "/Folders.dbx", 100);
    Touch(alice_ + "/Inbox.dbx", 2000);
    Touch(alice_ + "/Pop3uidl.dbx", 10);
    Touch(bob_ + "/Inbox.dbx", 3000);
    Touch("old/backup/Sent Items.dbx", 400);
    fs::create_directory_symlink("..", old / "backup" / "loop");
    std::string deep = "old/deep";
    for (int level = 2; level <= 12; ++level) deep += "/" + std::to_string(level);
    Touch(deep + "/At12.dbx", 1);
    Touch(deep + "/13/Beyond.dbx", 1);
    std::string error;
    ASSERT_TRUE(test::WriteIdentityHive(tmp_ / "old/Documents and Settings/alice/NTUSER.DAT",
                                        {{kGuidA, u"Main Identity"}}, &error))
        << error;
    deep_ = deep;
  }

  void Touch(const std::string& relative, size_t size) {
    fs::create_directories((tmp_.path() / relative).parent_path());
    ASSERT_TRUE(test::WriteWholeFile(tmp_.path() / relative, std::string(size, 'x')));
  }

  test::TempFolder tmp_{"quillon-locate"};
  std::string alice_, bob_, deep_;
};

TEST_F(LocateTest, ListsTheStoresAndTheirIdentities) {
  const std::string notes = "quillon: old: 1 folder lies deeper than 12 levels: not searched\n";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } kRuns[] = {
      {{"locate", "old"},
       {alice_ + ": identity \"Main Identity\" of alice, 1 mailbox (2.1 KiB)",
        bob_ + ": identity " + kGuidB + " of bob, 1 mailbox (2.9 KiB), no Folders.dbx",
        "old/backup: 1 mailbox (400 bytes), no Folders.dbx",
        deep_ + ": 1 mailbox (1 bytes), no Folders.dbx"}},
      // A hive given names bob's identity too.
      {{"locate", "--hive", "bob.dat", "old/Users"},
       {bob_ + ": identity \"Bob\" of bob, 1 mailbox (2.9 KiB), no Folders.dbx"}},
  };
  std::string error;
  ASSERT_TRUE(test::WriteIdentityHive(tmp_ / "bob.dat", {{kGuidB, u"Bob"}}, &error)) << error;
  for (const auto& run : kRuns) {
    SCOPED_TRACE(::testing::PrintToString(run.args));
    const Result r = Quillon(tmp_.path(), run.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), run.lines);
    EXPECT_EQ(r.err, run.args.back() == "old" ? notes : "");
  }

  const Result json = Quillon(tmp_.path(), {"locate", "--json", "old/Documents and Settings"});
  EXPECT_EQ(json.status, 0);
  const std::vector<Json> lines = JsonLines(json.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Json::parse(R"({"store": ")" + alice_ + R"(",
      "identity": {"guid": ")" + kGuidA +
                                  R"(", "name": "Main Identity",
                   "name_source": "old/Documents and Settings/alice/NTUSER.DAT", "user": "alice",
                   "profile": "old/Documents and Settings/alice"},
      "mailboxes": 1, "folders_dbx": true, "bytes": 2110,
      "files": ["Folders.dbx", "Inbox.dbx", "Pop3uidl.dbx"]})"));

  fs::create_directory(tmp_.path() / "empty");
  const Result none = Quillon(tmp_.path(), {"locate", "empty"});
  EXPECT_EQ(none.status, kExitFailed);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "quillon: empty: no Outlook Express store folder in it or beneath it\n");
  const Result noPath = Quillon(tmp_.path(), {"locate"});
  EXPECT_EQ(noPath.status, kExitUsage);
  EXPECT_EQ(noPath.err.rfind("quillon: name a folder to search (quillon locate PATH...)", 0), 0u);
}

// --recursive gives each store its own output subfolder, and two identities of one name never
// share one.
TEST_F(LocateTest, RecursiveInputsGetASubfolderEach) {
  std::string error;
  ASSERT_TRUE(test::WriteIdentityHive(tmp_ / "old/Users/bob/NTUSER.DAT",
                                      {{kGuidB, u"Main Identity"}}, &error))
      << error;
  const std::string given = tmp_ / "old";
  InputOptions options;
  options.recursive = true;
  const ExpandedInputs inputs = ExpandInputs({given, tmp_ / "old/Users"}, options);
  std::vector<std::string> groups;
  for (const InputGroup& g : inputs.groups) {
    std::string line = g.outputSubfolder + " <- " + g.folder.substr(given.size() + 1) + ":";
    for (const std::string& m : g.mailboxes) line += " " + fs::path(m).filename().string();
    groups.push_back(line);
  }
  const std::vector<std::string> expected = {
      "Main Identity (alice) <- " + alice_.substr(4) + ": Folders.dbx Inbox.dbx Pop3uidl.dbx",
      "Main Identity (bob) <- " + bob_.substr(4) + ": Inbox.dbx",
      "backup <- backup: Sent Items.dbx",
      "12 <- " + deep_.substr(4) + ": At12.dbx",
  };
  EXPECT_EQ(groups, expected);
  EXPECT_TRUE(inputs.emptyFolders.empty());
  EXPECT_TRUE(inputs.unreadable.empty());
}

}  // namespace
}  // namespace quillon
