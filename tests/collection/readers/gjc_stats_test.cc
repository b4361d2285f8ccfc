#include "collection/readers/gjc_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "collection/cost_estimation.h"
#include "collection/sqlite_test_util.h"
#include "collection/store_error.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using test::SQLiteFile;

std::string assistantLine(const std::string& id, const std::string& ts, const std::string& usage,
                          const std::string& extra = "") {
  std::string line = R"({"type":"message",)";
  if (!id.empty()) line += R"("id":")" + id + R"(",)";
  line += R"("timestamp":")" + ts + R"(","message":{"role":"assistant","model":"claude-sonnet-4",)" +
          extra + R"("usage":)" + usage + "}}";
  return line;
}

class GJCStatsTest : public ::testing::Test {
 protected:
  test::ScopedTempDirectory tmp;
  test::TempDir home;
  std::string db() const { return home / ".gjc/stats.db"; }
  std::string sessions() const { return home / ".gjc/agent/sessions"; }

  void makeDatabase(bool withProvider = true) {
    SQLiteFile f(db());
    f.exec(std::string("CREATE TABLE messages(id INTEGER PRIMARY KEY, timestamp INTEGER, model TEXT,"
                       " total_tokens INTEGER, cost_total REAL") +
           (withProvider ? ", provider TEXT)" : ")"));
    f.exec("CREATE TABLE file_offsets(session_file TEXT, offset INTEGER)");
  }
};

TEST_F(GJCStatsTest, DatabaseRowsBecomeEventsWithoutFiltering) {
  makeDatabase();
  SQLiteFile f(db());
  f.exec(
      "INSERT INTO messages(timestamp, model, total_tokens, cost_total, provider) VALUES"
      " (1735689600000, 'claude-opus-4', 1200, 0.5, 'anthropic'),"
      " (1735689601500, 'gpt-5', 0, 0, NULL),"
      " (1735689602000, NULL, 99, 1, 'x')");
  f.close();

  const auto events = loadGJCStats(home.path());

  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (UsageEvent{*parseISO8601("2025-01-01T00:00:00Z"), "claude-opus-4", 1200,
                                   0.5, "anthropic"}));
  EXPECT_EQ(events[1], (UsageEvent{*parseISO8601("2025-01-01T00:00:01.5Z"), "gpt-5", 0, 0, ""}));
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(GJCStatsTest, OlderSchemaWithoutProviderStillReads) {
  makeDatabase(/*withProvider=*/false);
  SQLiteFile(db()).exec(
      "INSERT INTO messages(timestamp, model, total_tokens, cost_total) VALUES (1, 'm', 5, 0.25)");
  const auto events = loadGJCStats(home.path());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].provider, "");
  EXPECT_EQ(events[0].tokens, 5);
}

TEST_F(GJCStatsTest, SessionFilesAreReadFromTheirRecordedOffsets) {
  makeDatabase();
  const std::string first = assistantLine("a1", "2025-03-01T10:00:00Z", R"({"totalTokens":10})");
  const std::string second = assistantLine("a2", "2025-03-01T10:01:00Z", R"({"totalTokens":20})");
  const std::string tail = first + "\n" + second + "\n";
  const std::string atLine = home.write(".gjc/agent/sessions/p/at-line.jsonl", tail);
  const std::string midLine = home.write(".gjc/agent/sessions/p/mid-line.jsonl",
                                         assistantLine("b1", "2025-03-01T10:00:00Z",
                                                       R"({"totalTokens":40})") + "\n");
  const std::string done = home.write(".gjc/agent/sessions/p/done.jsonl", tail);
  home.write(".gjc/agent/sessions/q/unknown.jsonl",
             assistantLine("c1", "2025-03-01T10:00:00Z", R"({"totalTokens":80})") + "\n");
  home.write(".gjc/agent/sessions/q/notes.txt", first + "\n");
  SQLiteFile f(db());
  f.exec("INSERT INTO file_offsets VALUES (" + test::sqlQuote(atLine) + ", 0), (" +
         test::sqlQuote(atLine) + ", " + std::to_string(first.size() + 1) + "), (" +
         test::sqlQuote(midLine) + ", 5), (" + test::sqlQuote(done) + ", " +
         std::to_string(tail.size()) + "), (NULL, 3)");
  f.close();

  auto events = loadGJCStats(home.path());

  std::vector<int64_t> tokens;
  for (const auto& e : events) tokens.push_back(e.tokens);
  std::sort(tokens.begin(), tokens.end());
  // at-line: only the second line (the later offsets row wins); mid-line: the
  // broken rest of its line; done: nothing; unknown: all of it; notes: no log.
  EXPECT_EQ(tokens, (std::vector<int64_t>{20, 80}));
}

