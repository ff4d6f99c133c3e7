#include "output/mail_time.h"

#include <gtest/gtest.h>

namespace quillon::output {
namespace {

TEST(MailTime, ReadsDateHeadersOldAndNew) {
  const struct {
    const char* text;
    const char* iso;  // "" for no date
  } kCases[] = {
      {"Mon, 3 Jan 2005 10:00:00 +0100", "2005-01-03T09:00:00Z"},
      {"3 Jan 2005 10:00:00 -0230", "2005-01-03T12:30:00Z"},
      {"Mon,3 Jan 2005 10:00 GMT", "2005-01-03T10:00:00Z"},
      {"Tue, 29 Feb 2000 23:59:60 +0000", "2000-03-01T00:00:00Z"},
      // Obsolete forms: two- and three-digit years, zone names, military letters, no zone,
      // comments and folding, a spelled-out month.
      {"Fri, 31 Dec 99 23:00:00 EST", "2000-01-01T04:00:00Z"},
      {"1 Jan 49 00:00:00 PDT", "2049-01-01T07:00:00Z"},
      {"1 Jan 101 00:00:00 UT", "2001-01-01T00:00:00Z"},
      {"1 Jan 2001 00:00:00 Q", "2001-01-01T00:00:00Z"},
      {"1 Jan 2001 12:00:00", "2001-01-01T12:00:00Z"},
      {"(sent) Mon (day), 3 (x (nested)) January\r\n 2005 10:00:00 +0100 (CET)",
       "2005-01-03T09:00:00Z"},
      // asctime's order, as some clients wrote it.
      {"Mon Jan  3 10:00:00 2005", "2005-01-03T10:00:00Z"},
      {"Thu, 01 Jan 1970 00:00:00 +0000", "1970-01-01T00:00:00Z"},
      {"Wed, 31 Dec 1969 23:59:59 +0000", "1969-12-31T23:59:59Z"},
      // Dates that do not exist, and no dates.
      {"31 Feb 2005 10:00:00 +0000", ""},
      {"29 Feb 1900 10:00:00 +0000", ""},
      {"3 Jan 2005 24:00:00 +0000", ""},
      {"3 Foo 2005 10:00:00", ""},
      {"3 Jan 2005", ""},
      {"yesterday", ""},
      {"", ""},
  };
  for (const auto& c : kCases) {
    const std::optional<int64_t> t = ParseMailDate(c.text);
    EXPECT_EQ(t ? Iso8601Utc(*t) : "", c.iso) << c.text;
  }
}

TEST(MailTime, FormatsAsctimeAndIsoInUtc) {
  EXPECT_EQ(AsctimeUtc(0), "Thu Jan  1 00:00:00 1970");
  EXPECT_EQ(AsctimeUtc(1104746400), "Mon Jan  3 10:00:00 2005");
  EXPECT_EQ(AsctimeUtc(951868800 + 14 * 86400 + 3723), "Wed Mar 15 01:02:03 2000");
  EXPECT_EQ(AsctimeUtc(-1), "Wed Dec 31 23:59:59 1969");
  EXPECT_EQ(AsctimeUtc(INT64_MAX), "Fri Dec 31 23:59:59 9999");
  EXPECT_EQ(Iso8601Utc(951868800), "2000-03-01T00:00:00Z");
  EXPECT_EQ(Iso8601Utc(INT64_MAX), "");
}

TEST(MailTime, TakesReceivedElseDateElseExportTime) {
  const std::string header =
      "From: a@b\r\nDate: Mon,\r\n 3 Jan 2005 10:00:00 +0000\r\n\r\nDate: body line\r\n";
  EXPECT_EQ(MessageTime(int64_t{7}, header, 9), 7);
  EXPECT_EQ(MessageTime(std::nullopt, header, 9), 1104746400);
  EXPECT_EQ(MessageTime(std::nullopt, "Date: garbage\r\n\r\n", 9), 9);
  // A time past the year 9999 (an index's FILETIME can reach 30828) is none, as is one before
  // the year 0: the From line, {date} and the manifest could not all show it alike.
  EXPECT_EQ(MessageTime(int64_t{900000000000}, header, 9), 1104746400);
  EXPECT_EQ(MessageTime(int64_t{-70000000000}, "", 9), 9);
  EXPECT_TRUE(ShowableTime(253402300799));  // 9999-12-31T23:59:59Z
  EXPECT_FALSE(ShowableTime(253402300800));
  // A Date: below the header block is body text.
  EXPECT_EQ(MessageTime(std::nullopt, "From: a\r\n\r\nDate: 3 Jan 2005 10:00:00\r\n", 9), 9);
  EXPECT_EQ(FindHeader("date: x\r\n\ty\r\n", "Date"), "x\ty");
}

}  // namespace
}  // namespace quillon::output
