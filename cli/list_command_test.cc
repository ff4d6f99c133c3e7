// The table of `quillon list`: its rows fit the terminal whatever the texts hold.
#include "cli/list_command.h"

#include <gtest/gtest.h>

#include "cli/progress.h"

namespace quillon {
namespace {

TEST(ListRowTest, RowsFitTheWidthOnCharacterBoundaries) {
  const std::string wide =
      "\xE6\x94\xB6\xE4\xBB\xB6\xE7\xAE\xB1\xE9\x87\x8D\xE8\xA6\x81";  // 收件箱重要
  const std::string cyrillic = "\xD0\x92\xD1\x85\xD0\xBE\xD0\xB4\xD1\x8F\xD1\x89\xD0\xB8\xD0\xB5";
  const struct {
    size_t columns;
    std::string from, subject;
    std::string row;  // empty: only its width is checked
  } cases[] = {
      {100, "Ann <ann@example.org>", "Hello",
       "live          2005-01-03 10:00     512  Ann <ann@example.org>   Hello"},
      // Not a terminal: the subject whole, the sender in its own width.
      {0, "Ann <ann@example.org>", std::string(200, 's'), ""},
      {60, cyrillic + " <ivan@example.ru>", wide + wide + wide + wide, ""},
      {52, wide + wide + wide, "a\tb\nc\x1b[31m", ""},
      {20, "x", "y", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    const std::string row =
        ListRow("live", "2005-01-03 10:00", "512", c.from, c.subject, c.columns);
    if (!c.row.empty()) {
      EXPECT_EQ(row, c.row);
    }
    if (c.columns > 0) {
      EXPECT_LE(DisplayWidth(row), c.columns - 1) << row;
    }
    EXPECT_EQ(row.find_first_of("\t\n\x1b"), std::string::npos) << row;  // controls shown as '?'
    EXPECT_EQ(FitColumns(row, DisplayWidth(row), false), row);           // whole characters only
  }
  EXPECT_EQ(ListRow("live", "-", "1", "a", std::string(200, 's'), 0).size(),
            12 + 2 + 16 + 2 + 6 + 2 + 28 + 2 + 200u);
}

TEST(ListRowTest, SizesInSixCharacters) {
  const struct {
    uint64_t bytes;
    const char* shown;
  } cases[] = {{0, "0"},         {9999, "9999"},    {10000, "9.8K"},
               {123456, "121K"}, {1048576, "1.0M"}, {4294967295u, "4.0G"}};
  for (const auto& c : cases) EXPECT_EQ(ShortSize(c.bytes), c.shown) << c.bytes;
}

}  // namespace
}  // namespace quillon
