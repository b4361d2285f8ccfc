#include "model/kinds.h"

#include <gtest/gtest.h>

#include <optional>

#include "model/usage_snapshot.h"

namespace brimvale {
namespace {

TEST(ProviderKind, RawValuesMatchExactly) {
  const char* raws[] = {"claude", "gpt", "gemini", "cursor", "grok", "generic"};
  ASSERT_EQ(kAllProviderKinds.size(), std::size(raws));
  for (size_t i = 0; i < kAllProviderKinds.size(); ++i) {
    EXPECT_EQ(rawValue(kAllProviderKinds[i]), raws[i]);
    EXPECT_EQ(providerKindFromRaw(raws[i]), kAllProviderKinds[i]);
  }
  for (const char* other : {"Claude", "openai", "", "grok ", "anthropic"}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(providerKindFromRaw(other));
  }
}

TEST(ProviderKind, DetectionTestsTheRulesInOrder) {
  struct Case {
    const char* provider;
    const char* model;
    ProviderKind kind;
  };
  using P = ProviderKind;
  const Case cases[] = {
      {"", "", P::generic},
      {"Cursor", "claude-opus-4-8", P::cursor},  // provider cursor before everything
      {"", "Composer-1", P::cursor},
      {"anthropic", "composer-1", P::cursor},  // model composer before provider anthropic
      {"", "cursor-small", P::cursor},
      {"xAI", "claude-opus", P::grok},
      {"x-ai", "", P::grok},
      {"Grok CLI", "", P::grok},
      {"openai", "grok-4", P::grok},  // model grok before provider openai
      {"google", "grok-3", P::grok},
      {"Anthropic", "gpt-5", P::claude},  // provider claude before model gpt
      {"claude-code", "", P::claude},
      {"", "Claude-Sonnet-4-5", P::claude},
      {"", "gpt-claude", P::claude},
      {"Google", "gpt-5", P::gemini},
      {"gemini-cli", "", P::gemini},
      {"", "gemini-2.5-pro", P::gemini},
      {"", "codex-gemini", P::gemini},
      {"OpenAI", "", P::gpt},
      {"ChatGPT", "", P::gpt},
      {"codex", "", P::gpt},
      {"", "o3-mini", P::gpt},
      {"", "O1", P::gpt},
      {"", "o4-mini", P::gpt},
      {"", "GPT-5", P::gpt},
      {"", "my-codex", P::gpt},
      {"", "chat-gpt", P::generic},    // "gpt" in the model only counts at the start
      {"", "mistral-o3", P::generic},  // so does "o3"
      {"mistral", "large", P::generic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.provider) + " / " + c.model);
    EXPECT_EQ(detectProvider(c.provider, c.model), c.kind);
  }
}

TEST(ProviderKind, BrandColors) {
  struct Case {
    ProviderKind kind;
    RGBColor color;
  };
  const Case cases[] = {
      {ProviderKind::claude, {0.85, 0.47, 0.34, 1}}, {ProviderKind::gpt, {0.06, 0.64, 0.50, 1}},
      {ProviderKind::gemini, {0.35, 0.49, 0.95, 1}}, {ProviderKind::cursor, {0.42, 0.47, 0.60, 1}},
      {ProviderKind::grok, {0.58, 0.58, 0.62, 1}},   {ProviderKind::generic, kAccentColor},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rawValue(c.kind));
    EXPECT_EQ(brandColor(c.kind), c.color);
  }
}

TEST(UnitKind, RawValuesAndTitlesInDeclarationOrder) {
  struct Case {
    const char* raw;
    const char* title;
  };
  const Case cases[] = {{"percent", "사용률(%)"}, {"cost", "비용($)"}, {"tokens", "토큰"}};
  ASSERT_EQ(kAllUnitKinds.size(), std::size(cases));
  for (size_t i = 0; i < kAllUnitKinds.size(); ++i) {
    EXPECT_EQ(rawValue(kAllUnitKinds[i]), cases[i].raw);
    EXPECT_EQ(title(kAllUnitKinds[i]), cases[i].title);
    EXPECT_EQ(unitKindFromRaw(cases[i].raw), kAllUnitKinds[i]);
  }
  EXPECT_FALSE(unitKindFromRaw("Percent"));
  EXPECT_FALSE(unitKindFromRaw(""));
}

