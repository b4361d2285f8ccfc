#include "collection/readers/codex_sessions.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "collection/cost_estimation.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

Time utc(const char* text) { return *parseISO8601(text); }

std::string turnContext(const std::string& model) {
  return "{\"timestamp\":\"2025-06-01T09:00:00.000Z\",\"type\":\"turn_context\",\"payload\":{\"cwd\":\"/w\","
         "\"model\":\"" + model + "\",\"effort\":\"medium\"}}\n";
}

std::string usage(int64_t input, int64_t cached, int64_t output, const std::string& total = "") {
  return "{\"input_tokens\":" + std::to_string(input) + ",\"cached_input_tokens\":" + std::to_string(cached) +
         ",\"output_tokens\":" + std::to_string(output) + (total.empty() ? "" : ",\"total_tokens\":" + total) + "}";
}

std::string tokenCount(const std::string& ts, const std::string& lastUsage, const std::string& rateLimits = "") {
  std::string info = lastUsage.empty() ? "null" : "{\"total_token_usage\":{},\"last_token_usage\":" + lastUsage + "}";
  return "{\"timestamp\":\"" + ts + "\",\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":" +
         info + (rateLimits.empty() ? "" : ",\"rate_limits\":" + rateLimits) + "}}\n";
}

std::string limits(double used5h, const std::string& reset5h, double usedWeek, const std::string& resetWeek) {
  auto more = [](const std::string& part) { return part.empty() ? part : "," + part; };
  return "{\"primary\":{\"used_percent\":" + std::to_string(used5h) + ",\"window_minutes\":300" + more(reset5h) +
         "},\"secondary\":{\"used_percent\":" + std::to_string(usedWeek) + ",\"window_minutes\":10080" +
         more(resetWeek) + "}}";
}

const Time kNow = utc("2025-06-01T12:00:00Z");

TEST(CodexRollout, EventsTakeTheModelOfTheLatestTurnContext) {
  test::TempDir dir;
  std::string path = dir.write(
      "r.jsonl", tokenCount("2025-06-01T09:00:01.000Z", usage(1000, 800, 50)) + turnContext("gpt-5-codex") +
                     tokenCount("2025-06-01T09:00:02Z", usage(10, 0, 5, "20")) + turnContext("o3-mini") +
                     tokenCount("2025-06-01T09:00:03.5Z", usage(900, 1200, 7)));
  CodexRollout r = parseCodexRollout(path);
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0], (UsageEvent{utc("2025-06-01T09:00:01Z"), "gpt", 1050, estimateCost("gpt", 200, 50, 800, 0),
                                     "openai"}));
  EXPECT_EQ(r.events[1].model, "gpt-5-codex");
  EXPECT_EQ(r.events[1].tokens, 20);  // total_tokens wins
  // More cached than input never gives a negative input.
  EXPECT_EQ(r.events[2], (UsageEvent{utc("2025-06-01T09:00:03.5Z"), "o3-mini", 907,
                                     estimateCost("o3-mini", 0, 7, 1200, 0), "openai"}));
  EXPECT_FALSE(r.newestLimits);
}

