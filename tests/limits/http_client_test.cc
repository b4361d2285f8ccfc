#include "limits/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "support/loopback_server.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;

constexpr const char* kToken = "sk-secret-token-4711";

// Short limits so the bounded cases stay quick.
HttpLimits shortLimits() { return HttpLimits{300ms, 800ms, std::size_t{4} << 20}; }

TEST(HttpClientTest, OnlyStatus200WithAJSONObjectIsASuccess) {
  struct Case {
    int status;
    std::string body;
    bool ok;
  };
  const std::vector<Case> cases = {
      {200, R"({"a":1})", true},   {200, "{}", true},          {200, "[1,2]", false},
      {200, "null", false},        {200, "42", false},         {200, "not json", false},
      {200, "", false},            {201, R"({"a":1})", false}, {204, "", false},
      {401, R"({"a":1})", false},  {500, R"({"a":1})", false}, {302, R"({"a":1})", false},
  };
  test::LoopbackServer server;
  server.server().Get(R"(/case/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
    const Case& c = cases.at(std::stoul(request.matches[1]));
    response.status = c.status;
    if (c.status == 302) response.set_header("Location", "/case/0");
    response.set_content(c.body, "application/json");
  });
  server.start();
  HttpClient client(shortLimits());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto result = client.perform(HttpRequest::get(server.url() + "/case/" + std::to_string(i)));
    EXPECT_EQ(result.ok(), cases[i].ok) << "case " << i << ": " << result.error;
    EXPECT_EQ(result.status, cases[i].status) << "case " << i;
    EXPECT_EQ(result.error.empty(), cases[i].ok) << "case " << i;
    if (cases[i].ok) {
      EXPECT_EQ(*result.object, nlohmann::json::parse(cases[i].body));
    }
  }
}

TEST(HttpClientTest, SendsMethodHeadersAndBodyAndReusesItsConnection) {
  test::LoopbackServer server;
  std::set<std::string> peers;
  std::mutex mutex;
  server.server().Post("/echo", [&](const httplib::Request& request, httplib::Response& response) {
    {
      std::lock_guard lock(mutex);
      peers.insert(request.remote_addr + ":" + std::to_string(request.remote_port));
    }
    response.set_content(nlohmann::json{{"body", request.body},
                                        {"auth", request.get_header_value("Authorization")},
                                        {"type", request.get_header_value("Content-Type")}}
                             .dump(),
                         "application/json");
  });
  server.start();
  HttpClient client(shortLimits());
  for (int i = 0; i < 3; ++i) {
    auto request = HttpRequest::post(server.url() + "/echo", "{\"n\":" + std::to_string(i) + "}");
    request.header("Authorization", "Bearer abc").header("Content-Type", "application/json");
    const auto object = client.fetchObject(request);
    ASSERT_TRUE(object);
    EXPECT_EQ((*object)["body"], "{\"n\":" + std::to_string(i) + "}");
    EXPECT_EQ((*object)["auth"], "Bearer abc");
    EXPECT_EQ((*object)["type"], "application/json");
  }
  // One client, one connection: the same client port every time.
  EXPECT_EQ(peers.size(), 1u);
}