TEST_F(GJCStatsTest, SessionLinesFollowTheirRules) {
  struct Case {
    const char* name;
    std::string line;
    std::optional<UsageEvent> expected;
  };
  const Time t = *parseISO8601("2025-03-01T10:00:00.250Z");
  const std::string ts = "2025-03-01T10:00:00.250Z";
  const Case cases[] = {
      {"counts summed without a total",
       assistantLine("", ts, R"({"input":100,"output":20,"cost":{"total":0.0}})"),
       UsageEvent{t, "claude-sonnet-4", 120, 0.0, ""}},
      {"total wins", assistantLine("", ts, R"({"input":100,"output":20,"totalTokens":150,"cost":{"total":1.5}})"),
       UsageEvent{t, "claude-sonnet-4", 150, 1.5, ""}},
      {"missing cost is estimated",
       assistantLine("", ts, R"({"input":1000,"output":200,"cacheRead":300,"cacheWrite":40})",
                     R"("provider":"anthropic",)"),
       UsageEvent{t, "claude-sonnet-4", 1540, estimateCost("claude-sonnet-4", 1000, 200, 300, 40),
                  "anthropic"}},
      {"non-integral counts are 0", assistantLine("", ts, R"({"input":"100","output":7.5,"cacheRead":3})"),
       UsageEvent{t, "claude-sonnet-4", 3, estimateCost("claude-sonnet-4", 0, 0, 3, 0), ""}},
      {"message time when the line has none",
       R"({"type":"message","timestamp":5,"message":{"role":"assistant","model":"m","timestamp":"2025-03-01T10:00:00Z","usage":{"totalTokens":3,"cost":{"total":0.1}}}})",
       UsageEvent{*parseISO8601("2025-03-01T10:00:00Z"), "m", 3, 0.1, ""}},
      {"user message", R"({"type":"message","timestamp":"2025-03-01T10:00:00Z","message":{"role":"user","model":"m","usage":{"totalTokens":3}}})",
       std::nullopt},
      {"no tokens", assistantLine("", ts, R"({"input":0})"), std::nullopt},
      {"no model", R"({"type":"message","timestamp":"2025-03-01T10:00:00Z","message":{"role":"assistant","usage":{"totalTokens":3}}})",
       std::nullopt},
      {"bad time", assistantLine("", "yesterday", R"({"totalTokens":3})"), std::nullopt},
      {"other type", R"({"type":"note","timestamp":"2025-03-01T10:00:00Z","message":{"role":"assistant","model":"m","usage":{"totalTokens":3}}})",
       std::nullopt},
      {"truncated", assistantLine("", ts, R"({"totalTokens":3})").substr(0, 60), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir root;
    root.write("s.jsonl", c.line + "\n");
    const auto events = loadGJCSessionEvents(root.path(), {});
    if (c.expected) {
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0], *c.expected);
    } else {
      EXPECT_TRUE(events.empty());
    }
  }
}

TEST_F(GJCStatsTest, TheSameIdInTwoFilesCountsOnceAndTheLastReadWins) {
  // A bad byte or a broken line costs that line only.
  home.write(".gjc/agent/sessions/a.jsonl",
             "\xFF\xFE\n" + assistantLine("dup", "2025-03-01T10:00:00Z", R"({"totalTokens":10})") +
                 "\nnot json\n" +
                 assistantLine("solo", "2025-03-01T10:00:00Z", R"({"totalTokens":5})") + "\n");
  home.write(".gjc/agent/sessions/b/c.jsonl",
             assistantLine("dup", "2025-03-01T11:00:00Z", R"({"totalTokens":30})") + "\n");
  // No database: the session files alone, each from its start.
  const auto events = loadGJCStats(home.path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].tokens, 30);  // "dup", replaced in place by the later file
  EXPECT_EQ(events[1].tokens, 5);
}

TEST_F(GJCStatsTest, RowsOnlyInTheWriteAheadLogOfARunningAgentAreCounted) {
  makeDatabase();
  SQLiteFile writer(db());
  writer.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
  writer.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  writer.exec(
      "INSERT INTO messages(timestamp, model, total_tokens, cost_total, provider) VALUES"
      " (1735689600000, 'm', 7, 0.1, 'p'), (1735689600001, 'm', 8, 0.1, 'p')");
  const auto before = test::databaseHashes(db());
  ASSERT_TRUE(before[1].has_value());

  const auto events = loadGJCStats(home.path());

  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(test::databaseHashes(db()), before);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(GJCStatsTest, UnreadableDatabasesFailWithSQLitesMessageAndLeaveNoTrace) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* message;
  };
  const Case cases[] = {
      {"not SQLite", [](const std::string& p) { test::writeFile(p, std::string(2048, 'z')); },
       "file is not a database"},
      {"no messages table",
       [](const std::string& p) { SQLiteFile(p).exec("CREATE TABLE other(x)"); },
       "no such table: messages"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir h;
    c.make(h / ".gjc/stats.db");
    h.write(".gjc/agent/sessions/s.jsonl",
            assistantLine("x", "2025-03-01T10:00:00Z", R"({"totalTokens":10})") + "\n");
    const auto before = test::databaseHashes(h / ".gjc/stats.db");
    try {
      loadGJCStats(h.path());
      ADD_FAILURE() << "expected a StoreError";
    } catch (const StoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(test::databaseHashes(h / ".gjc/stats.db"), before);
    EXPECT_TRUE(tmp.copyFolders().empty());
  }
}

TEST_F(GJCStatsTest, ADatabaseThatBreaksOffHalfWayIsAnErrorNotAShorterList) {
  makeDatabase();
  {
    SQLiteFile f(db());
    f.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
           " INSERT INTO messages(timestamp, model, total_tokens, cost_total, provider)"
           " SELECT i, printf('%.200c', 'm'), 1, 0, 'p' FROM n");
  }
  // Overwrite the last page, a leaf of the messages table, with junk.
  const auto size = std::filesystem::file_size(db());
  {
    std::fstream f(db(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(size - 4096));
    f << std::string(4096, '\x5A');
  }
  try {
    loadGJCStats(home.path());
    ADD_FAILURE() << "expected a StoreError";
  } catch (const StoreError& e) {
    EXPECT_EQ(std::string(e.what()), "database disk image is malformed");
  }
  EXPECT_TRUE(tmp.copyFolders().empty());
}

}  // namespace
}  // namespace brimvale
