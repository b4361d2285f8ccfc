#include "collection/readers/grok_usage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "collection/cost_estimation.h"
#include "collection/sqlite_copy.h"
#include "collection/sqlite_test_util.h"
#include "collection/store_error.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using test::SQLiteFile;

class GrokUsageTest : public ::testing::Test {
 protected:
  test::ScopedTempDirectory tmp;
  test::TempDir home;
  const Time now = *parseISO8601("2026-03-03T03:03:03Z");

  std::string db() const { return home / ".grok/grok.db"; }
  void makeDatabase(const std::string& rows) {
    SQLiteFile f(db());
    f.exec(
        "CREATE TABLE usage_events (id INTEGER PRIMARY KEY, created_at TEXT, model TEXT,"
        " input_tokens INTEGER, output_tokens INTEGER, total_tokens INTEGER, cost_micros REAL)");
    if (!rows.empty())
      f.exec("INSERT INTO usage_events (created_at, model, input_tokens, output_tokens,"
             " total_tokens, cost_micros) VALUES " + rows);
  }
  std::string session(const std::string& project, const std::string& id,
                      const std::string& summary, const std::vector<int64_t>& totals,
                      const std::vector<std::string>& prompts = {}) {
    const std::string folder = ".grok/sessions/" + project + "/" + id;
    home.write(folder + "/summary.json", summary);
    std::string updates;
    for (size_t i = 0; i < totals.size(); ++i) {
      updates += R"({"method":"session/update","params":{"_meta":{"totalTokens":)" +
                 std::to_string(totals[i]);
      if (i < prompts.size()) updates += R"(,"promptId":")" + prompts[i] + "\"";
      updates += "}}}\n";
    }
    return home.write(folder + "/updates.jsonl", updates);
  }
  static std::string logLine(const std::string& sid, int64_t prompt, int64_t cached,
                             int64_t completion, const std::string& ts = "") {
    std::string line = R"({"msg":"shell.turn.inference_done",)";
    if (!ts.empty()) line += R"("ts":")" + ts + R"(",)";
    if (!sid.empty()) line += R"("sid":")" + sid + R"(",)";
    return line + R"("ctx":{"prompt_tokens":)" + std::to_string(prompt) +
           R"(,"cached_prompt_tokens":)" + std::to_string(cached) + R"(,"completion_tokens":)" +
           std::to_string(completion) + "}}";
  }
};

TEST_F(GrokUsageTest, DatabaseRowsTakeTheLargerTotalAndTheirRecordedCost) {
  makeDatabase(
      "('2025-04-01T10:00:00Z', 'grok-4', 100, 50, 120, 2500000),"
      "('2025-04-01T10:00:01.500Z', 'grok-4', 100, 50, 300, 0),"
      "('2025-04-01T10:00:02Z', NULL, 10, 5, NULL, NULL),"
      "(NULL, 'grok-4', 1, 1, 2, 0),"
      "('not a time', 'grok-4', 1, 1, 2, 0),"
      "('2025-04-01T10:00:03Z', 'grok-4', 0, 0, 0, 100)");
  const auto events = loadGrokUsage(home.path(), now);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], (UsageEvent{*parseISO8601("2025-04-01T10:00:00Z"), "grok-4", 150, 2.5, "xai"}));
  EXPECT_EQ(events[1], (UsageEvent{*parseISO8601("2025-04-01T10:00:01.5Z"), "grok-4", 300,
                                   estimateCost("grok-4", 100, 50, 0, 0), "xai"}));
  EXPECT_EQ(events[2], (UsageEvent{*parseISO8601("2025-04-01T10:00:02Z"), "grok", 15,
                                   estimateCost("grok", 10, 5, 0, 0), "xai"}));
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(GrokUsageTest, AnUnreadableDatabaseFailsTheWholeReadWithSQLitesMessage) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* message;
  };
  const Case cases[] = {
      {"not SQLite", [](const std::string& p) { test::writeFile(p, std::string(3000, 'g')); },
       "file is not a database"},
      {"no usage_events", [](const std::string& p) { SQLiteFile(p).exec("CREATE TABLE x(y)"); },
       "no such table: usage_events"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir h;
    c.make(h / ".grok/grok.db");
    h.write(".grok/logs/a.jsonl", logLine("s", 10, 0, 10) + "\n");
    const auto before = test::databaseHashes(h / ".grok/grok.db");
    try {
      loadGrokUsage(h.path(), now);
      ADD_FAILURE() << "expected a StoreError";
    } catch (const StoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(test::databaseHashes(h / ".grok/grok.db"), before);
    EXPECT_TRUE(tmp.copyFolders().empty());
  }
}

TEST_F(GrokUsageTest, LogRecordsCountPromptAndCompletionWithCachedPromptsAsRereads) {
  session("proj", "s-1", R"({"current_model_id":"grok-code-fast-1"})", {});
  home.write(".grok/logs/2025-04-01.jsonl",
             logLine("s-1", 1000, 1200, 100, "2025-04-01T09:00:00.123Z") + "\n" +
                 logLine("", 40, 10, 2) + "\n" +  // no time, no session
                 R"({"msg":"shell.turn.started","note":"inference_done prompt_tokens"})" "\n" +
                 R"({"msg":"shell.turn.inference_done","ctx":{"tokens":5}})" "\n" +
                 logLine("s-2", 0, 0, 0) + "\n" + "{broken inference_done prompt_tokens\n");
  home.write(".grok/logs/ignored.log", logLine("s-3", 10, 0, 10) + "\n");

  const GrokLogLoad load = loadGrokOfficialLogs(home.path(), now);

  ASSERT_EQ(load.events.size(), 2u);
  EXPECT_EQ(load.events[0],
            (UsageEvent{*parseISO8601("2025-04-01T09:00:00.123Z"), "grok-code-fast-1", 1100,
                        estimateCost("grok-code-fast-1", 0, 100, 1000, 0), "xai"}));
  EXPECT_EQ(load.events[1], (UsageEvent{now, "grok", 42, estimateCost("grok", 30, 2, 10, 0), "xai"}));
  EXPECT_EQ(load.sessions, (std::set<std::string>{"s-1"}));  // s-2 produced nothing
}

TEST_F(GrokUsageTest, TheContextCounterRestartsWhenItDropsBelowHalf) {
  struct Case {
    const char* name;
    std::vector<int64_t> totals;
    std::vector<std::string> prompts;
    int64_t input, output, reread;
  };
  const Case cases[] = {
      {"restart", {1000, 3000, 5000, 800, 2000}, {}, 7000, 0, 0},
      {"one run with prompts", {1000, 3000, 5000, 5000}, {"p1", "p1", "p2", "p2"}, 5000, 2000, 1000},
      {"a drop to exactly half is no restart", {4000, 2000, 3000}, {}, 4000, 0, 0},
      {"two restarts", {100, 10, 50, 20}, {}, 100 + 50 + 20, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir h;
    const std::string folder = h.path() + "/.grok/sessions/p/s";
    test::writeFile(folder + "/summary.json", R"({"current_model_id":"grok-4","created_at":"2025-04-02T00:00:00Z"})");
    std::string updates = "not json \"totalTokens\"\n{\"other\":1}\n";
    for (size_t i = 0; i < c.totals.size(); ++i) {
      updates += R"({"params":{"_meta":{"totalTokens":)" + std::to_string(c.totals[i]);
      if (i < c.prompts.size()) updates += R"(,"promptId":")" + c.prompts[i] + "\"";
      updates += "}}}\n";
    }
    test::writeFile(folder + "/updates.jsonl", updates);
    const auto events = loadGrokBuildSessions(h.path(), {}, now);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              (UsageEvent{*parseISO8601("2025-04-02T00:00:00Z"), "grok-4", c.input + c.reread + c.output,
                          estimateCost("grok-4", c.input, c.output, c.reread, 0), "xai"}));
  }
}

