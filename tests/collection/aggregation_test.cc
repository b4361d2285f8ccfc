#include "collection/aggregation.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brimvale {
namespace {

Time utc(const char* text) { return *parseISO8601(text); }

UsageEvent event(const char* ts, double cost, int64_t tokens = 0, const char* model = "claude-opus-4-8",
                 const char* provider = "") {
  return UsageEvent{utc(ts), model, tokens, cost, provider};
}

TEST(Aggregate, NoEvents) {
  const Time now = utc("2026-03-05T10:00:00Z");
  LimitWindow w{"5h", "Session", 0.5, {}, {}};
  UsageSnapshot s = aggregate({}, now, AggregationLimits{{w}, {w}, {w}, {w}});
  UsageSnapshot expected;
  expected.generatedAt = now;
  expected.sessionMaxCost = 0;
  expected.sessionMaxTokens = 0;
  expected.provider = "generic";
  EXPECT_EQ(s, expected);
}

// Where an event lands: its day row, today, the week. Each row aggregates one
// event on its own; the week starts at local midnight six days before today.
TEST(Aggregate, CalendarMembershipAroundMidnightAndDaylightSaving) {
  struct Case {
    const char* zone;
    const char* now;
    const char* ts;
    const char* dayKey;
    bool today, week;
  };
  const Case cases[] = {
      // Berlin, today 2026-04-04: the week starts on the spring-forward day.
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-03-28T23:00:00Z", "2026-03-29", false, true},
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-03-28T22:59:59Z", "2026-03-28", false, false},
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-04-03T21:30:00Z", "2026-04-03", false, true},
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-04-03T21:59:59Z", "2026-04-03", false, true},
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-04-03T22:00:00Z", "2026-04-04", true, true},
      {"Europe/Berlin", "2026-04-04T10:00:00Z", "2026-04-04T21:59:59Z", "2026-04-04", true, true},
      // Berlin, today 2026-10-31: the week starts on the fall-back day.
      {"Europe/Berlin", "2026-10-31T12:00:00Z", "2026-10-24T22:00:00Z", "2026-10-25", false, true},
      {"Europe/Berlin", "2026-10-31T12:00:00Z", "2026-10-24T21:59:59Z", "2026-10-24", false, false},
      {"Europe/Berlin", "2026-10-31T12:00:00Z", "2026-10-30T23:00:00Z", "2026-10-31", true, true},
      {"Europe/Berlin", "2026-10-31T12:00:00Z", "2026-10-30T22:59:59Z", "2026-10-30", false, true},
      // Today is itself the change day (23 and 25 hours long).
      {"Europe/Berlin", "2026-03-29T20:00:00Z", "2026-03-28T23:00:00Z", "2026-03-29", true, true},
      {"Europe/Berlin", "2026-10-25T20:00:00Z", "2026-10-25T22:59:59Z", "2026-10-25", true, true},
      // New York: the week starts on 2026-03-08, when 02:00 EST becomes 03:00 EDT.
      {"America/New_York", "2026-03-14T15:00:00Z", "2026-03-08T05:00:00Z", "2026-03-08", false,
       true},
      {"America/New_York", "2026-03-14T15:00:00Z", "2026-03-08T04:59:59Z", "2026-03-07", false,
       false},
      {"America/New_York", "2026-03-14T15:00:00Z", "2026-03-14T03:30:00Z", "2026-03-13", false,
       true},
      {"America/New_York", "2026-03-14T15:00:00Z", "2026-03-14T04:00:00Z", "2026-03-14", true, true},
      // Santiago has no midnight on 2026-09-06; the day starts at 01:00 (04:00Z).
      {"America/Santiago", "2026-09-12T15:00:00Z", "2026-09-06T04:00:00Z", "2026-09-06", false,
       true},
      {"America/Santiago", "2026-09-12T15:00:00Z", "2026-09-06T03:59:59Z", "2026-09-05", false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " now " + c.now + " event " + c.ts);
    test::ScopedTimeZone tz(c.zone);
    UsageSnapshot s = aggregate({event(c.ts, 2.5, 7)}, utc(c.now));
    ASSERT_EQ(s.days.size(), 1u);
    EXPECT_EQ(s.days[0], (DayUsage{c.dayKey, 2.5, 7, 1}));
    EXPECT_EQ(s.todayCost, c.today ? 2.5 : 0);
    EXPECT_EQ(s.todayTokens, c.today ? 7 : 0);
    EXPECT_EQ(s.weekCost, c.week ? 2.5 : 0);
    EXPECT_EQ(s.weekTokens, c.week ? 7 : 0);
    EXPECT_EQ(s.totalCost, 2.5);
    EXPECT_EQ(s.totalTokens, 7);
    EXPECT_EQ(s.totalMessages, 1);
  }
}

TEST(Aggregate, DayRowsAreSummedAndSortedAndModelsKeepTheirExactText) {
  const Time now = utc("2026-03-05T12:00:00Z");
  const std::vector<UsageEvent> events = {
      event("2026-03-05T08:00:00Z", 1, 10, "claude-opus-4-8"),
      event("2026-03-01T08:00:00Z", 2, 20, "Claude-Opus-4-8"),
      event("2026-03-05T09:00:00Z", 4, 40, "claude-opus-4-8"),
      event("2026-03-04T23:30:00Z", 8, 80, ""),  // 00:30 on 03-05 in Berlin
      event("2026-02-26T08:00:00Z", 0.5, 5, "gpt-5-codex"),
  };
  UsageSnapshot s = aggregate(events, now);
  const std::vector<DayUsage> days = {
      {"2026-02-26", 0.5, 5, 1}, {"2026-03-01", 2, 20, 1}, {"2026-03-05", 13, 130, 3}};
  EXPECT_EQ(s.days, days);
  const std::vector<ModelUsage> models = {{"", "", 8, 80, 1},
                                          {"claude-opus-4-8", "Opus 4.8", 5, 50, 2},
                                          {"Claude-Opus-4-8", "Opus 4.8", 2, 20, 1},
                                          {"gpt-5-codex", "GPT 5 Codex", 0.5, 5, 1}};
  EXPECT_EQ(s.models, models);
  EXPECT_EQ(s.totalCost, 15.5);
  EXPECT_EQ(s.totalTokens, 155);
  EXPECT_EQ(s.totalMessages, 5);
  EXPECT_EQ(s.todayCost, 13);
  EXPECT_EQ(s.weekCost, 15);  // the week starts on 2026-02-27
}

// Five-hour blocks: a block starts at the full local hour of its first event
// and takes events up to five hours after that start.
TEST(Aggregate, SessionBlocks) {
  struct Ev {
    const char* ts;
    double cost;
    int64_t tokens;
  };
  struct Case {
    const char* name;
    const char* zone;
    std::vector<Ev> events;
    const char* now;
    const char* sessionStart;  // nullptr: no active session
    double sessionCost;
    int64_t sessionTokens;
    double maxCost;
    int64_t maxTokens;
  };
  const Case cases[] = {
      {"10:59 and 14:58 share a block, 15:00 opens one",
       "UTC",
       {{"2026-01-10T10:59:00Z", 1, 10}, {"2026-01-10T14:58:00Z", 2, 20},
        {"2026-01-10T15:00:00Z", 4, 40}},
       "2026-01-10T15:10:00Z",
       "2026-01-10T15:00:00Z",
       4, 40, 3, 30},
      {"events in any order",
       "UTC",
       {{"2026-01-10T15:00:00Z", 4, 40}, {"2026-01-10T14:58:00Z", 2, 20},
        {"2026-01-10T10:59:00Z", 1, 10}},
       "2026-01-10T15:10:00Z",
       "2026-01-10T15:00:00Z",
       4, 40, 3, 30},
      {"still active at 14:30",
       "UTC",
       {{"2026-01-10T10:05:00Z", 1.5, 15}},
       "2026-01-10T14:30:00Z",
       "2026-01-10T10:00:00Z",
       1.5, 15, 0, 0},
      {"over at 15:00 and becomes an earlier block",
       "UTC",
       {{"2026-01-10T10:05:00Z", 1.5, 15}},
       "2026-01-10T15:00:00Z",
       nullptr,
       0, 0, 1.5, 15},
      {"the maxima may come from different blocks",
       "UTC",
       {{"2026-01-08T10:00:00Z", 5, 10}, {"2026-01-09T10:00:00Z", 1, 100},
        {"2026-01-10T10:00:00Z", 9, 900}},
       "2026-01-10T11:00:00Z",
       "2026-01-10T10:00:00Z",
       9, 900, 5, 100},
      {"without an active session every block is earlier",
       "UTC",
       {{"2026-01-08T10:00:00Z", 5, 10}, {"2026-01-09T10:00:00Z", 1, 100},
        {"2026-01-10T10:00:00Z", 9, 900}},
       "2026-01-11T11:00:00Z",
       nullptr,
       0, 0, 9, 900},
      {"sub-second times truncate to the whole hour",
       "UTC",
       {{"2026-01-10T10:59:59.900Z", 1, 1}},
       "2026-01-10T11:00:00Z",
       "2026-01-10T10:00:00Z",
       1, 1, 0, 0},
      {"an hour ahead of UTC",
       "Europe/Berlin",
       {{"2026-01-10T09:59:00Z", 1, 1}, {"2026-01-10T14:00:00Z", 2, 2}},
       "2026-01-10T14:30:00Z",
       "2026-01-10T14:00:00Z",
       2, 2, 1, 1},
      {"half-hour offset",
       "Asia/Kolkata",
       {{"2026-01-10T04:45:10Z", 1, 1}},
       "2026-01-10T09:29:59Z",
       "2026-01-10T04:30:00Z",
       1, 1, 0, 0},
      // 01:30 CET is 00:30Z; the block from 01:00 CET ends five real hours
      // later at 07:00 CEST, not at a wall-clock 06:00.
      {"across spring forward",
       "Europe/Berlin",
       {{"2026-03-29T00:30:00Z", 1, 1}, {"2026-03-29T04:59:59Z", 2, 2}},
       "2026-03-29T04:50:00Z",
       "2026-03-29T00:00:00Z",
       3, 3, 0, 0},
      {"spring forward, five real hours are up",
       "Europe/Berlin",
       {{"2026-03-29T00:30:00Z", 1, 1}, {"2026-03-29T05:00:00Z", 2, 2}},
       "2026-03-29T05:10:00Z",
       "2026-03-29T05:00:00Z",
       2, 2, 1, 1},
      // 01:10 CEST; 02:40 CET is the second 02:40 of the night.
      {"across fall back",
       "Europe/Berlin",
       {{"2026-10-24T23:10:00Z", 1, 1}, {"2026-10-25T01:40:00Z", 2, 2},
        {"2026-10-25T04:00:00Z", 4, 4}},
       "2026-10-25T04:30:00Z",
       "2026-10-25T04:00:00Z",
       4, 4, 3, 3},
      {"a block opened in the repeated hour",
       "Europe/Berlin",
       {{"2026-10-25T01:45:00Z", 1, 1}},
       "2026-10-25T05:59:00Z",
       "2026-10-25T01:00:00Z",
       1, 1, 0, 0},
      {"the first pass of the repeated hour",
       "Europe/Berlin",
       {{"2026-10-25T00:45:00Z", 1, 1}},
       "2026-10-25T04:59:00Z",
       "2026-10-25T00:00:00Z",
       1, 1, 0, 0},
      // The clock jumps from 02:00 to 02:30: 02:45 has no full hour.
      {"a local hour that does not exist",
       "Australia/Lord_Howe",
       {{"2026-10-03T15:45:00Z", 1, 1}},
       "2026-10-03T20:44:00Z",
       "2026-10-03T15:45:00Z",
       1, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedTimeZone tz(c.zone);
    std::vector<UsageEvent> events;
    for (const Ev& e : c.events) events.push_back(event(e.ts, e.cost, e.tokens));
    UsageSnapshot s = aggregate(events, utc(c.now));
    if (c.sessionStart) {
      EXPECT_EQ(s.sessionStart, utc(c.sessionStart));
      EXPECT_EQ(s.sessionEnd, utc(c.sessionStart) + std::chrono::hours(5));
    } else {
      EXPECT_FALSE(s.sessionStart);
      EXPECT_FALSE(s.sessionEnd);
    }
    EXPECT_DOUBLE_EQ(s.sessionCost, c.sessionCost);
    EXPECT_EQ(s.sessionTokens, c.sessionTokens);
    ASSERT_TRUE(s.sessionMaxCost && s.sessionMaxTokens);
    EXPECT_DOUBLE_EQ(*s.sessionMaxCost, c.maxCost);
    EXPECT_EQ(*s.sessionMaxTokens, c.maxTokens);
  }
}

TEST(Aggregate, ProviderPicksTheLimitWindows) {
  const LimitWindow claude{"5h", "Claude", 0.1, {}, {}};
  const LimitWindow gpt{"5h", "Codex", 0.2, {}, {}};
  const LimitWindow grok{"7d", "Grok Weekly", 0.3, {}, {}};
  const LimitWindow cursor{"7d", "Cursor Monthly", 0.4, {}, {}};
  const AggregationLimits all{{claude}, {gpt}, {grok}, {cursor}};
  struct Case {
    const char* model;
    std::optional<ProviderKind> preferred;
    AggregationLimits limits;
    const char* provider;
    std::optional<std::vector<LimitWindow>> expected;
  };
  const Case cases[] = {
      {"claude-opus-4-8", std::nullopt, all, "claude", {{claude}}},
      {"gpt-5", std::nullopt, all, "gpt", {{gpt}}},
      {"grok-4", std::nullopt, all, "grok", {{grok}}},
      {"composer-1", std::nullopt, all, "cursor", {{cursor}}},
      {"gemini-2.5-pro", std::nullopt, all, "gemini", std::nullopt},
      {"llama", std::nullopt, all, "generic", std::nullopt},
      {"claude-opus-4-8", ProviderKind::gemini, all, "gemini", std::nullopt},
      {"claude-opus-4-8", ProviderKind::cursor, all, "cursor", {{cursor}}},
      {"claude-opus-4-8", std::nullopt, AggregationLimits{{}, {gpt}, {grok}, {cursor}}, "claude",
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    UsageSnapshot s =
        aggregate({event("2026-03-05T10:00:00Z", 1, 1, c.model)}, utc("2026-03-05T11:00:00Z"),
                  c.limits, c.preferred);
    EXPECT_EQ(s.provider, c.provider);
    EXPECT_EQ(s.limits, c.expected);
  }
}

TEST(DominantProvider, MostCostThenMostEvents) {
  auto ev = [](const char* model, double cost, const char* provider = "") {
    return UsageEvent{Time{}, model, 0, cost, provider};
  };
  struct Case {
    const char* name;
    std::vector<UsageEvent> events;
    ProviderKind kind;
  };
  const Case cases[] = {
      {"no events", {}, ProviderKind::generic},
      {"all free: most events",
       {ev("gpt-5", 0), ev("gpt-5", 0), ev("o3", 0), ev("claude-opus", 0), ev("claude-opus", 0)},
       ProviderKind::gpt},
      {"one cent beats five free events",
       {ev("gpt-5", 0), ev("gpt-5", 0), ev("o3", 0), ev("claude-opus", 0), ev("claude-opus", 0),
        ev("claude-opus", 0.01)},
       ProviderKind::claude},
      {"negative costs count as zero",
       {ev("gpt-5", -5), ev("gpt-5", 2), ev("claude-opus", 1)},
       ProviderKind::gpt},
      {"only negative costs fall back to counts",
       {ev("gpt-5", -5), ev("claude-opus", -1), ev("claude-opus", -1)},
       ProviderKind::claude},
      {"detection uses provider and model",
       {ev("grok-4", 1, "openai"), ev("gpt-5", 0.5, "openai"), ev("gpt-5", 0.4, "openai")},
       ProviderKind::grok},
      {"costs are summed per kind",
       {ev("gemini-2.5-pro", 3), ev("gpt-5", 2), ev("codex-mini", 2)},
       ProviderKind::gpt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dominantProvider(c.events), c.kind);
    // aggregate without a preferred provider uses the same choice.
    UsageSnapshot s = aggregate(c.events, utc("2026-03-05T11:00:00Z"));
    EXPECT_EQ(s.provider, rawValue(c.kind));
  }
}

}  // namespace
}  // namespace brimvale
