#include "limits/oauth_callback_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/event_loop.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;

// Runs the loop until done() holds or the limit passes.
void runUntil(EventLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 5s) {
  const auto timer = loop.startRepeating(2ms, [&] {
    if (done()) loop.quit();
  });
  loop.postDelayed(limit, [&] { loop.quit(); });
  loop.run();
  loop.cancel(timer);
}

int connectTo(in_addr_t address, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends text and reads until the server closes.
std::string exchange(int port, const std::string& text) {
  const int fd = connectTo(htonl(INADDR_LOOPBACK), port);
  if (fd < 0) return "(no connection)";
  if (!text.empty()) ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

std::string bodyOf(const std::string& response) {
  const auto split = response.find("\r\n\r\n");
  return split == std::string::npos ? "" : response.substr(split + 4);
}

const std::string kPrefix =
    "<!doctype html><html><head><meta charset=\"utf-8\"><title>Brimvale</title></head>\n"
    "<body style=\"font-family:-apple-system,sans-serif;display:flex;align-items:center;"
    "justify-content:center;height:90vh;margin:0\"><h2>";

TEST(OAuthCallbackRouteTest, RequestLines) {
  struct Case {
    std::string request;
    std::string status;
    std::string message;
    std::optional<std::string> code, state;
  };
  const std::string received = "연결 완료! 이 탭을 닫고 Brimvale으로 돌아가세요.";
  const auto notDone = [](const std::string& reason) {
    return "로그인이 완료되지 않았습니다 (" + reason + "). 앱에서 다시 시도해주세요.";
  };
  const std::vector<Case> cases = {
      {"GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: localhost\r\n\r\n", "200 OK", received, "abc", "xyz"},
      {"GET /callback?code=abc HTTP/1.1\r\n\r\n", "200 OK", received, "abc", std::nullopt},
      {"GET /callback?code=a%2Fb%20c&code=second&state=s%3D1 HTTP/1.1\r\n", "200 OK", received, "a/b c", "s=1"},
      {"GET /callback?error=access_denied HTTP/1.1\r\n", "200 OK", notDone("access_denied"), {}, {}},
      {"GET /callback?code= HTTP/1.1\r\n", "200 OK", notDone("코드 없음"), {}, {}},
      {"GET /callback HTTP/1.1\r\n", "200 OK", notDone("코드 없음"), {}, {}},
      {"GET /callback?error=%3Cscript%3Ealert(1)%3C/script%3E HTTP/1.1\r\n", "200 OK",
       notDone("&lt;script&gt;alert(1)&lt;/script&gt;"), {}, {}},
      {"GET /favicon.ico HTTP/1.1\r\n", "404 Not Found", "찾을 수 없습니다.", {}, {}},
      {"GET /callback/x?code=abc HTTP/1.1\r\n", "404 Not Found", "찾을 수 없습니다.", {}, {}},
      {"GET /callback?code=%zz HTTP/1.1\r\n", "404 Not Found", "찾을 수 없습니다.", {}, {}},
      {"POST /callback?code=abc HTTP/1.1\r\n", "400 Bad Request", "잘못된 요청입니다.", {}, {}},
      {"", "400 Bad Request", "잘못된 요청입니다.", {}, {}},
      {"get /callback?code=abc HTTP/1.1\r\n", "400 Bad Request", "잘못된 요청입니다.", {}, {}},
  };
  for (const auto& c : cases) {
    const auto route = OAuthCallbackServer::route(c.request);
    EXPECT_EQ(route.status, c.status) << c.request;
    EXPECT_EQ(route.body, kPrefix + c.message + "</h2></body></html>") << c.request;
    EXPECT_EQ(route.code, c.code) << c.request;
    EXPECT_EQ(route.state, c.state) << c.request;
  }
}

TEST(OAuthCallbackRouteTest, TheResponseCountsUTF8Bytes) {
  const auto route = OAuthCallbackServer::route("GET /callback?code=abc HTTP/1.1\r\n");
  const std::string response = OAuthCallbackServer::response(route);
  EXPECT_EQ(response, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                          std::to_string(route.body.size()) + "\r\nConnection: close\r\n\r\n" + route.body);
  EXPECT_GT(route.body.size(), std::u32string(U"연결 완료").size() + kPrefix.size());
}

class OAuthCallbackServerTest : public ::testing::Test {
 protected:
  EventLoop loop_;
  OAuthCallbackServer server_{loop_, 0, 200ms};
  int ready_ = 0, failed_ = 0;
  std::vector<std::pair<std::string, std::optional<std::string>>> codes_;

  void start() {
    server_.start([this] { ++ready_; }, [this] { ++failed_; },
                  [this](std::string code, std::optional<std::string> state) {
                    codes_.emplace_back(std::move(code), std::move(state));
                  });
  }
};

TEST_F(OAuthCallbackServerTest, AnswersOverTCPAndDeliversTheCodeOnTheLoop) {
  start();
  runUntil(loop_, [&] { return ready_ == 1; });
  ASSERT_EQ(ready_, 1);
  EXPECT_EQ(server_.redirectURI(), "http://localhost:" + std::to_string(server_.port()) + "/callback");

  const std::string ok = exchange(server_.port(), "GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(ok, OAuthCallbackServer::response(OAuthCallbackServer::route("GET /callback?code=abc&state=xyz H")));
  EXPECT_EQ(exchange(server_.port(), "GET /favicon.ico HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_EQ(exchange(server_.port(), "POST /callback HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
  // Bytes that are not UTF-8 count as an empty request.
  EXPECT_EQ(exchange(server_.port(), "GET /callback?code=\xff HTTP/1.1\r\n").rfind("HTTP/1.1 400", 0), 0u);

  runUntil(loop_, [&] { return !codes_.empty(); });
  ASSERT_EQ(codes_.size(), 1u);
  EXPECT_EQ(codes_[0], (std::pair<std::string, std::optional<std::string>>{"abc", "xyz"}));
  EXPECT_EQ(failed_, 0);
}

TEST_F(OAuthCallbackServerTest, ASilentConnectionIsAnsweredAndClosedWithoutHoldingOthersUp) {
  start();
  runUntil(loop_, [&] { return ready_ == 1; });
  // Several idle connections first, then a real request that must get through.
  std::vector<int> idle;
  for (int i = 0; i < 5; ++i) idle.push_back(connectTo(htonl(INADDR_LOOPBACK), server_.port()));
  const std::string answer = exchange(server_.port(), "GET /callback?code=c1 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
  // The empty ones are answered 400 and closed once their time is up.
  for (int fd : idle) {
    ASSERT_GE(fd, 0);
    std::string got;
    char buffer[1024];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) got.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(got.rfind("HTTP/1.1 400 Bad Request", 0), 0u);
    ::close(fd);
  }
  const std::string body = bodyOf(answer);
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

TEST_F(OAuthCallbackServerTest, ListensOnLoopbackOnly) {
  start();
  runUntil(loop_, [&] { return ready_ == 1; });
  ifaddrs* list = nullptr;
  ASSERT_EQ(::getifaddrs(&list), 0);
  int tried = 0;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto address = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    if ((ntohl(address) >> 24) == 127) continue;
    ++tried;
    const int fd = connectTo(address, server_.port());
    EXPECT_LT(fd, 0) << a->ifa_name;
    if (fd >= 0) ::close(fd);
  }
  ::freeifaddrs(list);
  const int fd = connectTo(htonl(INADDR_LOOPBACK), server_.port());
  EXPECT_GE(fd, 0);
  ::close(fd);
  if (tried == 0) GTEST_SKIP() << "no non-loopback IPv4 address to try";
}

TEST_F(OAuthCallbackServerTest, ASecondStartCancelsTheFirstWhichFailsOnce) {
  start();
  start();  // before the first ready report was delivered
  runUntil(loop_, [&] { return ready_ + failed_ >= 2; });
  EXPECT_EQ(failed_, 1);
  EXPECT_EQ(ready_, 1);
  // Stopping a listener that was ready reports nothing more.
  server_.stop();
  loop_.postDelayed(20ms, [&] { loop_.quit(); });
  loop_.run();
  EXPECT_EQ(failed_, 1);
  EXPECT_EQ(ready_, 1);
}

TEST_F(OAuthCallbackServerTest, APortInUseFailsExactlyOnce) {
  OAuthCallbackServer holder(loop_, 0);
  holder.start({}, {}, {});
  OAuthCallbackServer second(loop_, holder.port());
  int fails = 0, readies = 0;
  second.start([&] { ++readies; }, [&] { ++fails; }, {});
  loop_.postDelayed(50ms, [&] { loop_.quit(); });
  loop_.run();
  EXPECT_EQ(fails, 1);
  EXPECT_EQ(readies, 0);
  EXPECT_EQ(second.redirectURI(), "http://localhost:" + std::to_string(holder.port()) + "/callback");
}

}  // namespace
}  // namespace brimvale
