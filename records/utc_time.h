// Times as the records keep them: one form, UTC to the millisecond
// ("2026-12-07T14:30:05.123Z"), so that the text sorts as the time does, checked against a
// real calendar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brenvik::records {

// Whether the date is one of the calendar (years 1 to 9999).
bool IsCalendarDate(int year, int month, int day);

// Days since 1970-01-01 of a calendar date, and back.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// Milliseconds since 1970 as the records' form; nothing outside the years 1 to 9999.
std::optional<std::string> RecordTime(int64_t millis);

// A time of a log line in the records' form: "YYYY-MM-DDTHH:MM:SS", a fraction of any length
// (cut to milliseconds), and Z or an offset within ±14:00. Nothing for any other text, or a
// time that no calendar or clock has.
std::optional<std::string> NormaliseLogTime(std::string_view text);

// Whether an offset east of UTC, in minutes, is one that a zone has: within ±14:00.
inline bool IsZoneOffset(int minutes) { return minutes >= -14 * 60 && minutes <= 14 * 60; }

}  // namespace brenvik::records
