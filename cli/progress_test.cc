// The status line over a table of terminal widths: what matters first, never wider than the
// terminal, the path cut from the left at whole characters.
#include "cli/progress.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(ProgressTest, FitsEachWidthWithWhatMattersFirst) {
  ProgressState writing;
  writing.mailbox = 2;
  writing.mailboxes = 5;
  writing.percent = 37;
  writing.writing = true;
  writing.written = 120;
  writing.path = "mail/Sent Items.dbx";
  writing.size = 3u << 29;  // 1.5 GiB
  ProgressState searching = writing;
  searching.writing = false;
  searching.percent = 4;
  ProgressState counting = writing;
  counting.dryRun = true;
  ProgressState chinese = writing;
  chinese.path = "邮件/收件箱.dbx";  // 15 columns
  ProgressState hostile = writing;
  hostile.path =
      "a\x1b[2J\r\x9b\xc2\x9b"
      "b.dbx";

  const struct {
    const ProgressState& state;
    size_t columns;
    std::string line;
  } cases[] = {
      {writing, 200, "[2/5] 37% 120 written  mail/Sent Items.dbx (1.5 GiB)"},
      {writing, 53, "[2/5] 37% 120 written  mail/Sent Items.dbx (1.5 GiB)"},
      {writing, 52, "[2/5] 37% 120 written  mail/Sent Items.dbx"},
      {writing, 43, "[2/5] 37% 120 written  mail/Sent Items.dbx"},
      {writing, 42, "[2/5] 37% 120 written  .../Sent Items.dbx"},
      {writing, 33, "[2/5] 37% 120 written  ...ms.dbx"},
      {writing, 32, "[2/5] 37% 120 written"},
      {writing, 22, "[2/5] 37% 120 written"},
      {writing, 10, "[2/5] 37%"},
      {writing, 1, ""},
      {searching, 80, "[2/5] 4% searching  mail/Sent Items.dbx (1.5 GiB)"},
      {counting, 80, "[2/5] 37% 120 counted  mail/Sent Items.dbx (1.5 GiB)"},
      {chinese, 39, "[2/5] 37% 120 written  邮件/收件箱.dbx"},
      // Room for 7 columns of the path: a wide character is kept whole or left out.
      {chinese, 34, "[2/5] 37% 120 written  ...箱.dbx"},
      {hostile, 80, "[2/5] 37% 120 written  a?[2J???b.dbx (1.5 GiB)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    const std::string line = FormatProgress(c.state, c.columns);
    EXPECT_EQ(line, c.line);
    EXPECT_LT(DisplayWidth(line), c.columns);
  }
}

TEST(ProgressTest, DisplayWidthCountsColumns) {
  EXPECT_EQ(DisplayWidth("Inbox.dbx"), 9u);
  EXPECT_EQ(DisplayWidth("Boîte de réception"), 18u);
  EXPECT_EQ(DisplayWidth("Входящие"), 8u);
  EXPECT_EQ(DisplayWidth("收件箱"), 6u);
  EXPECT_EQ(DisplayWidth("a\xff\xe6\x94"), 4u);  // invalid bytes: one column each
}

}  // namespace
}  // namespace quillon
