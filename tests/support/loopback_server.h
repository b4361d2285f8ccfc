#pragma once
// A cpp-httplib server on 127.0.0.1 with an ephemeral port, running on its own
// thread for the lifetime of the object. Handlers that must hang (to test
// time-outs) wait on held(); the destructor releases them before stopping.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace brimvale::test {

class LoopbackServer {
 public:
  struct Seen {
    std::string method;
    std::string path;  // the request target as sent, query included
    httplib::Headers headers;
    std::string body;
    std::string header(const std::string& name) const {
      auto it = headers.find(name);
      return it == headers.end() ? std::string() : it->second;
    }
  };

  LoopbackServer() {
    server_.set_keep_alive_timeout(1);
    server_.set_logger([this](const httplib::Request& request, const httplib::Response&) {
      std::lock_guard lock(mutex_);
      seen_.push_back(Seen{request.method, request.target, request.headers, request.body});
      seen_cv_.notify_all();
    });
  }
  ~LoopbackServer() { stop(); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& server() { return server_; }

  // Call after registering the handlers.
  void start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is ignored until the accept loop runs; wait for it.
    for (int i = 0; i < 5000 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void stop() {
    release();
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Requests that got an answer, in order. The server notes a request just
  // after answering it, so a client may already hold the answer: atLeast
  // waits (boundedly) for that many notes.
  std::vector<Seen> seen(std::size_t atLeast = 0) const {
    std::unique_lock lock(mutex_);
    seen_cv_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.size() >= atLeast; });
    return seen_;
  }

  // Blocks until release() or the limit; true when released.
  bool held(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return released_cv_.wait_for(lock, limit, [this] { return released_; });
  }
  bool released() const {
    std::lock_guard lock(mutex_);
    return released_;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    released_cv_.notify_all();
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable released_cv_;
  mutable std::condition_variable seen_cv_;
  bool released_ = false;
  std::vector<Seen> seen_;
};

}  // namespace brimvale::test
