#pragma once
// How much of the Grok CLI's weekly credits is used, overall and per product,
// asked from the billing endpoint the CLI itself uses, with the CLI's own
// login. An expired login is refreshed at the issuer named in the login file,
// and only then is that file rewritten: only the refreshed entry changes, the
// write is atomic and the file ends with mode 0600.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "limits/billing.h"
#include "limits/endpoints.h"
#include "limits/probe_environment.h"
#include "model/time_util.h"

namespace brimvale {

class HttpClient;

class GrokUsageProbe {
 public:
  GrokUsageProbe() = delete;

  struct Environment : ProbeEnvironment {
    // The fallback key; null: the environment variable "XAI_API_KEY".
    std::function<std::optional<std::string>()> apiKey;
  };

  static constexpr std::string_view creditsPath = "/v1/billing?format=credits";

  static HttpClient& session();

  // The billing figures, or nothing. Never fails.
  static std::optional<GrokBilling> fetch(const Environment& env);

  // One billing request with token.
  static std::optional<GrokBilling> fetchLive(const std::string& token, HttpClient& http,
                                              const Endpoints& endpoints,
                                              const std::function<Time()>& now = {});
  static std::optional<GrokBilling> parse(const nlohmann::json& answer, Time now);

  // The access token to use: a login entry valid for more than 60 s, a
  // refreshed one, an entry without expiry, or the fallback key.
  static std::optional<std::string> accessToken(const Environment& env);

  // Refreshes all[key] at its issuer; on success writes the whole login
  // object back with the new entry and returns the new access token (also
  // when the write fails).
  static std::optional<std::string> refresh(const std::string& key, nlohmann::json& all,
                                            const Environment& env);
  // Pretty-printed, atomically, mode 0600; failures are silent.
  static void writeAuth(const std::string& path, const nlohmann::json& all);

  // "a=b&c=d" with values percent-encoded outside RFC 3986's unreserved set.
  static std::string formBody(const std::map<std::string, std::string>& pairs);

  static std::string authPath(const std::string& home);  // .grok/auth.json
};

}  // namespace brimvale
