// The command as a user meets it: run as a process, its lines, exit statuses and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/check_command.h"
#include "cli/export_command.h"
#include "cli/list_command.h"
#include "cli/locate_command.h"
#include "engine/testing/mailbox_builder.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    if (readOnlyMounted) umount((dir / "ro").c_str());
    fs::remove_all(dir);
  }

  // Starts the command in `dir` with its output in files, or its standard output a pipe whose
  // reader is gone; returns its pid. Signals are as a shell leaves them.
  pid_t Start(const std::vector<std::string>& args, bool closedStdout = false) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
      if (chdir(dir.c_str()) != 0) _exit(99);
      int out = open((dir / ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open((dir / ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (closedStdout) {
        int ends[2];
        if (pipe(ends) != 0) _exit(97);
        close(ends[0]);
        out = ends[1];
      }
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(QUILLON_BINARY)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QUILLON_BINARY, argv.data());
      _exit(98);
    }
    return pid;
  }
  // Waits at most 30 s; a command that has not ended by then is killed and reported as kHung.
  static constexpr int kHung = -2;
  Result Wait(pid_t pid) {
    Result r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        r.status = kHung;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (r.status != kHung) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    r.out = Slurp(dir / ".out");
    r.err = Slurp(dir / ".err");
    return r;
  }
  Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // A mailbox of `count` two-block messages, each beginning with a header field as mail does;
  // returns their texts.
  std::vector<std::string> WriteMailbox(const fs::path& path, int count, uint32_t seed = 0) {
    MailboxBuilder mb(0x100 + 0x500 * size_t(count));
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
      const uint32_t at = 0x100 + 0x500 * i;
      const std::string head = "Subject: " + std::to_string(seed + i) + "\r\n\r\n";
      texts.push_back(
          mb.Message({at, at + 0x210}, head + FillerText(0x250 + i % 7 - head.size(), seed + i)));
    }
    Spit(path, mb.bytes);
    return texts;
  }

  // Makes dir/ro a folder in which no file can be created: a read-only tmpfs for root (whom
  // permissions do not stop), else a folder without write permission. Returns what creating a
  // file there fails with; empty when neither could be done.
  std::string MakeReadOnlyFolder() {
    const fs::path ro = dir / "ro";
    fs::create_directory(ro);
    if (geteuid() == 0) {
      if (mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, "size=16k") != 0) return "";
      readOnlyMounted = true;
      return std::strerror(EROFS);
    }
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    return std::strerror(EACCES);
  }

  // Every file in `folder` is a whole message of `texts`, named as the export names it: no
  // temporary file, no partial one; and the manifest, when there is one, lists each of them.
  // Returns how many there are.
  size_t CheckWholeMessages(const fs::path& folder, const std::string& mailbox,
                            const std::vector<std::string>& texts) {
    size_t files = 0;
    size_t listed = 0;
    bool manifest = false;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name == "quillon-manifest.jsonl") {
        manifest = true;
        std::istringstream lines(Slurp(entry.path()));
        for (std::string line; std::getline(lines, line);) {
          listed += line.find("\"path\":\"" + mailbox + "-") != std::string::npos;
        }
        continue;
      }
      const std::string prefix = mailbox + "-";
      size_t n = 0;
      if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 4 &&
          name.compare(name.size() - 4, 4, ".eml") == 0) {
        n = std::strtoul(name.c_str() + prefix.size(), nullptr, 10);
      }
      EXPECT_TRUE(n >= 1 && n <= texts.size()) << "unexpected file " << name;
      if (n >= 1 && n <= texts.size()) {
        EXPECT_EQ(Slurp(entry.path()), texts[n - 1]) << name;
      }
      ++files;
    }
    if (manifest) {
      EXPECT_EQ(listed, files) << "files the manifest lists";
    }
    return files;
  }

  fs::path dir;
  bool readOnlyMounted = false;
};

