#include "limits/cursor_usage_probe.h"

#include <gtest/gtest.h>

#include "collection/sqlite_test_util.h"
#include "limits/http_client.h"
#include "platform/paths.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const Time kNow = fromUnixSeconds(1'760'000'000);

class CursorUsageProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Post(std::string(CursorUsageProbe::usagePath),
                          [this](const httplib::Request& request, httplib::Response& response) {
                            if (request.get_header_value("Authorization") != "Bearer " + validToken_) {
                              response.status = 401;
                              response.set_content(R"({"error":"expired"})", "application/json");
                              return;
                            }
                            response.set_content(usage_, "application/json");
                          });
    server_.server().Post(std::string(CursorUsageProbe::tokenPath),
                          [this](const httplib::Request&, httplib::Response& response) {
                            response.status = tokenStatus_;
                            response.set_content(tokenAnswer_, "application/json");
                          });
    server_.start();
  }

  void writeState(const std::map<std::string, std::string>& items) {
    test::SQLiteFile db(paths::cursorStateDB(home_.path()));
    db.exec("CREATE TABLE ItemTable (key TEXT UNIQUE ON CONFLICT REPLACE, value BLOB)");
    for (const auto& [key, value] : items) {
      db.exec("INSERT INTO ItemTable VALUES (" + test::sqlQuote(key) + ", " + test::sqlQuote(value) + ")");
    }
  }

  CursorUsageProbe::Environment env() {
    CursorUsageProbe::Environment e;
    e.home = home_.path();
    e.http = &client_;
    e.endpoints.cursorAPI = server_.url();
    e.now = [] { return kNow; };
    return e;
  }

  test::ScopedTempDirectory tmp_;
  test::TempDir home_;
  test::LoopbackServer server_;
  HttpClient client_{HttpLimits{300ms, 800ms, std::size_t{4} << 20}};
  std::string validToken_ = "fresh-access";
  std::string usage_ = R"({"planUsage": {"limit": 2000, "includedSpend": 500},
                           "billingCycleStart": "1764547200000", "billingCycleEnd": 1767225600})";
  int tokenStatus_ = 200;
  std::string tokenAnswer_ = R"({"access_token": "fresh-access"})";
};

