// brimvale-cli over a home holding the gjc, Cursor and Grok records in their
// tools' own formats: every reader runs through the real refresh cycle.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "collection/sqlite_test_util.h"
#include "model/widget_payload.h"
#include "platform/paths.h"
#include "support/run_process.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using test::SQLiteFile;

// gjc: 1000 + 500 from the database, 200 from a session tail.
void writeGJC(const test::TempDir& home) {
  SQLiteFile f(home / ".gjc/stats.db");
  f.exec(
      "CREATE TABLE messages(timestamp INTEGER, model TEXT, total_tokens INTEGER, cost_total REAL,"
      " provider TEXT)");
  f.exec("CREATE TABLE file_offsets(session_file TEXT, offset INTEGER)");
  f.exec(
      "INSERT INTO messages VALUES (1780000000000, 'claude-sonnet-4', 1000, 0.5, 'anthropic'),"
      " (1780000001000, 'claude-sonnet-4', 500, 0.25, 'anthropic')");
  const std::string counted =
      R"({"type":"message","id":"old","timestamp":"2026-06-01T00:00:00Z","message":{"role":"assistant","model":"claude-sonnet-4","usage":{"totalTokens":999}}})"
      "\n";
  const std::string fresh =
      R"({"type":"message","id":"new","timestamp":"2026-06-02T00:00:00Z","message":{"role":"assistant","model":"claude-sonnet-4","usage":{"totalTokens":200}}})"
      "\n";
  const std::string path = home.write(".gjc/agent/sessions/p/s.jsonl", counted + fresh);
  f.exec("INSERT INTO file_offsets VALUES (" + test::sqlQuote(path) + ", " +
         std::to_string(counted.size()) + ")");
}

// Cursor: one composer conversation of 125 tokens, one transcript of 200.
void writeCursor(const test::TempDir& home) {
  SQLiteFile f(paths::cursorStateDB(home.path()));
  f.exec("CREATE TABLE cursorDiskKV (key TEXT UNIQUE ON CONFLICT REPLACE, value BLOB)");
  f.exec(
      "CREATE TABLE composerHeaders (composerId TEXT PRIMARY KEY, createdAt INTEGER,"
      " lastUpdatedAt INTEGER, value TEXT)");
  f.exec("INSERT INTO composerHeaders VALUES ('c1', 1780000000, 0, '{\"modelType\":\"gpt-5\"}')");
  f.exec("INSERT INTO cursorDiskKV VALUES ('bubbleId:c1:1', '{\"type\":1,\"text\":\"" +
         std::string(400, 'u') + "\"}'), ('bubbleId:c1:2', '{\"type\":2,\"text\":\"" +
         std::string(100, 'r') + "\"}')");
  home.write(".cursor/projects/p/agent-transcripts/c1.txt", "user: counted already\nA: yes\n");
  home.write(".cursor/projects/p/agent-transcripts/t2.txt",
             "user:" + std::string(400, 'u') + "\nA:" + std::string(400, 'r') + "\n");
}

// Grok: 150 from the database, 1100 from a log, 7000 from a session folder.
void writeGrok(const test::TempDir& home) {
  SQLiteFile f(home / ".grok/grok.db");
  f.exec(
      "CREATE TABLE usage_events (created_at TEXT, model TEXT, input_tokens INTEGER,"
      " output_tokens INTEGER, total_tokens INTEGER, cost_micros REAL)");
  f.exec("INSERT INTO usage_events VALUES ('2026-06-01T10:00:00Z', 'grok-4', 100, 50, 120, 2500000)");
  home.write(".grok/logs/a.jsonl",
             R"({"msg":"shell.turn.inference_done","ts":"2026-06-01T11:00:00Z","sid":"logged","ctx":{"prompt_tokens":1000,"cached_prompt_tokens":1200,"completion_tokens":100}})"
             "\n");
  home.write(".grok/sessions/p/logged/summary.json", R"({"current_model_id":"grok-4"})");
  home.write(".grok/sessions/p/logged/updates.jsonl",
             R"({"params":{"_meta":{"totalTokens":99999}}})" "\n");
  home.write(".grok/sessions/p/folder/summary.json",
             R"({"current_model_id":"grok-4","created_at":"2026-06-01T12:00:00Z"})");
  std::string updates;
  for (int t : {1000, 3000, 5000, 800, 2000})
    updates += R"({"params":{"_meta":{"totalTokens":)" + std::to_string(t) + "}}}\n";
  home.write(".grok/sessions/p/folder/updates.jsonl", updates);
}

struct CliRun {
  test::ProcessResult result;
  WidgetPayload payload;
};

CliRun runCli(const test::TempDir& home, const test::TempDir& tmp) {
  CliRun run;
  run.result = test::runProcess({test::cliPath(), "--home", home.path(), "--source", "gjc",
                                 "--source", "cursor", "--source", "grok", "--json", "--offline",
                                 "--now", "2026-06-10T12:00:00Z"},
                                {{"TMPDIR", tmp.path()}});
  auto json = nlohmann::json::parse(run.result.out, nullptr, false);
  if (!json.is_discarded()) run.payload = json.get<WidgetPayload>();
  return run;
}

int64_t totalTokens(const WidgetPayload& payload, const std::string& source) {
  auto it = payload.sources.find(source);
  return it == payload.sources.end() ? -1 : it->second.totalTokens;
}

TEST(CliDatabaseReaders, ShowsEachToolsEventsAndLeavesNoTrace) {
  test::TempDir home;
  test::TempDir tmp;
  writeGJC(home);
  writeCursor(home);
  writeGrok(home);
  const auto before = test::databaseHashes(home / ".gjc/stats.db");

  const CliRun run = runCli(home, tmp);

  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(totalTokens(run.payload, "gjc"), 1000 + 500 + 200) << run.result.out;
  EXPECT_EQ(run.payload.sources.at("gjc").totalMessages, 3);
  EXPECT_EQ(totalTokens(run.payload, "cursor"), 125 + 200);
  EXPECT_EQ(totalTokens(run.payload, "grok"), 150 + 1100 + 7000);
  EXPECT_EQ(test::databaseHashes(home / ".gjc/stats.db"), before);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(CliDatabaseReaders, ABrokenGJCDatabaseIsReportedAndTheOthersStillCount) {
  test::TempDir home;
  test::TempDir tmp;
  test::writeFile(home / ".gjc/stats.db", std::string(4096, '#'));
  writeCursor(home);
  writeGrok(home);

  const CliRun run = runCli(home, tmp);

  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.err, "gjc: file is not a database\n");
  EXPECT_EQ(totalTokens(run.payload, "cursor"), 125 + 200);
  EXPECT_EQ(totalTokens(run.payload, "grok"), 150 + 1100 + 7000);
  EXPECT_LE(totalTokens(run.payload, "gjc"), 0);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

}  // namespace
}  // namespace brimvale
