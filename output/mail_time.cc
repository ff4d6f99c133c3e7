#include "output/mail_time.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "text/ascii.h"

namespace quillon::output {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int DaysInMonth(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 1-12 for a month's name (its first three letters decide, as some writers spell it out).
int MonthOf(std::string_view word) {
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoringAsciiCase(word.substr(0, 3), kMonths[m])) return m + 1;
  }
  return 0;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

int64_t Number(std::string_view s) {
  int64_t n = 0;
  for (char c : s) n = n * 10 + (c - '0');
  return n;
}

// "hh:mm" or "hh:mm:ss" into seconds of the day; false when it is not one.
bool ParseClock(std::string_view s, int64_t* seconds) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t start = 0;
  while (count < 3) {
    const size_t colon = s.find(':', start);
    const std::string_view part =
        s.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (!AllDigits(part) || part.size() > 2) return false;
    parts[count++] = static_cast<int>(Number(part));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
    if (count == 3) return false;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return false;
  *seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
  return true;
}

// The zone's offset from UTC in seconds; false when `s` is no zone.
bool ParseZone(std::string_view s, int64_t* offset) {
  if (s.size() == 5 && (s[0] == '+' || s[0] == '-') && AllDigits(s.substr(1))) {
    const int64_t hours = Number(s.substr(1, 2)), minutes = Number(s.substr(3, 2));
    if (minutes > 59) return false;
    *offset = (s[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
  }
  static const struct {
    const char* name;
    int hours;
  } kZones[] = {{"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
                {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& zone : kZones) {
    if (EqualsIgnoringAsciiCase(s, zone.name)) {
      *offset = zone.hours * 3600;
      return true;
    }
  }
  // Military letters were given with the wrong sign so often that they mean nothing (RFC 5322
  // 4.3): -0000, as any other zone name.
  for (char c : s) {
    if (!IsAlpha(c)) return false;
  }
  *offset = 0;
  return !s.empty();
}

// The date's words, without comments (nested, as RFC 5322 allows) and separators.
std::vector<std::string_view> Words(std::string_view text, std::string* storage) {
  storage->clear();
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (depth > 0) {
      if (c == '\\') {
        ++i;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')') {
        --depth;
      }
      continue;
    }
    if (c == '(') {
      depth = 1;
      storage->push_back(' ');
    } else {
      storage->push_back(c == ',' ? ' ' : c);
    }
  }
  std::vector<std::string_view> words;
  const std::string_view s(*storage);
  size_t i = 0;
  while (i < s.size() && words.size() < 16) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    const size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    if (i > start) words.push_back(s.substr(start, i - start));
  }
  return words;
}

}  // namespace

std::optional<int64_t> ParseMailDate(std::string_view text) {
  std::string storage;
  std::vector<std::string_view> w = Words(text, &storage);
  size_t i = 0;
  // A day's name, with or without its comma.
  if (i < w.size() && !w[i].empty() && IsAlpha(w[i][0]) && MonthOf(w[i]) == 0) ++i;
  const auto at = [&w](size_t k) { return k < w.size() ? w[k] : std::string_view(); };
  std::string_view dayWord, monthWord, yearWord, clockWord;
  if (AllDigits(at(i))) {
    // day month year time [zone]
    dayWord = at(i);
    monthWord = at(i + 1);
    yearWord = at(i + 2);
    clockWord = at(i + 3);
  } else if (MonthOf(at(i)) != 0) {
    // asctime's order: month day time year [zone]
    monthWord = at(i);
    dayWord = at(i + 1);
    clockWord = at(i + 2);
    yearWord = at(i + 3);
  } else {
    return std::nullopt;
  }
  const std::string_view zoneWord = at(i + 4);
  const int month = MonthOf(monthWord);
  if (month == 0 || !AllDigits(dayWord) || dayWord.size() > 2 || !AllDigits(yearWord) ||
      yearWord.size() > 4) {
    return std::nullopt;
  }
  int64_t year = Number(yearWord);
  if (yearWord.size() == 2) {
    year += year < 50 ? 2000 : 1900;
  } else if (yearWord.size() == 3) {
    year += 1900;
  }
  const int day = static_cast<int>(Number(dayWord));
  if (year < 1000 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  int64_t clock = 0;
  if (!ParseClock(clockWord, &clock)) return std::nullopt;
  int64_t offset = 0;
  if (!zoneWord.empty() && !ParseZone(zoneWord, &offset)) offset = 0;
  return DaysFromCivil(year, month, day) * 86400 + clock - offset;
}

std::optional<std::string> FindHeader(std::string_view block, std::string_view name) {
  size_t pos = 0;
  while (pos < block.size()) {
    size_t end = block.find('\n', pos);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return std::nullopt;  // the end of the header block
    if (line.size() > name.size() && line[name.size()] == ':' &&
        EqualsIgnoringAsciiCase(line.substr(0, name.size()), name)) {
      std::string value(line.substr(name.size() + 1));
      // Continuation lines begin with white space.
      pos = end + 1;
      while (pos < block.size() && (block[pos] == ' ' || block[pos] == '\t')) {
        size_t next = block.find('\n', pos);
        if (next == std::string_view::npos) next = block.size();
        std::string_view more = block.substr(pos, next - pos);
        if (!more.empty() && more.back() == '\r') more.remove_suffix(1);
        value += more;
        pos = next + 1;
      }
      size_t first = 0;
      while (first < value.size() && IsBlank(value[first])) ++first;
      return value.substr(first);
    }
    pos = end + 1;
  }
  return std::nullopt;
}

std::string DisplayNameOf(std::string_view value) {
  const auto trim = [](std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
  };
  std::string_view name;
  const size_t open = value.find('<');
  if (open != std::string_view::npos) {
    name = trim(value.substr(0, open));
  } else if (const size_t paren = value.find('('); paren != std::string_view::npos) {
    const size_t close = value.rfind(')');
    name =
        trim(value.substr(paren + 1, close > paren ? close - paren - 1 : std::string_view::npos));
  }
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = trim(name.substr(1, name.size() - 2));
  }
  return std::string(name);
}

bool ShowableTime(int64_t t) { return t >= kFirstFourDigitSecond && t <= kLastFourDigitSecond; }

int64_t MessageTime(const std::optional<int64_t>& received, std::string_view headerBlock,
                    int64_t exportTime) {
  if (received && ShowableTime(*received)) return *received;
  if (const std::optional<std::string> date = FindHeader(headerBlock, "Date")) {
    const std::optional<int64_t> t = ParseMailDate(*date);
    if (t && ShowableTime(*t)) return *t;
  }
  return exportTime;
}

}  // namespace quillon::output
