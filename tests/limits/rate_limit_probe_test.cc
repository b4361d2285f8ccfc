#include "limits/rate_limit_probe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "collection/sqlite_test_util.h"
#include "limits/http_client.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const Time kNow = fromUnixSeconds(1'750'000'000);

double millisFromNow(std::chrono::seconds offset) {
  return toUnixSeconds(kNow + offset) * 1000.0;
}

Time utc(const char* text) { return *parseISO8601(text); }

// A fake home with the three token sources and a loopback usage endpoint that
// answers per bearer token.
class RateLimitProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/api/oauth/usage", [this](const httplib::Request& request,
                                                   httplib::Response& response) {
      const std::string auth = request.get_header_value("Authorization");
      const std::string token = auth.rfind("Bearer ", 0) == 0 ? auth.substr(7) : "";
      if (token == "hang") {
        server_.held();
        return;
      }
      const auto it = answers_.find(token);
      if (it == answers_.end()) {
        response.status = 401;
        response.set_content(R"({"error":"invalid token"})", "application/json");
        return;
      }
      response.set_content(it->second, "application/json");
    });
    server_.start();
    endpoints_.anthropicAPI = server_.url();
  }

  void writeClaudeCode(const std::string& token, std::chrono::seconds expiresIn) {
    test::writeFile(RateLimitProbe::claudeCredentialsPath(home_.path()),
                    json{{"claudeAiOauth",
                          {{"accessToken", token}, {"expiresAt", millisFromNow(expiresIn)},
                           {"refreshToken", "cc-refresh"}}}}
                        .dump());
  }

  // The agent database with credential rows and stored reports.
  void writeAgent(const std::vector<std::pair<std::string, std::chrono::seconds>>& credentials,
                  const std::vector<json>& reports) {
    test::SQLiteFile db(RateLimitProbe::agentDatabasePath(home_.path()));
    db.exec("CREATE TABLE auth_credentials (provider TEXT, credential_type TEXT, data TEXT)");
    db.exec("CREATE TABLE cache (key TEXT PRIMARY KEY, value TEXT)");
    db.exec("INSERT INTO auth_credentials VALUES ('openai', 'oauth', " +
            test::sqlQuote(json{{"access", "not-anthropic"}, {"expires", millisFromNow(1h)}}.dump()) +
            ")");
    for (const auto& [token, expiresIn] : credentials) {
      db.exec("INSERT INTO auth_credentials VALUES ('anthropic', 'oauth', " +
              test::sqlQuote(json{{"access", token}, {"expires", millisFromNow(expiresIn)}}.dump()) +
              ")");
    }
    int i = 0;
    for (const auto& report : reports) {
      db.exec("INSERT INTO cache VALUES ('usage_cache:report:" + std::to_string(i++) + "', " +
              test::sqlQuote(json{{"value", report}}.dump()) + ")");
    }
    db.exec("INSERT INTO cache VALUES ('other:key', " +
            test::sqlQuote(json{{"value", {{"limits", json::array({storedLimit("x:5h", 0.1)})},
                                           {"fetchedAt", 9e12}}}}
                               .dump()) +
            ")");
  }

  static json storedLimit(const std::string& id, double used, double resetsAtMs = 0) {
    json limit = {{"id", id}, {"amount", {{"usedFraction", used}}}};
    if (resetsAtMs > 0) limit["window"] = {{"resetsAt", resetsAtMs}};
    return limit;
  }

  RateLimitProbe::Environment env(RateLimitProbe::TokenSource account = {}) {
    RateLimitProbe::Environment e;
    e.home = home_.path();
    e.http = &client_;
    e.endpoints = endpoints_;
    e.now = [] { return kNow; };
    e.accountToken = std::move(account);
    return e;
  }

  // The bearer tokens of the requests so far, once at least `expected` are noted.
  std::vector<std::string> tokensSent(std::size_t expected) {
    std::vector<std::string> tokens;
    for (const auto& seen : server_.seen(expected)) tokens.push_back(seen.header("Authorization"));
    return tokens;
  }

  test::ScopedTempDirectory tmp_;
  test::TempDir home_;
  test::LoopbackServer server_;
  HttpClient client_{HttpLimits{300ms, 800ms, std::size_t{4} << 20}};
  Endpoints endpoints_;
  std::map<std::string, std::string> answers_;
};