// Both engines write the same files for sound mailboxes; the rescue engine adds its manifest.
TEST_F(CliTest, ExportsEveryMailboxOfAFolderInNameOrder) {
  fs::create_directory(dir / "mail");
  const auto sent = WriteMailbox(dir / "mail" / "Sent Items.dbx", 2, 10);
  const auto inbox = WriteMailbox(dir / "mail" / "INBOX.DBX", 3, 20);
  WriteMailbox(dir / "mail" / "notes.txt", 1);
  Spit(dir / "mail" / "Empty.dbx", MailboxBuilder(4096).bytes);
  fs::create_directory(dir / "mail" / "folder.dbx");

  for (const bool desktop : {false, true}) {
    SCOPED_TRACE(desktop);
    fs::remove_all(dir / "backup");
    const Result r = Run({"export", desktop ? "--desktop" : "-feml", "-o", "backup/new", "mail"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "mail/Empty.dbx: no messages found\n"
              "mail/INBOX.DBX: 3 messages written\n"
              "mail/Sent Items.dbx: 2 messages written\n");
    EXPECT_EQ(r.err, "");  // not a terminal: no progress line
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(Slurp(dir / "backup/new" / ("INBOX.DBX-" + std::to_string(i + 1) + ".eml")),
                inbox[i]);
    }
    EXPECT_EQ(Slurp(dir / "backup/new/Sent Items.dbx-2.eml"), sent[1]);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "backup/new"), {}), desktop ? 5 : 6);
    EXPECT_EQ(fs::exists(dir / "backup/new/quillon-manifest.jsonl"), !desktop);
  }
}

// Each kind of line, and the stream it reaches: results on standard output (none with -q),
// every error on standard error. Also what a run refuses before it writes anything.
TEST_F(CliTest, EachLineReachesItsStream) {
  WriteMailbox(dir / "Inbox.dbx", 1);
  fs::create_directory(dir / "a");
  WriteMailbox(dir / "a" / "Inbox.dbx", 2);
  Spit(dir / "Empty.dbx", MailboxBuilder(4096).bytes);
  Spit(dir / "odd.dbx", "not a mailbox, though named like one");
  fs::create_directory(dir / "plain");
  fs::create_directory(dir / "pipes");
  ASSERT_EQ(mkfifo((dir / "pipes" / "x.dbx").c_str(), 0644), 0);
  Spit(dir / "blocker", "x");
  const std::string readOnly = MakeReadOnlyFolder();
  const std::string written = "Inbox.dbx: 1 message written\n";
  const std::string missing = "quillon: missing.dbx: cannot be opened: No such file or directory\n";
  const std::string clash =
      "quillon: Inbox.dbx and a/Inbox.dbx would both write Inbox.dbx-1.eml, -2.eml, ... into "
      "out\n"
      "quillon: nothing was written; export mailboxes of the same name into different folders, "
      "one run each (-o DIR)\n";
  const std::string blocked = "quillon: cannot create the output folder blocker/sub: " +
                              std::string(std::strerror(ENOTDIR)) + "\n";

  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"export", "-o", "out", "Inbox.dbx", "Empty.dbx", "odd.dbx", "plain", "missing.dbx"},
       kExitFailed,
       written + "Empty.dbx: no messages found\n",
       "quillon: plain: no .dbx files in this folder or beneath it\n"
       "quillon: odd.dbx: not an Outlook Express mailbox file\n" +
           missing},
      {{"export", "-q", "-o", "out", "Inbox.dbx", "Empty.dbx", "odd.dbx", "plain", "missing.dbx"},
       kExitFailed,
       "",
       "quillon: plain: no .dbx files in this folder or beneath it\n"
       "quillon: odd.dbx: not an Outlook Express mailbox file\n" +
           missing},
      // Neither a FIFO in a folder nor a device is opened as a mailbox.
      {{"export", "-o", "out", "pipes", "/dev/null", "Inbox.dbx"},
       kExitFailed,
       written,
       "quillon: pipes/x.dbx: cannot be opened: not a regular file\n"
       "quillon: /dev/null: cannot be opened: not a regular file\n"},
      {{"export", "-o", "out", "Inbox.dbx", "a/Inbox.dbx"}, kExitUsage, "", clash},
      {{"export", "-q", "-n", "-o", "out", "Inbox.dbx", "a"}, kExitUsage, "", clash},
      {{"export", "-o", "blocker/sub", "Inbox.dbx"}, kExitFailed, "", blocked},
      {{"export", "-n", "-o", "blocker/sub", "Inbox.dbx"}, kExitFailed, "", blocked},
      {{"export", "-n", "-o", "fresh/deeper", "Inbox.dbx"},
       kExitOk,
       "Inbox.dbx: 1 message would be written (592 bytes)\n",
       ""},
      {{"export", "-o", "ro", "Inbox.dbx"},
       kExitFailed,
       "",
       "quillon: Inbox.dbx: failed after 0 messages: cannot create files in ro/: " + readOnly +
           "\n"},
      {{"export", "-q", "-n", "-o", "ro/", "Inbox.dbx"},
       kExitFailed,
       "",
       "quillon: cannot create files in ro/: " + readOnly + "\n"},
      {{"export", "-n", "-o", "ro/new", "Inbox.dbx"},
       kExitFailed,
       "",
       "quillon: cannot create the output folder ro/new: " + readOnly + "\n"},
      {{"export", "-q", "--bogus", "Inbox.dbx"},
       kExitUsage,
       "",
       "quillon: unknown option '--bogus'\nTry 'quillon --help' for more information.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const bool needsReadOnly = std::any_of(
        c.args.begin(), c.args.end(), [](const std::string& a) { return a.rfind("ro", 0) == 0; });
    if (needsReadOnly && readOnly.empty()) {
      ADD_FAILURE() << "no read-only folder could be made";
      continue;
    }
    fs::remove_all(dir / "out");
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(fs::exists(dir / "fresh"));  // a dry run creates no folder
    if (c.status == kExitUsage) {
      EXPECT_FALSE(fs::exists(dir / "out"));  // refused before anything was written
    }
  }
}

