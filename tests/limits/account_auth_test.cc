#include "limits/account_auth.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "limits/account_token_store.h"
#include "limits/http_client.h"
#include "limits/rate_limit_probe.h"
#include "platform/event_loop.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class RecordingOpener : public UrlOpener {
 public:
  bool open(const std::string& url) override {
    std::lock_guard lock(mutex);
    urls.push_back(url);
    return true;
  }
  std::vector<std::string> opened() {
    std::lock_guard lock(mutex);
    return urls;
  }
  std::mutex mutex;
  std::vector<std::string> urls;
};

void runUntil(EventLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto timer = loop.startRepeating(2ms, [&] {
    if (done()) loop.quit();
  });
  loop.postDelayed(limit, [&] { loop.quit(); });
  loop.run();
  loop.cancel(timer);
}

// The query items of an address, decoded.
std::map<std::string, std::string> queryOf(const std::string& url) {
  std::map<std::string, std::string> items;
  std::string query = url.substr(url.find('?') + 1);
  std::stringstream stream(query);
  std::string piece;
  while (std::getline(stream, piece, '&')) {
    const auto eq = piece.find('=');
    std::string value = piece.substr(eq + 1), decoded;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '%') {
        decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += value[i];
      }
    }
    items[piece.substr(0, eq)] = decoded;
  }
  return items;
}

std::string sendToListener(int port, const std::string& target) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return "";
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

class AccountAuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AccountTokenStore::clearRefreshFailure();
    tokenServer_.server().Post("/v1/oauth/token", [this](const httplib::Request&, httplib::Response& response) {
      response.status = 200;
      response.set_content(answer_, "application/json");
    });
    tokenServer_.server().Get("/api/oauth/usage", [](const httplib::Request& request, httplib::Response& response) {
      if (request.get_header_value("Authorization") != "Bearer account-access") {
        response.status = 401;
        return;
      }
      response.set_content(R"({"five_hour": {"utilization": 5}})", "application/json");
    });
    tokenServer_.start();
    endpoints_.anthropicConsole = tokenServer_.url();
    endpoints_.anthropicAPI = tokenServer_.url();
    endpoints_.claudeWeb = "https://claude.example";
  }

  std::unique_ptr<AccountAuth> makeAuth() {
    AccountAuth::Dependencies deps;
    deps.loop = &loop_;
    deps.background = &background_;
    deps.opener = &opener_;
    deps.home = home_.path();
    deps.endpoints = endpoints_;
    deps.http = &client_;
    deps.port = 0;
    return std::make_unique<AccountAuth>(deps);
  }

  std::optional<AccountAuth::Error> completeAndWait(AccountAuth& auth, const std::string& text) {
    bool finished = false;
    std::optional<AccountAuth::Error> error;
    auth.complete(text, [&](std::optional<AccountAuth::Error> e) {
      error = std::move(e);
      finished = true;
    });
    runUntil(loop_, [&] { return finished; });
    EXPECT_TRUE(finished);
    return error;
  }

  // Bodies of the token requests, once at least `expected` requests are noted.
  std::vector<json> exchanges(std::size_t expected = 0) {
    std::vector<json> bodies;
    for (const auto& seen : tokenServer_.seen(expected)) {
      if (seen.path == "/v1/oauth/token") bodies.push_back(json::parse(seen.body));
    }
    return bodies;
  }

  test::TempDir home_;
  test::LoopbackServer tokenServer_;
  HttpClient client_{HttpLimits{500ms, 1000ms, std::size_t{4} << 20}};
  Endpoints endpoints_;
  EventLoop loop_;
  ThreadExecutor background_;
  RecordingOpener opener_;
  std::string answer_ = R"({"access_token": "account-access", "refresh_token": "account-refresh"})";
};

TEST_F(AccountAuthTest, AWholeLoginThroughTheListenerConnectsAndTheProbeUsesTheAccountFirst) {
  auto auth = makeAuth();
  EXPECT_FALSE(auth->isConnected());
  auth->beginLogin();
  runUntil(loop_, [&] { return auth->awaitingCallback(); });
  ASSERT_TRUE(auth->awaitingCallback());
  ASSERT_EQ(opener_.opened().size(), 1u);

  const std::string url = opener_.opened()[0];
  EXPECT_EQ(url.rfind("https://claude.example/oauth/authorize?code=true&client_id=", 0), 0u) << url;
  EXPECT_NE(url.find("&scope=org:create_api_key%20user:profile%20user:inference&"), std::string::npos) << url;
  auto query = queryOf(url);
  EXPECT_EQ(query["redirect_uri"], auth->server().redirectURI());
  EXPECT_EQ(query["code_challenge_method"], "S256");
  EXPECT_EQ(query["state"].size(), 43u);
  EXPECT_EQ(query["code_challenge"].size(), 43u);

  const std::string page = sendToListener(auth->server().port(), "/callback?code=the-code&state=" + query["state"]);
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK", 0), 0u);
  runUntil(loop_, [&] { return auth->isConnected(); });
  ASSERT_TRUE(auth->isConnected());
  EXPECT_FALSE(auth->awaitingCallback());
  EXPECT_EQ(auth->autoError(), std::nullopt);

  const auto bodies = exchanges(1);
  ASSERT_EQ(bodies.size(), 1u);
  const json& body = bodies[0];
  EXPECT_EQ(body["grant_type"], "authorization_code");
  EXPECT_EQ(body["code"], "the-code");
  EXPECT_EQ(body["state"], query["state"]);
  EXPECT_EQ(body["client_id"], "4f7e2b91-0c3d-4a8e-b5f6-1d2c3b4a5e6f");
  EXPECT_EQ(body["redirect_uri"], query["redirect_uri"]);
  const std::string verifier = body["code_verifier"];
  EXPECT_EQ(verifier.size(), 86u);
  EXPECT_EQ(AccountAuth::challenge(verifier), query["code_challenge"]);
  // The verifier never travelled in the address.
  EXPECT_EQ(url.find(verifier), std::string::npos);
  EXPECT_NE(query["state"], verifier.substr(0, 43));

  // The stored account token now leads the Claude candidates.
  RateLimitProbe::Environment env;
  env.home = home_.path();
  env.http = &client_;
  env.endpoints = endpoints_;
  env.accountToken = [&] {
    AccountTokenStore::Environment account;
    account.home = home_.path();
    account.http = &client_;
    account.endpoints = endpoints_;
    return AccountTokenStore::validAccessToken(account);
  };
  const auto windows = RateLimitProbe::fetch(env);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].id, "5h");

  auth->disconnect();
  EXPECT_FALSE(auth->isConnected());
  EXPECT_EQ(AccountTokenStore::load(home_.path()), std::nullopt);
}

