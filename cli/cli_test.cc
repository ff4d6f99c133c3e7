// The command as a user meets it: run as a process, its lines, exit statuses and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/export_command.h"
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
  void TearDown() override { fs::remove_all(dir); }

  // Starts the command in `dir` with its output in files; returns its pid.
  pid_t Start(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(99);
      const int out = open((dir / ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open((dir / ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
  Result Wait(pid_t pid) {
    Result r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = Slurp(dir / ".out");
    r.err = Slurp(dir / ".err");
    return r;
  }
  Result Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

  // A mailbox of `count` two-block messages; returns their texts.
  std::vector<std::string> WriteMailbox(const fs::path& path, int count, uint32_t seed = 0) {
    MailboxBuilder mb(0x100 + 0x500 * size_t(count));
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
      const uint32_t at = 0x100 + 0x500 * i;
      texts.push_back(mb.Message({at, at + 0x210}, FillerText(0x250 + i % 7, seed + i)));
    }
    Spit(path, mb.bytes);
    return texts;
  }

  fs::path dir;
};

TEST_F(CliTest, ExportsEveryMailboxOfAFolderInNameOrder) {
  fs::create_directory(dir / "mail");
  const auto sent = WriteMailbox(dir / "mail" / "Sent Items.dbx", 2, 10);
  const auto inbox = WriteMailbox(dir / "mail" / "INBOX.DBX", 3, 20);
  WriteMailbox(dir / "mail" / "notes.txt", 1);
  Spit(dir / "mail" / "Empty.dbx", MailboxBuilder(4096).bytes);
  fs::create_directory(dir / "mail" / "folder.dbx");

  const Result r = Run({"export", "-o", "backup/new", "mail"});
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
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "backup/new"), {}), 5);
}

TEST_F(CliTest, FailuresAreReportedAndTheRestIsExported) {
  WriteMailbox(dir / "Inbox.dbx", 1);
  const Result r = Run({"export", "missing.dbx", "Inbox.dbx"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(r.out,
            "missing.dbx: cannot be opened: No such file or directory\n"
            "Inbox.dbx: 1 message written\n");
  EXPECT_TRUE(fs::exists(dir / "Inbox.dbx-1.eml"));  // the current folder by default

  // Quiet keeps only the failure.
  const Result q = Run({"export", "-q", "missing.dbx", "Inbox.dbx"});
  EXPECT_EQ(q.status, kExitFailed);
  EXPECT_EQ(q.out, "missing.dbx: cannot be opened: No such file or directory\n");

  // An output folder that cannot be made.
  Spit(dir / "blocker", "x");
  const Result b = Run({"export", "-o", "blocker/sub", "Inbox.dbx"});
  EXPECT_EQ(b.status, kExitFailed);
  EXPECT_NE(b.out.find("cannot create the output folder blocker/sub"), std::string::npos);
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
  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, kUsage);
  const Result version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quillon ", 0), 0u);
}

TEST_F(CliTest, CtrlCStopsAfterTheCurrentMessage) {
  // Enough messages that the export is still running when the signal comes.
  const auto texts = WriteMailbox(dir / "Big.dbx", 60000);
  WriteMailbox(dir / "Later.dbx", 2);
  const pid_t pid = Start({"export", "-o", "out", "Big.dbx", "Later.dbx"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(dir / "out/Big.dbx-10.eml") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGINT);
  const Result r = Wait(pid);
  ASSERT_EQ(r.status, kExitInterrupted) << r.out;
  EXPECT_NE(r.out.find("Big.dbx: stopped after "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("quillon: interrupted at Big.dbx (mailbox 1 of 2)"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "out/Later.dbx-1.eml"));
  // Every file written is whole.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) {
    const std::string name = entry.path().filename().string();
    const int n = std::stoi(name.substr(name.rfind('-') + 1));
    ASSERT_EQ(Slurp(entry.path()), texts[n - 1]) << name;
    ++files;
  }
  EXPECT_GE(files, 10u);
  EXPECT_LT(files, texts.size());
}

TEST(CliArgumentsTest, OptionForms) {
  using Args = std::vector<std::string>;
  // Short options group, options and paths mix, and "--" ends the options.
  const struct {
    Args args;
    std::string folder;
    Args paths;
  } runs[] = {
      {{"export", "-q", "--output=x", "-n", "--", "-odd.dbx"}, "x", {"-odd.dbx"}},
      {{"export", "-qn", "-o", "out", "x.dbx"}, "out", {"x.dbx"}},
      {{"export", "a", "-qno", "out", "b", "-"}, "out", {"a", "b", "-"}},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(::testing::PrintToString(r.args));
    ExportOptions o;
    std::string error;
    ASSERT_EQ(ParseArguments(r.args, &o, &error), ParseOutcome::kRun) << error;
    EXPECT_EQ(o.outputFolder, r.folder);
    EXPECT_EQ(o.paths, r.paths);
    EXPECT_TRUE(o.quiet && o.dryRun);
  }

  const struct {
    Args args;
    ParseOutcome outcome;
    std::string error;
  } others[] = {
      {{"export", "-oy", "a", "--help"}, ParseOutcome::kHelp, ""},
      {{"export", "a", "-V"}, ParseOutcome::kVersion, ""},
      {{"export", "--output=", "a"},
       ParseOutcome::kUsageError,
       "the output folder must not be empty"},
      {{"export", "-q"}, ParseOutcome::kUsageError, "no mailbox file or folder given"},
      {{"export", "a", "-o"}, ParseOutcome::kUsageError, "option '-o' needs a folder"},
      {{"export", "a", "--output"}, ParseOutcome::kUsageError, "option '--output' needs a folder"},
      {{"export", "-xq", "a"}, ParseOutcome::kUsageError, "unknown option '-x'"},
      {{"export", "--quiet", "-qx", "a"}, ParseOutcome::kUsageError, "unknown option '-x'"},
      {{"export", "--quiet=1", "a"}, ParseOutcome::kUsageError, "unknown option '--quiet=1'"},
  };
  for (const auto& c : others) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    ExportOptions o;
    std::string error;
    EXPECT_EQ(ParseArguments(c.args, &o, &error), c.outcome);
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace quillon
