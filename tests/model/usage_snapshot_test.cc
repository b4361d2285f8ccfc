#include "model/usage_snapshot.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_env.h"

namespace brimvale {
namespace {

using nlohmann::json;

Time utc(const char* text) { return *parseISO8601(text); }

DayUsage day(const char* key, double cost, int64_t tokens = 0, int64_t messages = 0) {
  return DayUsage{key, cost, tokens, messages};
}

TEST(SnapshotDerived, EmptySnapshotHasNeutralValues) {
  UsageSnapshot s;
  s.totalCost = 5;  // totals without days do not make active days
  s.totalTokens = 5;
  EXPECT_TRUE(s.dayMap().empty());
  EXPECT_EQ(s.maxDayCost(), 0);
  EXPECT_EQ(s.maxWeekCost(), 0);
  EXPECT_FALSE(s.historyRange());
  EXPECT_EQ(s.historyWeeks(utc("2026-07-15T10:00:00Z")), 24);
  EXPECT_EQ(s.activeDayCount(), 0);
  EXPECT_EQ(s.averageDailyCost(), 0);
  EXPECT_EQ(s.averageDailyTokens(), 0);
  EXPECT_EQ(s.providerKind(), ProviderKind::generic);
  EXPECT_FALSE(s.limitWindow("5h"));
}

TEST(SnapshotDerived, BestSevenDayWindow) {
  struct Case {
    const char* name;
    std::vector<DayUsage> days;
    double expected;
  };
  const Case cases[] = {
      {"eight consecutive days of 1",
       {day("2026-01-01", 1), day("2026-01-02", 1), day("2026-01-03", 1), day("2026-01-04", 1),
        day("2026-01-05", 1), day("2026-01-06", 1), day("2026-01-07", 1), day("2026-01-08", 1)},
       7},
      {"seven calendar days apart", {day("2026-01-01", 5), day("2026-01-08", 5)}, 5},
      {"six calendar days apart", {day("2026-01-01", 5), day("2026-01-07", 5)}, 10},
      {"unsorted input", {day("2026-01-07", 5), day("2026-02-01", 3), day("2026-01-01", 5)}, 10},
      {"unparseable keys skipped", {day("2026-01-01", 5), day("junk", 50), day("2026-01-02", 1)}, 6},
      {"six apart across spring forward", {day("2026-03-25", 5), day("2026-03-31", 5)}, 10},
      {"seven apart across spring forward", {day("2026-03-25", 5), day("2026-04-01", 5)}, 5},
      {"six apart across fall back", {day("2026-10-22", 5), day("2026-10-28", 5)}, 10},
      {"seven apart across fall back", {day("2026-10-22", 5), day("2026-10-29", 5)}, 5},
      {"later window is larger", {day("2026-01-01", 2), day("2026-01-20", 3), day("2026-01-21", 4)},
       7},
      {"only unparseable keys", {day("2026/01/01", 3)}, 0},
  };
  for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
    test::ScopedTimeZone tz(zone);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(zone) + ": " + c.name);
      UsageSnapshot s;
      s.days = c.days;
      EXPECT_DOUBLE_EQ(s.maxWeekCost(), c.expected);
    }
  }
}

