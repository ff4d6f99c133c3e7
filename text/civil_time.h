// The proleptic Gregorian calendar in UTC, without the C library's time zone or locale: one
// conversion between seconds since 1970 and a date, for every time Quillon reads or shows.
#ifndef QUILLON_TEXT_CIVIL_TIME_H_
#define QUILLON_TEXT_CIVIL_TIME_H_

#include <cstdint>
#include <string>

namespace quillon {

// The first and last second of the years 0000-9999, the four digits a year is shown with.
inline constexpr int64_t kFirstFourDigitSecond = -62167219200;
inline constexpr int64_t kLastFourDigitSecond = 253402300799;

// Days since 1970-01-01 of a date (month 1-12); H. Hinnant's days_from_civil.
int64_t DaysFromCivil(int64_t year, int month, int day);

struct CivilTime {
  int64_t year;
  int month, day, hour, minute, second, weekday;  // month 1-12, weekday 0 = Sunday
};
CivilTime ToCivil(int64_t unixSeconds);

// "Thu Jan  1 00:00:00 1970", as asctime shows it (the year clamped to 0000-9999).
std::string AsctimeUtc(int64_t unixSeconds);
// "1970-01-01T00:00:00Z"; empty outside the years 0000-9999.
std::string Iso8601Utc(int64_t unixSeconds);

}  // namespace quillon

#endif  // QUILLON_TEXT_CIVIL_TIME_H_
