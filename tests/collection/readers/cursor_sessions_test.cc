#include "collection/readers/cursor_sessions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "collection/cost_estimation.h"
#include "collection/sqlite_copy.h"
#include "collection/sqlite_test_util.h"
#include "platform/paths.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using test::SQLiteFile;

std::string userBubble(const std::string& text, const std::string& extra = "") {
  return R"({"type":1,"text":")" + text + "\"" + extra + "}";
}
std::string replyBubble(const std::string& text, const std::string& extra = "") {
  return R"({"type":2,"text":")" + text + "\"" + extra + "}";
}

CursorTurn turn(const std::string& json) {
  auto t = cursorComposerTurn(json);
  if (!t) throw std::runtime_error("no turn: " + json);
  return *t;
}

const Time kFallback = *parseISO8601("2025-05-05T05:05:05Z");

TEST(CursorEvents, PairsRepliesWithTheirInputAndEstimatesFromCharacters) {
  struct Case {
    const char* name;
    std::vector<std::string> bubbles;
    std::vector<std::pair<int64_t, int64_t>> inputOutput;  // one per event
  };
  const Case cases[] = {
      {"characters only", {userBubble(std::string(400, 'u')), replyBubble(std::string(100, 'r'))},
       {{100, 25}}},
      {"recorded output",
       {userBubble(std::string(40, 'u')), userBubble(std::string(60, 'u')),
        replyBubble("x", R"(,"tokenCount":{"outputTokens":30})")},
       {{25, 30}}},
      {"recorded user input",
       {userBubble("hi", R"(,"tokenCount":{"inputTokens":500})"), replyBubble("12345678")},
       {{500, 2}}},
      {"the reply's own input wins",
       {userBubble("hi", R"(,"tokenCount":{"inputTokens":500})"),
        replyBubble("12345678", R"(,"tokenCount":{"inputTokens":900,"outputTokens":0})")},
       {{900, 2}}},
      {"a short reply without input", {replyBubble("abc")}, {}},
      {"input after the last reply",
       {userBubble(std::string(8, 'u')), replyBubble(std::string(8, 'r')),
        userBubble(std::string(400, 'u'))},
       {{2, 2}}},
      {"characters are grapheme clusters",
       // 8 emoji families and 8 accented letters: 16 characters, 4 tokens.
       {userBubble(std::string(8 * 1, 'a')),
        replyBubble([] {
          std::string s;
          for (int i = 0; i < 8; ++i) s += "\U0001F468\u200D\U0001F469\u200D\U0001F467e\u0301";
          return s;
        }())},
       {{2, 4}}},
      {"thinking counts as reply text",
       {userBubble("abcd"), replyBubble("abcd", R"(,"thinking":{"text":"abcdabcd"})"),
        userBubble("abcd"), replyBubble("", R"(,"thinking":"abcdabcd")")},
       {{1, 3}, {1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CursorTurn> turns;
    for (const auto& b : c.bubbles) turns.push_back(turn(b));
    const auto events = cursorEvents(turns, "fallback-model", kFallback);
    ASSERT_EQ(events.size(), c.inputOutput.size());
    for (size_t i = 0; i < events.size(); ++i) {
      const auto [in, out] = c.inputOutput[i];
      EXPECT_EQ(events[i], (UsageEvent{kFallback, "fallback-model", in + out,
                                       estimateCost("fallback-model", in, out, 0, 0), "cursor"}));
    }
  }
}

TEST(CursorEvents, AReplysOwnModelAndTimeBeatTheFallbacks) {
  const auto events = cursorEvents(
      {turn(userBubble("abcd")),
       turn(replyBubble("abcd", R"(,"modelType":"gpt-5","createdAt":"2024-06-01T12:00:00Z")"))},
      "fallback-model", kFallback);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].model, "gpt-5");
  EXPECT_EQ(events[0].ts, *parseISO8601("2024-06-01T12:00:00Z"));
}

TEST(CursorComposerTurn, MessagesWithoutCharactersOrTokensGiveNoTurn) {
  EXPECT_FALSE(cursorComposerTurn(R"({"type":1,"text":""})"));
  EXPECT_FALSE(cursorComposerTurn(R"({"type":2,"tokenCount":{"inputTokens":0,"outputTokens":0}})"));
  EXPECT_FALSE(cursorComposerTurn(R"([1,2])"));
  EXPECT_FALSE(cursorComposerTurn(R"({"type":1,"text":"unterminated)"));
  auto tokensOnly = cursorComposerTurn(R"({"type":"2","tokenCount":{"outputTokens":"7"}})");
  ASSERT_TRUE(tokensOnly);
  EXPECT_EQ(tokensOnly->outputTokens, 7);
  EXPECT_FALSE(tokensOnly->inputTokens);
}

TEST(CursorComposerTurn, CreationTimesFromTextsAndNumbers) {
  const Time noon = *parseISO8601("2024-06-01T12:00:00Z");
  for (const char* created : {R"("1717243200000")", "1717243200000", R"("1717243200")", "1717243200",
                              R"("2024-06-01T12:00:00Z")", R"("2024-06-01T12:00:00.000Z")"}) {
    auto t = cursorComposerTurn(std::string(R"({"type":1,"text":"x","createdAt":)") + created + "}");
    ASSERT_TRUE(t) << created;
    EXPECT_EQ(t->ts, noon) << created;
  }
  EXPECT_FALSE(cursorComposerTurn(R"({"type":1,"text":"x","createdAt":"soon"})")->ts);
  EXPECT_FALSE(cursorParseDate(std::nullopt));
  EXPECT_FALSE(cursorParseDate(""));
}

TEST(CursorModel, FirstMatchWins) {
  struct Case {
    const char* json;
    std::optional<std::string> model;
  };
  const Case cases[] = {
      {R"({"modelType":"a","modelInfo":{"modelName":"b"}})", "a"},
      {R"({"modelType":"","modelInfo":{"modelName":"b"}})", "b"},
      {R"({"modelConfig":{"modelName":"c","selectedModels":[{"modelId":"d"}]}})", "c"},
      {R"({"modelConfig":{"modelName":"default","selectedModels":[{"modelId":"gpt-5"}]}})", "gpt-5"},
      {R"({"modelConfig":{"selectedModels":[{"x":1},{"modelId":"e"}]},"modelName":"f"})", "f"},
      {R"({"modelName":"default"})", std::nullopt},
      {R"({"modelName":7})", std::nullopt},
      {R"({"modelInfo":"g"})", std::nullopt},
      {R"({})", std::nullopt},
      {R"("text")", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(cursorModel(c.json), c.model) << c.json;
}

class CursorStateDatabaseTest : public ::testing::Test {
 protected:
  test::ScopedTempDirectory tmp;
  test::TempDir home;
  std::string path() const { return paths::cursorStateDB(home.path()); }

  void make() {
    SQLiteFile f(path());
    f.exec("CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE, value BLOB)");
    f.exec("CREATE TABLE cursorDiskKV (key TEXT UNIQUE ON CONFLICT REPLACE, value BLOB)");
    f.exec(
        "CREATE TABLE composerHeaders (composerId TEXT PRIMARY KEY, createdAt INTEGER,"
        " lastUpdatedAt INTEGER, value TEXT)");
  }
  void bubble(const std::string& key, const std::string& value) {
    SQLiteFile(path()).exec("INSERT INTO cursorDiskKV VALUES (" + test::sqlQuote(key) +
                            ", CAST(" + test::sqlQuote(value) + " AS BLOB))");
  }
};

TEST_F(CursorStateDatabaseTest, ComposerBubblesBecomeEventsPerConversation) {
  make();
  SQLiteFile(path()).exec(
      "INSERT INTO composerHeaders VALUES ('c1', 1717243200, 0, '{\"modelConfig\":{\"modelName\":"
      "\"claude-4-sonnet\"}}'), ('c3', 0, 0, 'not json')");
  // c1: the reply row comes first but has a time, the user row has none and
  // so sorts before it; the message id of the reply holds colons.
  bubble("bubbleId:c1:m2:part:2", replyBubble(std::string(100, 'r'), R"(,"createdAt":1717243300000)"));
  bubble("bubbleId:c1:m1", userBubble(std::string(400, 'u')));
  // c2: no header, no model anywhere; its own times.
  bubble("bubbleId:c2:m1", userBubble("abcd", R"(,"createdAt":"1717243200")"));
  bubble("bubbleId:c2:m2", replyBubble("abcdefgh", R"(,"createdAt":"1717243201")"));
  // Skipped: two-part key, another prefix, no JSON object, nothing to count.
  bubble("bubbleId:c4", replyBubble(std::string(40, 'x')));
  bubble("composerData:c4:x", replyBubble(std::string(40, 'x')));
  bubble("bubbleId:c4:m1", "[1,2,3]");
  bubble("bubbleId:c4:m2", R"({"type":1,"text":""})");
  SQLiteFile(path()).exec("INSERT INTO cursorDiskKV VALUES ('bubbleId:c4:m3', NULL)");
  const auto before = test::databaseHashes(path());

  const Time now = *parseISO8601("2026-01-01T00:00:00Z");
  CursorComposerLoad load = withSQLiteCopy(path(), "cursor-composer",
                                           [&](sqlite3* db) { return loadCursorComposerEvents(db, now); });

  EXPECT_EQ(load.composerIds, (std::vector<std::string>{"c1", "c2"}));
  ASSERT_EQ(load.events.size(), 2u);
  EXPECT_EQ(load.events[0],
            (UsageEvent{*parseISO8601("2024-06-01T12:01:40Z"), "claude-4-sonnet", 125,
                        estimateCost("claude-4-sonnet", 100, 25, 0, 0), "cursor"}));
  EXPECT_EQ(load.events[1], (UsageEvent{*parseISO8601("2024-06-01T12:00:01Z"), "cursor-auto", 3,
                                        estimateCost("cursor-auto", 1, 2, 0, 0), "cursor"}));
  EXPECT_EQ(test::databaseHashes(path()), before);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(CursorStateDatabaseTest, HeadersGiveTheFallbackModelAndTime) {
  make();
  SQLiteFile(path()).exec(
      "INSERT INTO composerHeaders VALUES"
      " ('a', 1717243200, 0, '{\"modelType\":\"m-a\"}'),"
      " ('b', 5, 1717243200000, NULL),"
      " ('c', 0, 0, '[]'),"
      " (NULL, 1, 1, '{}')");
  auto headers = withSQLiteCopy(path(), "cursor-composer", cursorComposerHeaders);
  const Time noon = *parseISO8601("2024-06-01T12:00:00Z");
  EXPECT_EQ(headers, (std::map<std::string, CursorSummary>{{"a", {"m-a", noon}},
                                                           {"b", {std::nullopt, noon}},
                                                           {"c", {std::nullopt, std::nullopt}}}));

  // A conversation with a header but without times of its own: every event
  // takes the header's model and time.
  bubble("bubbleId:a:1", userBubble("abcdabcd"));
  bubble("bubbleId:a:2", replyBubble("abcdabcd"));
  auto load = withSQLiteCopy(path(), "cursor-composer", [](sqlite3* db) {
    return loadCursorComposerEvents(db, Time{});
  });
  ASSERT_EQ(load.events.size(), 1u);
  EXPECT_EQ(load.events[0].model, "m-a");
  EXPECT_EQ(load.events[0].ts, noon);
}

TEST_F(CursorStateDatabaseTest, ConversationsCountedHereAreNotReadAgainFromTranscripts) {
  make();
  bubble("bubbleId:shared:1", userBubble(std::string(40, 'u')));
  bubble("bubbleId:shared:2", replyBubble(std::string(40, 'r')));
  const std::string transcript = "user: " + std::string(400, 'u') + "\nA: " + std::string(400, 'r') + "\n";
  home.write(".cursor/projects/p/agent-transcripts/shared.txt", transcript);
  home.write(".cursor/projects/p/agent-transcripts/other.txt", transcript);

  const auto events = loadCursorSessions(home.path(), kFallback);

  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].tokens, 20);   // the database's "shared"
  EXPECT_EQ(events[1].tokens, 200);  // only "other" from the transcripts
}

TEST_F(CursorStateDatabaseTest, AnUnreadableStateDatabaseOnlyLeavesTheTranscripts) {
  for (const char* content : {"", "this is not a database at all, just some bytes........"}) {
    test::writeFile(path(), content);
    home.write(".cursor/projects/p/agent-transcripts/t.txt", "user: abcd\nA: abcdefgh\n");
    const auto before = test::databaseHashes(path());
    const auto events = loadCursorSessions(home.path(), kFallback);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].tokens, 3);
    EXPECT_EQ(test::databaseHashes(path()), before);
    EXPECT_TRUE(tmp.copyFolders().empty());
  }
}

}  // namespace
}  // namespace brimvale
