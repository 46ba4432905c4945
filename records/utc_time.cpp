#include "utc_time.h"

#include <cstdio>

namespace brenvik::records {
namespace {

bool Digits(std::string_view s, size_t at, size_t n, int& value) {
  if (at + n > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

constexpr int64_t kMillisPerDay = 86400000;

}  // namespace

bool IsCalendarDate(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// The proleptic Gregorian calendar's days, by eras of 400 years.
int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::optional<std::string> RecordTime(int64_t millis) {
  int64_t days = millis / kMillisPerDay, rest = millis % kMillisPerDay;
  if (rest < 0) rest += kMillisPerDay, --days;
  int year, month, day;
  CivilFromDays(days, year, month, day);
  if (year < 1 || year > 9999) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, int(rest / 3600000),
                int(rest / 60000 % 60), int(rest / 1000 % 60), int(rest % 1000));
  return text;
}

std::optional<std::string> NormaliseLogTime(std::string_view t) {
  int year, month, day, hour, minute, second;
  if (!Digits(t, 0, 4, year) || t.size() < 19 || t[4] != '-' || !Digits(t, 5, 2, month) || t[7] != '-' ||
      !Digits(t, 8, 2, day) || t[10] != 'T' || !Digits(t, 11, 2, hour) || t[13] != ':' || !Digits(t, 14, 2, minute) ||
      t[16] != ':' || !Digits(t, 17, 2, second))
    return std::nullopt;
  if (!IsCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  size_t at = 19;
  int millis = 0;
  if (at < t.size() && t[at] == '.') {
    size_t digits = 0;
    for (++at; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at, ++digits)
      if (digits < 3) millis = millis * 10 + (t[at] - '0');
    if (digits == 0) return std::nullopt;
    for (; digits < 3; ++digits) millis *= 10;
  }
  int offset = 0;  // minutes east of UTC
  if (at + 1 == t.size() && t[at] == 'Z') {
    // UTC
  } else if (at + 6 == t.size() && (t[at] == '+' || t[at] == '-') && t[at + 3] == ':') {
    int oh, om;
    if (!Digits(t, at + 1, 2, oh) || !Digits(t, at + 4, 2, om) || om > 59) return std::nullopt;
    offset = (t[at] == '-' ? -1 : 1) * (oh * 60 + om);
    if (!IsZoneOffset(offset)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  const int64_t ms = DaysFromCivil(year, month, day) * kMillisPerDay +
                     ((int64_t(hour) * 60 + minute - offset) * 60 + second) * 1000 + millis;
  return RecordTime(ms);
}

}  // namespace brenvik::records
