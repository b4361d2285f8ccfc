#pragma once
// The loopback listener that receives the browser's redirect at the end of
// the Claude account login. It listens on 127.0.0.1 only (never on other
// interfaces), reads one chunk of at most 16384 bytes per connection, looks
// at the request line alone, answers with a small Korean page and closes.
// A connection that sends nothing is closed after a short time-out, and
// connections are served side by side on the listener's own thread, so none
// holds up another or the main loop.
//
// Every callback is delivered on the main loop. Each start reports at most
// one of ready or failed; a listener stopped or restarted before its ready
// report was delivered reports failed to its own callbacks. The loop must
// accept posts from other threads (the listener runs on its own thread).

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/main_loop.h"

namespace brimvale {

class OAuthCallbackServer {
 public:
  static constexpr int defaultPort = 54545;

  using CodeCallback = std::function<void(std::string code, std::optional<std::string> state)>;

  struct Route {
    std::string status;  // "200 OK", "404 Not Found", "400 Bad Request"
    std::string body;
    std::optional<std::string> code;
    std::optional<std::string> state;
  };

  // port 0 picks a free port (tests).
  explicit OAuthCallbackServer(MainLoop& loop, int port = defaultPort,
                               std::chrono::milliseconds idleTimeout = std::chrono::seconds(5));
  ~OAuthCallbackServer();
  OAuthCallbackServer(const OAuthCallbackServer&) = delete;
  OAuthCallbackServer& operator=(const OAuthCallbackServer&) = delete;

  void start(std::function<void()> onReady, std::function<void()> onFail, CodeCallback onCode);
  void stop();

  // The bound port once listening (the configured one otherwise).
  int port() const;
  // "http://localhost:" + port + "/callback"
  std::string redirectURI() const;

  // Pure: the answer to one request text.
  static Route route(std::string_view request);
  // The whole HTTP response for a route result.
  static std::string response(const Route& route);

 private:
  struct Listener;
  struct Session;
  MainLoop& loop_;
  int configuredPort_;
  std::chrono::milliseconds idleTimeout_;
  std::unique_ptr<Listener> listener_;
  std::shared_ptr<Session> session_;
};

}  // namespace brimvale