TEST_F(AccountAuthTest, PastedCodesAreTrimmedSplitAndCheckedAgainstTheLoginsState) {
  auto auth = makeAuth();
  EXPECT_EQ(completeAndWait(*auth, "code#state")->description, AccountAuth::noLoginMessage);

  auth->beginLogin();
  runUntil(loop_, [&] { return !opener_.opened().empty(); });
  const std::string state = queryOf(opener_.opened().back())["state"];

  for (const char* empty : {"", "#", "  \n", "#" }) {
    EXPECT_EQ(completeAndWait(*auth, empty)->description, AccountAuth::emptyCodeMessage) << empty;
  }
  // Another login's state is refused before anything is sent.
  EXPECT_EQ(completeAndWait(*auth, "abc#not-our-state")->description, AccountAuth::exchangeFailedMessage);
  EXPECT_TRUE(exchanges().empty());

  // A failed exchange keeps the login, so another paste can succeed.
  answer_ = R"({"access_token": "a"})";
  EXPECT_EQ(completeAndWait(*auth, "first")->description, AccountAuth::exchangeFailedMessage);
  EXPECT_FALSE(auth->isConnected());
  answer_ = R"({"access_token": "account-access", "refresh_token": "r"})";
  EXPECT_EQ(completeAndWait(*auth, "  pasted-code#" + state + " \n"), std::nullopt);
  EXPECT_TRUE(auth->isConnected());

  const auto bodies = exchanges(2);
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[0]["code"], "first");
  EXPECT_EQ(bodies[0]["state"], state);  // no "#": the login's own state
  EXPECT_EQ(bodies[1]["code"], "pasted-code");
  EXPECT_EQ(bodies[1]["state"], state);
  EXPECT_EQ(bodies[0]["code_verifier"], bodies[1]["code_verifier"]);
  // An answer without "expires_in" keeps the token for an hour.
  const auto pair = AccountTokenStore::load(home_.path());
  ASSERT_TRUE(pair);
  EXPECT_NEAR(pair->expires / 1000.0, toUnixSeconds(Clock::now()) + 3600, 60);
  // A new controller sees the stored account.
  EXPECT_TRUE(makeAuth()->isConnected());
}

TEST_F(AccountAuthTest, WhenThePortIsTakenTheLoginFallsBackToThePastedCode) {
  OAuthCallbackServer holder(loop_, 0);
  holder.start({}, {}, {});
  AccountAuth::Dependencies deps;
  deps.loop = &loop_;
  deps.background = &background_;
  deps.opener = &opener_;
  deps.home = home_.path();
  deps.endpoints = endpoints_;
  deps.http = &client_;
  deps.port = holder.port();
  AccountAuth auth(deps);
  auth.beginLogin();
  runUntil(loop_, [&] { return !opener_.opened().empty(); });
  ASSERT_EQ(opener_.opened().size(), 1u);
  EXPECT_FALSE(auth.awaitingCallback());
  auto query = queryOf(opener_.opened()[0]);
  EXPECT_EQ(query["redirect_uri"], tokenServer_.url() + "/oauth/code/callback");
  EXPECT_EQ(completeAndWait(auth, "pasted#" + query["state"]), std::nullopt);
  EXPECT_TRUE(auth.isConnected());
  EXPECT_EQ(exchanges(1).at(0)["redirect_uri"], query["redirect_uri"]);
}

TEST_F(AccountAuthTest, AnotherLoginSupersedesTheFirst) {
  auto auth = makeAuth();
  auth->beginLogin();
  auth->beginLogin();
  runUntil(loop_, [&] { return auth->awaitingCallback(); });
  loop_.postDelayed(20ms, [&] { loop_.quit(); });
  loop_.run();
  // Only the second login opened the page, through the restarted listener.
  ASSERT_EQ(opener_.opened().size(), 1u);
  const std::string state = queryOf(opener_.opened()[0])["state"];
  sendToListener(auth->server().port(), "/callback?code=c2&state=" + state);
  runUntil(loop_, [&] { return auth->isConnected(); });
  EXPECT_TRUE(auth->isConnected());
}

}  // namespace
}  // namespace brimvale