TEST(SnapshotDerived, ActiveDaysAndHistoryRange) {
  struct Case {
    const char* name;
    std::vector<DayUsage> days;
    int64_t active;
    std::optional<HistoryRange> range;
  };
  const Case cases[] = {
      {"zero days do not widen the range",
       {day("2026-01-01", 0), day("2026-03-01", 2), day("2026-03-30", 0, 0, 0),
        day("2026-03-10", 0, 5), day("2026-03-05", 0, 0, 1)},
       3,
       HistoryRange{"2026-03-01", "2026-03-10", 10}},
      {"single active day", {day("2026-03-29", 1)}, 1, HistoryRange{"2026-03-29", "2026-03-29", 1}},
      {"across both changes", {day("2026-10-25", 1), day("2026-03-29", 1)}, 2,
       HistoryRange{"2026-03-29", "2026-10-25", 211}},
      {"only zero days", {day("2026-03-01", 0), day("2026-03-02", 0)}, 0, std::nullopt},
      {"an unparseable active key", {day("2026-03-01", 1), day("zzz", 1)}, 2, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UsageSnapshot s;
    s.days = c.days;
    EXPECT_EQ(s.activeDayCount(), c.active);
    EXPECT_EQ(s.historyRange(), c.range);
  }
}

TEST(SnapshotDerived, AveragesDivideByActiveDays) {
  UsageSnapshot s;
  s.days = {day("2026-03-01", 2), day("2026-03-02", 0), day("2026-03-03", 0, 5),
            day("2026-03-04", 0, 0, 1)};
  s.totalCost = 9;
  s.totalTokens = 11;
  EXPECT_EQ(s.activeDayCount(), 3);
  EXPECT_DOUBLE_EQ(s.averageDailyCost(), 3);
  EXPECT_EQ(s.averageDailyTokens(), 3);  // truncating
  EXPECT_DOUBLE_EQ(s.maxDayCost(), 2);
}

TEST(SnapshotDerived, HistoryWeeksFromTheFirstActiveDay) {
  // 12:00 in Berlin (summer time); the first days lie in winter.
  const Time now = utc("2026-07-15T10:00:00Z");
  struct Case {
    const char* firstActive;
    int weeks;
  };
  const Case cases[] = {
      {"2026-07-15", 12}, {"2026-07-14", 12}, {"2026-08-01", 12}, {"2026-05-06", 12},
      {"2026-04-29", 12}, {"2026-04-28", 13}, {"2026-04-06", 16}, {"2025-12-27", 30},
      {"2025-03-02", 73}, {"2024-11-22", 78},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firstActive);
    UsageSnapshot s;
    s.days = {day("2020-01-01", 0), day(c.firstActive, 1), day("2026-07-15", 0, 0, 1)};
    EXPECT_EQ(s.historyWeeks(now), c.weeks);
  }
}

TEST(SnapshotDerived, ProviderKindAndLimitWindow) {
  struct Case {
    std::optional<std::string> provider;
    ProviderKind kind;
  };
  const Case cases[] = {{std::nullopt, ProviderKind::generic}, {"openai", ProviderKind::generic},
                        {"Claude", ProviderKind::generic},   {"claude", ProviderKind::claude},
                        {"cursor", ProviderKind::cursor},    {"generic", ProviderKind::generic}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.provider.value_or("(absent)"));
    UsageSnapshot s;
    s.provider = c.provider;
    EXPECT_EQ(s.providerKind(), c.kind);
  }

  UsageSnapshot s;
  s.limits = std::vector<LimitWindow>{{"7d", "first", 0.1, {}, {}},
                                      {"5h", "session", 0.2, {}, {}},
                                      {"7d", "second", 0.3, {}, {}}};
  EXPECT_EQ(s.limitWindow("7d")->label, "first");
  EXPECT_EQ(s.limitWindow("5h")->label, "session");
  EXPECT_FALSE(s.limitWindow("7D"));
  s.limits = std::vector<LimitWindow>{};
  EXPECT_FALSE(s.limitWindow("7d"));
}

TEST(SnapshotDerived, DayMapByKey) {
  UsageSnapshot s;
  s.days = {day("2026-03-01", 1, 2, 3), day("2026-03-02", 4, 5, 6)};
  auto map = s.dayMap();
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.at("2026-03-02"), s.days[1]);
}

