#include "discovery/store_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

TEST(StoreNames, SafeFolderNameKeepsWhatBothSystemsTakeAndChangesTheRest) {
  const struct {
    std::string text;
    size_t maxBytes;
    std::string expected;
  } kCases[] = {
      {"Main Identity", 100, "Main Identity"},
      {"a/b\\c:d*e?f\"g<h>i|j", 100, "a_b_c_d_e_f_g_h_i_j"},
      {"tab\there\x7F\xC2\x85", 100, "tab_here__"},  // C0, DEL and C1 (U+0085)
      {"Büro 工作", 100, "Büro 工作"},
      {"Latin-1 \xFC and \xE5\xB7", 100, "Latin-1 _ and __"},  // a lone byte, a cut character
      {"\xC0\xAF", 100, "__"},                                 // an overlong '/'
      {"ends with dots. . .", 100, "ends with dots"},
      {"...", 100, "_"},
      {"", 100, "_"},
      {"CON", 100, "CON_"},
      {"con.txt", 100, "con_.txt"},
      {"Lpt9 .x", 100, "Lpt9_ .x"},
      {"COM0", 100, "COM0"},
      {"LPT\xC2\xB2.x", 100, "LPT\xC2\xB2_.x"},  // Windows takes a superscript digit for a digit
      {"CONSOLE", 100, "CONSOLE"},
      {"nul.", 100, "nul_"},
      // Cut on a character boundary (工 is three bytes), then trailing spaces go.
      {"ab工", 4, "ab"},
      {"a 工", 4, "a"},
      {"abc工", 6, "abc工"},
      // The device name stays whole when the added byte must be cut off the end again.
      {"aux.abcd", 8, "aux_.abc"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SafeFolderName(c.text, c.maxBytes), c.expected) << c.text;
  }
}

TEST(StoreNames, CleanDisplayNameReplacesWhatCannotBePrintedAndCuts) {
  EXPECT_EQ(CleanDisplayName("Main Identity"), "Main Identity");
  EXPECT_EQ(CleanDisplayName("\x1B[2Jx\n\xFF"), "?[2Jx??");
  const std::string long_name = std::string(kMaxDisplayNameBytes - 1, 'a') + "工";
  EXPECT_EQ(CleanDisplayName(long_name), std::string(kMaxDisplayNameBytes - 1, 'a'));
}

MailStore Store(const std::string& path, const std::string& guid, const std::string& user,
                const std::string& name) {
  MailStore store;
  store.path = path;
  store.hasIdentity = !guid.empty();
  store.identity.guid = guid;
  store.identity.user = user;
  store.identity.displayName = name;
  return store;
}

TEST(StoreNames, EveryStoreGetsItsOwnFolderName) {
  const std::string g1 = "{11111111-1111-1111-1111-111111111111}";
  const std::string g2 = "{22222222-2222-2222-2222-222222222222}";
  const std::string g3 = "{33333333-3333-3333-3333-333333333333}";
  const std::string g4 = "{44444444-4444-4444-4444-444444444444}";
  const std::vector<MailStore> stores = {
      Store("/d/alice/OE1", g1, "alice", "Main Identity"),
      Store("/d/bob/OE2", g2, "bob", "main identity"),  // meets the first in ASCII case only
      Store("/d/bob/OE3", g3, "bob", ""),               // no name known: its GUID
      Store("/d/x/mail", "", "", ""),                   // no identity: the folder's name
      Store("/e/y/mail/", "", "", ""),
      Store("/d/carol/OE4", g4, "", "Work: 2003?"),
      Store("/d/bob/OE5", g2, "bob", "Main Identity"),  // the same user and name again
      Store("/d/z/Main Identity (bob)", "", "", ""),    // already the name a qualifier makes
  };
  const std::vector<std::string> expected = {
      "Main Identity (alice)",   "main identity (bob)",     g3, "mail", "mail (2)", "Work_ 2003_",
      "Main Identity (bob) (2)", "Main Identity (bob) (3)",
  };
  EXPECT_EQ(StoreFolderNames(stores), expected);

  // A long name keeps its suffix within the limit.
  const std::vector<std::string> long_names = StoreFolderNames(
      {Store("/a", g1, "", std::string(150, 'n')), Store("/b", g2, "", std::string(150, 'n'))});
  ASSERT_EQ(long_names.size(), 2u);
  EXPECT_EQ(long_names[0], std::string(kMaxStoreFolderNameBytes - 41, 'n') + " (" + g1 + ")");
  EXPECT_EQ(long_names[1], std::string(kMaxStoreFolderNameBytes - 41, 'n') + " (" + g2 + ")");
}

}  // namespace
}  // namespace quillon