// A path or a subject holding ESC, CR or LF reaches no terminal as it is, in any command's
// lines, results and errors alike: each such character shows as '?', so no line breaks and
// nothing acts on the terminal.
TEST_F(CliTest, ControlCharactersReachNoTerminal) {
  const std::string folder = "a\x1b[31mb\rc\nd";
  const std::string shown = "a?[31mb?c?d";
  fs::create_directory(dir / folder);
  MailboxBuilder mb(0x800);
  mb.Message({0x100}, "Subject: red\x1b[31m\r\n\r\nbody\r\n");
  Spit(dir / folder / "In\x1b[2Jbox.dbx", mb.bytes);
  const struct {
    std::vector<std::string> args;
    std::string said;  // on standard output or standard error
  } cases[] = {
      {{"export", "-o", "out", folder}, shown + "/In?[2Jbox.dbx: 1 message written"},
      {{"export", "--desktop", "-o", "out2", folder}, shown + "/In?[2Jbox.dbx: 1 message"},
      {{"export", "-o", "out3", folder + "/missing\r.dbx"},
       "quillon: " + shown + "/missing?.dbx: cannot be opened"},
      {{"check", folder}, shown + "/In?[2Jbox.dbx: not a mailbox, yet it holds 1 orphan"},
      {{"list", folder}, "red?[31m"},
      {{"locate", "."}, "./" + shown + ": 1 mailbox"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Result r = Run(c.args);
    for (const std::string* text : {&r.out, &r.err}) {
      for (const char ch : *text) {
        EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 && ch != '\n')
            << "control character " << int(ch) << " in " << *text;
      }
    }
    EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
  }
}

