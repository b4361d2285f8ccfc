#include "collection/readers/gemini_sessions.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "collection/cost_estimation.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

Time utc(const char* text) { return *parseISO8601(text); }

std::string message(const std::string& id, const std::string& tokens, const std::string& more = "",
                    const std::string& type = "gemini", const std::string& ts = "2025-06-01T10:00:00.250Z") {
  std::string idPart = id.empty() ? "" : "\"id\":\"" + id + "\",";
  return "{" + idPart + "\"timestamp\":\"" + ts + "\",\"type\":\"" + type + "\",\"content\":\"ok\",\"tokens\":" +
         tokens + more + "}";
}

std::string session(const std::vector<std::string>& messages) {
  std::string s = "{\"sessionId\":\"s\",\"messages\":[";
  for (size_t i = 0; i < messages.size(); ++i) s += (i ? "," : "") + messages[i];
  return s + "],\"lastUpdated\":\"2025-06-01T10:00:00Z\"}";
}

const std::string kTokens = "{\"input\":1000,\"output\":100,\"cached\":400,\"thoughts\":50,\"tool\":10}";

std::vector<UsageEvent> readOne(const std::string& content) {
  test::TempDir home;
  home.write(".gemini/tmp/abc/chats/session-2025-06-01T10-00-abc.json", content);
  return loadGeminiSessions(home.path());
}

TEST(GeminiSessions, PathRule) {
  struct Case {
    const char* path;
    bool read;
  };
  const Case cases[] = {
      {"proj/chats/session-2025-06-01T10-00-abc.json", true},
      {"a/b/proj/chats/session-1.json", true},
      {"chats/session-1.json", true},
      {"proj//chats//session-1.json", true},
      {"proj/chats/notes.json", false},
      {"proj/session-1.json", false},
      {"proj/chats/session-1.jsonl", false},
      {"proj/Chats/session-1.json", false},
      {"proj/chats/Session-1.json", false},
      {"session-1.json", false},
      {"proj/chats/sub/session-1.json", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isGeminiSessionPath(c.path), c.read) << c.path;

  test::TempDir home;
  for (const auto& c : cases)
    home.write(std::string(".gemini/tmp/") + c.path, session({message(c.path, kTokens)}));
  auto events = loadGeminiSessions(home.path());
  EXPECT_EQ(events.size(), 4u);
}

TEST(GeminiSessions, BuildsTheEvent) {
  auto events = readOne(session({message("m1", kTokens, ",\"model\":\"gemini-2.5-pro\"")}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], (UsageEvent{utc("2025-06-01T10:00:00.250Z"), "gemini-2.5-pro", 1160,
                                   estimateCost("gemini-2.5-pro", 600, 150, 400, 0), "google"}));
}

TEST(GeminiSessions, MessageAndDocumentRules) {
  struct Case {
    const char* name;
    std::string content;
    size_t events;
    int64_t tokens;
    const char* model;
  };
  const std::string withTotal = "{\"input\":1000,\"output\":100,\"cached\":400,\"thoughts\":50,\"tool\":10,\"total\":2000}";
  const Case cases[] = {
      {"no model", session({message("m", kTokens)}), 1, 1160, "gemini"},
      {"model not a string", session({message("m", kTokens, ",\"model\":7")}), 1, 1160, "gemini"},
      {"total wins", session({message("m", withTotal)}), 1, 2000, "gemini"},
      {"fractional total is absent", session({message("m", "{\"input\":5,\"total\":7.5}")}), 1, 5, "gemini"},
      {"user message", session({message("m", kTokens, "", "user")}), 0, 0, ""},
      {"tokens not an object", session({message("m", "[1]")}), 0, 0, ""},
      {"zero tokens", session({message("m", "{\"input\":0}")}), 0, 0, ""},
      {"timestamp without zone", session({message("m", kTokens, "", "gemini", "2025-06-01T10:00:00")}), 0, 0, ""},
      {"plain timestamp", session({message("m", kTokens, "", "gemini", "2025-06-01T10:00:00Z")}), 1, 1160, "gemini"},
      {"one id twice in a file", session({message("m", kTokens), message("m", "{\"input\":3}")}), 1, 3, "gemini"},
      {"no ids are never merged", session({message("", kTokens), message("", kTokens)}), 2, 2320, "gemini"},
      {"bad messages are skipped, others read",
       session({message("a", "{\"input\":\"9\"}"), "{\"type\":\"gemini\"}", message("b", kTokens)}), 1, 1160,
       "gemini"},
      {"one non-object message spoils the file", session({message("a", kTokens), "42"}), 0, 0, ""},
      {"messages not an array", "{\"messages\":{}}", 0, 0, ""},
      {"document not an object", "[" + session({message("a", kTokens)}) + "]", 0, 0, ""},
      {"invalid JSON", session({message("a", kTokens)}) + ",", 0, 0, ""},
      {"invalid JSON in an unused part", "{\"junk\":tru," + session({message("a", kTokens)}).substr(1), 0, 0, ""},
      {"invalid UTF-8", session({message("a", kTokens, ",\"x\":\"\xff\"")}), 0, 0, ""},
      {"cut short", session({message("a", kTokens)}).substr(0, 80), 0, 0, ""},
      {"empty file", "", 0, 0, ""},
  };
  for (const auto& c : cases) {
    auto events = readOne(c.content);
    ASSERT_EQ(events.size(), c.events) << c.name;
    int64_t sum = 0;
    for (const auto& e : events) {
      sum += e.tokens;
      EXPECT_EQ(e.model, c.model) << c.name;
    }
    EXPECT_EQ(sum, c.tokens) << c.name;
  }
}

TEST(GeminiSessions, OneIdAcrossFilesCountsOnceAndTheLastFileWins) {
  test::TempDir home;
  home.write(".gemini/tmp/b/chats/session-2.json", session({message("same", "{\"input\":2}")}));
  home.write(".gemini/tmp/a/chats/session-1.json", session({message("same", "{\"input\":1}"), message("x", "{\"input\":5}")}));
  auto events = loadGeminiSessions(home.path());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].tokens + events[1].tokens, 7);  // "b/..." is read after "a/..."
}

TEST(GeminiSessions, BadFoldersAndFilesGiveNothing) {
  EXPECT_TRUE(loadGeminiSessions("").empty());
  test::TempDir home;
  EXPECT_TRUE(loadGeminiSessions(home.path()).empty());
  std::filesystem::create_directories(home / ".gemini/tmp/p/chats/session-dir.json");
  std::filesystem::create_symlink(home / "none", home / ".gemini/tmp/p/chats/session-link.json");
  home.write(".gemini/tmp/p/chats/session-ok.json", session({message("a", kTokens)}));
  EXPECT_EQ(loadGeminiSessions(home.path()).size(), 1u);
}

}  // namespace
}  // namespace brimvale