const char* kBoth = R"({
  "five_hour": {"utilization": 37.5, "resets_at": "2025-06-01T12:00:00.123456+00:00"},
  "seven_day": {"utilization": 80, "resets_at": "2025-06-03T08:00:00Z"},
  "seven_day_opus": {"utilization": null}
})";

TEST_F(RateLimitProbeTest, TheFirstTokenThatGetsWindowsWinsAndEachIsTriedInOrder) {
  // The account's token is refused, the agent's answer holds no window, and
  // Claude Code's answer has only the five-hour window.
  answers_["agent-token"] = "{}";
  answers_["cc-token"] = R"({"five_hour": {"utilization": 12, "resets_at": "2025-06-01T12:00:00Z"}})";
  writeAgent({{"agent-token", 2min}}, {});
  writeClaudeCode("cc-token", 1h);

  const auto windows = RateLimitProbe::fetch(env([] { return std::optional<std::string>("account-token"); }));
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0], (LimitWindow{"5h", "Claude 5 Hour", 0.12, utc("2025-06-01T12:00:00Z"), std::nullopt}));
  EXPECT_EQ(tokensSent(3), (std::vector<std::string>{"Bearer account-token", "Bearer agent-token",
                                                    "Bearer cc-token"}));
  for (const auto& seen : server_.seen(3)) {
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.path, "/api/oauth/usage");
    EXPECT_EQ(seen.header("anthropic-beta"), "oauth-2025-04-20");
  }
  EXPECT_TRUE(tmp_.copyFolders().empty());
}

TEST_F(RateLimitProbeTest, ARefusedAccountTokenFallsThroughToClaudeCodesBothWindows) {
  answers_["cc-token"] = kBoth;
  writeClaudeCode("cc-token", 1h);
  const auto windows = RateLimitProbe::fetch(env([] { return std::optional<std::string>("account"); }));
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].id, "5h");
  EXPECT_DOUBLE_EQ(windows[0].usedFraction, 0.375);
  EXPECT_EQ(windows[0].resetsAt, utc("2025-06-01T12:00:00Z"));
  EXPECT_EQ(windows[1], (LimitWindow{"7d", "Claude 7 Day", 0.8, utc("2025-06-03T08:00:00Z"), std::nullopt}));
}

TEST_F(RateLimitProbeTest, TokensCloseToExpiryOrWithoutExpiryAreNotUsed) {
  writeAgent({{"agent-30s", 30s}, {"agent-2min", 2min}}, {});
  writeClaudeCode("cc-30s", 30s);
  answers_["agent-30s"] = kBoth;
  answers_["agent-2min"] = kBoth;
  answers_["cc-30s"] = kBoth;
  EXPECT_EQ(RateLimitProbe::fetch(env()).size(), 2u);
  EXPECT_EQ(tokensSent(1), std::vector<std::string>{"Bearer agent-2min"});

  test::writeFile(RateLimitProbe::claudeCredentialsPath(home_.path()),
                  R"({"claudeAiOauth": {"accessToken": "no-expiry"}})");
  EXPECT_EQ(RateLimitProbe::claudeCodeToken(home_.path(), kNow), std::nullopt);
  writeClaudeCode("cc-2min", 2min);
  EXPECT_EQ(RateLimitProbe::claudeCodeToken(home_.path(), kNow), "cc-2min");
}

TEST_F(RateLimitProbeTest, WithoutAnySourceNothingIsSent) {
  EXPECT_TRUE(RateLimitProbe::fetch(env()).empty());
  EXPECT_TRUE(RateLimitProbe::fetch(env([] { return std::optional<std::string>(""); })).empty());
  EXPECT_TRUE(server_.seen().empty());
}

