#include "limits/grok_usage_probe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>

#include "collection/sqlite_test_util.h"
#include "limits/http_client.h"
#include "limits/probe_support.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const Time kNow = *parseISO8601("2026-03-05T10:00:00.250Z");

const char* kBilling = R"({"config": {
  "creditUsagePercent": 112.5,
  "currentPeriod": {"start": "2026-03-02T00:00:00Z", "end": "garbled"},
  "billingPeriodEnd": "2026-03-09T00:00:00.000Z",
  "productUsage": [{"product": "grok-cli", "usagePercent": 100}, {"product": ""},
                   {"product": "api"}, "junk", {"usagePercent": 3}]
}})";

class GrokUsageProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/v1/billing", [this](const httplib::Request& request, httplib::Response& response) {
      if (request.get_param_value("format") != "credits" ||
          request.get_header_value("Authorization") != "Bearer " + validToken_) {
        response.status = 401;
        return;
      }
      response.set_content(billing_, "application/json");
    });
    server_.server().Post("/issuer/oauth2/token", [this](const httplib::Request&, httplib::Response& response) {
      ++tokenRequests_;
      response.status = tokenStatus_;
      response.set_content(tokenAnswer_, "application/json");
    });
    server_.start();
  }

  std::string authPath() const { return GrokUsageProbe::authPath(home_.path()); }

  void writeAuth(const json& all) { test::writeFile(authPath(), all.dump(2)); }

  json readAuth() const { return json::parse(*probe::readBoundedFile(authPath())); }

  json entry(const std::string& key, std::optional<std::string> expiresAt) const {
    json e = {{"key", key}, {"refresh_token", "abc/def+ghi="}, {"oidc_client_id", "client-1"},
              {"oidc_issuer", server_.url() + "/issuer"}, {"user", {{"email", "a@b.c"}}}};
    if (expiresAt) e["expires_at"] = *expiresAt;
    return e;
  }

  GrokUsageProbe::Environment env(std::optional<std::string> apiKey = std::nullopt) {
    GrokUsageProbe::Environment e;
    e.home = home_.path();
    e.http = &client_;
    e.endpoints.grokAPI = server_.url();
    e.now = [] { return kNow; };
    e.apiKey = [apiKey] { return apiKey; };
    return e;
  }

  test::TempDir home_;
  test::LoopbackServer server_;
  HttpClient client_{HttpLimits{300ms, 800ms, std::size_t{4} << 20}};
  std::string validToken_ = "new-access";
  std::string billing_ = kBilling;
  std::atomic<int> tokenStatus_{200};
  std::atomic<int> tokenRequests_{0};
  std::string tokenAnswer_ = R"({"access_token": "new-access", "refresh_token": "new-refresh"})";
};

