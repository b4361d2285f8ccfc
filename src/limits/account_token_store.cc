#include "limits/account_token_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <mutex>

#include "limits/http_client.h"
#include "limits/probe_support.h"
#include "model/snapshot_io.h"
#include "platform/atomic_file.h"

namespace brimvale {

namespace {

using nlohmann::json;

constexpr auto kExpiryMargin = std::chrono::seconds(60);

std::mutex& refreshLock() {
  static std::mutex lock;
  return lock;
}
// Read and written only under refreshLock().
std::optional<Time> lastRefreshFailure;

Time nowOf(const AccountTokenStore::Environment& env) { return env.now ? env.now() : Clock::now(); }

bool validLater(const OAuthPair& pair, Time now) {
  const auto expiry = probe::timeFromUnixSeconds(pair.expires / 1000.0);
  return expiry && *expiry > now + kExpiryMargin;
}

}  // namespace

void to_json(json& j, const OAuthPair& pair) {
  j = json{{"access", pair.access}, {"refresh", pair.refresh}, {"expires", pair.expires}};
}

HttpClient& AccountTokenStore::session() {
  static HttpClient client(HttpLimits{std::chrono::seconds(15), std::chrono::seconds(20)});
  return client;
}

std::string AccountTokenStore::filePath(const std::string& home) {
  return SnapshotIO::directory(home) + "/oauth.json";
}

std::string AccountTokenStore::redirectURI(const Endpoints& endpoints) {
  return endpoints.anthropicConsole + std::string(redirectPath);
}

std::optional<OAuthPair> AccountTokenStore::load(const std::string& home) {
  const auto text = probe::readBoundedFile(filePath(home));
  if (!text) return std::nullopt;
  const auto document = json::parse(*text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  const auto access = document.find("access");
  const auto refresh = document.find("refresh");
  const auto expires = document.find("expires");
  if (access == document.end() || !access->is_string() || refresh == document.end() ||
      !refresh->is_string() || expires == document.end() || !expires->is_number()) {
    return std::nullopt;
  }
  return OAuthPair{access->get<std::string>(), refresh->get<std::string>(), expires->get<double>()};
}

void AccountTokenStore::save(const std::string& home, const OAuthPair& pair) {
  const std::string path = filePath(home);
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && createDirectories(path.substr(0, slash))) return;
  if (writeFileAtomically(path, json(pair).dump(), 0600)) return;
  ::chmod(path.c_str(), 0600);
}

void AccountTokenStore::remove(const std::string& home) { ::unlink(filePath(home).c_str()); }

std::optional<OAuthPair> AccountTokenStore::parsePair(const json& answer, Time now) {
  if (!answer.is_object()) return std::nullopt;
  const auto access = answer.find("access_token");
  const auto refresh = answer.find("refresh_token");
  if (access == answer.end() || !access->is_string() || refresh == answer.end() ||
      !refresh->is_string()) {
    return std::nullopt;
  }
  double lifetime = 3600;
  if (const auto in = answer.find("expires_in"); in != answer.end() && in->is_number()) {
    lifetime = in->get<double>();
  }
  if (!(std::fabs(lifetime) < 1e10)) lifetime = 3600;
  return OAuthPair{access->get<std::string>(), refresh->get<std::string>(),
                   (toUnixSeconds(now) + lifetime) * 1000.0};
}

std::optional<OAuthPair> AccountTokenStore::requestTokenSync(const json& body,
                                                             const Environment& env) {
  auto request = HttpRequest::post(env.endpoints.anthropicConsole + std::string(tokenPath), body.dump());
  request.header("Content-Type", "application/json");
  HttpClient& http = env.http ? *env.http : session();
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  return parsePair(*answer, nowOf(env));
}

std::optional<std::string> AccountTokenStore::validAccessToken(const Environment& env) {
  const auto first = load(env.home);
  if (!first) return std::nullopt;
  if (validLater(*first, nowOf(env))) return first->access;

  std::lock_guard lock(refreshLock());
  // Somebody else may have refreshed while this caller waited.
  if (const auto again = load(env.home); again && validLater(*again, nowOf(env))) {
    return again->access;
  }
  if (lastRefreshFailure && nowOf(env) - *lastRefreshFailure < refreshPause) return std::nullopt;

  const json body = {{"grant_type", "refresh_token"},
                     {"refresh_token", first->refresh},
                     {"client_id", std::string(clientID)}};
  const auto fresh = requestTokenSync(body, env);
  if (!fresh) {
    lastRefreshFailure = nowOf(env);
    return std::nullopt;
  }
  lastRefreshFailure.reset();
  save(env.home, *fresh);
  return fresh->access;
}

void AccountTokenStore::clearRefreshFailure() {
  std::lock_guard lock(refreshLock());
  lastRefreshFailure.reset();
}

}  // namespace brimvale