TEST_F(GrokUsageTest, SessionTimesAndSkippedSessions) {
  const std::string updates =
      session("p", "bad-updated", R"({"updated_at":"later","created_at":"2025-04-02T00:00:00Z"})",
              {10});
  const Time fileTime = *parseISO8601("2025-06-01T00:00:00Z");
  std::filesystem::last_write_time(updates, std::chrono::file_clock::from_sys(fileTime));
  session("p", "last-active", R"({"updated_at":7,"last_active_at":"2025-04-03T00:00:00.5Z"})", {20});
  session("q", "not-object", R"(["current_model_id"])", {30});
  session("q", "zero", R"({})", {0, 0});
  home.write(".grok/sessions/q/no-updates/summary.json", "{}");
  home.write(".grok/sessions/loose-file", "x");

  const auto events = loadGrokBuildSessions(home.path(), {}, now);

  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].ts, fileTime);  // "updated_at" is chosen, does not parse
  EXPECT_EQ(events[0].tokens, 10);
  EXPECT_EQ(events[0].model, "grok");
  EXPECT_EQ(events[1].ts, *parseISO8601("2025-04-03T00:00:00.5Z"));
  EXPECT_EQ(events[1].tokens, 20);
}

TEST_F(GrokUsageTest, ASessionSeenInTheLogsIsNotCountedAgainFromItsFolder) {
  makeDatabase("('2025-04-01T10:00:00Z', 'grok-4', 1, 1, 2, 1000000)");
  session("p", "in-logs", R"({"current_model_id":"grok-4"})", {5000, 9000});
  session("p", "only-folder", R"({"current_model_id":"grok-4","created_at":"2025-04-01T00:00:00Z"})",
          {700});
  home.write(".grok/logs/l.jsonl", logLine("in-logs", 300, 0, 30, "2025-04-01T11:00:00Z") + "\n");

  const auto events = loadGrokUsage(home.path(), now);

  std::vector<int64_t> tokens;
  for (const auto& e : events) tokens.push_back(e.tokens);
  EXPECT_EQ(tokens, (std::vector<int64_t>{2, 330, 700}));  // database, log, "only-folder"

  // Without logs, nothing is excluded: both session folders count.
  std::filesystem::remove_all(home / ".grok/logs");
  std::filesystem::remove(db());
  tokens.clear();
  for (const auto& e : loadGrokUsage(home.path(), now)) tokens.push_back(e.tokens);
  EXPECT_EQ(tokens, (std::vector<int64_t>{9000, 700}));
}

}  // namespace
}  // namespace brimvale
