#include "model/time_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/test_env.h"

namespace brimvale {
namespace {

Time utc(const char* text) { return *parseISO8601(text); }

TEST(ISO8601, ParsesBothFormsAndRequiresAZone) {
  struct Case {
    const char* text;
    bool fractional, plain;
    int64_t unixMillis;
  };
  const Case cases[] = {
      {"2026-03-05T10:15:30Z", false, true, 1772705730000},
      {"2026-03-05T10:15:30.250Z", true, false, 1772705730250},
      {"2026-03-05T19:15:30+09:00", false, true, 1772705730000},
      {"2026-03-05T05:15:30.5-0500", true, false, 1772705730500},
      {"2026-03-05T10:15:30", false, false, 0},
      {"2026-03-05 10:15:30Z", false, false, 0},
      {"2026-02-30T10:15:30Z", false, false, 0},
      {"2026-03-05T10:15:30.Z", false, false, 0},
      {"", false, false, 0},
      {"2026-03-05T10:15:30Zjunk", false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseISO8601Fractional(c.text).has_value(), c.fractional);
    EXPECT_EQ(parseISO8601Plain(c.text).has_value(), c.plain);
    auto t = parseISO8601(c.text);
    ASSERT_EQ(t.has_value(), c.fractional || c.plain);
    if (t) {
      EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(t->time_since_epoch()).count(),
                c.unixMillis);
    }
  }
}

TEST(ISO8601, WritesUTCWholeSeconds) {
  EXPECT_EQ(formatISO8601(utc("2026-03-05T19:15:30.999+09:00")), "2026-03-05T10:15:30Z");
  EXPECT_EQ(formatISO8601(utc("1969-12-31T23:59:59.5Z")), "1969-12-31T23:59:59Z");
}

TEST(ISO8601, RejectsTimesOutsideTheSupportedRange) {
  // Nanosecond time points span about 292 years each way; garbage years must
  // not overflow them.
  for (const char* text : {"9999-12-31T23:59:59Z", "0001-01-01T00:00:00Z",
                           "2200-01-01T00:00:00.5Z", "1800-01-01T00:00:00Z"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseISO8601(text));
  }
  for (const char* text : {"2100-01-01T00:00:00Z", "1900-01-01T00:00:00Z"}) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(parseISO8601(text));
    EXPECT_EQ(formatISO8601(*parseISO8601(text)), text);
  }
}

TEST(UnixTime, OutOfRangeValuesSaturate) {
  const Time latest = fromUnixSeconds(1e300);
  const Time earliest = fromUnixSeconds(-1e300);
  EXPECT_GT(latest, utc("2100-01-01T00:00:00Z"));
  EXPECT_LT(earliest, utc("1900-01-01T00:00:00Z"));
  EXPECT_EQ(fromUnixSeconds(std::numeric_limits<double>::infinity()), latest);
  EXPECT_EQ(fromUnixMillis(std::numeric_limits<int64_t>::max()), latest);
  EXPECT_EQ(fromUnixMillis(std::numeric_limits<int64_t>::min()), earliest);
  EXPECT_EQ(fromUnixSeconds(std::nan("")), Time{});
  // Differences of any two times stay representable.
  EXPECT_GT(latest - earliest, Clock::duration::zero());
  EXPECT_EQ(fromUnixSeconds(1772705730.5), utc("2026-03-05T10:15:30.500Z"));
  EXPECT_EQ(fromUnixMillis(1772705730250), utc("2026-03-05T10:15:30.250Z"));
  EXPECT_DOUBLE_EQ(toUnixSeconds(utc("2026-03-05T10:15:30.250Z")), 1772705730.25);
}

TEST(UnixTime, CheckedConversionsRefuseWhatTheOthersSaturate) {
  EXPECT_EQ(checkedFromUnixSeconds(1772705730.5), utc("2026-03-05T10:15:30.500Z"));
  EXPECT_EQ(checkedFromUnixMillis(1772705730250), utc("2026-03-05T10:15:30.250Z"));
  // 2200 still fits a nanosecond time point, but adding hours near its end
  // would not: it is refused like any other out-of-range record time.
  const double year2200 = 7258118400;
  EXPECT_FALSE(checkedFromUnixSeconds(year2200));
  EXPECT_FALSE(checkedFromUnixMillis(static_cast<int64_t>(year2200) * 1000));
  EXPECT_FALSE(checkedFromUnixSeconds(-year2200));
  EXPECT_FALSE(checkedFromUnixSeconds(std::nan("")));
  EXPECT_FALSE(checkedFromUnixSeconds(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(checkedFromUnixMillis(std::numeric_limits<int64_t>::min()));
}

TEST(DayKey, FollowsTheLocalCalendarAcrossMidnightAndDST) {
  test::setTimeZone("America/New_York");
  // 04:30Z is 23:30 the previous evening in New York (EST, -5).
  EXPECT_EQ(dayKey(utc("2026-01-10T04:30:00Z")), "2026-01-09");
  EXPECT_EQ(dayKey(utc("2026-01-10T05:30:00Z")), "2026-01-10");
  // Midnight of the spring-forward day exists; the day is 23 hours long.
  Time start = *parseDayKey("2026-03-08");
  Time next = *parseDayKey("2026-03-09");
  EXPECT_EQ(next - start, std::chrono::hours(23));
  EXPECT_EQ(dayKey(start), "2026-03-08");
  EXPECT_EQ(dayKey(next - std::chrono::seconds(1)), "2026-03-08");
  EXPECT_FALSE(parseDayKey("2026-3-8"));
  EXPECT_FALSE(parseDayKey("2026-02-29"));
  EXPECT_FALSE(parseDayKey("0999-01-05"));
  EXPECT_FALSE(parseDayKey("9999-12-31"));
  EXPECT_TRUE(parseDayKey("2100-12-31"));
  EXPECT_EQ(startOfLocalDay(CivilDate{9999, 12, 31}), fromUnixSeconds(1e300));
  test::setTimeZone("Europe/Berlin");
}

TEST(LocalHour, TruncatesInZonesWithHalfHourOffsetsAndRepeatedHours) {
  test::setTimeZone("Asia/Kolkata");  // +05:30
  EXPECT_EQ(truncateToLocalHour(utc("2026-01-10T04:45:10Z")), utc("2026-01-10T04:30:00Z"));
  test::setTimeZone("Europe/Berlin");
  // 2026-10-25 02:00-03:00 happens twice; the second 02:30 is 01:30Z.
  EXPECT_EQ(truncateToLocalHour(utc("2026-10-25T01:30:00Z")), utc("2026-10-25T01:00:00Z"));
  EXPECT_EQ(truncateToLocalHour(utc("2026-10-25T00:30:00Z")), utc("2026-10-25T00:00:00Z"));
  // Lord Howe Island jumps from 02:00 to 02:30: 02:45 has no full hour.
  test::setTimeZone("Australia/Lord_Howe");
  EXPECT_EQ(truncateToLocalHour(utc("2026-10-03T15:45:00Z")), utc("2026-10-03T15:45:00Z"));
  EXPECT_EQ(truncateToLocalHour(utc("2026-10-03T16:15:00Z")), utc("2026-10-03T16:00:00Z"));
  test::setTimeZone("Europe/Berlin");
}

}  // namespace
}  // namespace brimvale