TEST_F(RateLimitProbeTest, WhenEveryTokenFailsTheNewestStoredReportIsUsed) {
  writeAgent({{"agent-token", 1h}},
             {
                 json{{"fetchedAt", 1'700'000'000'000.0},
                      {"limits", json::array({storedLimit("org:abc:5h", 0.5), storedLimit("7d", 0.6)})}},
                 json{{"fetchedAt", 1'700'000'500'000.0},
                      {"limits", json::array({storedLimit("org:abc:5h", 0.8, 1'700'003'600'000.0),
                                              storedLimit("monthly", 0.9),
                                              json{{"id", "org:abc:7d"}, {"label", "Weekly"},
                                                   {"amount", {{"usedFraction", 0.25}}}}})}},
                 // Newer, but nothing in it converts: never chosen.
                 json{{"fetchedAt", 1'700'000'900'000.0},
                      {"limits", json::array({storedLimit("monthly", 0.1), json{{"id", "5h"}}})}},
                 json{{"fetchedAt", "soon"}, {"limits", "none"}},
             });
  writeClaudeCode("cc-token", 1h);
  const auto hashes = test::databaseHashes(RateLimitProbe::agentDatabasePath(home_.path()));
  const auto credentials = test::fileHash(RateLimitProbe::claudeCredentialsPath(home_.path()));

  const auto windows = RateLimitProbe::fetch(env());
  const Time asOf = fromUnixSeconds(1'700'000'500);
  EXPECT_EQ(windows, (std::vector<LimitWindow>{
                         {"5h", "Claude 5 Hour", 0.8, fromUnixSeconds(1'700'003'600), asOf},
                         {"7d", "Weekly", 0.25, std::nullopt, asOf},
                     }));
  EXPECT_EQ(server_.seen(2).size(), 2u);  // both tokens were tried first
  // Nothing of the tools' own files changed, and the private copy is gone.
  EXPECT_EQ(test::databaseHashes(RateLimitProbe::agentDatabasePath(home_.path())), hashes);
  EXPECT_EQ(test::fileHash(RateLimitProbe::claudeCredentialsPath(home_.path())), credentials);
  EXPECT_TRUE(tmp_.copyFolders().empty());
}

TEST_F(RateLimitProbeTest, OfEqualStoredReportsTheOneReadLaterWins) {
  test::SQLiteFile db(RateLimitProbe::agentDatabasePath(home_.path()));
  db.exec("CREATE TABLE cache (key TEXT, value TEXT)");
  for (double used : {0.1, 0.2}) {
    db.exec("INSERT INTO cache VALUES ('usage_cache:report:x', " +
            test::sqlQuote(json{{"value", {{"fetchedAt", 5000}, {"limits", json::array({storedLimit("5h", used)})}}}}.dump()) +
            ")");
  }
  db.exec("INSERT INTO cache VALUES ('usage_cache:report:y', NULL)");
  db.exec("INSERT INTO cache VALUES ('usage_cache:report:z', 'not json')");
  const auto windows = RateLimitProbe::cachedWindows(db.db());
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_DOUBLE_EQ(windows[0].usedFraction, 0.2);
  EXPECT_EQ(windows[0].asOf, fromUnixSeconds(5));
}

TEST_F(RateLimitProbeTest, AServerThatNeverAnswersEndsInTheStoredReport) {
  writeAgent({{"hang", 1h}}, {json{{"fetchedAt", 1000}, {"limits", json::array({storedLimit("7d", 0.4)})}}});
  const auto windows = RateLimitProbe::fetch(env());
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].id, "7d");
  EXPECT_EQ(windows[0].asOf, fromUnixSeconds(1));
  EXPECT_TRUE(tmp_.copyFolders().empty());
}

TEST_F(RateLimitProbeTest, APlantedLinkInPlaceOfTheCopyFolderIsRefusedAndNotFollowed) {
  writeAgent({{"agent-token", 1h}}, {});
  writeClaudeCode("cc-token", 1h);
  answers_["agent-token"] = kBoth;
  answers_["cc-token"] = kBoth;
  test::TempDir elsewhere;
  const std::string folder = tmp_.copyFolder("agent");
  ASSERT_EQ(::symlink(elsewhere.path().c_str(), folder.c_str()), 0);

  EXPECT_EQ(RateLimitProbe::fetch(env()).size(), 2u);
  EXPECT_EQ(tokensSent(1), std::vector<std::string>{"Bearer cc-token"});
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
  EXPECT_TRUE(std::filesystem::is_symlink(folder));
}

TEST(RateLimitProbeParseTest, LiveAnswers) {
  struct Case {
    const char* answer;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases = {
      {R"({"five_hour": {"utilization": 10}})", {"5h"}},
      {R"({"seven_day": {"utilization": 0}})", {"7d"}},
      {R"({"seven_day": {"utilization": 5}, "five_hour": {"utilization": 1}})", {"5h", "7d"}},
      {R"({})", {}},
      {R"({"five_hour": {"utilization": "10"}, "seven_day": null})", {}},
      {R"({"five_hour": [], "seven_day": {"resets_at": "2025-06-01T12:00:00Z"}})", {}},
  };
  for (const auto& c : cases) {
    const auto windows = RateLimitProbe::parseLive(json::parse(c.answer));
    std::vector<std::string> ids;
    if (windows) {
      for (const auto& w : *windows) ids.push_back(w.id);
    }
    EXPECT_EQ(ids, c.ids) << c.answer;
    EXPECT_EQ(windows.has_value(), !c.ids.empty()) << c.answer;
  }
  // Over 100 percent is passed through; an unparsable reset still makes a window.
  const auto over = RateLimitProbe::parseLive(
      json::parse(R"({"five_hour": {"utilization": 130, "resets_at": "tomorrow"}})"));
  ASSERT_TRUE(over);
  EXPECT_DOUBLE_EQ((*over)[0].usedFraction, 1.3);
  EXPECT_EQ((*over)[0].resetsAt, std::nullopt);
}

TEST(RateLimitProbeParseTest, ResetTimesDropTheirFraction) {
  const Time noon = utc("2025-06-01T12:00:00Z");
  const std::vector<std::pair<const char*, std::optional<Time>>> cases = {
      {"2025-06-01T12:00:00.123456+00:00", noon},
      {"2025-06-01T12:00:00Z", noon},
      {"2025-06-01T14:00:00.5+02:00", noon},
      {"2025-06-01T12:00:00.999Z", noon},
      {"2025-06-01T12:00:00.5", std::nullopt},
      {"", std::nullopt},
      {"2025-06-01", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(RateLimitProbe::parseResetsAt(text), expected) << text;
  }
}

TEST(RateLimitProbeParseTest, StoredLimits) {
  EXPECT_EQ(RateLimitProbe::windowFromCache(json::parse(
                R"({"id": "org:abc:5h", "amount": {"usedFraction": 0.8}, "window": {"resetsAt": 1700000000000}})")),
            (LimitWindow{"5h", "Claude 5 Hour", 0.8, fromUnixSeconds(1'700'000'000), std::nullopt}));
  for (const char* bad : {R"({"id": "monthly", "amount": {"usedFraction": 0.8}})",
                          R"({"id": "org:7d:x", "amount": {"usedFraction": 0.8}})",
                          R"({"id": "5h", "amount": {"usedFraction": "0.8"}})",
                          R"({"id": "5h", "amount": 0.8})", R"({"id": 5, "amount": {"usedFraction": 1}})",
                          R"([])"}) {
    EXPECT_EQ(RateLimitProbe::windowFromCache(json::parse(bad)), std::nullopt) << bad;
  }
  // A hostile reset time gives no reset rather than an overflow.
  const auto far = RateLimitProbe::windowFromCache(
      json::parse(R"({"id": "7d", "amount": {"usedFraction": 1}, "window": {"resetsAt": 1e300}})"));
  ASSERT_TRUE(far);
  EXPECT_EQ(far->resetsAt, std::nullopt);
}

}  // namespace
}  // namespace brimvale
