#include "text/civil_time.h"

#include <cstring>

namespace quillon {

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilTime ToCivil(int64_t t) {
  int64_t days = t / 86400;
  int64_t rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilTime c{};
  c.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  // H. Hinnant's civil_from_days.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = yoe + era * 400 + (c.month <= 2);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

namespace {

// `value` (0 <= value < 10^width) as `width` digits, leading zeros kept, at `to`.
void Digits(char* to, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) to[i] = static_cast<char>('0' + value % 10);
}

}  // namespace

// Both are made for every message an export writes (the From line, the manifest's times): digit
// by digit, which costs a tenth of a formatted print.
std::string AsctimeUtc(int64_t t) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  static const char kDays[] = "SunMonTueWedThuFriSat";
  if (t < kFirstFourDigitSecond) t = kFirstFourDigitSecond;
  if (t > kLastFourDigitSecond) t = kLastFourDigitSecond;
  const CivilTime c = ToCivil(t);
  // "Thu Jan  1 00:00:00 1970": the day padded with a space, as asctime pads it.
  char text[24] = {0, 0, 0, ' ', 0, 0, 0, ' ', 0, 0, ' ', 0, 0, ':', 0, 0, ':', 0, 0, ' '};
  std::memcpy(text, kDays + 3 * c.weekday, 3);
  std::memcpy(text + 4, kMonths + 3 * (c.month - 1), 3);
  Digits(text + 8, c.day, 2);
  if (c.day < 10) text[8] = ' ';
  Digits(text + 11, c.hour, 2);
  Digits(text + 14, c.minute, 2);
  Digits(text + 17, c.second, 2);
  Digits(text + 20, static_cast<int>(c.year), 4);
  return std::string(text, sizeof text);
}

std::string Iso8601Utc(int64_t t) {
  if (t < kFirstFourDigitSecond || t > kLastFourDigitSecond) return "";
  const CivilTime c = ToCivil(t);
  char text[20] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0, 'T', 0, 0, ':', 0, 0, ':', 0, 0, 'Z'};
  Digits(text, static_cast<int>(c.year), 4);
  Digits(text + 5, c.month, 2);
  Digits(text + 8, c.day, 2);
  Digits(text + 11, c.hour, 2);
  Digits(text + 14, c.minute, 2);
  Digits(text + 17, c.second, 2);
  return std::string(text, sizeof text);
}

}  // namespace quillon
