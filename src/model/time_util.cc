#include "model/time_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace brimvale {
namespace {

// Times stay within half the span of a nanosecond time point (about 1823 to
// 2116), so adding hours to one or subtracting two of them cannot overflow.
constexpr int64_t kMaxUnixSeconds = (int64_t{1} << 62) / 1000000000;

bool digits(std::string_view s, size_t pos, size_t count, int& out) {
  if (pos + count > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// "yyyy-MM-ddTHH:mm:ss" then an optional fraction, then Z or +-HH:MM / +-HHMM.
// wantFraction selects which of the two parsers this is.
std::optional<Time> parseInternetDateTime(std::string_view s, bool wantFraction) {
  int year, month, day, hour, minute, second;
  if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) ||
      s[7] != '-' || !digits(s, 8, 2, day) || (s[10] != 'T' && s[10] != 't') ||
      !digits(s, 11, 2, hour) || s[13] != ':' || !digits(s, 14, 2, minute) || s[16] != ':' ||
      !digits(s, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60)
    return std::nullopt;

  size_t pos = 19;
  int64_t nanos = 0;
  if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
    if (!wantFraction) return std::nullopt;
    ++pos;
    size_t start = pos;
    int64_t scale = 100000000;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      nanos += (s[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == start) return std::nullopt;
  } else if (wantFraction) {
    return std::nullopt;
  }

  if (pos >= s.size()) return std::nullopt;  // a zone is required
  int offsetSeconds = 0;
  if (s[pos] == 'Z' || s[pos] == 'z') {
    ++pos;
  } else if (s[pos] == '+' || s[pos] == '-') {
    int sign = s[pos] == '-' ? -1 : 1;
    int oh, om;
    if (!digits(s, pos + 1, 2, oh)) return std::nullopt;
    size_t next = pos + 3;
    if (next < s.size() && s[next] == ':') ++next;
    if (!digits(s, next, 2, om)) return std::nullopt;
    if (oh > 23 || om > 59) return std::nullopt;
    offsetSeconds = sign * (oh * 3600 + om * 60);
    pos = next + 2;
  } else {
    return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;

  int64_t days = daysFromCivil({year, month, day});
  int64_t secs = days * 86400 + hour * 3600 + minute * 60 + second - offsetSeconds;
  if (secs > kMaxUnixSeconds || secs < -kMaxUnixSeconds) return std::nullopt;
  return Time(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(secs) +
                                                          std::chrono::nanoseconds(nanos)));
}

std::tm localTm(Time t) {
  std::time_t tt = Clock::to_time_t(t);
  // to_time_t may round; keep the floor so a time just before midnight stays
  // on its own day.
  if (Clock::from_time_t(tt) > t) --tt;
  std::tm tm{};
  localtime_r(&tt, &tm);
  return tm;
}

}  // namespace

std::optional<Time> parseISO8601Fractional(std::string_view text) {
  return parseInternetDateTime(text, true);
}
std::optional<Time> parseISO8601Plain(std::string_view text) {
  return parseInternetDateTime(text, false);
}
std::optional<Time> parseISO8601(std::string_view text) {
  if (auto t = parseISO8601Fractional(text)) return t;
  return parseISO8601Plain(text);
}

std::string formatISO8601(Time t) {
  auto secs = std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
  int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  int64_t rem = secs - days * 86400;
  CivilDate d = civilFromDays(days);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", d.year, d.month, d.day,
                static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60),
                static_cast<int>(rem % 60));
  return buf;
}

Time fromUnixSeconds(double seconds) {
  if (std::isnan(seconds)) return Time{};
  seconds = std::clamp(seconds, static_cast<double>(-kMaxUnixSeconds),
                       static_cast<double>(kMaxUnixSeconds));
  return Time(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}
Time fromUnixMillis(int64_t millis) {
  return Time(std::chrono::milliseconds(
      std::clamp(millis, -kMaxUnixSeconds * 1000, kMaxUnixSeconds * 1000)));
}
std::optional<Time> checkedFromUnixSeconds(double seconds) {
  if (!std::isfinite(seconds) || seconds > static_cast<double>(kMaxUnixSeconds) ||
      seconds < static_cast<double>(-kMaxUnixSeconds))
    return std::nullopt;
  return fromUnixSeconds(seconds);
}
std::optional<Time> checkedFromUnixMillis(int64_t millis) {
  if (millis / 1000 > kMaxUnixSeconds || millis / 1000 < -kMaxUnixSeconds) return std::nullopt;
  return fromUnixMillis(millis);
}
double toUnixSeconds(Time t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Howard Hinnant's civil-date algorithms.
int64_t daysFromCivil(CivilDate d) {
  int64_t y = d.year - (d.month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (d.month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(int64_t z) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(y + (m <= 2 ? 1 : 0)), m, d};
}

CivilDate localDate(Time t) {
  std::tm tm = localTm(t);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

Time startOfLocalDay(CivilDate d) {
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_isdst = -1;
  std::time_t tt = std::mktime(&tm);
  return Clock::from_time_t(std::clamp<std::time_t>(tt, -kMaxUnixSeconds, kMaxUnixSeconds));
}

int64_t calendarDaysBetween(Time a, Time b) {
  return daysFromCivil(localDate(b)) - daysFromCivil(localDate(a));
}

Time truncateToLocalHour(Time t) {
  const std::tm local = localTm(t);
  std::tm tm = local;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  // Keeping tm_isdst picks the right instance of a repeated hour.
  std::time_t tt = std::mktime(&tm);
  if (tt == static_cast<std::time_t>(-1)) return t;
  // Where the full hour does not exist on the local clock (a half-hour
  // daylight-saving jump skips 02:00), mktime lands in the previous hour;
  // the time itself is the start then.
  Time start = Clock::from_time_t(tt);
  std::tm check = localTm(start);
  if (start > t || check.tm_mday != local.tm_mday || check.tm_hour != local.tm_hour ||
      check.tm_min != 0)
    return t;
  return start;
}

std::string dayKey(Time t) {
  CivilDate d = localDate(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::optional<Time> parseDayKey(std::string_view key) {
  int y, m, d;
  if (key.size() != 10 || !digits(key, 0, 4, y) || key[4] != '-' || !digits(key, 5, 2, m) ||
      key[7] != '-' || !digits(key, 8, 2, d))
    return std::nullopt;
  if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return std::nullopt;
  // A day away from the ends of the supported range, whatever the zone.
  int64_t secs = daysFromCivil(CivilDate{y, m, d}) * 86400;
  if (secs > kMaxUnixSeconds - 86400 || secs < -kMaxUnixSeconds + 86400) return std::nullopt;
  return startOfLocalDay(CivilDate{y, m, d});
}

}  // namespace brimvale
