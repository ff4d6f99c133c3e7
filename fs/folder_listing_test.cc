// The folder listing under names of any script: the command passes UTF-8 paths on every system,
// and on Windows no ANSI code page holds both Cyrillic and Chinese names.
#include "fs/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(FolderListingTest, NamesOfAnyScriptComeBackAsUtf8) {
  test::TempFolder tmp("quillon-listing");
  ASSERT_FALSE(tmp.path().empty());
  const std::string folder = JoinPath(tmp.path().u8string(), u8"Почта 邮件");
  fs::create_directories(fs::u8path(folder) / fs::u8path(u8"Папка"));
  ASSERT_TRUE(test::WriteWholeFile(fs::u8path(JoinPath(folder, u8"Входящие.dbx")), "12345"));
  ASSERT_TRUE(test::WriteWholeFile(fs::u8path(JoinPath(folder, u8"收件箱.dbx")), "123"));

  std::vector<FolderEntry> entries;
  bool truncated = true;
  std::string error;
  ASSERT_TRUE(ListFolder(folder, false, 100, &entries, &truncated, &error)) << error;
  EXPECT_FALSE(truncated);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u8"Входящие.dbx");
  EXPECT_EQ(entries[0].kind, EntryKind::kRegularFile);
  EXPECT_EQ(entries[0].size, 5u);
  EXPECT_EQ(entries[1].name, u8"Папка");
  EXPECT_EQ(entries[1].kind, EntryKind::kFolder);
  EXPECT_EQ(entries[2].name, u8"收件箱.dbx");
  EXPECT_EQ(entries[2].size, 3u);

  EXPECT_FALSE(ListFolder(JoinPath(folder, u8"Нет"), false, 100, &entries, &truncated, &error));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quillon
