// Decoding the mailbox's header words to UTF-8, its code page, and FILETIMEs to dates.
#include "catalogue/text.h"

#include <gtest/gtest.h>

namespace quillon::catalogue {
namespace {

TEST(TextTest, HeaderTextDecodesEncodedWordsAndLeavesTheRestAsItStands) {
  const struct {
    const char* text;
    const char* utf8;
  } cases[] = {
      {"=?koi8-r?B?8NLJ18XU?=", "Привет"},
      {"Subject =?GB2312?b?1tDOxA==?=", "Subject 中文"},
      {"=?iso-8859-1?Q?caf=E9_au_lait?=", "café au lait"},
      // Adjacent words join, even when a character is split between them.
      {"=?utf-8?Q?a?= =?utf-8?Q?b?=", "ab"},
      {"=?utf-8?Q?=E4=B8?=\r\n =?utf-8?Q?=AD?=", "中"},
      {"=?utf-8?B?5Lit?= =?koi8-r?B?8NLJ18XU?=", "中Привет"},
      {"=?utf-8?Q?a?= x =?utf-8?Q?b?=", "a x b"},
      {"=?utf-8*en?Q?lang?=", "lang"},
      // Unknown charsets and broken words stay as they are.
      {"Re: =?x-unknown?Q?abc?= done", "Re: =?x-unknown?Q?abc?= done"},
      {"=?utf-8?Z?abc?=", "=?utf-8?Z?abc?="},
      {"=?utf-8?B?*?=", "=?utf-8?B?*?="},
      {"=?utf-8?Q?no end", "=?utf-8?Q?no end"},
      {"=?utf-8?Q?sp ace?=", "=?utf-8?Q?sp ace?="},
      {"=?utf-8?Q?100=%?=", "100=%"},
      // Bytes outside the words are in the writer's code page; invalid decoded bytes are marked.
      {"plain \xE9t\xE9", "plain été"},
      {"=?utf-8?B?/w==?=", "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DecodeHeaderText(c.text, kWindows1252), c.utf8);
  }
}

TEST(TextTest, TheCodePageComesFromTheUserThenTheHeadersThenWindows1252) {
  const struct {
    const char* message;
    uint32_t codePage;  // shown by the headers
  } cases[] = {
      {"Subject: =?windows-1251?B?z/Du4uXw6uA=?=\r\nContent-Type: text/plain; charset=koi8-r\r\n"
       "\r\nbody",
       1251},
      // A multipart message names its charset in its parts (as dbxconvert_test.dbx's do).
      {"Content-Type: multipart/alternative;\r\n\tboundary=\"b\"\r\n\r\n--b\r\n"
       "Content-Type: text/plain;\r\n\tcharset=\"koi8-r\"\r\n\r\ntext",
       20866},
      {"content-type: text/html; CHARSET=ISO-8859-1\n\n", 1252},
      {"Content-Type: text/plain; charset=us-ascii\r\n\r\n", 0},
      {"Content-Type: text/plain; charset=x-unknown\r\n\r\n", 0},
      {"Subject: hi\r\n\r\nbody =?koi8-r?Q?x?=", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(CodePageFromMessage(c.message), c.codePage);
  }
  EXPECT_EQ(ChooseCodePage(1251, cases[1].message), 1251u);
  EXPECT_EQ(ChooseCodePage(0, cases[1].message), 20866u);
  EXPECT_EQ(ChooseCodePage(0, "Subject: hi\r\n\r\n"), kWindows1252);
}

TEST(TextTest, FiletimesBecomeUtcDatesAcrossLeapYearsAndCenturies) {
  const struct {
    uint64_t filetime;
    const char* iso;
    int64_t unix;
  } cases[] = {
      {0x01D20C800503D490, "2016-09-11T22:58:32Z", 1473634712},  // dbxconvert_test.dbx
      {0x01C21639E9210F00, "2002-06-17T20:02:30Z", 1024344150},  // mailtransportdbx_test1.dbx
      {1, "1601-01-01T00:00:00Z", -11644473600},
      {0x47B4E8E2FB780, "1604-12-31T01:02:03Z", -11518325877},
      {0x6F2C3A75258000, "1700-03-01T00:00:00Z", -8515238400},
      {0x1BF82AC81016000, "2000-02-29T12:00:00Z", 951825600},
      {0x2309034EF922980, "2100-12-31T23:59:59Z", 4133980799},
      {0x24C85A5ED127A980, "9999-12-31T23:59:59Z", 253402300799},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.iso);
    EXPECT_EQ(FiletimeToIso8601(c.filetime), c.iso);
    int64_t seconds = 0;
    EXPECT_TRUE(FiletimeToUnixSeconds(c.filetime, &seconds));
    EXPECT_EQ(seconds, c.unix);
  }
  int64_t seconds = 0;
  EXPECT_FALSE(FiletimeToUnixSeconds(0, &seconds));
  EXPECT_EQ(FiletimeToIso8601(0), "");
  EXPECT_EQ(FiletimeToIso8601(0x24C85A5ED127A980 + 10000000), "");  // the year 10000
  std::time_t t = 0;
  EXPECT_TRUE(FiletimeToTimeT(0x01D20C800503D490, &t));
  EXPECT_EQ(t, 1473634712);
}

}  // namespace
}  // namespace quillon::catalogue