TEST(SnapshotPlaceholder, FixedSampleDataForPreviews) {
  // Just after local midnight on the day summer time starts.
  const Time now = utc("2026-03-28T23:30:00Z");
  UsageSnapshot s = UsageSnapshot::placeholder(now);
  EXPECT_EQ(s.generatedAt, now);
  EXPECT_EQ(s.sessionStart, now - std::chrono::seconds(3600));
  EXPECT_EQ(s.sessionEnd, now + std::chrono::seconds(14400));
  EXPECT_EQ(s.totalCost, 698.68);
  EXPECT_EQ(s.totalTokens, 434490000);
  EXPECT_EQ(s.totalMessages, 4444);
  EXPECT_EQ(s.todayCost, 12.34);
  EXPECT_EQ(s.todayTokens, 8400000);
  EXPECT_EQ(s.weekCost, 88.2);
  EXPECT_EQ(s.weekTokens, 61000000);
  EXPECT_EQ(s.sessionCost, 3.42);
  EXPECT_EQ(s.sessionTokens, 2100000);
  EXPECT_EQ(s.sessionMaxCost, 8.0);
  EXPECT_EQ(s.sessionMaxTokens, 5000000);
  EXPECT_EQ(s.provider, "claude");
  EXPECT_FALSE(s.limits);
  const std::vector<ModelUsage> models = {
      {"claude-fable-5", "Fable 5", 518.21, 251930000, 1871},
      {"claude-opus-4-8", "Opus 4.8", 178.77, 174640000, 2402},
      {"claude-sonnet-5", "Sonnet 5", 1.7, 3100000, 36}};
  EXPECT_EQ(s.models, models);

  ASSERT_EQ(s.days.size(), 180u);
  EXPECT_EQ(s.days.back().date, "2026-03-29");
  EXPECT_EQ(s.days.front().date, "2025-10-01");
  for (size_t i = 1; i < s.days.size(); ++i) {
    SCOPED_TRACE(s.days[i].date);
    auto prev = parseDayKey(s.days[i - 1].date);
    auto cur = parseDayKey(s.days[i].date);
    ASSERT_TRUE(prev && cur);
    EXPECT_EQ(calendarDaysBetween(*prev, *cur), 1);
  }
  // Rows counted back from today: (11 + 37 i) mod 17 messages, 1.7 each as
  // cost from 5 messages on, 90000 tokens per dollar truncated.
  struct Row {
    size_t back;
    double cost;
    int64_t tokens, messages;
  };
  const Row rows[] = {{0, 11 * 1.7, 1683000, 11}, {1, 14 * 1.7, 2142000, 14}, {2, 0, 0, 0},
                      {3, 0, 0, 3},               {4, 6 * 1.7, 917999, 6},     {179, 0, 0, 4}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.back);
    const DayUsage& d = s.days[179 - r.back];
    EXPECT_EQ(d.cost, r.cost);
    EXPECT_EQ(d.tokens, r.tokens);
    EXPECT_EQ(d.messages, r.messages);
  }
}

// JSON forms -----------------------------------------------------------------

UsageSnapshot fullSnapshot() {
  UsageSnapshot s;
  s.generatedAt = utc("2026-03-05T10:15:30Z");
  s.totalCost = 698.68;
  s.totalTokens = int64_t{1} << 40;
  s.totalMessages = 4444;
  s.todayCost = 12.34;
  s.todayTokens = 8400000;
  s.weekCost = 88.2;
  s.weekTokens = 61000000;
  s.sessionCost = 3.42;
  s.sessionTokens = 2100000;
  s.sessionStart = utc("2026-03-05T09:00:00Z");
  s.sessionEnd = utc("2026-03-05T14:00:00Z");
  s.sessionMaxCost = 8;
  s.sessionMaxTokens = 5000000;
  s.provider = "claude";
  s.limits = std::vector<LimitWindow>{
      {"5h", "Session", 0.42, utc("2026-03-05T14:00:00Z"), utc("2026-03-05T10:15:00Z")},
      {"7d", "Weekly", 1.25, std::nullopt, std::nullopt}};
  s.models = {{"claude-opus-4-8", "Opus 4.8", 600.5, 123, 7}, {"", "", 0, -1, 1}};
  s.days = {day("2026-03-04", 0.1, 10, 1), day("2026-03-05", 698.58, 99, 4443)};
  return s;
}

UsageSnapshot readSnapshot(const json& j) { return j.get<UsageSnapshot>(); }

