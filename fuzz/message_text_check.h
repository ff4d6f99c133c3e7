// The checks of what reads a message's text, shared by the fuzzers and by the unit test that
// replays their findings (a finding fails the same way under g++ and clang):
// - CheckMessageFacts: the facts of a message (FactsOf) from its index record and the first
//   bytes of its text: every text valid UTF-8, every time one that every format can show, the
//   index's strings decoded the same whatever the message declares, header lookup as RFC 5322
//   unfolds a header section, and a parsed Date: that reads back as the same time.
// - CheckMailDate: ParseMailDate on dates made from fields, in the forms mail programs write,
//   against the C library's own calendar (timegm).
#ifndef QUILLON_FUZZ_MESSAGE_TEXT_CHECK_H_
#define QUILLON_FUZZ_MESSAGE_TEXT_CHECK_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/indexed_record.h"
#include "cli/message_facts.h"
#include "cli/plan_walk.h"
#include "fuzz/fuzz_input.h"
#include "output/mail_time.h"
#include "text/ascii.h"
#include "text/civil_time.h"

namespace quillon::fuzzing {

namespace text_check {

// A header's value as RFC 5322 reads a header section: lines up to the first empty one, each
// line that begins with white space part of the field before it, the field's name compared
// without case, the value's leading white space dropped. Written apart from FindHeader, line by
// line, so that the two can be compared.
inline std::optional<std::string> ReferenceHeader(std::string_view block, std::string_view name) {
  std::vector<std::string> fields;
  for (size_t at = 0; at < block.size();) {
    const size_t lf = block.find('\n', at);
    std::string_view line = block.substr(at, lf == std::string_view::npos ? lf : lf - at);
    at = lf == std::string_view::npos ? block.size() : lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
      fields.back() += line;
    } else {
      fields.emplace_back(line);
    }
  }
  for (const std::string& field : fields) {
    if (field.size() <= name.size() || field[name.size()] != ':') continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = AsciiLower(field[i]) == AsciiLower(name[i]);
    if (!same) continue;
    const size_t value = field.find_first_not_of(" \t\r\n", name.size() + 1);
    return value == std::string::npos ? std::string() : field.substr(value);
  }
  return std::nullopt;
}

// "Mon, 3 Jan 2005 10:00:00 +0000" and the other forms of `t`, each of which must read back as t.
inline std::vector<std::string> FormsOf(int64_t t) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const CivilTime c = ToCivil(t);
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", c.hour, c.minute, c.second);
  const std::string year = std::to_string(c.year);
  const std::string day = std::to_string(c.day);
  return {std::string(kDays[c.weekday]) + ", " + day + " " + kMonths[c.month - 1] + " " + year +
              " " + clock + " +0000",
          day + " " + kMonths[c.month - 1] + " " + year + " " + clock + " GMT", AsctimeUtc(t)};
}

}  // namespace text_check

// The input: one byte of choices (the store's code page; whether an index record lists the
// message), the record's strings (subject, sender's name and address, receiver's name and
// address, Message-ID, each ended by a NUL), its received and sent FILETIMEs (8 bytes each) and
// flags (4); the rest is the start of the message's text, as much as the command reads of it.
inline std::string CheckMessageFacts(std::string_view bytes) {
  using namespace text_check;
  static const uint32_t kCodePages[] = {1252, 1251, 936, 1250};
  FuzzInput in(bytes);
  const uint8_t choice = in.Byte();
  StoreFolders store;
  store.codePage.codePage = kCodePages[choice & 3];
  std::optional<catalogue::MessageInfo> record;
  if (choice & 4) {
    record.emplace();
    for (std::string* s : {&record->subject, &record->senderName, &record->senderAddress,
                           &record->receiverName, &record->receiverAddress, &record->messageId}) {
      *s = in.Until('\0');
    }
    record->received = in.Number(8);
    record->sent = in.Number(8);
    record->flags = static_cast<uint32_t>(in.Number(4));
    record->indexId = 1;
  }
  const std::string_view start = in.Take(kStartBytes);
  rescue::PlannedMessage planned;
  planned.firstBlock = 0x10000;
  planned.blocks = 1;
  const catalogue::MessageInfo* info = record ? &*record : nullptr;
  const output::MessageFacts facts = FactsOf("Inbox.dbx", info, planned, 1, start, store);

  const std::pair<const char*, const std::string*> texts[] = {
      {"subject", &facts.subject},
      {"from", &facts.from},
      {"to", &facts.to},
      {"sender's name", &facts.senderName},
      {"sender's address", &facts.senderAddress},
      {"Message-ID", &facts.messageId}};
  for (const auto& [name, text] : texts) {
    if (!IsUtf8(*text)) return std::string("the ") + name + " is not UTF-8";
  }
  for (const std::optional<int64_t>& t : {facts.received, facts.sent}) {
    if (t && !output::ShowableTime(*t)) {
      return "a time outside the years 0000-9999 (" + std::to_string(*t) + ") taken as one";
    }
  }
  // The index's strings are in the store's code page, whatever charset the message declares.
  if (info != nullptr) {
    const output::MessageFacts alone = FactsOf("Inbox.dbx", info, planned, 1, "", store);
    const std::pair<const std::string*, const std::string*> same[] = {
        {&alone.subject, &facts.subject},
        {&alone.from, &facts.from},
        {&alone.to, &facts.to},
        {&alone.senderName, &facts.senderName}};
    for (const auto& [fromIndex, withText] : same) {
      if (!fromIndex->empty() && *fromIndex != *withText) {
        return "an index string decoded by what the message says: '" + *fromIndex + "' became '" +
               *withText + "'";
      }
    }
  }

  // Header lookup: the names the facts look up, and the first field's own name.
  std::vector<std::string> names = {"Subject", "From", "To", "Date", "Message-ID"};
  const size_t colon = start.find(':');
  if (colon != std::string_view::npos && colon < 80) names.emplace_back(start.substr(0, colon));
  for (const std::string& name : names) {
    if (name.empty() || name.find_first_of(":\r\n") != std::string::npos) continue;
    const std::optional<std::string> found = output::FindHeader(start, name);
    if (output::FindHeader(start, name) != ReferenceHeader(start, name)) {
      return "header " + name + " read otherwise";
    }
  }
  // A date read from the header reads back as itself in every form a date is written in.
  if (const std::optional<std::string> date = output::FindHeader(start, "Date")) {
    const std::optional<int64_t> t = output::ParseMailDate(*date);
    if (t && output::ShowableTime(*t) && ToCivil(*t).year >= 1000) {
      for (const std::string& form : FormsOf(*t)) {
        if (output::ParseMailDate(form) != t) return "'" + form + "' does not read back";
      }
    }
  }
  return {};
}

