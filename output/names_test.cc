#include "output/names.h"

#include <gtest/gtest.h>

#include "output/mail_time.h"
#include "test_support/test_support.h"
#include "text/utf8.h"

namespace quillon::output {
namespace {

TEST(Names, SafeNameTakesWhatNoFileSystemRefuses) {
  const struct {
    std::string text, safe;
  } kCases[] = {
      {"Inbox", "Inbox"},
      {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
      {std::string("nul\0byte\x01\x7f", 10), "nul_byte__"},
      {"Re:  hello\r\n\tworld  ", "Re_ hello world"},
      {"  lead", "lead"},
      {"trailing. . .", "trailing"},
      {"...", "_"},
      {"..", "_"},
      {"", "_"},
      {"CON", "CON_"},
      {"con.txt", "con_.txt"},
      {"Lpt9.tar.gz", "Lpt9_.tar.gz"},
      {"COM\xC2\xB9", "COM\xC2\xB9_"},
      {"CON .x", "CON_ .x"},
      {"CONSOLE", "CONSOLE"},
      {"COM0", "COM0"},
      {"LPT10", "LPT10"},
      {"Caf\xC3\xA9 \xE6\x94\xB6\xE4\xBB\xB6\xE7\xAE\xB1",
       "Caf\xC3\xA9 \xE6\x94\xB6\xE4\xBB\xB6\xE7\xAE\xB1"},
      // Bytes that are no UTF-8 become U+FFFD; C1 controls '_'.
      {"a\xFF"
       "b\xC2\x85",
       "a\xEF\xBF\xBD"
       "b_"},
  };
  for (const auto& c : kCases) EXPECT_EQ(SafeName(c.text), c.safe) << c.text;
}

TEST(Names, CutsLongNamesOnACharacterBoundary) {
  // 'é' is two bytes: 200 of them are 400 bytes, cut to 127 characters (254 bytes).
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(SafeName(accents).size(), 254u);
  EXPECT_EQ(SafeName(accents), ValidUtf8(SafeName(accents)));
  // A cut that leaves a trailing space or dot drops it.
  EXPECT_EQ(SafeName(std::string(10, 'a') + " .b", 12), std::string(10, 'a'));
}

TEST(Names, NumbersCollisionsWhateverTheCase) {
  // Claims in order, in one folder: each gets the name shown.
  NameSet names;
  names.Take("quillon-manifest.jsonl");
  const struct {
    std::string stem, extension, name;
  } kClaims[] = {
      {"Work", "", "Work"},
      {"work", "", "work (2)"},
      {"WORK", "", "WORK (3)"},
      {"Work (2)", "", "Work (2) (2)"},
      {"Inbox.dbx-1", ".eml", "Inbox.dbx-1.eml"},
      {"INBOX.DBX-1", ".eml", "INBOX.DBX-1 (2).eml"},
      {"\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", "", "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0"},
      {"\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", "",
       "\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 (2)"},
      {"\xC3\x89t\xC3\xA9", "", "\xC3\x89t\xC3\xA9"},
      {"\xC3\xA9T\xC3\x89", "", "\xC3\xA9T\xC3\x89 (2)"},
      {"QUILLON-MANIFEST", ".JSONL", "QUILLON-MANIFEST (2).JSONL"},
      {std::string(255, 'x'), "", std::string(255, 'x')},
      {std::string(255, 'x'), "", std::string(251, 'x') + " (2)"},
      {std::string(300, 'y'), ".eml", std::string(251, 'y') + ".eml"},
      {std::string(300, 'y'), ".eml", std::string(247, 'y') + " (2).eml"},
  };
  for (const auto& c : kClaims) EXPECT_EQ(names.Claim(c.stem, c.extension), c.name) << c.stem;

  // Thunderbird's companions: "A" takes "A.sbd" and "A.msf" with it.
  NameSet mbox;
  EXPECT_EQ(mbox.Claim("A.sbd", "", {".sbd", ".msf"}), "A.sbd");
  EXPECT_EQ(mbox.Claim("A", "", {".sbd", ".msf"}), "A (2)");
  EXPECT_EQ(mbox.Claim("B.msf", "", {".sbd", ".msf"}), "B.msf");
  EXPECT_EQ(mbox.Claim("b", "", {".sbd", ".msf"}), "b (2)");
}

// A folder of many names (the set is split and grown many times on the way): every name taken
// stays taken, in any case, and none that was not is taken; a claim between two steps of
// Propose and Accept numbers as Claim does, and a proposal not accepted takes nothing.
TEST(Names, ManyNamesStayTakenAsTheSetGrows) {
  NameSet names;
  constexpr int kNames = 200000;
  for (int i = 1; i <= kNames; ++i) {
    ASSERT_EQ(names.Claim("Inbox.dbx-" + std::to_string(i), ".eml"),
              "Inbox.dbx-" + std::to_string(i) + ".eml");
  }
  for (int i = 1; i <= kNames; i += 997) {
    const std::string stem = "INBOX.DBX-" + std::to_string(i);
    EXPECT_TRUE(names.IsTaken(stem + ".EML")) << i;
    EXPECT_FALSE(names.IsTaken(stem + ".eml.tmp")) << i;
    EXPECT_FALSE(names.IsTaken("Inbox.dbx-" + std::to_string(i + kNames) + ".eml")) << i;
    const NameSet::Offer offer = names.Propose(stem, ".eml");
    EXPECT_EQ(offer.name, stem + " (2).eml");
    EXPECT_EQ(names.Propose(stem, ".eml").name, offer.name);  // nothing taken by proposing
    names.Accept(offer, stem);
    EXPECT_EQ(names.Claim(stem, ".eml"), stem + " (3).eml");
  }
}

TEST(Names, ModifiedUtf7AsImapNamesFolders) {
  const struct {
    std::string utf8, encoded;
  } kCases[] = {
      {"Sent Items", "Sent Items"},
      {"R&D", "R&-D"},
      {"Caf\xC3\xA9", "Caf&AOk-"},
      {"\xE5\x8F\xB0\xE5\x8C\x97", "&U,BTFw-"},  // RFC 3501's example
      {"~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
       "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"\xF0\x9F\x93\xA7", "&2D3c5w-"},  // outside the BMP: a surrogate pair
      {"\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 & x", "&BB8EMAQ,BDoEMA- &- x"},
  };
  for (const auto& c : kCases) EXPECT_EQ(ToModifiedUtf7(c.utf8), c.encoded) << c.utf8;
}

TEST(Names, TemplateFieldsAndRefusals) {
  MessageFacts facts;
  facts.mailbox = "mail/Inbox.dbx";
  facts.folder = {"Local Folders", "Work"};
  facts.number = 17;
  facts.indexId = 42;
  facts.from = "Ann <ann@example.org>";
  facts.senderName = "Ann";
  facts.senderAddress = "ann@example.org";
  facts.to = "bob@example.org";
  facts.subject = "Re: plans/budget?";
  const int64_t time = 1104746405;  // 2005-01-03 10:00:05 UTC
  const struct {
    const char* text;
    std::string name;
  } kCases[] = {
      {"{mailbox}-{n}", "Inbox.dbx-17"},
      {"{date} {time} {subject}", "2005-01-03 100005 Re_ plans_budget_"},
      {"{folder}-{id}-{from}-{to}", "Work-42-Ann-bob@example.org"},
      {"{unknown}{n}", "{unknown}17"},
      {"{n", "{n"},
      {"CON", "CON_"},
      {"{subject}.", "Re_ plans_budget_"},
  };
  for (const auto& c : kCases) {
    NameTemplate t;
    std::string error;
    ASSERT_TRUE(NameTemplate::Parse(c.text, &t, &error)) << c.text;
    EXPECT_EQ(t.Expand(facts, time, 4), c.name) << c.text;
  }
  NameTemplate t;
  std::string error;
  // {from} is the sender's name, else the address alone.
  ASSERT_TRUE(NameTemplate::Parse("{from}", &t, &error));
  MessageFacts nameless = facts;
  nameless.senderName.clear();
  EXPECT_EQ(t.Expand(nameless, time, 4), "ann@example.org");
  ASSERT_TRUE(NameTemplate::Parse("{x}{n}{y}", &t, &error));
  EXPECT_EQ(t.unknownFields(), (std::vector<std::string>{"x", "y"}));

  // A long subject is cut so that the extension and a number still fit.
  facts.subject = std::string(400, 's');
  ASSERT_TRUE(NameTemplate::Parse("{subject}", &t, &error));
  EXPECT_EQ(t.Expand(facts, time, 4).size(), 251u);

  for (const char* refused : {"{folder}/{n}", "a\\b", ""}) {
    EXPECT_FALSE(NameTemplate::Parse(refused, &t, &error)) << refused;
  }
  NameTemplate::Parse("{folder}/{n}", &t, &error);
  EXPECT_EQ(error,
            "the name template '{folder}/{n}' holds a folder separator ('/' or '\\'); names "
            "cannot make folders");
}

}  // namespace
}  // namespace quillon::output

namespace quillon::output {
namespace {

// Random bytes, as a damaged mailbox gives them: every name is still one the file systems take,
// every mailbox name still printable ASCII.
TEST(Names, AnyBytesGiveASafeName) {
  test::SeedRng rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(rng.Below(600), '\0');
    for (char& c : bytes) c = static_cast<char>(rng.Below(256));
    const std::string name = SafeName(bytes);
    ASSERT_FALSE(name.empty());
    ASSERT_LE(name.size(), kMaxNameBytes);
    ASSERT_EQ(ValidUtf8(name), name);
    ASSERT_EQ(name.find_first_of(std::string("<>:\"/\\|?*\0", 10)), std::string::npos);
    ASSERT_NE(name.back(), '.');
    ASSERT_NE(name.back(), ' ');
    for (char c : ToModifiedUtf7(bytes)) ASSERT_TRUE(c >= 0x20 && c <= 0x7E);
    ParseMailDate(bytes);
  }
}

}  // namespace
}  // namespace quillon::output