TEST(CodexRollout, LineRules) {
  struct Case {
    const char* name;
    std::string content;
    size_t events;
    int64_t tokens;
  };
  const std::string good = tokenCount("2025-06-01T09:00:01Z", usage(10, 0, 5));
  const Case cases[] = {
      {"plain record", good, 1, 15},
      {"info null", tokenCount("2025-06-01T09:00:01Z", ""), 0, 0},
      {"no last_token_usage",
       "{\"timestamp\":\"2025-06-01T09:00:01Z\",\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\","
       "\"info\":{\"total_token_usage\":{\"input_tokens\":5}}}}\n", 0, 0},
      {"total zero", tokenCount("2025-06-01T09:00:01Z", usage(10, 0, 5, "0")), 0, 0},
      {"total fractional counts as absent", tokenCount("2025-06-01T09:00:01Z", usage(10, 0, 5, "7.5")), 1, 15},
      {"total a string counts as absent", tokenCount("2025-06-01T09:00:01Z", usage(10, 0, 5, "\"99\"")), 1, 15},
      {"timestamp without zone", tokenCount("2025-06-01T09:00:01", usage(10, 0, 5)), 0, 0},
      {"missing timestamp",
       "{\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":{\"last_token_usage\":" +
           usage(10, 0, 5) + "}}}\n", 0, 0},
      {"other payload type", "{\"timestamp\":\"2025-06-01T09:00:01Z\",\"type\":\"event_msg\",\"payload\":{\"type\":"
                             "\"agent_message\",\"note\":\"token_count\",\"info\":{\"last_token_usage\":" +
                                 usage(10, 0, 5) + "}}}\n", 0, 0},
      {"other spacing", "{\"timestamp\": \"2025-06-01T09:00:01Z\", \"type\": \"event_msg\", \"payload\": {\"type\": "
                        "\"token_count\", \"info\": {\"last_token_usage\": {\"input_tokens\": 4}}}}\n", 1, 4},
      {"payload not an object", "{\"timestamp\":\"2025-06-01T09:00:01Z\",\"payload\":\"token_count\"}\n", 0, 0},
      {"last line without final line feed", good + good.substr(0, good.size() - 1), 2, 30},
      {"cut short", good + good.substr(0, good.size() / 2), 1, 15},
      {"missing closing brace", good.substr(0, good.size() - 2), 0, 0},
      {"invalid JSON", "{\"token_count\" 1}\n{\"payload\":{\"type\":\"token_count\",}\n" + good, 1, 15},
      {"invalid UTF-8 drops only its line",
       "{\"timestamp\":\"2025-06-01T09:00:01Z\",\"x\":\"\xc3\x28\",\"payload\":{\"type\":\"token_count\",\"info\":"
       "{\"last_token_usage\":{\"input_tokens\":4}}}}\n" + good, 1, 15},
      {"overflowing counts are dropped",
       tokenCount("2025-06-01T09:00:01Z", "{\"input_tokens\":9223372036854775807,\"output_tokens\":1}") +
           tokenCount("2025-06-01T09:00:01Z", "{\"input_tokens\":1,\"cached_input_tokens\":-9223372036854775807,"
                                              "\"output_tokens\":1,\"total_tokens\":2}"),
       0, 0},
      {"empty file", "", 0, 0},
  };
  test::TempDir dir;
  int n = 0;
  for (const auto& c : cases) {
    std::string path = dir.write("r" + std::to_string(n++) + ".jsonl", c.content);
    CodexRollout r = parseCodexRollout(path);
    int64_t sum = 0;
    for (const auto& e : r.events) sum += e.tokens;
    EXPECT_EQ(r.events.size(), c.events) << c.name;
    EXPECT_EQ(sum, c.tokens) << c.name;
  }
  EXPECT_TRUE(parseCodexRollout(dir / "missing.jsonl").events.empty());
  EXPECT_TRUE(parseCodexRollout(dir.path()).events.empty());
}

TEST(CodexWindows, Rules) {
  Time at = utc("2025-06-01T10:00:00Z");
  struct Case {
    const char* name;
    std::string json;
    std::vector<LimitWindow> windows;
  };
  LimitWindow five{"5h", "GPT 5 Hour", 0.42, utc("2025-06-01T11:00:00Z"), at};
  LimitWindow week{"7d", "GPT Weekly", 0.1, fromUnixSeconds(1749000000), at};
  LimitWindow noReset{"5h", "GPT 5 Hour", 0.42, std::nullopt, at};
  const Case cases[] = {
      {"short and weekly",
       "{\"primary\":{\"used_percent\":42,\"window_minutes\":300,\"resets_in_seconds\":3600},"
       "\"secondary\":{\"used_percent\":10,\"window_minutes\":10080,\"resets_at\":1749000000}}",
       {five, week}},
      {"resets_at wins over resets_in_seconds",
       "{\"primary\":{\"used_percent\":10,\"window_minutes\":10080,\"resets_at\":1749000000,\"resets_in_seconds\":5}}",
       {week}},
      {"two short windows keep the primary",
       "{\"primary\":{\"used_percent\":42,\"window_minutes\":60,\"resets_in_seconds\":3600},"
       "\"secondary\":{\"used_percent\":99,\"window_minutes\":60}}",
       {LimitWindow{"5h", "GPT 5 Hour", 0.42, utc("2025-06-01T11:00:00Z"), at}}},
      {"a day long window is dropped", "{\"primary\":{\"used_percent\":42,\"window_minutes\":1440}}", {}},
      {"no reset time", "{\"primary\":{\"used_percent\":42,\"window_minutes\":300,\"resets_at\":\"soon\"}}", {noReset}},
      {"minutes must be integral", "{\"primary\":{\"used_percent\":42,\"window_minutes\":300.5}}", {}},
      {"used_percent must be a number", "{\"primary\":{\"used_percent\":\"42\",\"window_minutes\":300}}", {}},
      {"window not an object", "{\"primary\":[42,300],\"secondary\":null}", {}},
      {"absurd reset time gives none",
       "{\"primary\":{\"used_percent\":42,\"window_minutes\":300,\"resets_at\":1e300}}", {noReset}},
      {"not an object", "[]", {}},
      {"invalid", "{\"primary\":", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(codexWindows(c.json, at), c.windows) << c.name;
}

TEST(CodexRollout, KeepsTheNewestUsableWindowsOfTheFile) {
  test::TempDir dir;
  std::string newer = limits(50, "\"resets_in_seconds\":100", 20, "\"resets_in_seconds\":1000");
  std::string older = limits(10, "\"resets_in_seconds\":100", 5, "\"resets_in_seconds\":1000");
  std::string path = dir.write(
      "r.jsonl", tokenCount("2025-06-01T10:05:00Z", usage(1, 0, 1, "0"), newer) +  // no event, limits count
                     tokenCount("2025-06-01T10:00:00Z", usage(1, 0, 1), older) +    // older: ignored
                     tokenCount("2025-06-01T10:06:00Z", usage(1, 0, 1), "{\"primary\":{\"window_minutes\":1440,"
                                                                        "\"used_percent\":1}}"));  // no windows
  CodexRollout r = parseCodexRollout(path);
  EXPECT_EQ(r.events.size(), 2u);
  ASSERT_TRUE(r.newestLimits);
  EXPECT_EQ(r.newestLimits->ts, utc("2025-06-01T10:05:00Z"));
  ASSERT_EQ(r.newestLimits->windows.size(), 2u);
  EXPECT_DOUBLE_EQ(r.newestLimits->windows[0].usedFraction, 0.5);
}

// Of two files the newer windows win, whichever sorts first; a window that
// has reset is dropped, one without reset time stays.
TEST(CodexSessions, NewestLimitsAcrossFilesWhateverTheOrder) {
  for (bool newerFirst : {true, false}) {
    test::TempDir home;
    std::string a = newerFirst ? "a.jsonl" : "b.jsonl";
    std::string b = newerFirst ? "b.jsonl" : "a.jsonl";
    home.write(".codex/sessions/2025/06/01/" + a,
               tokenCount("2025-06-01T10:05:00Z", usage(1, 0, 1),
                          "{\"primary\":{\"used_percent\":30,\"window_minutes\":300,\"resets_at\":1748772000},"
                          "\"secondary\":{\"used_percent\":60,\"window_minutes\":10080}}"));
    home.write(".codex/sessions/2025/06/01/" + b,
               tokenCount("2025-06-01T10:00:00Z", usage(1, 0, 1), limits(90, "\"resets_at\":1748800000", 95, "")));
    // 1748772000 is 2025-06-01T10:00:00Z: reset by kNow.
    CodexData data = loadCodexSessions(home.path(), kNow);
    EXPECT_EQ(data.events.size(), 2u);
    ASSERT_EQ(data.limits.size(), 1u) << newerFirst;
    EXPECT_EQ(data.limits[0].id, "7d");
    EXPECT_DOUBLE_EQ(data.limits[0].usedFraction, 0.6);
    EXPECT_FALSE(data.limits[0].resetsAt);
    EXPECT_EQ(data.limits[0].asOf, utc("2025-06-01T10:05:00Z"));
  }
}

TEST(CodexSessions, EqualTimesKeepTheFileVisitedFirst) {
  test::TempDir home;
  std::string ts = "2025-06-01T10:00:00Z";
  home.write(".codex/sessions/b.jsonl", tokenCount(ts, "", limits(20, "", 20, "")));
  home.write(".codex/sessions/a.jsonl", tokenCount(ts, "", limits(10, "", 10, "")));
  CodexData data = loadCodexSessions(home.path(), kNow);
  ASSERT_EQ(data.limits.size(), 2u);
  EXPECT_DOUBLE_EQ(data.limits[0].usedFraction, 0.1);
}

TEST(CodexSessions, UnchangedFilesComeFromTheCache) {
  test::TempDir home;
  std::string path = home.write(".codex/sessions/r.jsonl", tokenCount("2025-06-01T10:00:00Z", usage(10, 0, 5)));
  ASSERT_EQ(loadCodexSessions(home.path(), kNow).events.size(), 1u);

  // Same size, other content: not read again.
  std::string sameSize = tokenCount("2025-06-01T10:00:00Z", usage(20, 0, 5));
  home.write(".codex/sessions/r.jsonl", sameSize);
  CodexData again = loadCodexSessions(home.path(), kNow);
  ASSERT_EQ(again.events.size(), 1u);
  EXPECT_EQ(again.events[0].tokens, 15);

  // One more line: parsed again in full.
  {
    std::ofstream out(path, std::ios::app);
    out << tokenCount("2025-06-01T10:01:00Z", usage(1, 0, 1));
  }
  CodexData grown = loadCodexSessions(home.path(), kNow);
  ASSERT_EQ(grown.events.size(), 2u);
  EXPECT_EQ(grown.events[0].tokens, 25);

  // An emptied file has size 0 and is always read.
  home.write(".codex/sessions/r.jsonl", "");
  EXPECT_TRUE(loadCodexSessions(home.path(), kNow).events.empty());
  home.write(".codex/sessions/r.jsonl", tokenCount("2025-06-01T10:00:00Z", usage(3, 0, 3)));
  EXPECT_EQ(loadCodexSessions(home.path(), kNow).events.size(), 1u);
}

TEST(CodexSessions, BadFoldersAndFilesGiveNothing) {
  static const char kBinary[] = "\xff\xfe\0\"token_count\"\x80";
  EXPECT_TRUE(loadCodexSessions("", kNow).events.empty());
  test::TempDir home;
  EXPECT_TRUE(loadCodexSessions(home.path(), kNow).events.empty());
  home.write(".codex/sessions/2025/ok.jsonl", tokenCount("2025-06-01T10:00:00Z", usage(10, 0, 5)));
  home.write(".codex/sessions/2025/upper.JSONL", tokenCount("2025-06-01T10:00:00Z", usage(10, 0, 5)));
  home.write(".codex/sessions/2025/partial.jsonl", "{\"timestamp\":\"2025-06-01T10:00:00Z\",\"type\":\"token_co");
  home.write(".codex/sessions/2025/binary.jsonl", std::string(kBinary, sizeof kBinary - 1));
  std::filesystem::create_directories(home / ".codex/sessions/dir.jsonl");
  std::filesystem::create_symlink(home / "nowhere", home / ".codex/sessions/broken.jsonl");
  CodexData data = loadCodexSessions(home.path(), kNow);
  ASSERT_EQ(data.events.size(), 1u);
  EXPECT_EQ(data.events[0].tokens, 15);
  EXPECT_EQ(loadCodexSessions(home.path(), kNow).events.size(), 1u);
}

}  // namespace
}  // namespace brimvale
