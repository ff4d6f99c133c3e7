// The store's code page from its evidence: names on disk, texts the messages repeat, whether the
// bytes read as text of one script, and the messages' charsets as votes.
#include "catalogue/code_page_guess.h"

#include <gtest/gtest.h>

#include <set>

#include "catalogue/text.h"

namespace quillon::catalogue {
namespace {

// Index strings of each kind (the C++ escapes end where a letter follows).
const char kRussian[] =
    "\xCE\xF2\xF7\xB8\xF2 \xE7\xE0 \xED\xE5\xE4\xE5\xEB\xFE";  // Отчёт за неделю
const char kRussianName[] = "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2";  // Иван Петров
const char kFrench[] = "R\xE9union \xE0 K\xF6ln";                         // Réunion à Köln
const char kSpanish[] =
    "Jos\xE9 Garc\xED"
    "a";  // José García
const char kGerman[] =
    "Gr\xFC\xDF"
    "e aus Stra\xDF"
    "e";                                                                // Grüße aus Straße
const char kChinese[] = "\xBB\xE1\xD2\xE9\xB1\xA8\xB8\xE6";             // 会议报告
const char kChineseName[] = "\xD5\xC5\xCE\xB0";                         // 张伟
const char kPolish[] = "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1";  // Zażółć gęślą jaźń
const char kGreek[] = "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC \xED\xDD\xE1";  // Ελληνικά νέα

TEST(CodePageGuessTest, WeighsNamesThenAgreementsThenTheTextThenVotes) {
  const struct {
    const char* what;
    std::vector<std::string> texts;
    std::vector<uint32_t> charsets;
    uint32_t codePage;
    bool sure;  // no other code page fits as well and reads the strings otherwise
  } cases[] = {
      {"Cyrillic words are of one script in 1251 only", {kRussian, kRussianName}, {}, 1251, true},
      {"Greek", {kGreek}, {}, 1253, true},
      {"Chinese: common double-byte characters", {kChinese, kChineseName}, {}, 936, true},
      {"Polish: symbols inside words in every other code page", {kPolish}, {}, 1250, true},
      // Western text reads as words in every Latin code page: 1252 is a default, said to be one.
      {"Latin text alone", {kFrench, kSpanish, kGerman}, {}, 1252, false},
      {"Latin text and iso-8859-1 mail", {kFrench, kSpanish}, {28605, 1252}, 1252, true},
      {"Latin text and iso-8859-2 mail", {kFrench}, {28592, 28592, 1252}, 1250, true},
      // The index in 1252, every message declaring UTF-8: nothing tells 1252 from 1257, whose
      // ED is ķ ("Rematrķcula"), but a message that repeats the subject (below).
      {"1252 strings in UTF-8 mail",
       {"Fw: Cat\xF3lica EAD \x96 \xABRematr\xED"
        "cula\xBB"},
       {65001, 65001},
       1252,
       false},
      {"UTF-8 strings",
       {"R\xC3\xA9union", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82"},
       {},
       65001,
       true},
      // Votes do not overrule the text: Russian words in mail said to be Western.
      {"Cyrillic text, Western votes", {kRussian}, {1252, 1252, 1252}, 1251, true},
      {"nothing 8-bit: the votes", {"plain", "ascii"}, {20866}, 1251, true},
      {"nothing at all", {}, {}, 1252, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CodePageEvidence evidence;
    evidence.texts = c.texts;
    evidence.charsets = c.charsets;
    const CodePageGuess guess = GuessCodePage(evidence);
    EXPECT_EQ(guess.codePage, c.codePage);
    EXPECT_EQ(guess.alsoPossible.empty(), c.sure);
    for (const std::string& text : c.texts) {
      EXPECT_EQ(CodePageToUtf8(text, guess.codePage).find("\xEF\xBF\xBD"), std::string::npos);
    }
  }
}

TEST(CodePageGuessTest, NamesOnDiskAndRepeatedTextsOutweighTheRest) {
  // Folders.dbx names "Работа.dbx" in 1251; the disk holds it in Unicode. Votes for 1252 and
  // Western text do not move it.
  const std::set<std::string> disk = {"Работа.dbx", "Inbox.dbx"};
  CodePageEvidence evidence;
  evidence.fileNames = {"\xD0\xE0\xE1\xEE\xF2\xE0.dbx", "Inbox.dbx"};
  evidence.onDisk = [&](const std::string& name) { return disk.count(name) != 0; };
  evidence.texts = {kFrench};
  evidence.charsets = {1252, 1252};
  CodePageGuess guess = GuessCodePage(evidence);
  EXPECT_EQ(guess.codePage, 1251u);
  EXPECT_TRUE(guess.alsoPossible.empty());
  EXPECT_TRUE(guess.eightBit);

  // The sender's name as the message's own From header gives it (a UTF-8 encoded-word): of
  // the Latin code pages only those where E8 is è agree, and those read the name alike.
  evidence = CodePageEvidence();
  evidence.sameTexts = {{"Fran\xE7ois Lef\xE8vre", "François Lefèvre"}};
  evidence.texts = {kSpanish};
  guess = GuessCodePage(evidence);
  EXPECT_EQ(guess.codePage, 1252u);
  EXPECT_TRUE(guess.alsoPossible.empty());

  // A subject the message repeats as a UTF-8 encoded-word settles what its bytes alone cannot.
  const std::string subject =
      "Fw: Cat\xF3lica EAD \x96 \xABRematr\xED"
      "cula\xBB";
  evidence = CodePageEvidence();
  evidence.sameTexts = {{subject, "Fw: Católica EAD – «Rematrícula»"}};
  evidence.charsets = {65001};
  guess = GuessCodePage(evidence);
  EXPECT_EQ(guess.codePage, 1252u);
  EXPECT_TRUE(guess.alsoPossible.empty());
  EXPECT_EQ(CodePageToUtf8(subject, guess.codePage), "Fw: Católica EAD – «Rematrícula»");
}

TEST(CodePageGuessTest, CharsetsPointToTheAnsiCodePageOfTheirScript) {
  const struct {
    uint32_t charset, ansi;
  } cases[] = {{20866, 1251}, {28595, 1251}, {1251, 1251}, {54936, 936}, {936, 936}, {50220, 932},
               {28592, 1250}, {28605, 1252}, {65001, 0},   {20127, 0},   {12345, 0}};
  for (const auto& c : cases) EXPECT_EQ(AnsiCodePageOf(c.charset), c.ansi) << c.charset;
  for (const uint32_t cp : kStoreCodePages) EXPECT_STRNE(CodePageScript(cp), "") << cp;
}

}  // namespace
}  // namespace quillon::catalogue
