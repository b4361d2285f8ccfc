#include "collection/readers/cursor_transcripts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>

#include "collection/cost_estimation.h"
#include "collection/sqlite_test_util.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using test::SQLiteFile;

std::vector<std::pair<int64_t, int64_t>> charPairs(const std::vector<CursorTurn>& turns) {
  std::vector<std::pair<int64_t, int64_t>> pairs;
  for (const auto& t : turns) pairs.emplace_back(t.inputChars, t.outputChars);
  return pairs;
}

using Pairs = std::vector<std::pair<int64_t, int64_t>>;

TEST(CursorTextTurns, BlocksOpenAtTheirLabels) {
  struct Case {
    const char* name;
    std::string text;
    Pairs turns;
  };
  const Case cases[] = {
      {"one exchange", "user: hello\nA: hi there", {{6, 9}}},
      {"labels in any case for users only", "User: ab\nUSER: cd\na: not a reply\nA: xy\n", {{3 + 3 + 14, 3}}},
      {"tool lines count only in user blocks",
       "user: a\n[Tool call] read\nA: b\n[Tool call] grep\n[Tool result] 3 hits\nmore\n",
       {{2 + 16, 2 + 4}}},
      {"blanks are trimmed before the label and counted nowhere",
       "\t\u00A0user: ab \u3000\n  A: cd\t\n", {{3, 3}}},
      {"lines before any block and empty lines add nothing", "preamble\n\nuser: a\n\nA: b", {{2, 2}}},
      {"user text after the last reply yields no turn", "user: a\nA: b\nuser: c\n", {{2, 2}}},
      {"a reply without user text", "A: hello", {{0, 6}}},
      {"characters are grapheme clusters", "user: e\u0301\U0001F1F0\U0001F1F7\nA: \U0001F44D\U0001F3FD", {{3, 2}}},
  };
  for (const Case& c : cases) EXPECT_EQ(charPairs(cursorTextTurns(c.text)), c.turns) << c.name;
}

TEST(CursorTextTurns, TheDocumentedExampleGivesThreeTokens) {
  const auto events = cursorEvents(cursorTextTurns("user: hello\nA: hi there"), "cursor-auto", Time{});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].tokens, 3);
  EXPECT_EQ(events[0].cost, estimateCost("cursor-auto", 1, 2, 0, 0));
}

TEST(CursorJSONLTurns, RepliesCollectTheUserTextBeforeThem) {
  auto line = [](const char* role, const std::string& content) {
    return std::string(R"({"role":")") + role + R"(","message":{"content":)" + content + "}}\n";
  };
  const std::string text =
      line("user", R"([{"type":"text","text":"abcd"},{"type":"image","text":"zzzz"}])") +
      line("user", R"([{"type":"text","text":"\u00e9\u00e9"}])") + "not json\n" +
      line("system", R"([{"type":"text","text":"ignored"}])") +
      line("assistant", R"([{"type":"text","text":"abcdefgh"},{"type":"text","text":5}])") +
      line("assistant", R"("not an array")") + line("user", R"([{"type":"text","text":"left"}])");
  EXPECT_EQ(charPairs(cursorJSONLTurns(text)), (Pairs{{6, 8}, {0, 0}}));

  const std::string usersOnly = line("user", R"([{"type":"text","text":"abcd"}])") +
                                line("user", R"([{"type":"text","text":"efgh"}])");
  EXPECT_TRUE(cursorEvents(cursorJSONLTurns(usersOnly), "m", Time{}).empty());
}

class CursorTranscriptsTest : public ::testing::Test {
 protected:
  test::ScopedTempDirectory tmp;
  test::TempDir home;
  const Time now = *parseISO8601("2026-02-02T02:02:02Z");
  const Time fileTime = *parseISO8601("2025-07-01T08:00:00Z");

  std::string transcript(const std::string& project, const std::string& relative,
                         const std::string& text) {
    std::string path =
        home.write(".cursor/projects/" + project + "/agent-transcripts/" + relative, text);
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = std::chrono::system_clock::to_time_t(fileTime);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
  }
};

// 400 user characters and 400 reply characters: 200 tokens.
const std::string kText = "user:" + std::string(400, 'u') + "\nA:" + std::string(400, 'r') + "\n";
const std::string kJSONL =
    R"({"role":"user","message":{"content":[{"type":"text","text":")" + std::string(40, 'u') +
    R"("}]}})" "\n" R"({"role":"assistant","message":{"content":[{"type":"text","text":")" +
    std::string(40, 'r') + R"("}]}})" "\n";

