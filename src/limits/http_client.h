#pragma once
// Blocking HTTP(S) requests for the probes and the account login, over
// libcurl. One client keeps one connection cache, so a probe family that
// shares a client reuses its connections from request to request.
//
// The only success is an answer with status exactly 200 whose body is a JSON
// object. Everything else — a network error, a time-out, another status, a
// body that is not a JSON object, a body larger than the cap — is a failure.
// TLS peer and host verification are always on; redirects are not followed.
// Error texts name the kind of failure only: never a header, a body or a URL
// query, so no token can reach them.
//
// Requests are serialised per client: a second thread calling perform waits
// for the first exchange to finish.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace brimvale {

struct HttpRequest {
  enum class Method { get, post };
  Method method = Method::get;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // sent with post

  static HttpRequest get(std::string url) { return {Method::get, std::move(url), {}, {}}; }
  static HttpRequest post(std::string url, std::string body) {
    return {Method::post, std::move(url), {}, std::move(body)};
  }
  HttpRequest& header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
};

struct HttpLimits {
  // Connecting, and any stretch without a byte moving, may take this long.
  std::chrono::milliseconds requestTimeout{8000};
  // The whole exchange never takes longer than this.
  std::chrono::milliseconds wait{10000};
  // Answers larger than this are failures; the transfer is aborted as soon
  // as the size is known to exceed it.
  std::size_t maxBodyBytes = std::size_t{4} << 20;
};

struct HttpResult {
  long status = 0;                        // 0 when no answer arrived
  std::optional<nlohmann::json> object;   // set exactly on success
  std::string error;                      // empty on success
  bool ok() const { return object.has_value(); }
};

class HttpClient {
 public:
  explicit HttpClient(HttpLimits limits = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  HttpResult perform(const HttpRequest& request);
  // The JSON object of a successful exchange, or nothing.
  std::optional<nlohmann::json> fetchObject(const HttpRequest& request) {
    return perform(request).object;
  }

  const HttpLimits& limits() const { return limits_; }

 private:
  struct Impl;
  HttpLimits limits_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brimvale
