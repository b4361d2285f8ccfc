#include "limits/oauth_callback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

namespace brimvale {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestBytes = 16384;
constexpr std::size_t kMaxConnections = 64;

constexpr std::string_view kPagePrefix =
    "<!doctype html><html><head><meta charset=\"utf-8\"><title>Brimvale</title></head>\n"
    "<body style=\"font-family:-apple-system,sans-serif;display:flex;align-items:center;"
    "justify-content:center;height:90vh;margin:0\"><h2>";
constexpr std::string_view kPageSuffix = "</h2></body></html>";

std::string page(std::string_view message) {
  return std::string(kPagePrefix) + std::string(message) + std::string(kPageSuffix);
}

std::string htmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// Strict UTF-8 check (no overlongs, no surrogates, at most U+10FFFF).
bool validUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((length == 2 && cp < 0x80) || (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; nothing for a broken escape.
std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

struct QueryItem {
  std::string name;
  std::optional<std::string> value;  // none: no "="
};

// Path and query items of a request target, or nothing when it does not
// parse as a URL reference.
std::optional<std::pair<std::string, std::vector<QueryItem>>> parseTarget(std::string_view target) {
  for (char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      return std::nullopt;
    }
  }
  if (const auto hash = target.find('#'); hash != std::string_view::npos) target = target.substr(0, hash);
  // Absolute form: drop scheme and authority.
  if (const auto scheme = target.find("://"); scheme != std::string_view::npos &&
                                               target.find_first_of("/?") > scheme) {
    const auto pathStart = target.find_first_of("/?", scheme + 3);
    target = pathStart == std::string_view::npos ? std::string_view{} : target.substr(pathStart);
  }
  const auto question = target.find('?');
  const auto path = percentDecoded(target.substr(0, question));
  if (!path) return std::nullopt;
  std::vector<QueryItem> items;
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (true) {
      const auto amp = query.find('&');
      const std::string_view piece = query.substr(0, amp);
      if (!piece.empty()) {
        const auto eq = piece.find('=');
        auto name = percentDecoded(piece.substr(0, eq));
        if (!name) return std::nullopt;
        QueryItem item{std::move(*name), std::nullopt};
        if (eq != std::string_view::npos) {
          item.value = percentDecoded(piece.substr(eq + 1));
          if (!item.value) return std::nullopt;
        }
        items.push_back(std::move(item));
      }
      if (amp == std::string_view::npos) break;
      query.remove_prefix(amp + 1);
    }
  }
  return std::pair{*path, std::move(items)};
}

const QueryItem* firstItem(const std::vector<QueryItem>& items, std::string_view name) {
  for (const auto& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

void sendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // errors while sending are ignored
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

OAuthCallbackServer::Route OAuthCallbackServer::route(std::string_view request) {
  const std::string_view line = request.substr(0, request.find("\r\n"));
  if (line.rfind("GET ", 0) != 0) return {"400 Bad Request", page("잘못된 요청입니다."), {}, {}};
  std::string_view target = line.substr(4);
  target = target.substr(0, target.find(' '));
  const auto parsed = parseTarget(target);
  if (!parsed || parsed->first != "/callback") {
    return {"404 Not Found", page("찾을 수 없습니다."), {}, {}};
  }
  const auto& items = parsed->second;
  if (const auto* code = firstItem(items, "code"); code && code->value && !code->value->empty()) {
    std::optional<std::string> state;
    if (const auto* s = firstItem(items, "state"); s && s->value) state = s->value;
    return {"200 OK", page("연결 완료! 이 탭을 닫고 Brimvale으로 돌아가세요."), code->value, state};
  }
  std::string reason = "코드 없음";
  if (const auto* error = firstItem(items, "error"); error && error->value && !error->value->empty()) {
    reason = *error->value;
  }
  return {"200 OK",
          page("로그인이 완료되지 않았습니다 (" + htmlEscaped(reason) + "). 앱에서 다시 시도해주세요."),
          {}, {}};
}

std::string OAuthCallbackServer::response(const Route& route) {
  return "HTTP/1.1 " + route.status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
         std::to_string(route.body.size()) + "\r\nConnection: close\r\n\r\n" + route.body;
}

// Everything below the one-shot reports lives on the main loop.
struct OAuthCallbackServer::Session {
  std::function<void()> onReady;
  std::function<void()> onFail;
  CodeCallback onCode;
  bool reported = false;
  bool active = true;
};

struct OAuthCallbackServer::Listener {
  int fd = -1;
  int wake[2] = {-1, -1};
  int port = 0;
  std::thread thread;

  ~Listener() {
    if (thread.joinable()) {
      const char byte = 1;
      [[maybe_unused]] ssize_t n = ::write(wake[1], &byte, 1);
      thread.join();
    }
    closeQuietly(fd);
    closeQuietly(wake[0]);
    closeQuietly(wake[1]);
  }

  static std::unique_ptr<Listener> open(int port) {
    auto listener = std::make_unique<Listener>();
    listener->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener->fd < 0) return nullptr;
    const int yes = 1;
    ::setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never any other interface
    if (::bind(listener->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener->fd, 16) != 0) {
      return nullptr;
    }
    socklen_t size = sizeof address;
    if (::getsockname(listener->fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return nullptr;
    listener->port = ntohs(address.sin_port);
    if (::pipe2(listener->wake, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    ::fcntl(listener->fd, F_SETFL, O_NONBLOCK);
    return listener;
  }

  void serve(MainLoop& loop, std::weak_ptr<Session> session, std::chrono::milliseconds idleTimeout) {
    struct Connection {
      int fd;
      SteadyClock::time_point deadline;
    };
    std::vector<Connection> connections;
    const auto answer = [&](int client, std::string_view text) {
      const Route result = route(validUTF8(text) ? text : std::string_view{});
      sendAll(client, response(result));
      ::shutdown(client, SHUT_WR);
      ::close(client);
      if (result.code) {
        loop.post([session, code = *result.code, state = result.state] {
          const auto s = session.lock();
          if (s && s->active && s->onCode) s->onCode(code, state);
        });
      }
    };

    while (true) {
      std::vector<pollfd> fds{{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
      auto wait = std::chrono::milliseconds(-1);
      const auto now = SteadyClock::now();
      for (const auto& c : connections) {
        fds.push_back({c.fd, POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now);
        const auto bounded = std::max(left, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1);
        if (wait.count() < 0 || bounded < wait) wait = bounded;
      }
      const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
      if (ready < 0 && errno != EINTR) break;
      if (fds[0].revents) break;  // stop

      std::vector<Connection> open;
      const auto after = SteadyClock::now();
      for (std::size_t i = 0; i < connections.size(); ++i) {
        const auto& c = connections[i];
        if (fds[i + 2].revents) {
          char buffer[kMaxRequestBytes];
          const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
          if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            open.push_back(c);
            continue;
          }
          // One read decides; a failed read counts as an empty request.
          answer(c.fd, n > 0 ? std::string_view(buffer, static_cast<std::size_t>(n)) : std::string_view{});
        } else if (after >= c.deadline) {
          answer(c.fd, {});
        } else {
          open.push_back(c);
        }
      }
      connections = std::move(open);

      if (fds[1].revents & POLLIN) {
        while (true) {
          const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
          if (client < 0) break;
          if (connections.size() >= kMaxConnections) {
            ::close(client);
            continue;
          }
          // Answers are a few hundred bytes; a peer that does not read them
          // cannot hold the listener for long.
          const timeval sendLimit{1, 0};
          ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
          const int flags = ::fcntl(client, F_GETFL);
          ::fcntl(client, F_SETFL, flags & ~O_NONBLOCK);
          connections.push_back({client, SteadyClock::now() + idleTimeout});
        }
      }
    }
    for (const auto& c : connections) ::close(c.fd);
  }
};

OAuthCallbackServer::OAuthCallbackServer(MainLoop& loop, int port, std::chrono::milliseconds idleTimeout)
    : loop_(loop), configuredPort_(port), idleTimeout_(idleTimeout) {}

OAuthCallbackServer::~OAuthCallbackServer() {
  listener_.reset();
  if (session_) session_->active = false;
}

int OAuthCallbackServer::port() const { return listener_ ? listener_->port : configuredPort_; }

std::string OAuthCallbackServer::redirectURI() const {
  return "http://localhost:" + std::to_string(port()) + "/callback";
}

void OAuthCallbackServer::stop() {
  listener_.reset();
  if (!session_) return;
  session_->active = false;
  loop_.post([s = session_] {
    if (s->reported) return;
    s->reported = true;
    if (s->onFail) s->onFail();
  });
  session_.reset();
}

void OAuthCallbackServer::start(std::function<void()> onReady, std::function<void()> onFail,
                                CodeCallback onCode) {
  stop();
  session_ = std::make_shared<Session>();
  session_->onReady = std::move(onReady);
  session_->onFail = std::move(onFail);
  session_->onCode = std::move(onCode);

  listener_ = Listener::open(configuredPort_);
  if (!listener_) {
    loop_.post([s = session_] {
      if (s->reported) return;
      s->reported = true;
      if (s->onFail) s->onFail();
    });
    return;
  }
  listener_->thread = std::thread(&Listener::serve, listener_.get(), std::ref(loop_),
                                  std::weak_ptr<Session>(session_), idleTimeout_);
  loop_.post([s = session_] {
    if (s->reported || !s->active) return;
    s->reported = true;
    if (s->onReady) s->onReady();
  });
}

}  // namespace brimvale
