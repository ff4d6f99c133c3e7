#include "output/folder_paths.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillon::output {
namespace {

using Path = std::vector<std::string>;

TEST(FolderPaths, MirrorsFoldersDbxAndSurvivesItsDamage) {
  const std::vector<FolderRecord> records = {
      {0, 0xFFFFFFFF, "Outlook Express", ""},
      {1, 0, "Local Folders", ""},
      {2, 1, "Inbox", "Inbox.dbx"},
      {3, 1, "Sent Items", "Sent Items.dbx"},
      {9, 0, "Hotmail", ""},
      {10, 9, "Inbox", "Inbox (Hotmail).dbx"},
      {20, 99, "Orphan", "Orphan.dbx"},  // its parent is missing: the top
      {30, 31, "Loop A", ""},            // a loop: both go to the top
      {31, 30, "Loop B", "Loop.dbx"},
      {2, 1, "Again", "Again.dbx"},  // an id seen before: dropped
      {40, 1, "Work", ""},
      {41, 1, "Work", "Work2.dbx"},  // siblings of one name
      {42, 1, "", ""},
      // Nothing to see, twice: named as the one without a name, not "_" and "(2)".
      {44, 1, "   ", "Blank.dbx"},
      {45, 1, "   ", ""},
      {43, 41, "Deeper", "Deeper.dbx"},
  };
  const FolderPaths paths = PlanFolderPaths(records);
  std::vector<Path> all;
  for (uint32_t i = 0; i < paths.folders.size(); ++i) all.push_back(paths.PathOf(i));
  EXPECT_EQ(all, (std::vector<Path>{{"Local Folders"},
                                    {"Hotmail"},
                                    {"Orphan"},
                                    {"Loop A"},
                                    {"Loop B"},
                                    {"Local Folders", "Inbox"},
                                    {"Local Folders", "Sent Items"},
                                    {"Local Folders", "Work"},
                                    {"Local Folders", "Work (2)"},
                                    {"Local Folders", "Folder 42"},
                                    {"Local Folders", "Folder 44"},
                                    {"Local Folders", "Folder 45"},
                                    {"Hotmail", "Inbox"},
                                    {"Local Folders", "Work (2)", "Deeper"}}));
  const struct {
    const char *file, *ownName;
    Path path;
  } kFiles[] = {
      {"INBOX.DBX", "Inbox", {"Local Folders", "Inbox"}},
      {"mail/Inbox (Hotmail).dbx", "", {"Hotmail", "Inbox"}},
      {"Loop.dbx", "", {"Loop B"}},
      {"Deeper.dbx", "", {"Local Folders", "Work (2)", "Deeper"}},
      // Files no record names go under a folder of their own, named after the file: never in
      // the place of a listed folder, even when their own name is that folder's.
      {"Again.dbx", "Again's own", {"Unlisted files", "Again"}},
      {"mail\\Old Inbox.DBX", "Inbox", {"Unlisted files", "Old Inbox"}},
  };
  for (const auto& f : kFiles) {
    EXPECT_EQ(paths.PathOf(f.file, f.ownName), f.path) << f.file;
    EXPECT_EQ(paths.Lists(f.file), f.path[0] != "Unlisted files") << f.file;
  }
  // Drawn as a tree: each folder followed by those beneath it, siblings by name.
  std::vector<Path> drawn;
  for (uint32_t i : paths.TreeOrder()) drawn.push_back(paths.PathOf(i));
  std::vector<Path> sorted = all;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(drawn, sorted);
  // With no folder at all (no Folders.dbx), a file takes its own name, else its file's; and a
  // folder of the records named "Unlisted files" keeps that name.
  const FolderPaths none = PlanFolderPaths({});
  EXPECT_EQ(none.PathOf("Inbox1.dbx", "Inbox"), (Path{"Inbox"}));
  EXPECT_EQ(none.PathOf("Inbox1.dbx", ""), (Path{"Inbox1"}));
  EXPECT_TRUE(none.Lists("Inbox1.dbx"));
  const FolderPaths taken = PlanFolderPaths({{1, 0xFFFFFFFF, "", ""},
                                             {2, 1, "unlisted FILES", "u.dbx"},
                                             {3, 1, "Unlisted files (2)", ""}});
  EXPECT_EQ(taken.PathOf("Stray.dbx", "Inbox"), (Path{"Unlisted files (3)", "Stray"}));

  // A chain deeper than any real tree is cut at 64 levels, its last name kept.
  std::vector<FolderRecord> chain;
  for (uint32_t i = 1; i <= 200; ++i) chain.push_back({i, i - 1, "L" + std::to_string(i), ""});
  chain.back().fileName = "Deep.dbx";
  const Path deep = PlanFolderPaths(chain).PathOf("Deep.dbx", "");
  EXPECT_EQ(deep.size(), 64u);
  EXPECT_EQ(deep[62], "L63");
  EXPECT_EQ(deep.back(), "L200");

  // A loop of any length goes to the top whole, and what hangs below it with it.
  std::vector<FolderRecord> ring;
  for (uint32_t i = 1; i <= 3000; ++i) ring.push_back({i, i == 3000 ? 1 : i + 1, "R", ""});
  ring.push_back({5000, 7, "Below", "Below.dbx"});
  const FolderPaths loop = PlanFolderPaths(ring);
  EXPECT_EQ(loop.folders.size(), ring.size());
  EXPECT_EQ(loop.PathOf("Below.dbx", ""), (Path{"R (7)", "Below"}));
}

}  // namespace
}  // namespace quillon::output
