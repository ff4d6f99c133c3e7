#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/ascii.h"
#include "text/civil_time.h"
#include "text/code_pages.h"
#include "text/file_names.h"
#include "text/paths.h"
#include "text/utf8.h"

namespace quillon {
namespace {

TEST(Utf8, DecodesWellFormedCharactersAndOneReplacementAByteOtherwise) {
  const struct {
    std::string bytes;
    std::vector<uint32_t> codes;
  } kCases[] = {
      {"a\xC3\xA9\xE5\xB7\xA5\xF0\x9F\x93\xA7", {'a', 0xE9, 0x5DE5, 0x1F4E7}},
      {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF",
       {0x80, 0x7FF, 0x800, 0xFFFF, 0x10FFFF}},
      {"\xC0\xAF", {0xFFFD, 0xFFFD}},                          // an overlong '/'
      {"\xE0\x9F\xBF", {0xFFFD, 0xFFFD, 0xFFFD}},              // overlong, three bytes
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},              // a surrogate
      {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},  // past U+10FFFF
      {"\xF5\x80", {0xFFFD, 0xFFFD}},                          // no lead byte
      {"\xE5\xB7", {0xFFFD, 0xFFFD}},                          // cut short at the end
      {"\xE5"
       "A",
       {0xFFFD, 'A'}},                 // cut short by ASCII
      {"\x80\xBF", {0xFFFD, 0xFFFD}},  // stray continuations
      {"\xEF\xBF\xBD", {0xFFFD}},      // U+FFFD itself, well-formed
  };
  for (const auto& c : kCases) {
    std::vector<uint32_t> codes;
    std::string again;
    for (size_t pos = 0; pos < c.bytes.size();) {
      codes.push_back(NextCodePoint(c.bytes, &pos));
      AppendUtf8(codes.back(), &again);
    }
    EXPECT_EQ(codes, c.codes) << c.bytes;
    // Re-encoding what was read is the sanitised text, built the other way.
    EXPECT_EQ(ValidUtf8(c.bytes), again) << c.bytes;
    EXPECT_EQ(IsUtf8(c.bytes), again == c.bytes) << c.bytes;
  }
  uint32_t code = 0;
  EXPECT_EQ(Utf8Length("\xEF\xBF\xBD", 0, &code), 3u);
  EXPECT_EQ(Utf8Length("\xEF\xBF", 0, &code), 0u);
  EXPECT_EQ(std::string(CutUtf8("\xE6\x94\xB6\xE4\xBB\xB6", 5)), "\xE6\x94\xB6");
  EXPECT_EQ(std::string(CutUtf8("ab", 5)), "ab");
}

// Lenient decoding marks each byte that is no character and goes on; strict decoding refuses the
// text at it, so that another code page can be tried.
TEST(CodePages, DecodeThroughThePlatformLenientlyOrStrictly) {
  const char* kRefused = nullptr;  // strict decoding is false
  const struct {
    const char* bytes;
    uint32_t codePage;
    const char* utf8;
    const char* strict;
  } kCases[] = {
      // The folder name in dbxconvert_test.dbx's file-info area.
      {"\xC8\xF1\xF5\xEE\xE4\xFF\xF9\xE8\xE5", 1251, "Исходящие", "Исходящие"},
      {"\xD6\xD0\xCE\xC4", 936, "中文", "中文"},
      {"caf\xE9 \x80", 1252, "café €", "café €"},
      {"\xF0\xD2\xC9\xD7\xC5\xD4", 20866, "Привет", "Привет"},
      {"\x1B$B$3$s\x1B(B", 50220, "こん", "こん"},
      {"plain", 936, "plain", "plain"},
      // Bytes that are no character: a lead byte cut off at the end, one before a space.
      {"\xD6\xD0\x81", 936, "中\xEF\xBF\xBD", kRefused},
      {"\x81 x", 936, "\xEF\xBF\xBD x", kRefused},
      {"a\xC3(b\xED\xA0\x80", 65001, "a\xEF\xBF\xBD(b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       kRefused},
      {"\xF4\x90\x80\x80\xF0\x9F\x98\x80", 65001,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80", kRefused},
      {"\xF0\x9F\x98\x80", 65001, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      // No such code page: the ASCII stays, the rest is marked; strictly, only ASCII passes.
      {"a\xE9", 12345, "a\xEF\xBF\xBD", kRefused},
      {"ascii", 12345, "ascii", "ascii"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    // Wine has no tables for ISO-2022-JP (Windows and glibc have).
    if (c.codePage == 50220 && !CodePageAvailable(50220)) continue;
    EXPECT_EQ(CodePageToUtf8(c.bytes, c.codePage), c.utf8);
    std::string out;
    EXPECT_EQ(CodePageToUtf8Strict(c.bytes, c.codePage, &out), c.strict != kRefused);
    if (c.strict != kRefused) {
      EXPECT_EQ(out, c.strict);
    }
  }
  EXPECT_TRUE(CodePageAvailable(1251));
  EXPECT_FALSE(CodePageAvailable(12345));
}

TEST(CodePages, CharsetNamesGiveTheirCodePage) {
  const struct {
    const char* charset;
    uint32_t codePage;
  } kCases[] = {
      {" Windows-1251 ", 1251},
      {"gbk", 936},
      {"ISO-8859-1*en", 1252},
      {"KOI8-R", 20866},
      {"utf-8", 65001},
      {"x-unknown", 0},
      {"", 0},
      {"gb18030", 54936},
      {"iso-8859-5", 28595},
      {"utf-8 x", 0},
  };
  for (const auto& c : kCases) EXPECT_EQ(CodePageOfCharset(c.charset), c.codePage) << c.charset;
}

#ifndef _WIN32
// More charsets than the converters kept for them, twice over: each still decodes its own bytes
// once older ones have been closed to make room.
TEST(CodePages, CharsetsByIconvNameDecodePastTheConvertersKept) {
  std::string out;
  for (int round = 0; round < 2; ++round) {
    for (int part = 1; part <= 16; ++part) {
      if (part == 12) continue;  // no such part
      const std::string name = "ISO-8859-" + std::to_string(part);
      SCOPED_TRACE(name);
      ASSERT_TRUE(IconvToUtf8Strict("A\xA0", name.c_str(), &out));
      EXPECT_EQ(out, "A\xC2\xA0");
    }
    for (const char* name : {"UTF-7", "IBM855", "CP1125", "VISCII"}) {
      ASSERT_TRUE(IconvToUtf8Strict("x", name, &out)) << name;
      EXPECT_EQ(out, "x");
    }
  }
  EXPECT_TRUE(IconvToUtf8Strict("+ZeVnLIqe-", "UTF-7", &out));
  EXPECT_EQ(out, "日本語");
  EXPECT_FALSE(IconvToUtf8Strict("\xA1", "ISO-8859-6", &out));
  EXPECT_FALSE(IconvToUtf8Strict("x", "NO-SUCH-CHARSET", &out));
}
#endif

TEST(FileNames, DeviceNamesGetAnUnderscoreWhateverTheCaseOrExtension) {
  const struct {
    std::string name;
    size_t maxBytes;
    std::string finished;
  } kCases[] = {
      {"CON", 100, "CON_"},
      {"prn", 100, "prn_"},
      {"Aux.txt", 100, "Aux_.txt"},
      {"NUL.tar.gz", 100, "NUL_.tar.gz"},
      {"com1", 100, "com1_"},
      {"LPT9 .x", 100, "LPT9_ .x"},
      {"COM\xC2\xB9", 100, "COM\xC2\xB9_"},
      {"lpt\xC2\xB3.log", 100, "lpt\xC2\xB3_.log"},
      {"nul.", 100, "nul_"},
      {"aux.abcd", 8, "aux_.abc"},
      // Not devices.
      {"COM0", 100, "COM0"},
      {"LPT10", 100, "LPT10"},
      {"CONSOLE", 100, "CONSOLE"},
      {"my con", 100, "my con"},
      {"COM\xC2\xB4", 100, "COM\xC2\xB4"},
      {"x.CON", 100, "x.CON"},
      // Cut on a character boundary, trailing dots and spaces dropped, nothing left is "_".
      {"ab\xE5\xB7\xA5", 4, "ab"},
      {"a \xE5\xB7\xA5", 4, "a"},
      {"ends. . .", 100, "ends"},
      {"...", 100, "_"},
      {"", 100, "_"},
  };
  for (const auto& c : kCases) EXPECT_EQ(FinishName(c.name, c.maxBytes), c.finished) << c.name;
  for (uint32_t code :
       {0u, 0x1Fu, 0x7Fu, 0x85u, 0x9Fu, uint32_t{'<'}, uint32_t{'|'}, uint32_t{'\\'}}) {
    EXPECT_TRUE(IsForbiddenInName(code)) << code;
  }
  for (uint32_t code : {uint32_t{' '}, uint32_t{'.'}, uint32_t{'a'}, 0xA0u, 0xFFFDu}) {
    EXPECT_FALSE(IsForbiddenInName(code)) << code;
  }
}

TEST(Paths, JoinsWithOneSeparator) {
  EXPECT_EQ(JoinPath("a", "b", '/'), "a/b");
  EXPECT_EQ(JoinPath("a/", "b", '/'), "a/b");
  EXPECT_EQ(JoinPath("/", "b", '/'), "/b");
  EXPECT_EQ(JoinPath("", "b", '/'), "b");
  EXPECT_EQ(JoinPath("a", "b"), std::string("a") + kPathSeparator + "b");
  EXPECT_TRUE(IsPathSeparator('/'));
  EXPECT_EQ(IsPathSeparator('\\'), std::string(kPathSeparators).find('\\') != std::string::npos);
}

// Every day from 1 March 1599 to the end of 2400 against a count kept day by day with the
// leap-year rule, both ways.
TEST(CivilTime, AgreesWithADayByDayCount) {
  const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t days = DaysFromCivil(1599, 3, 1);
  ASSERT_EQ(days, -135446);  // date -d 1599-03-01 +%s gives -11702534400, 135,446 days
  int weekday = ToCivil(days * 86400).weekday;
  int year = 1599, month = 3, day = 1;
  while (year <= 2400) {
    const CivilTime c = ToCivil(days * 86400 + 3723);
    ASSERT_EQ(c.year, year);
    ASSERT_EQ(c.month, month);
    ASSERT_EQ(c.day, day);
    ASSERT_EQ(c.hour * 3600 + c.minute * 60 + c.second, 3723);
    ASSERT_EQ(c.weekday, weekday);
    ASSERT_EQ(DaysFromCivil(year, month, day), days);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (++day > kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
    ++days;
    weekday = (weekday + 1) % 7;
  }
  EXPECT_EQ(ToCivil(0).weekday, 4);  // a Thursday
  EXPECT_EQ(AsctimeUtc(-1), "Wed Dec 31 23:59:59 1969");
  EXPECT_EQ(AsctimeUtc(INT64_MIN), "Sat Jan  1 00:00:00 0000");
  EXPECT_EQ(Iso8601Utc(kLastFourDigitSecond), "9999-12-31T23:59:59Z");
  EXPECT_EQ(Iso8601Utc(kLastFourDigitSecond + 1), "");
  EXPECT_EQ(Iso8601Utc(kFirstFourDigitSecond - 1), "");
}

TEST(Ascii, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLowered("Hello, WORLD \xC3\x89"), "hello, world \xC3\x89");
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Content-Type", "content-TYPE"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("ab", "abc"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by 0x20 too
}

}  // namespace
}  // namespace quillon
