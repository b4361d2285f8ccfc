#include "limits/account_token_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "limits/http_client.h"
#include "support/loopback_server.h"
#include "collection/sqlite_test_util.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const Time kStart = fromUnixSeconds(1'760'000'000);

double millisAt(Time t) { return toUnixSeconds(t) * 1000.0; }

class AccountTokenStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountTokenStore::clearRefreshFailure();
    server_.server().Post("/v1/oauth/token", [this](const httplib::Request&, httplib::Response& response) {
      ++requests_;
      std::this_thread::sleep_for(20ms);  // lets a second caller queue up on the lock
      response.status = status_;
      response.set_content(answer_, "application/json");
    });
    server_.start();
  }
  void TearDown() override { AccountTokenStore::clearRefreshFailure(); }

  AccountTokenStore::Environment env() {
    AccountTokenStore::Environment e;
    e.home = home_.path();
    e.http = &client_;
    e.endpoints.anthropicConsole = server_.url();
    e.now = [this] { return now_.load(); };
    return e;
  }

  test::TempDir home_;
  test::LoopbackServer server_;
  HttpClient client_{HttpLimits{500ms, 1000ms, std::size_t{4} << 20}};
  std::atomic<Time> now_{kStart};
  std::atomic<int> requests_{0};
  std::atomic<int> status_{200};
  std::string answer_ = R"({"access_token": "new-access", "refresh_token": "new-refresh", "expires_in": 7200})";
};

TEST_F(AccountTokenStoreTest, SavedPairsRoundTripWithMode0600) {
  EXPECT_EQ(AccountTokenStore::load(home_.path()), std::nullopt);
  const OAuthPair pair{"a", "r", 1.5e12};
  AccountTokenStore::save(home_.path(), pair);
  EXPECT_EQ(AccountTokenStore::load(home_.path()), pair);
  struct stat st {};
  ASSERT_EQ(::stat(AccountTokenStore::filePath(home_.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const char* bad : {"", "{", "[]", R"({"access": "a", "refresh": "r"})",
                          R"({"access": 1, "refresh": "r", "expires": 1})"}) {
    test::writeFile(AccountTokenStore::filePath(home_.path()), bad);
    EXPECT_EQ(AccountTokenStore::load(home_.path()), std::nullopt) << bad;
  }
  AccountTokenStore::remove(home_.path());
  EXPECT_EQ(AccountTokenStore::load(home_.path()), std::nullopt);
  AccountTokenStore::remove(home_.path());  // harmless when gone
}

TEST_F(AccountTokenStoreTest, TokenAnswers) {
  EXPECT_EQ(AccountTokenStore::parsePair(json::parse(R"({"access_token": "a", "refresh_token": "r"})"), kStart),
            (OAuthPair{"a", "r", millisAt(kStart + 1h)}));
  EXPECT_EQ(AccountTokenStore::parsePair(
                json::parse(R"({"access_token": "a", "refresh_token": "r", "expires_in": "60"})"), kStart),
            (OAuthPair{"a", "r", millisAt(kStart + 1h)}));
  EXPECT_EQ(AccountTokenStore::parsePair(
                json::parse(R"({"access_token": "a", "refresh_token": "r", "expires_in": 60})"), kStart),
            (OAuthPair{"a", "r", millisAt(kStart + 60s)}));
  for (const char* bad : {R"({"access_token": "a"})", R"({"refresh_token": "r"})",
                          R"({"access_token": 1, "refresh_token": "r"})", "[]"}) {
    EXPECT_EQ(AccountTokenStore::parsePair(json::parse(bad), kStart), std::nullopt) << bad;
  }
}

TEST_F(AccountTokenStoreTest, ATokenCloseToExpiryIsRefreshedAndOneWithTimeLeftIsNot) {
  AccountTokenStore::save(home_.path(), {"old-access", "old-refresh", millisAt(kStart + 2min)});
  EXPECT_EQ(AccountTokenStore::validAccessToken(env()), "old-access");
  EXPECT_EQ(requests_.load(), 0);

  AccountTokenStore::save(home_.path(), {"old-access", "old-refresh", millisAt(kStart + 30s)});
  EXPECT_EQ(AccountTokenStore::validAccessToken(env()), "new-access");
  const auto seen = server_.seen(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
  EXPECT_EQ(json::parse(seen[0].body), (json{{"grant_type", "refresh_token"},
                                             {"refresh_token", "old-refresh"},
                                             {"client_id", "4f7e2b91-0c3d-4a8e-b5f6-1d2c3b4a5e6f"}}));
  EXPECT_EQ(AccountTokenStore::load(home_.path()),
            (OAuthPair{"new-access", "new-refresh", millisAt(kStart + 2h)}));
}

TEST_F(AccountTokenStoreTest, TwoCallersWithAnExpiredTokenRefreshOnce) {
  AccountTokenStore::save(home_.path(), {"old-access", "old-refresh", millisAt(kStart - 1h)});
  std::optional<std::string> a, b;
  std::thread first([&] { a = AccountTokenStore::validAccessToken(env()); });
  std::thread second([&] { b = AccountTokenStore::validAccessToken(env()); });
  first.join();
  second.join();
  EXPECT_EQ(a, "new-access");
  EXPECT_EQ(b, "new-access");
  EXPECT_EQ(requests_.load(), 1);
}

TEST_F(AccountTokenStoreTest, AfterAFailedRefreshNothingIsAskedFor900Seconds) {
  AccountTokenStore::save(home_.path(), {"old-access", "old-refresh", millisAt(kStart - 1h)});
  status_ = 400;
  EXPECT_EQ(AccountTokenStore::validAccessToken(env()), std::nullopt);
  EXPECT_EQ(requests_.load(), 1);
  now_ = kStart + 899s;
  EXPECT_EQ(AccountTokenStore::validAccessToken(env()), std::nullopt);
  EXPECT_EQ(requests_.load(), 1);
  now_ = kStart + 901s;
  status_ = 200;
  EXPECT_EQ(AccountTokenStore::validAccessToken(env()), "new-access");
  EXPECT_EQ(requests_.load(), 2);
  // The failed attempt left the stored pair alone until the success.
  EXPECT_EQ(AccountTokenStore::load(home_.path())->refresh, "new-refresh");
}

}  // namespace
}  // namespace brimvale