// A server that never answers, one that drips a byte at a time, and ones that
// send 100 MiB (with and without a length up front): each ends as a failure
// within the client's limits, and the large answers are cut off early rather
// than read whole.
TEST(HttpClientTest, HostileServersAreBoundedFailuresAndNoTokenReachesTheErrorText) {
  constexpr std::size_t kHuge = std::size_t{100} << 20;
  std::atomic<std::size_t> sentChunked{0}, sentSized{0};
  test::LoopbackServer server;
  server.server().Get("/silent", [&](const httplib::Request&, httplib::Response& response) {
    server.held();
    response.set_content("{}", "application/json");
  });
  server.server().Get("/drip", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/json", [&](size_t, httplib::DataSink& sink) {
      if (server.released()) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(50ms);
      return sink.write(" ", 1);
    });
  });
  server.server().Get("/huge-chunked", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/json", [&](size_t offset, httplib::DataSink& sink) {
      static const std::string block(1 << 16, ' ');
      if (offset >= kHuge) {
        sink.done();
        return true;
      }
      if (!sink.write(block.data(), block.size())) return false;
      sentChunked += block.size();
      return true;
    });
  });
  server.server().Get("/huge-sized", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(kHuge, "application/json",
                                  [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                    static const std::string block(1 << 16, ' ');
                                    const size_t n = std::min(length, block.size());
                                    (void)offset;
                                    if (!sink.write(block.data(), n)) return false;
                                    sentSized += n;
                                    return true;
                                  });
  });
  server.server().Get("/unauthorised", [&](const httplib::Request& request, httplib::Response& response) {
    response.status = 401;
    response.set_content(R"({"error":"bad token )" + request.get_header_value("Authorization") + "\"}",
                         "application/json");
  });
  server.start();

  HttpClient client(shortLimits());
  for (const char* path : {"/silent", "/drip", "/huge-chunked", "/huge-sized", "/unauthorised"}) {
    auto request = HttpRequest::get(server.url() + path + std::string("?q=1"));
    request.header("Authorization", std::string("Bearer ") + kToken);
    const auto result = client.perform(request);
    EXPECT_FALSE(result.ok()) << path;
    EXPECT_FALSE(result.error.empty()) << path;
    EXPECT_EQ(result.error.find(kToken), std::string::npos) << path << ": " << result.error;
    EXPECT_EQ(result.error.find("q=1"), std::string::npos) << path << ": " << result.error;
  }
  server.stop();
  EXPECT_LT(sentChunked.load(), std::size_t{32} << 20);
  EXPECT_LT(sentSized.load(), std::size_t{32} << 20);
}

TEST(HttpClientTest, AnAnswerJustUnderTheCapIsReadAndOneJustOverIsNot) {
  const std::size_t cap = 4096;
  test::LoopbackServer server;
  server.server().Get(R"(/size/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
    const std::size_t size = std::stoul(request.matches[1]);
    std::string body = "{\"p\":\"" + std::string(size - 8, 'x') + "\"}";
    response.set_content(body, "application/json");
  });
  server.start();
  HttpClient client(HttpLimits{300ms, 800ms, cap});
  EXPECT_TRUE(client.fetchObject(HttpRequest::get(server.url() + "/size/" + std::to_string(cap))));
  const auto over = client.perform(HttpRequest::get(server.url() + "/size/" + std::to_string(cap + 1)));
  EXPECT_FALSE(over.ok());
  EXPECT_NE(over.error.find("larger"), std::string::npos) << over.error;
}

TEST(HttpClientTest, AHeaderWithALineBreakIsRefusedBeforeAnythingIsSent) {
  test::LoopbackServer server;
  server.server().Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("{}", "application/json");
  });
  server.start();
  HttpClient client(shortLimits());
  auto request = HttpRequest::get(server.url() + "/");
  request.header("Authorization", "Bearer abc\r\nX-Injected: 1");
  const auto result = client.perform(request);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.error.find("abc"), std::string::npos);
  EXPECT_TRUE(server.seen().empty());
}

TEST(HttpClientTest, ConcurrentCallersOnOneClientAreServedOneAfterAnother) {
  test::LoopbackServer server;
  server.server().Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"({"ok":true})", "application/json");
  });
  server.start();
  HttpClient client(shortLimits());
  std::atomic<int> successes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        if (client.fetchObject(HttpRequest::get(server.url() + "/"))) ++successes;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(successes.load(), 20);
}

TEST(HttpClientTest, NoServerAtAllIsAQuietFailure) {
  int port = 0;
  {
    test::LoopbackServer probe;
    probe.start();
    port = probe.port();
  }
  HttpClient client(shortLimits());
  const auto result = client.perform(HttpRequest::get("http://127.0.0.1:" + std::to_string(port) + "/"));
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(result.error.empty());
  // Schemes other than http and https are never used.
  EXPECT_FALSE(client.perform(HttpRequest::get("file:///etc/passwd")).ok());
}

}  // namespace
}  // namespace brimvale