std::set<std::string> keysOf(const json& j) {
  std::set<std::string> keys;
  for (const auto& [k, v] : j.items()) keys.insert(k);
  return keys;
}

const std::set<std::string> kRequiredSnapshotKeys = {
    "generatedAt", "totalCost",  "totalTokens", "totalMessages", "todayCost", "todayTokens",
    "weekCost",    "weekTokens", "sessionCost", "sessionTokens", "models",    "days"};
const std::set<std::string> kOptionalSnapshotKeys = {"sessionStart",     "sessionEnd",
                                                     "sessionMaxCost",   "sessionMaxTokens",
                                                     "provider",         "limits"};

TEST(SnapshotJSON, RoundTripsThroughText) {
  for (const UsageSnapshot& s :
       {fullSnapshot(), UsageSnapshot{}, UsageSnapshot::placeholder(utc("2026-03-29T00:30:00Z"))}) {
    std::string text = json(s).dump();
    SCOPED_TRACE(text.substr(0, 200));
    EXPECT_EQ(readSnapshot(json::parse(text)), s);
  }
}

TEST(SnapshotJSON, WritesFieldNamesUTCWholeSecondsAndNumberKinds) {
  UsageSnapshot s = fullSnapshot();
  s.generatedAt = utc("2026-03-05T19:15:30.750+09:00");
  const json j = s;
  std::set<std::string> all = kRequiredSnapshotKeys;
  all.insert(kOptionalSnapshotKeys.begin(), kOptionalSnapshotKeys.end());
  EXPECT_EQ(keysOf(j), all);
  EXPECT_EQ(j["generatedAt"], "2026-03-05T10:15:30Z");
  EXPECT_EQ(j["sessionStart"], "2026-03-05T09:00:00Z");
  for (const char* money : {"totalCost", "todayCost", "weekCost", "sessionCost", "sessionMaxCost"})
    EXPECT_TRUE(j[money].is_number_float()) << money;
  for (const char* count : {"totalTokens", "totalMessages", "todayTokens", "weekTokens",
                            "sessionTokens", "sessionMaxTokens"})
    EXPECT_TRUE(j[count].is_number_integer()) << count;
  EXPECT_EQ(j["totalTokens"].get<int64_t>(), int64_t{1} << 40);

  EXPECT_EQ(keysOf(j["limits"][0]),
            (std::set<std::string>{"id", "label", "usedFraction", "resetsAt", "asOf"}));
  EXPECT_EQ(j["limits"][0]["asOf"], "2026-03-05T10:15:00Z");
  EXPECT_EQ(keysOf(j["limits"][1]), (std::set<std::string>{"id", "label", "usedFraction"}));
  EXPECT_EQ(keysOf(j["models"][0]),
            (std::set<std::string>{"id", "name", "cost", "tokens", "messages"}));
  EXPECT_EQ(keysOf(j["days"][0]), (std::set<std::string>{"date", "cost", "tokens", "messages"}));
  EXPECT_EQ(j["days"][1]["date"], "2026-03-05");
}

TEST(SnapshotJSON, AbsentOptionalsWriteNoKeyAndReadBackAbsent) {
  UsageSnapshot s = fullSnapshot();
  s.sessionStart.reset();
  s.sessionEnd.reset();
  s.sessionMaxCost.reset();
  s.sessionMaxTokens.reset();
  s.provider.reset();
  s.limits.reset();
  const json j = s;
  EXPECT_EQ(keysOf(j), kRequiredSnapshotKeys);
  EXPECT_EQ(readSnapshot(j), s);

  // An empty list is not absent: it is written and read back empty.
  s.limits = std::vector<LimitWindow>{};
  EXPECT_EQ(readSnapshot(json(s)).limits, s.limits);
}

