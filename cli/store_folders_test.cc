// A store folder's code page as every command gets it: once per store, the user's when given,
// and a guess among code pages that read its strings otherwise said once, in words.
#include "cli/store_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/dbx_format.h"
#include "catalogue/testing/dbx_builder.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

using catalogue::testing::DbxBuilder;
namespace msg = catalogue::dbx::message;

// A message folder whose index lists headers-only messages of these subjects (no message text
// to read: the index is all the store shows).
std::string Mailbox(const std::vector<std::string>& subjects) {
  DbxBuilder b(0x6000);
  b.FileInfo(3, "LocalStore", "Inbox");
  std::vector<DbxBuilder::Entry> entries;
  for (size_t i = 0; i < subjects.size(); ++i) {
    const uint32_t at = 0x2B00 + 0x100 * static_cast<uint32_t>(i);
    b.Record(at, {DbxBuilder::Direct(msg::kIndexId, static_cast<uint32_t>(i + 1)),
                  DbxBuilder::Text(msg::kSubject, subjects[i])});
    entries.push_back({at});
  }
  b.Tree(0, 0x4000, static_cast<uint32_t>(entries.size()));
  b.Node(0x4000, 0, 0, 0, entries);
  return b.bytes;
}

TEST(StoreFoldersTest, OneCodePagePerStoreAndAGuessSaidOnce) {
  test::TempFolder tmp("quillon-store");
  const std::string western = (tmp.path() / "western").u8string();
  const std::string russian = (tmp.path() / "russian").u8string();
  std::filesystem::create_directories(tmp.path() / "western");
  std::filesystem::create_directories(tmp.path() / "russian");
  ASSERT_TRUE(test::WriteWholeFile(tmp.path() / "western" / "a.dbx",
                                   Mailbox({"Fran\xE7ois Lef\xE8vre", "R\xE9union \xE0 K\xF6ln"})));
  ASSERT_TRUE(test::WriteWholeFile(tmp.path() / "western" / "b.dbx", Mailbox({"caf\xE9"})));
  ASSERT_TRUE(
      test::WriteWholeFile(tmp.path() / "russian" / "c.dbx",
                           Mailbox({"\xCE\xF2\xF7\xB8\xF2 \xE7\xE0 \xED\xE5\xE4\xE5\xEB\xFE"})));

  std::vector<std::string> notes;
  StoreReader reader(0, [&](const std::string& note) { notes.push_back(note); });
  const StoreFolders& store = reader.Of(western + "/a.dbx");
  EXPECT_EQ(&reader.Of(western + "/b.dbx"), &store);
  EXPECT_EQ(store.codePage.codePage, 1252u);
  EXPECT_EQ(store.Text("Fran\xE7ois Lef\xE8vre"), "François Lefèvre");
  // Latin text reads as words in 1250 and 1257 too, some of it otherwise: said, once.
  ASSERT_EQ(notes, std::vector<std::string>{
                       western +
                       ": the store does not show which code page its names and subjects are in; "
                       "they are read as 1252 (Western European), and 1250 (Central European) or "
                       "1257 (Baltic) would read some otherwise: if names look wrong, give "
                       "--codepage N"});
  // Russian words are of one script in 1251 alone: nothing to say.
  EXPECT_EQ(reader.Of(russian + "/c.dbx").codePage.codePage, 1251u);
  EXPECT_EQ(reader.Of(russian + "/c.dbx").Text("\xCE\xF2\xF7\xB8\xF2"), "Отчёт");
  EXPECT_EQ(notes.size(), 1u);

  // The user's code page is taken as given, for every store, without a word.
  StoreReader given(1250, [&](const std::string& note) { notes.push_back(note); });
  EXPECT_EQ(given.Of(western + "/a.dbx").Text("Fran\xE7ois Lef\xE8vre"), "François Lefčvre");
  EXPECT_TRUE(given.Of(russian + "/c.dbx").codePage.given);
  EXPECT_EQ(notes.size(), 1u);
}

}  // namespace
}  // namespace quillon
