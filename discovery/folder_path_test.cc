#include "discovery/folder_path.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(NormalizeFolderPath, TurnsSlashesIntoBackslashesAndDropsOneTrailingSeparator) {
  EXPECT_EQ(NormalizeFolderPath("D:/backup/"), "D:\\backup");
  EXPECT_EQ(NormalizeFolderPath("D:\\backup\\"), "D:\\backup");
  EXPECT_EQ(NormalizeFolderPath("D:\\backup"), "D:\\backup");
  EXPECT_EQ(NormalizeFolderPath("mail/Sent Items"), "mail\\Sent Items");
  // Only one: a doubled separator keeps its first half, whichever way it was typed.
  EXPECT_EQ(NormalizeFolderPath("D:\\backup\\\\"), "D:\\backup\\");
  EXPECT_EQ(NormalizeFolderPath("D:/backup//"), "D:\\backup\\");
  EXPECT_EQ(NormalizeFolderPath("//server/share/"), "\\\\server\\share");
}

TEST(NormalizeFolderPath, ShortTextsAndDriveRoots) {
  EXPECT_EQ(NormalizeFolderPath(""), "");
  EXPECT_EQ(NormalizeFolderPath("/"), "");
  EXPECT_EQ(NormalizeFolderPath("\\"), "");
  EXPECT_EQ(NormalizeFolderPath("\\\\"), "\\");
  // A drive root loses its backslash like any folder; "C:" then names the drive's current folder.
  EXPECT_EQ(NormalizeFolderPath("C:\\"), "C:");
  EXPECT_EQ(NormalizeFolderPath("."), ".");
}

TEST(NormalizeFolderPath, LeavesOtherBytesAlone) {
  // "备份\" in code page 936: B1 B8 B7 DD 5C. The 5C goes; the double-byte characters stay whole.
  EXPECT_EQ(NormalizeFolderPath("\xB1\xB8\xB7\xDD\\"), "\xB1\xB8\xB7\xDD");
  // 95 5C is one double-byte character; its trail byte is removed all the same.
  EXPECT_EQ(NormalizeFolderPath("D:\\\x95\x5C"), "D:\\\x95");
  EXPECT_EQ(NormalizeFolderPath(" D:/a b /"), " D:\\a b ");
  EXPECT_EQ(NormalizeFolderPath(std::string("a\0b/", 4)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace quillon