TEST_F(GrokUsageProbeTest, AnExpiredEntryIsRefreshedAndOnlyItIsRewrittenWithMode0600) {
  json all = {{"expired", entry("old-access", "2026-03-05T09:00:00Z")},
              {"zzz-other", {{"key", "untouched"}, {"expires_at", "2020-01-01T00:00:00Z"}, {"n", 1.5}}},
              {"note", "not an entry"}};
  tokenAnswer_ = R"({"access_token": "new-access"})";  // no expiry, no new refresh token
  writeAuth(all);
  ::chmod(authPath().c_str(), 0644);

  const auto billing = GrokUsageProbe::fetch(env());
  ASSERT_TRUE(billing);
  EXPECT_DOUBLE_EQ(billing->usedPercent, 112.5);
  EXPECT_EQ(billing->fetchedAt, kNow);

  const auto seen = server_.seen(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].path, "/issuer/oauth2/token");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen[0].body, "client_id=client-1&grant_type=refresh_token&refresh_token=abc%2Fdef%2Bghi%3D");
  EXPECT_EQ(seen[1].header("X-XAI-Token-Auth"), "xai-grok-cli");

  json expected = all;
  expected["expired"]["key"] = "new-access";
  expected["expired"]["expires_at"] = "2026-03-05T16:00:00.250Z";  // six hours
  expected["expired"]["create_time"] = "2026-03-05T10:00:00.250Z";
  EXPECT_EQ(readAuth(), expected);
  struct stat st {};
  ASSERT_EQ(::stat(authPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(GrokUsageProbeTest, TheAnswersRefreshTokenAndLifetimeAreKept) {
  writeAuth({{"a", entry("old", "2026-03-05T10:00:30Z")}});  // 30 s left: too close
  tokenAnswer_ = R"({"access_token": "new-access", "refresh_token": "rotated", "expires_in": 60})";
  EXPECT_EQ(GrokUsageProbe::accessToken(env()), "new-access");
  const json saved = readAuth()["a"];
  EXPECT_EQ(saved["refresh_token"], "rotated");
  EXPECT_EQ(saved["expires_at"], "2026-03-05T10:01:00.250Z");
}

TEST_F(GrokUsageProbeTest, AValidEntryIsUsedAsItIsAndNothingIsWritten) {
  writeAuth({{"a", entry("still-good", "2026-03-05T10:02:00Z")}});
  const auto before = test::fileHash(authPath());
  validToken_ = "still-good";
  EXPECT_TRUE(GrokUsageProbe::fetch(env()));
  EXPECT_EQ(server_.seen(1).size(), 1u);
  EXPECT_EQ(test::fileHash(authPath()), before);
}

TEST_F(GrokUsageProbeTest, FailedRefreshesLeaveTheFileAlone) {
  struct Case {
    std::optional<std::string> expiresAt;
    int status;
    std::string answer;
    std::optional<std::string> token;
  };
  const std::vector<Case> cases = {
      // Without an expiry the entry is still used after a failed refresh.
      {std::nullopt, 500, "{}", "old"},
      {std::nullopt, 200, R"({"access_token": ""})", "old"},
      // Expired and not refreshable: the fallback key, or nothing.
      {"2026-03-05T09:00:00Z", 401, "{}", "env-key"},
      {"2026-03-05T09:00:00Z", 200, R"({"token": "x"})", "env-key"},
  };
  for (const auto& c : cases) {
    writeAuth({{"a", entry("old", c.expiresAt)}});
    const auto before = test::fileHash(authPath());
    tokenStatus_ = c.status;
    tokenAnswer_ = c.answer;
    EXPECT_EQ(GrokUsageProbe::accessToken(env("env-key")), c.token) << c.answer;
    EXPECT_EQ(test::fileHash(authPath()), before);
  }
  // An entry that cannot be refreshed is not sent anywhere.
  json bare = entry("bare", std::nullopt);
  bare.erase("refresh_token");
  writeAuth({{"a", bare}});
  const int requests = tokenRequests_.load();
  EXPECT_EQ(GrokUsageProbe::accessToken(env()), "bare");
  EXPECT_EQ(tokenRequests_.load(), requests);
}

TEST_F(GrokUsageProbeTest, WithoutALoginFileTheEnvironmentKeyIsTheBearer) {
  validToken_ = "xai-key";
  EXPECT_TRUE(GrokUsageProbe::fetch(env("xai-key")));
  EXPECT_EQ(server_.seen(1).at(0).header("Authorization"), "Bearer xai-key");
  EXPECT_EQ(GrokUsageProbe::fetch(env("")), std::nullopt);
  EXPECT_EQ(GrokUsageProbe::fetch(env()), std::nullopt);
  test::writeFile(authPath(), "{ broken");
  EXPECT_EQ(GrokUsageProbe::accessToken(env()), std::nullopt);
}

TEST(GrokUsageParseTest, BillingAnswers) {
  const Time now = kNow;
  const auto billing = GrokUsageProbe::parse(json::parse(kBilling), now);
  ASSERT_TRUE(billing);
  EXPECT_EQ(billing->periodStart, parseISO8601("2026-03-02T00:00:00Z"));
  EXPECT_EQ(billing->periodEnd, parseISO8601("2026-03-09T00:00:00Z"));
  EXPECT_EQ(billing->products, (std::vector<GrokProductUsage>{{"grok-cli", 100.0}, {"api", std::nullopt}}));
  EXPECT_DOUBLE_EQ(billing->fraction(), 1.0);
  EXPECT_EQ(billing->weeklyWindow(),
            (LimitWindow{"7d", "Grok Weekly", 1.0, parseISO8601("2026-03-09T00:00:00Z"), now}));

  for (const char* bad : {R"({})", R"({"config": []})", R"({"config": {}})",
                          R"({"config": {"creditUsagePercent": null}})"}) {
    EXPECT_EQ(GrokUsageProbe::parse(json::parse(bad), now), std::nullopt) << bad;
  }
  const auto plain = GrokUsageProbe::parse(
      json::parse(R"({"config": {"creditUsagePercent": "12", "productUsage": {"a": 1}}})"), now);
  ASSERT_TRUE(plain);
  EXPECT_DOUBLE_EQ(plain->usedPercent, 12);
  EXPECT_TRUE(plain->products.empty());
  EXPECT_EQ(plain->periodEnd, std::nullopt);
}

TEST(GrokUsageParseTest, FormBodiesEncodeEverythingOutsideTheUnreservedSet) {
  EXPECT_EQ(GrokUsageProbe::formBody({{"a", "AZaz09-._~"}, {"b", "/+= &?é"}}),
            "a=AZaz09-._~&b=%2F%2B%3D%20%26%3F%C3%A9");
  EXPECT_EQ(GrokUsageProbe::formBody({}), "");
}

}  // namespace
}  // namespace brimvale
