#include "output/folder_tree.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quillon::output {
namespace {

using Path = std::vector<std::string>;

TEST(FolderTree, PlacesEachFolderOncePerFormat) {
  // Folders as they arrive, and the place each format gives them.
  const struct {
    Path folder;
    const char *eml, *mbox, *maildir;
  } kCases[] = {
      {{"Local Folders"}, "Local Folders", "Local Folders", ".Local Folders"},
      {{"Local Folders", "Inbox"},
       "Local Folders/Inbox",
       "Local Folders.sbd/Inbox",
       ".Local Folders.Inbox"},
      {{"Local Folders", "Inbox", "2004"},
       "Local Folders/Inbox/2004",
       "Local Folders.sbd/Inbox.sbd/2004",
       ".Local Folders.Inbox.2004"},
      // Case-insensitive siblings, and the same folder again.
      {{"Local Folders", "inbox"},
       "Local Folders/inbox (2)",
       "Local Folders.sbd/inbox (2)",
       ".Local Folders.inbox (2)"},
      {{"Local Folders", "Inbox"},
       "Local Folders/Inbox",
       "Local Folders.sbd/Inbox",
       ".Local Folders.Inbox"},
      // A dot is a level in Maildir++: there it becomes '_'.
      {{"Work.2004"}, "Work.2004", "Work.2004", ".Work_2004"},
      {{"Work_2004"}, "Work_2004", "Work_2004", ".Work_2004 (2)"},
      // A name that looks like Thunderbird's own folder of subfolders.
      {{"Local Folders.sbd"}, "Local Folders.sbd", "Local Folders.sbd (2)", ".Local Folders_sbd"},
      {{"R&D/\xC3\x89t\xC3\xA9"},
       "R&D_\xC3\x89t\xC3\xA9",
       "R&D_\xC3\x89t\xC3\xA9",
       ".R&-D_&AMk-t&AOk-"},
      {{"CON"}, "CON_", "CON_", ".CON_"},
      // Dovecot refuses a Maildir++ folder that begins with '~', and takes "X.lock" for the lock
      // of the mbox "X".
      {{"~Archive"}, "~Archive", "~Archive", "._Archive"},
      {{"~Archive", "~2004"}, "~Archive/~2004", "~Archive.sbd/~2004", "._Archive.~2004"},
      {{"Local Folders.lock"},
       "Local Folders.lock",
       "Local Folders.lock (2)",
       ".Local Folders_lock"},
      // A top-level Inbox is INBOX, the Maildir++ root, for Dovecot; its children follow it.
      {{"Inbox"}, "Inbox", "Inbox", ""},
      {{"Inbox", "Sub"}, "Inbox/Sub", "Inbox.sbd/Sub", ".INBOX.Sub"},
      {{"INBOX"}, "INBOX (2)", "INBOX (2)", ".INBOX (2)"},
  };
  for (Format format : {Format::kEml, Format::kMbox, Format::kMaildir}) {
    FolderTree tree(format);
    for (const auto& c : kCases) {
      const char* expected = format == Format::kEml    ? c.eml
                             : format == Format::kMbox ? c.mbox
                                                       : c.maildir;
      EXPECT_EQ(tree.Locate(c.folder).path, expected)
          << FormatName(format) << " " << c.folder.back();
    }
  }
}

TEST(FolderTree, MboxNamesTheFilesAboveAFolder) {
  FolderTree tree(Format::kMbox);
  std::vector<std::string> above;
  for (const size_t node : tree.Ancestors(tree.Locate({"A", "B", "C"}).node)) {
    above.push_back(tree.PathOf(node));
  }
  EXPECT_EQ(above, (std::vector<std::string>{"A", "A.sbd/B"}));
  EXPECT_EQ(tree.Locate({}).path, "Inbox");
}

TEST(FolderTree, BoundsDepthAndLength) {
  // A tree deeper than kMaxFolderDepth keeps its first levels and the folder's own name.
  Path deep;
  for (int i = 0; i < 40; ++i) deep.push_back("d" + std::to_string(i));
  FolderTree eml(Format::kEml);
  const std::string& path = eml.Locate(deep).path;
  EXPECT_EQ(std::count(path.begin(), path.end(), '/'), static_cast<long>(kMaxFolderDepth - 1));
  EXPECT_EQ(path.substr(path.rfind('/')), "/d39");

  // A long mbox name leaves room for the names beside it: a 252-byte folder and its subfolder
  // ("File name too long" for "NAME.sbd" when the name took 252).
  FolderTree mbox(Format::kMbox);
  const std::string mboxName(252, 'm');
  const std::string sub = mbox.Locate({mboxName, "Sub"}).path;
  EXPECT_EQ(sub, std::string(250, 'm') + ".sbd/Sub");
  EXPECT_EQ(mbox.Locate({mboxName}).path.size() + std::strlen(".lock"), kMaxNameBytes);

  // Maildir++ keeps every level in one name: each level is cut so the name stays within 255
  // bytes, and a level with no room left goes up to where there is room.
  FolderTree maildir(Format::kMaildir);
  const std::string longName(200, 'n');
  std::string last;
  Path levels;
  for (int i = 0; i < 4; ++i) {
    levels.push_back(longName + std::to_string(i));
    last = maildir.Locate(levels).path;
    EXPECT_LE(last.size(), kMaxNameBytes) << i;
  }
  // 2-byte letters encode to more bytes than they hold.
  std::string cyrillic;
  for (int i = 0; i < 150; ++i) cyrillic += "\xD0\x96";
  EXPECT_LE(maildir.Locate({cyrillic}).path.size(), kMaxNameBytes);
  EXPECT_NE(maildir.Locate({cyrillic}).path, maildir.Locate({cyrillic + "x"}).path);
}

}  // namespace
}  // namespace quillon::output