// The input gives a date's fields and how it is written; the date read must be the one the C
// library's calendar makes of the fields, and none when they name no time.
inline std::string CheckMailDate(std::string_view bytes) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const struct {
    const char* name;
    int hours;
  } kZones[] = {{"UT", 0},   {"GMT", 0},  {"EST", -5}, {"EDT", -4}, {"CST", -6},
                {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  FuzzInput in(bytes);
  const int year = static_cast<int>(in.Number(2) % 10000);
  const int month = in.Byte() % 14;  // 0 and 13 are none
  const int day = in.Byte() % 33;
  const int hour = in.Byte() % 26;
  const int minute = in.Byte() % 62;
  const int second = in.Byte() % 62;
  const uint8_t zone = in.Byte();
  // Bits 0-1: the year's digits; 2: no seconds; 3: a day's name (4: with its comma, 5-7: which);
  // with four digits, 0x80 of `spacing`: asctime's order.
  const uint8_t form = in.Byte();
  // Bits 0-1: what separates the words (folding, two spaces); 2: a comment before the year.
  const uint8_t spacing = in.Byte();

  // The year as written: four digits, or two or three (obsolete), which readers complete.
  int shown = year;
  char yearText[8];
  if ((form & 0x03) == 1) {
    std::snprintf(yearText, sizeof yearText, "%02d", year % 100);
    shown = year % 100 + (year % 100 < 50 ? 2000 : 1900);
  } else if ((form & 0x03) == 2) {
    std::snprintf(yearText, sizeof yearText, "%03d", 100 + year % 900);
    shown = 100 + year % 900 + 1900;
  } else {
    std::snprintf(yearText, sizeof yearText, "%04d", year);
  }
  const bool withSeconds = (form & 0x04) == 0;
  char clock[16];
  if (withSeconds) {
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", hour, minute, second);
  } else {
    std::snprintf(clock, sizeof clock, "%02d:%02d", hour, minute);
  }
  // The zone: +hhmm, a name, a military letter (as -0000), or none (as UTC).
  int64_t offset = 0;
  std::string zoneText;
  switch (zone & 0x03) {
    case 0: {
      const int hh = (zone >> 2) % 24, mm = (zone >> 2) % 60;
      char text[8];
      std::snprintf(text, sizeof text, "%c%02d%02d", zone & 0x80 ? '-' : '+', hh, mm);
      zoneText = text;
      offset = (zone & 0x80 ? -1 : 1) * (hh * 3600 + mm * 60);
      break;
    }
    case 1:
      zoneText = kZones[(zone >> 2) % 10].name;
      offset = kZones[(zone >> 2) % 10].hours * 3600;
      break;
    case 2:
      zoneText = std::string(1, static_cast<char>('A' + (zone >> 2) % 26));
      break;
    default:
      break;
  }
  const std::string monthName = month >= 1 && month <= 12 ? kMonths[month - 1] : "Foo";
  const std::string space = spacing & 1 ? "\r\n\t" : spacing & 2 ? "  " : " ";
  const std::string comment = spacing & 4 ? " (a (nested) comment) " : space;
  std::string text;
  if (form & 0x08) text += std::string(kDays[(form >> 5) % 7]) + (form & 0x10 ? ", " : " ");
  if (spacing & 0x80 && (form & 0x03) == 0) {
    // asctime's order: month day time year
    text += monthName + space + std::to_string(day) + space + clock + comment + yearText;
  } else {
    text += std::to_string(day) + space + monthName + comment + yearText + space + clock;
  }
  if (!zoneText.empty()) text += space + zoneText;

  static const int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (shown % 4 == 0 && shown % 100 != 0) || shown % 400 == 0;
  const bool exists = shown >= 1000 && month >= 1 && month <= 12 && day >= 1 &&
                      day <= kDaysIn[month - 1] + (month == 2 && leap) && hour <= 23 &&
                      minute <= 59 && (!withSeconds || second <= 60);
  std::optional<int64_t> expected;
  if (exists) {
    std::tm tm{};
    tm.tm_year = shown - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = withSeconds ? second : 0;
    expected = static_cast<int64_t>(timegm(&tm)) - offset;
  }
  const std::optional<int64_t> got = output::ParseMailDate(text);
  if (got != expected) {
    return "'" + text + "' read as " + (got ? std::to_string(*got) : "none") + ", not " +
           (expected ? std::to_string(*expected) : "none");
  }
  return {};
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_FUZZ_MESSAGE_TEXT_CHECK_H_