TEST(SnapshotJSON, MissingOrNullOptionalsReadAsAbsent) {
  const json full = fullSnapshot();
  for (const std::string& key : kOptionalSnapshotKeys) {
    for (bool useNull : {false, true}) {
      SCOPED_TRACE(key + (useNull ? " null" : " missing"));
      json j = full;
      if (useNull) j[key] = nullptr;
      else j.erase(key);
      UsageSnapshot expected = fullSnapshot();
      if (key == "sessionStart") expected.sessionStart.reset();
      if (key == "sessionEnd") expected.sessionEnd.reset();
      if (key == "sessionMaxCost") expected.sessionMaxCost.reset();
      if (key == "sessionMaxTokens") expected.sessionMaxTokens.reset();
      if (key == "provider") expected.provider.reset();
      if (key == "limits") expected.limits.reset();
      EXPECT_EQ(readSnapshot(j), expected);
    }
  }
  for (const char* key : {"resetsAt", "asOf"}) {
    SCOPED_TRACE(key);
    json j = full;
    j["limits"][0][key] = nullptr;
    UsageSnapshot s = readSnapshot(j);
    EXPECT_FALSE(std::string(key) == "resetsAt" ? s.limits->at(0).resetsAt : s.limits->at(0).asOf);
  }
}

TEST(SnapshotJSON, LimitWindowWithoutTimes) {
  const LimitWindow w{"7d", "Cursor Monthly", 0.5, std::nullopt, std::nullopt};
  const json j = w;
  EXPECT_EQ(keysOf(j), (std::set<std::string>{"id", "label", "usedFraction"}));
  LimitWindow back = j.get<LimitWindow>();
  EXPECT_EQ(back, w);
  EXPECT_FALSE(back.resetsAt);
  EXPECT_FALSE(back.asOf);
}

TEST(SnapshotJSON, AMissingRequiredKeyMakesTheSnapshotUnreadable) {
  const json full = fullSnapshot();
  std::vector<std::pair<std::string, json>> broken;
  for (const std::string& key : kRequiredSnapshotKeys) {
    json j = full;
    j.erase(key);
    broken.emplace_back("missing " + key, j);
    j = full;
    j[key] = nullptr;
    broken.emplace_back("null " + key, j);
  }
  struct Nested {
    const char* list;
    std::vector<const char*> keys;
  };
  for (const Nested& n : {Nested{"days", {"date", "cost", "tokens", "messages"}},
                          Nested{"models", {"id", "name", "cost", "tokens", "messages"}},
                          Nested{"limits", {"id", "label", "usedFraction"}}}) {
    for (const char* key : n.keys) {
      json j = full;
      j[n.list][1].erase(key);
      broken.emplace_back(std::string("missing ") + n.list + "." + key, j);
    }
  }
  const std::pair<const char*, json> wrong[] = {
      {"text count", {{"totalTokens", "5"}}},
      {"bad time", {{"generatedAt", "yesterday"}}},
      {"numeric time", {{"generatedAt", 1772705730}}},
      {"days object", {{"days", json::object()}}},
      {"limits number", {{"limits", 5}}},
      {"day entry text", {{"days", json::array({"2026-03-05"})}}},
  };
  for (const auto& [name, patch] : wrong) {
    json j = full;
    j.update(patch);
    broken.emplace_back(name, j);
  }
  broken.emplace_back("array", json::array({full}));
  broken.emplace_back("null", json());
  for (const auto& [name, j] : broken) {
    SCOPED_TRACE(name);
    EXPECT_THROW(readSnapshot(j), json::exception);
  }
}

TEST(SnapshotJSON, UnknownKeysAndFractionalTimesAreAccepted) {
  json j = fullSnapshot();
  j["somethingNew"] = {{"nested", true}};
  j["days"][0]["weekday"] = "Wed";
  j["limits"][0]["extra"] = 1;
  j["generatedAt"] = "2026-03-05T10:15:30.000Z";
  j["totalCost"] = 698;  // an integer where a double is expected
  UsageSnapshot expected = fullSnapshot();
  expected.totalCost = 698;
  EXPECT_EQ(readSnapshot(j), expected);
}

}  // namespace
}  // namespace brimvale