TEST_F(CursorUsageProbeTest, ARefusedTokenIsRefreshedOnceAndTheSecondRequestCounts) {
  const std::string user = json{{"cursorCreds", {{"authClientId", "stored-client"}}}}.dump();
  writeState({{"cursorAuth/accessToken", "stale-access"},
              {"cursorAuth/refreshToken", "refresh/with+chars"},
              {std::string(CursorUsageProbe::applicationUserKey), user}});
  const std::string dbPath = paths::cursorStateDB(home_.path());
  const auto hashes = test::databaseHashes(dbPath);

  const auto billing = CursorUsageProbe::fetch(env());
  ASSERT_TRUE(billing);
  EXPECT_DOUBLE_EQ(billing->usedPercent, 25);
  EXPECT_EQ(billing->periodStart, fromUnixSeconds(1'764'547'200));
  EXPECT_EQ(billing->periodEnd, *parseISO8601("2026-01-01T00:00:00Z"));
  EXPECT_EQ(billing->fetchedAt, kNow);

  const auto seen = server_.seen(3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].header("Authorization"), "Bearer stale-access");
  EXPECT_EQ(seen[0].body, "{}");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
  EXPECT_EQ(seen[0].header("Connect-Protocol-Version"), "1");
  EXPECT_EQ(seen[0].header("x-cursor-client-type"), "ide");
  EXPECT_EQ(seen[1].path, "/oauth/token");
  EXPECT_EQ(seen[1].header("x-cursor-client-type"), "ide");
  EXPECT_EQ(json::parse(seen[1].body), (json{{"grant_type", "refresh_token"},
                                             {"client_id", "stored-client"},
                                             {"refresh_token", "refresh/with+chars"}}));
  EXPECT_EQ(seen[2].header("Authorization"), "Bearer fresh-access");
  // The editor's database is never written, and the copy is gone.
  EXPECT_EQ(test::databaseHashes(dbPath), hashes);
  EXPECT_TRUE(tmp_.copyFolders().empty());
}

TEST_F(CursorUsageProbeTest, TheBuiltInClientIsUsedAndAFailedRefreshGivesNothing) {
  writeState({{"cursorAuth/accessToken", "stale"}, {"cursorAuth/refreshToken", "r"},
              {std::string(CursorUsageProbe::applicationUserKey), "not json"}});
  tokenStatus_ = 400;
  EXPECT_EQ(CursorUsageProbe::fetch(env()), std::nullopt);
  const auto seen = server_.seen(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(json::parse(seen[1].body)["client_id"], "Qm7TzX2pLc9VwR4nHs8JdK3fYb6GtE1a");
}

TEST_F(CursorUsageProbeTest, NoDatabaseOrNoTokenSendsNothing) {
  EXPECT_EQ(CursorUsageProbe::fetch(env()), std::nullopt);
  writeState({{"cursorAuth/refreshToken", "r"}, {"cursorAuth/accessToken", ""}});
  EXPECT_EQ(CursorUsageProbe::fetch(env()), std::nullopt);
  EXPECT_TRUE(server_.seen().empty());
}

TEST_F(CursorUsageProbeTest, WithoutARefreshTokenThereIsNoSecondAttempt) {
  writeState({{"cursorAuth/accessToken", "stale"}});
  EXPECT_EQ(CursorUsageProbe::fetch(env()), std::nullopt);
  EXPECT_EQ(server_.seen(1).size(), 1u);
}

TEST_F(CursorUsageProbeTest, KeysAreMatchedExactlyEvenWithApostrophes) {
  writeState({{"it's", "apostrophe"}, {"its", "plain"}, {"x' OR '1'='1", "injected"}});
  EXPECT_EQ(CursorUsageProbe::itemValue(home_.path(), "it's"), "apostrophe");
  EXPECT_EQ(CursorUsageProbe::itemValue(home_.path(), "x' OR '1'='1"), "injected");
  EXPECT_EQ(CursorUsageProbe::itemValue(home_.path(), "nope' OR '1'='1"), std::nullopt);
}

TEST(CursorUsageParseTest, Answers) {
  struct Case {
    const char* answer;
    std::optional<double> percent;
  };
  const std::vector<Case> cases = {
      {R"({"planUsage": {"totalPercentUsed": 130}})", 130},
      {R"({"planUsage": {"totalPercentUsed": "42.5", "limit": 10, "includedSpend": 1}})", 42.5},
      {R"({"planUsage": {"limit": 2000, "includedSpend": 500}})", 25},
      {R"({"planUsage": {"limit": 2000, "totalSpend": 3000}})", 100},
      {R"({"planUsage": {"limit": "2000", "includedSpend": "1000"}})", 50},
      {R"({"planUsage": {"limit": 2000}})", 0},
      {R"({"planUsage": {"limit": 2000, "includedSpend": -5}})", 0},
      {R"({"planUsage": {"limit": 0, "includedSpend": 1}})", std::nullopt},
      {R"({"planUsage": {"includedSpend": 1}})", std::nullopt},
      {R"({"planUsage": {"limit": "nan", "includedSpend": 1}})", std::nullopt},
      {R"({"planUsage": "full"})", std::nullopt},
      {R"({})", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto billing = CursorUsageProbe::parse(json::parse(c.answer), kNow);
    EXPECT_EQ(billing ? std::optional(billing->usedPercent) : std::nullopt, c.percent) << c.answer;
  }
  const auto over = CursorUsageProbe::parse(json::parse(cases[0].answer), kNow);
  EXPECT_EQ(over->monthlyWindow(), (LimitWindow{"7d", "Cursor Monthly", 1.0, std::nullopt, kNow}));
}

TEST(CursorUsageParseTest, NumbersAndTimes) {
  const std::vector<std::pair<json, std::optional<double>>> numbers = {
      {2000, 2000.0},   {2.5, 2.5},           {"2000", 2000.0},     {"-1.5e2", -150.0},
      {"+3", 3.0},      {" 2000", std::nullopt}, {"2000 ", std::nullopt}, {"", std::nullopt},
      {"0x10", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e999", std::nullopt},
      {true, std::nullopt}, {nullptr, std::nullopt}, {json::array(), std::nullopt},
  };
  for (const auto& [value, expected] : numbers) {
    EXPECT_EQ(CursorUsageProbe::numberValue(value), expected) << value.dump();
  }
  const Time newYear = *parseISO8601("2026-01-01T00:00:00Z");
  const std::vector<std::pair<json, std::optional<Time>>> times = {
      {1767225600000, newYear}, {1767225600, newYear}, {"1767225600", newYear},
      {0, std::nullopt},        {-5, std::nullopt},    {"soon", std::nullopt},
      {1e30, std::nullopt},
  };
  for (const auto& [value, expected] : times) {
    EXPECT_EQ(CursorUsageProbe::timeValue(json{{"t", value}}, "t"), expected) << value.dump();
  }
}

}  // namespace
}  // namespace brimvale