TEST_F(CliTest, DryRunCreatesNothing) {
  WriteMailbox(dir / "Inbox.dbx", 2);
  const Result r = Run({"export", "--dry-run", "-o", "never", "Inbox.dbx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Inbox.dbx: 2 messages would be written (" + std::to_string(0x250 + 0x251) +
                       " bytes)\n");
  EXPECT_FALSE(fs::exists(dir / "never"));
  EXPECT_FALSE(fs::exists(dir / "Inbox.dbx-1.eml"));
}

TEST_F(CliTest, UsageHelpAndVersion) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"expot", "x"}, {"export"}, {"export", "-o"}, {"export", "--bogus", "x"}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Try 'quillon --help'"), std::string::npos) << r.err;
  }
  EXPECT_NE(Run({"export", "--bogus", "x"}).err.find("unknown option '--bogus'"),
            std::string::npos);
  // Each command's help alone after it, on stdout; the overview without one names every command.
  for (const auto& [args, first] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--help"}, "Usage: quillon COMMAND "},
           {{"help"}, "Usage: quillon COMMAND "},
           {{"export", "--help"}, "Usage: quillon export "},
           {{"list", "--help"}, "Usage: quillon list "},
           {{"check", "-h", "x"}, "Usage: quillon check "},
           {{"locate", "--help"}, "Usage: quillon locate "}}) {
    const Result help = Run(args);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(first, 0), 0u) << help.out;
  }
  const std::string overview = Run({"--help"}).out;
  for (const char* command : {"locate", "export", "check", "list"}) {
    EXPECT_NE(overview.find(std::string("\n  quillon ") + command + " "), std::string::npos)
        << command;
  }
  const Result version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quillon ", 0), 0u);
}

// Ctrl-C, SIGTERM and SIGHUP stop the export at once, each with its own status; every file left
// is a whole message under its final name, and the mailboxes not yet begun are left out.
TEST_F(CliTest, StopSignalsLeaveOnlyWholeMessages) {
  // Enough messages that the export is still running when the signal comes.
  const auto texts = WriteMailbox(dir / "Big.dbx", 60000);
  WriteMailbox(dir / "Later.dbx", 2);
  const struct {
    int signal, status;
    std::string said;
  } cases[] = {
      {SIGINT, kExitInterrupted, "quillon: interrupted at Big.dbx (mailbox 1 of 2); the "},
      {SIGTERM, kExitTerminated, "quillon: terminated (SIGTERM) at Big.dbx (mailbox 1 of 2); the "},
      {SIGHUP, kExitHangUp, "quillon: hung up (SIGHUP) at Big.dbx (mailbox 1 of 2); the "},
  };
  for (const auto& c : cases) {
    for (const bool desktop : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.signal << (desktop ? " --desktop" : ""));
      const fs::path out = dir / ("out" + std::to_string(c.signal) + (desktop ? "d" : ""));
      const pid_t pid = Start({"export", desktop ? "--desktop" : "-feml", "-o",
                               out.filename().string(), "Big.dbx", "Later.dbx"});
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      // A file is made under its name before its bytes: the 11th begun, the 10th is whole.
      while (!fs::exists(out / "Big.dbx-11.eml") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      kill(pid, c.signal);
      const Result r = Wait(pid);
      ASSERT_EQ(r.status, c.status) << r.out << r.err;
      EXPECT_EQ(r.out.rfind("Big.dbx: stopped after ", 0), 0u) << r.out;
      EXPECT_EQ(r.err.rfind(c.said, 0), 0u) << r.err;
      EXPECT_FALSE(fs::exists(out / "Later.dbx-1.eml"));
      const size_t files = CheckWholeMessages(out, "Big.dbx", texts);
      EXPECT_GE(files, 10u);
      EXPECT_LT(files, texts.size());
    }
  }
}

