#pragma once
// Points in time, ISO 8601 texts and local-calendar day keys.
//
// Every local-calendar computation goes through localtime_r / mktime and so
// follows TZ; nothing here caches a zone.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brimvale {

using Clock = std::chrono::system_clock;
using Time = Clock::time_point;
using Seconds = std::chrono::seconds;

// Parses an internet date-time ("2026-03-05T10:15:30.123Z", "...+09:00").
// The fractional parser requires a fraction, the plain one forbids it; a zone
// designator is always required. Times before 1823 or after 2116 are rejected:
// they do not fit a nanosecond time point with room for arithmetic.
std::optional<Time> parseISO8601Fractional(std::string_view text);
std::optional<Time> parseISO8601Plain(std::string_view text);
// Tries the fractional parser, then the plain one.
std::optional<Time> parseISO8601(std::string_view text);

// UTC, whole seconds (truncated), "Z": "2026-03-05T01:15:30Z".
std::string formatISO8601(Time t);

// Seconds since the epoch as a time (fractions kept). Values beyond the range
// above saturate at its ends; NaN gives the epoch.
Time fromUnixSeconds(double seconds);
Time fromUnixMillis(int64_t millis);
// The same, but nothing for values outside the range (or not finite), for
// counts from untrusted records that are better skipped than saturated.
std::optional<Time> checkedFromUnixSeconds(double seconds);
std::optional<Time> checkedFromUnixMillis(int64_t millis);
double toUnixSeconds(Time t);

// "yyyy-MM-dd" of the local calendar day containing t.
std::string dayKey(Time t);
// Local midnight of a "yyyy-MM-dd" key; absent when the text is not a key or
// the day lies outside the range the ISO 8601 parsers accept.
std::optional<Time> parseDayKey(std::string_view key);

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  bool operator==(const CivilDate&) const = default;
};
// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
int64_t daysFromCivil(CivilDate d);
CivilDate civilFromDays(int64_t days);

// The local calendar date of t.
CivilDate localDate(Time t);
// Local midnight of a date (mktime normalises out-of-range days); saturates
// like fromUnixSeconds.
Time startOfLocalDay(CivilDate d);
inline Time startOfLocalDay(Time t) { return startOfLocalDay(localDate(t)); }
// Whole calendar days from the local day of a to the local day of b.
int64_t calendarDaysBetween(Time a, Time b);

// t with minutes, seconds and sub-seconds of the local hour set to zero; t
// itself when that full hour does not exist on the local clock.
Time truncateToLocalHour(Time t);

}  // namespace brimvale