TEST_F(CursorTranscriptsTest, EachConversationIsReadOnceFromItsBestFile) {
  transcript("a", "abc.jsonl", kJSONL);  // 20 tokens
  transcript("a", "abc.txt", kText);     // the same conversation: not read
  transcript("a", "deep/down/xyz.txt", kText);
  transcript("b", "xyz.txt", kText + kText);  // already read from project a
  transcript("b", "seen.txt", kText);         // excluded by the caller
  transcript("b", "notes.md", kText);
  transcript("b", "bad.txt", "user: \xFF\nA: x\n");
  std::set<std::string> excluded{"seen"};

  const auto events = loadCursorTranscriptEvents(home.path(), excluded, now);

  std::vector<int64_t> tokens;
  for (const auto& e : events) {
    tokens.push_back(e.tokens);
    EXPECT_EQ(e.model, "cursor-auto");
    EXPECT_EQ(e.ts, fileTime);
    EXPECT_EQ(e.provider, "cursor");
  }
  EXPECT_EQ(tokens, (std::vector<int64_t>{20, 200}));
  EXPECT_EQ(excluded, (std::set<std::string>{"abc", "bad", "seen", "xyz"}));
}

TEST_F(CursorTranscriptsTest, TheCodeTrackingDatabaseNamesModelAndTime) {
  {
    SQLiteFile f(home / ".cursor/ai-tracking/ai-code-tracking.db");
    f.exec(
        "CREATE TABLE conversation_summaries (conversationId TEXT, model TEXT, updatedAt INTEGER,"
        " title TEXT)");
    f.exec(
        "INSERT INTO conversation_summaries VALUES"
        " ('known', 'old', 1, ''), ('known', 'claude-4.5-sonnet', 1717243200000, ''),"
        " ('zero', 'gpt-5', 0, ''), ('nomodel', NULL, 1717243200000, ''), (NULL, 'x', 5, '')");
  }
  transcript("p", "known.txt", kText);
  transcript("p", "zero.txt", kText);
  transcript("p", "nomodel.txt", kText);
  const auto before = test::databaseHashes(home / ".cursor/ai-tracking/ai-code-tracking.db");
  std::set<std::string> excluded;

  const auto events = loadCursorTranscriptEvents(home.path(), excluded, now);

  const Time noon = *parseISO8601("2024-06-01T12:00:00Z");
  ASSERT_EQ(events.size(), 3u);
  // Files in name order: known, nomodel, zero.
  EXPECT_EQ(events[0], (UsageEvent{noon, "claude-4.5-sonnet", 200,
                                   estimateCost("claude-4.5-sonnet", 100, 100, 0, 0), "cursor"}));
  EXPECT_EQ(events[1].model, "cursor-auto");
  EXPECT_EQ(events[1].ts, noon);
  EXPECT_EQ(events[2].model, "gpt-5");
  EXPECT_EQ(events[2].ts, fileTime);  // updatedAt 0 names no time
  EXPECT_EQ(test::databaseHashes(home / ".cursor/ai-tracking/ai-code-tracking.db"), before);
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(CursorTranscriptsTest, ABrokenCodeTrackingDatabaseFallsBackToFileTimes) {
  test::writeFile(home / ".cursor/ai-tracking/ai-code-tracking.db", std::string(1000, '?'));
  transcript("p", "t.txt", kText);
  std::set<std::string> excluded;
  const auto events = loadCursorTranscriptEvents(home.path(), excluded, now);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].ts, fileTime);
  EXPECT_EQ(events[0].model, "cursor-auto");
  EXPECT_TRUE(tmp.copyFolders().empty());
}

TEST_F(CursorTranscriptsTest, NoProjectsFolderMeansNoEvents) {
  std::set<std::string> excluded;
  EXPECT_TRUE(loadCursorTranscriptEvents(home.path(), excluded, now).empty());
  EXPECT_TRUE(excluded.empty());
}

}  // namespace
}  // namespace brimvale