// SIGTERM or Ctrl-C during an mbox export: the mbox ends at the last whole message, it holds
// as many as the manifest lists, and stderr says so (a message cut by the stop stayed before).
TEST_F(CliTest, StopSignalsLeaveTheMboxAtItsLastWholeMessage) {
  const auto texts = WriteMailbox(dir / "Big.dbx", 60000);
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const std::string out = "out" + std::to_string(signal);
    const pid_t pid = Start({"export", "-f", "mbox", "-o", out, "Big.dbx"});
    // Once the mbox has begun (its temporary file holds a few messages).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (bool begun = false; !begun && std::chrono::steady_clock::now() < deadline;) {
      std::error_code ec;
      for (fs::directory_iterator it(dir / out, ec), end; !ec && it != end; it.increment(ec)) {
        begun = begun || (it->path().extension() == ".tmp" && it->file_size(ec) > 100000);
      }
    }
    kill(pid, signal);
    const Result r = Wait(pid);
    ASSERT_EQ(r.status, signal == SIGTERM ? kExitTerminated : kExitInterrupted) << r.err;
    // Each message as it went in, with its From line and the empty line after it.
    const std::string mbox = Slurp(dir / out / "Big");
    size_t at = 0, messages = 0;
    while (at < mbox.size()) {
      ASSERT_LT(messages, texts.size());
      const size_t body = mbox.find('\n', at) + 1;
      ASSERT_EQ(mbox.compare(at, 5, "From "), 0) << "message " << messages + 1;
      ASSERT_EQ(mbox.compare(body, texts[messages].size(), texts[messages]), 0)
          << "message " << messages + 1 << " of an mbox of " << mbox.size() << " bytes";
      at = body + texts[messages].size();
      at += mbox.compare(at, 2, "\r\n") == 0 ? 2 : 0;  // the line end the message lacked
      ASSERT_EQ(mbox.compare(at, 1, "\n"), 0);
      ++at;
      ++messages;
    }
    EXPECT_GT(messages, 0u);
    EXPECT_LT(messages, texts.size());
    std::istringstream manifest(Slurp(dir / out / "quillon-manifest.jsonl"));
    size_t listed = 0;
    for (std::string line; std::getline(manifest, line);) {
      listed += line.find("\"path\":\"Big\"") != std::string::npos;
    }
    EXPECT_EQ(listed, messages);
    EXPECT_EQ(r.err, std::string("quillon: ") +
                         (signal == SIGTERM ? "terminated (SIGTERM)" : "interrupted") +
                         " at Big.dbx (mailbox 1 of 1); the " + std::to_string(messages) +
                         " messages written so far are whole, and the mbox files end with them\n");
  }
}

// --update reads a listed file only when it is a regular file of the output: a FIFO there made
// the run wait for ever, a link to /dev/zero read without end (both deaf to the first Ctrl-C), a
// link to an outside file of the same bytes counted as there. Each is written again, in place.
TEST_F(CliTest, UpdateReadsOnlyRegularFilesOfItsOwn) {
  const auto texts = WriteMailbox(dir / "In.dbx", 6);
  ASSERT_EQ(Run({"export", "-q", "-o", "out", "In.dbx"}).status, 0);
  const auto file = [&](int n) { return dir / "out" / ("In.dbx-" + std::to_string(n) + ".eml"); };
  Spit(dir / "outside.eml", texts[2]);
  for (int n = 1; n <= 4; ++n) fs::remove(file(n));
  ASSERT_EQ(mkfifo(file(1).c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", file(2));
  fs::create_symlink(dir / "outside.eml", file(3));
  Spit(file(4), "");
  fs::resize_file(file(4), uint64_t{64} << 30);  // 64 GiB of holes: no end to speak of
  const Result r = Wait(Start({"export", "--update", "-o", "out", "In.dbx"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "In.dbx: 6 messages: 2 already there, 0 written, 4 rewritten\n");
  for (int n = 1; n <= 6; ++n) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file(n)))) << n;
    EXPECT_EQ(Slurp(file(n)), texts[n - 1]) << n;
  }
  EXPECT_EQ(Slurp(dir / "outside.eml"), texts[2]);
}

// A manifest whose lines do not name files of the output, each once, is refused before anything
// is written: two lines naming one path overwrote one message with another.
TEST_F(CliTest, UpdateRefusesAManifestThatNamesAFileTwice) {
  WriteMailbox(dir / "In.dbx", 3);
  ASSERT_EQ(Run({"export", "-q", "-o", "out", "In.dbx"}).status, 0);
  const fs::path manifest = dir / "out" / "quillon-manifest.jsonl";
  std::string lines = Slurp(manifest);
  const std::string first = lines.substr(0, lines.find('\n') + 1);
  const std::string second =
      lines.substr(first.size(), lines.find('\n', first.size()) + 1 - first.size());
  // The second file's line again, naming the first file.
  const std::string named = "\"path\":\"In.dbx-2.eml\"";
  std::string twice = second;
  twice.replace(twice.find(named), named.size(), "\"path\":\"In.dbx-1.eml\"");
  Spit(manifest, lines + twice);
  const auto before = Slurp(dir / "out" / "In.dbx-1.eml");
  fs::remove(dir / "out" / "In.dbx-2.eml");
  const Result r = Run({"export", "--update", "-o", "out", "In.dbx"});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "quillon: --update refuses the manifest out/quillon-manifest.jsonl: two of its lines "
            "name one file, In.dbx-1.eml; it is not one this tool wrote (move it away to export "
            "afresh)\n");
  EXPECT_EQ(Slurp(dir / "out" / "In.dbx-1.eml"), before);
  EXPECT_FALSE(fs::exists(dir / "out" / "In.dbx-2.eml"));
  EXPECT_EQ(Slurp(manifest), lines + twice);
}