TEST(MetricKind, KeysReadLenientlyAndRoundTrip) {
  using C = MetricKind::Case;
  struct Case {
    const char* key;
    C kind;
    const char* modelId;
    const char* canonicalKey;
  };
  const Case cases[] = {
      {"total", C::total, "", "total"},
      {"today", C::today, "", "today"},
      {"week", C::week, "", "week"},
      {"session", C::session, "", "session"},
      {"model:claude-opus-4-8", C::model, "claude-opus-4-8", "model:claude-opus-4-8"},
      {"model:a:b", C::model, "a:b", "model:a:b"},
      {"model:", C::model, "", "model:"},
      {"Total", C::session, "", "session"},
      {"Model:x", C::session, "", "session"},
      {" week", C::session, "", "session"},
      {"", C::session, "", "session"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    MetricKind m = MetricKind::from(c.key);
    EXPECT_EQ(m.kind(), c.kind);
    EXPECT_EQ(m.modelId(), c.modelId);
    EXPECT_EQ(m.key(), c.canonicalKey);
    EXPECT_EQ(MetricKind::from(m.key()), m);
  }
}

TEST(MetricKind, EqualityComparesModelIdsOnlyForModels) {
  EXPECT_EQ(MetricKind::model("a"), MetricKind::model("a"));
  EXPECT_NE(MetricKind::model("a"), MetricKind::model("A"));
  EXPECT_NE(MetricKind::model(""), MetricKind::session());
  EXPECT_NE(MetricKind::total(), MetricKind::today());
  EXPECT_EQ(MetricKind::from("anything"), MetricKind::session());
}

UsageSnapshot snapshotWithModels() {
  UsageSnapshot s;
  s.models = {{"claude-opus-4-8", "Opus 4.8", 2.5, 2100000, 3},
              {"composer-1", "Composer1", 7.5, 999, 1},
              {"claude-opus-4-8", "Shadowed", 1, 1, 1}};
  s.totalCost = 10;
  s.totalTokens = 1234567890;
  s.todayCost = 12.34;
  s.todayTokens = 8400;
  s.weekCost = 1234.5;
  s.weekTokens = 1000;
  s.sessionCost = 0.125;
  s.sessionTokens = 999999;
  return s;
}

TEST(MetricKind, TitlesAndShortPrefixes) {
  const UsageSnapshot s = snapshotWithModels();
  struct Case {
    MetricKind metric;
    const UsageSnapshot* snapshot;
    const char* title;
    const char* prefix;
  };
  const Case cases[] = {
      {MetricKind::total(), &s, "전체 사용량", "전체"},
      {MetricKind::today(), nullptr, "오늘 사용량", "오늘"},
      {MetricKind::week(), &s, "주간 사용량", "주간"},
      {MetricKind::session(), nullptr, "세션 사용량", "세션"},
      {MetricKind::model("claude-opus-4-8"), &s, "Opus 4.8 사용량", "Opus"},
      {MetricKind::model("composer-1"), &s, "Composer1 사용량", "Composer1"},
      {MetricKind::model("claude-opus-4-8"), nullptr, "claude-opus-4-8 사용량",
       "claude-opus-4-8"},
      {MetricKind::model("unknown model"), &s, "unknown model 사용량", "unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.metric.key());
    EXPECT_EQ(c.metric.title(c.snapshot), c.title);
    EXPECT_EQ(c.metric.shortPrefix(c.snapshot), c.prefix);
  }
}

TEST(MetricKind, ValuesInEachUnit) {
  const UsageSnapshot s = snapshotWithModels();
  struct Case {
    MetricKind metric;
    const char* percent;
    const char* cost;
    const char* tokens;
  };
  const Case cases[] = {
      {MetricKind::total(), "—", "$10.0", "1.23B"},
      {MetricKind::today(), "—", "$12.3", "8.4K"},  // no days: no fraction
      {MetricKind::week(), "—", "$1.23k", "1.0K"},
      {MetricKind::session(), "—", "$0.12", "1000.0K"},
      {MetricKind::model("claude-opus-4-8"), "25%", "$2.50", "2.1M"},
      {MetricKind::model("composer-1"), "75%", "$7.50", "999"},
      {MetricKind::model("missing"), "—", "$0.00", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.metric.key());
    EXPECT_EQ(c.metric.value(&s, UnitKind::percent), c.percent);
    EXPECT_EQ(c.metric.value(&s, UnitKind::cost), c.cost);
    EXPECT_EQ(c.metric.value(&s, UnitKind::tokens), c.tokens);
    for (UnitKind unit : kAllUnitKinds) EXPECT_EQ(c.metric.value(nullptr, unit), "—");
  }
}

TEST(MetricKind, PercentValueRoundsAnEighthToEven) {
  UsageSnapshot s;
  s.days = {{"2026-03-01", 8, 0, 1}, {"2026-03-02", 3, 0, 1}};
  s.todayCost = 1;
  EXPECT_EQ(MetricKind::today().value(&s, UnitKind::percent), "12%");
  s.todayCost = 3;
  EXPECT_EQ(MetricKind::today().value(&s, UnitKind::percent), "38%");
}

LimitWindow window(const char* id, double used) { return LimitWindow{id, "label", used, {}, {}}; }

TEST(MetricKind, FractionsPreferWindowsThenHistory) {
  struct Case {
    const char* name;
    MetricKind metric;
    const char* provider;  // nullptr: absent
    std::optional<std::vector<LimitWindow>> limits;
    std::optional<double> sessionMaxCost;
    std::optional<double> expected;
  };
  // Every case shares these figures: days with a best day of 8 and a best
  // week of 12, today 2, week 6, session 6, total 10 of which model "m" 2.5.
  const Case cases[] = {
      {"total never has one", MetricKind::total(), "claude", {{window("7d", 0.3)}}, 4, {}},
      {"today against the best day", MetricKind::today(), "claude", {}, 4, 0.25},
      {"week window wins over costs", MetricKind::week(), "claude", {{window("7d", 0.3)}}, 4, 0.3},
      {"week against the best week", MetricKind::week(), "claude", {{window("5h", 0.9)}}, 4, 0.5},
      {"session window", MetricKind::session(), "cursor",
       {{window("7d", 0.7), window("5h", 0.4)}}, 4, 0.4},
      {"cursor session uses its period", MetricKind::session(), "cursor", {{window("7d", 0.7)}}, 4,
       0.7},
      {"others ignore the long window", MetricKind::session(), "claude", {{window("7d", 0.7)}}, 4,
       1.5},
      {"unclamped windows", MetricKind::session(), nullptr, {{window("5h", 1.7)}}, {}, 1.7},
      {"no earlier block", MetricKind::session(), "claude", {}, 0, {}},
      {"earlier blocks unknown", MetricKind::session(), "claude", {}, {}, {}},
      {"model share", MetricKind::model("m"), "claude", {}, 4, 0.25},
      {"unknown model", MetricKind::model("x"), "claude", {}, 4, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UsageSnapshot s;
    s.days = {{"2026-03-01", 4, 0, 1}, {"2026-03-02", 8, 0, 1}, {"2026-03-20", 2, 0, 1}};
    s.totalCost = 10;
    s.todayCost = 2;
    s.weekCost = 6;
    s.sessionCost = 6;
    s.models = {{"m", "M", 2.5, 0, 1}};
    if (c.provider) s.provider = c.provider;
    s.limits = c.limits;
    s.sessionMaxCost = c.sessionMaxCost;
    EXPECT_EQ(s.fraction(c.metric), c.expected);
  }
}

TEST(MetricKind, FractionsWithoutFiguresAreAbsent) {
  UsageSnapshot s;
  s.days = {{"2026-03-01", 0, 10, 3}};
  s.sessionMaxCost = 0;
  for (const char* key : {"total", "today", "week", "session", "model:"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(s.fraction(MetricKind::from(key)));
  }
  s.models = {{"m", "M", 0, 10, 3}};
  EXPECT_FALSE(s.fraction(MetricKind::model("m")));
}

}  // namespace
}  // namespace brimvale
