// The command's parts that need no process of their own: its options and the mailboxes a run
// may export together. Built for Windows too, where names are compared as its file systems do.
#include "cli/export_command.h"

#include <gtest/gtest.h>

#include "cli/export_places.h"
#include "cli/export_report.h"
#include "cli/platform.h"
#include "fs/file_io.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

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

TEST(CliWordsTest, AReadFailureNamesTheOffsetInHexadecimal) {
  EXPECT_EQ(CannotReadWords("Inbox.dbx", 0x1A2B00, "Input/output error"),
            "cannot read Inbox.dbx at offset 0x1A2B00: Input/output error");
  EXPECT_EQ(CannotReadWords("mail/Big.dbx", 0xFFFFFFF0u, "Input/output error"),
            "cannot read mail/Big.dbx at offset 0xFFFFFFF0: Input/output error");
}

TEST(CliMailboxesTest, SameNamesClashAndTheSameFileCountsOnce) {
  test::TempFolder tmp("clash");
  ASSERT_FALSE(tmp.path().empty());
  for (const char* folder : {"a", "b", "c"}) fs::create_directory(tmp.path() / folder);
  for (const char* file : {"a/Inbox.dbx", "b/Inbox.dbx", "a/Sent.dbx", "c/inbox.dbx"}) {
    ASSERT_TRUE(test::WriteWholeFile(tmp.path() / file, "x"));
  }
  const auto at = [&](const char* relative) { return FromPath(tmp.path() / relative); };
  const std::string a = at("a/Inbox.dbx"), b = at("b/Inbox.dbx"), sent = at("a/Sent.dbx"),
                    lower = at("c/inbox.dbx"), again = at("a/./Inbox.dbx"),
                    missing = at("c/Inbox.dbx");
  // Windows file systems take Inbox.dbx and inbox.dbx for one file; POSIX ones do not.
  const bool caseBlind = kPathSeparator == '\\';
  using Paths = std::vector<std::string>;
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  const struct {
    Paths given, kept;
    Pairs clashes;
  } cases[] = {
      {{a, sent}, {a, sent}, {}},
      {{a, b, sent}, {a, b, sent}, {{a, b}}},
      {{a, again, sent, a}, {a, sent}, {}},
      {{missing, a}, {missing, a}, {{missing, a}}},
      {{a, b, lower}, {a, b, lower}, caseBlind ? Pairs{{a, b}, {a, lower}} : Pairs{{a, b}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.given));
    Paths mailboxes = c.given;
    Pairs found;
    for (const NameClash& clash : DropRepeatsAndFindClashes(&mailboxes)) {
      found.emplace_back(clash.first, clash.second);
    }
    EXPECT_EQ(found, c.clashes);
    EXPECT_EQ(mailboxes, c.kept);
  }
}

}  // namespace
}  // namespace quillon