// Two exports into one output folder at once: the second is refused before it writes anything
// (two mbox writers interleaved their messages before), and once the first has ended the folder
// is free again. The first run is played by the test, holding the lock as a run does.
TEST_F(CliTest, ASecondExportIntoOneFolderIsRefused) {
  WriteMailbox(dir / "In.dbx", 3);
  fs::create_directories(dir / "out");
  const int held = open((dir / "out" / ".quillon-lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const Result second = Run({"export", "-f", "mbox", "-o", "out", "In.dbx"});
  EXPECT_EQ(second.status, kExitUsage);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err,
            "quillon: another export is writing into out (it holds out/.quillon-lock); wait for "
            "it to end, or export into another folder\n");
  EXPECT_FALSE(fs::exists(dir / "out" / "In"));
  close(held);  // the first run ends
  const Result third = Run({"export", "-f", "mbox", "-o", "out", "In.dbx"});
  EXPECT_EQ(third.status, kExitOk) << third.err;
  const std::string mbox = Slurp(dir / "out" / "In");
  size_t messages = 0;
  for (size_t at = 0; (at = mbox.find("\n\nFrom ", at)) != std::string::npos; ++at) ++messages;
  EXPECT_EQ(messages + (mbox.rfind("From ", 0) == 0), 3u);
  // The lock goes with the run that held it.
  EXPECT_FALSE(fs::exists(dir / "out" / ".quillon-lock"));
}

// Ctrl-C reaches the search too: a mailbox without messages, interrupted while it is searched,
// is reported as stopped, not as empty.
TEST_F(CliTest, CtrlCStopsTheSearch) {
  const fs::path sparse = dir / "Sparse.dbx";
  Spit(sparse, "");
  fs::resize_file(sparse, uint64_t{2} << 30);  // 2 GiB of holes: a long search, no message
  const pid_t pid = Start({"export", "-o", "out", "Sparse.dbx"});
  // Signal once the command has the mailbox open, so the signal comes during the search.
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  bool open = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!open && std::chrono::steady_clock::now() < deadline) {
    std::error_code ec;
    for (fs::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
      open = open || fs::read_symlink(it->path(), ec) == sparse;
    }
  }
  ASSERT_TRUE(open);
  kill(pid, SIGINT);
  const Result r = Wait(pid);
  EXPECT_EQ(r.status, kExitInterrupted);
  EXPECT_EQ(r.out, "Sparse.dbx: stopped after 0 messages\n");
  EXPECT_EQ(r.err,
            "quillon: interrupted at Sparse.dbx (mailbox 1 of 1); the 0 files written so far "
            "are whole\n");
}

// A reader that goes away (`quillon export ... | head -1`) ends the printing, not the export.
TEST_F(CliTest, AClosedStandardOutputDoesNotStopTheExport) {
  const auto first = WriteMailbox(dir / "A.dbx", 2);
  const auto second = WriteMailbox(dir / "B.dbx", 3, 7);
  const Result r = Wait(Start({"export", "-o", "out", "A.dbx", "B.dbx"}, true));
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.err, "");
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(Slurp(dir / "out" / ("A.dbx-" + std::to_string(i + 1) + ".eml")), first[i]);
  }
  for (size_t i = 0; i < second.size(); ++i) {
    EXPECT_EQ(Slurp(dir / "out" / ("B.dbx-" + std::to_string(i + 1) + ".eml")), second[i]);
  }
}

}  // namespace
}  // namespace quillon
