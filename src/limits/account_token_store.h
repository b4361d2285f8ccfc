#pragma once
// The tokens of the user's own Claude account: "oauth.json" in the exchange
// folder (atomic writes, mode 0600), and a current access token on request,
// refreshed at Anthropic's token endpoint when it is about to expire.
// Any thread may call; one process-wide lock makes concurrent callers refresh
// at most once, and a failed refresh pauses refreshing for 900 seconds.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "limits/endpoints.h"
#include "limits/probe_environment.h"
#include "model/time_util.h"

namespace brimvale {

class HttpClient;

struct OAuthPair {
  std::string access;
  std::string refresh;
  double expires = 0;  // milliseconds since 1970
  bool operator==(const OAuthPair&) const = default;
};
void to_json(nlohmann::json& j, const OAuthPair& pair);

class AccountTokenStore {
 public:
  AccountTokenStore() = delete;

  // The token file lives in the exchange folder of the home.
  struct Environment : ProbeEnvironment {};

  static constexpr std::string_view clientID = "4f7e2b91-0c3d-4a8e-b5f6-1d2c3b4a5e6f";
  static constexpr std::string_view redirectPath = "/oauth/code/callback";
  static constexpr std::string_view tokenPath = "/v1/oauth/token";
  static constexpr auto refreshPause = std::chrono::seconds(900);

  // The shared client for token requests (15 s request time-out, 20 s wait).
  static HttpClient& session();

  static std::string filePath(const std::string& home);
  static std::string redirectURI(const Endpoints& endpoints);

  // The stored pair, or nothing when the file is missing or undecodable.
  static std::optional<OAuthPair> load(const std::string& home);
  // Failures are silent.
  static void save(const std::string& home, const OAuthPair& pair);
  static void remove(const std::string& home);

  // A token answer: string "access_token" and "refresh_token"; "expires_in"
  // seconds (3600 when absent or not a number).
  static std::optional<OAuthPair> parsePair(const nlohmann::json& answer, Time now);
  // One blocking token request with body; the pair of a 200 answer.
  static std::optional<OAuthPair> requestTokenSync(const nlohmann::json& body,
                                                   const Environment& env);

  // A token valid for more than 60 s, refreshing when needed; nothing when
  // there is no account or the refresh failed (or failed less than 900 s ago).
  static std::optional<std::string> validAccessToken(const Environment& env);

  // Forgets the remembered refresh failure (a fresh login does this too).
  static void clearRefreshFailure();
};

}  // namespace brimvale
