#pragma once
// Claude's five-hour and seven-day windows: asked live from Anthropic's OAuth
// usage endpoint with the first access token that works, otherwise the last
// report the gjc agent stored in its database. Never writes another tool's
// files: Claude Code's credentials are only read, and the agent's database is
// read through a private copy that is always removed again.
//
// Blocking (up to one wait per candidate token); runs on the refresh cycle's
// background thread, one call at a time per process (the copy's folder name
// depends on the process id only).

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "limits/endpoints.h"
#include "limits/probe_environment.h"
#include "model/time_util.h"
#include "model/usage_snapshot.h"

struct sqlite3;

namespace brimvale {

class HttpClient;

class RateLimitProbe {
 public:
  RateLimitProbe() = delete;

  using TokenSource = std::function<std::optional<std::string>()>;

  // What one fetch works with; the defaults are the real ones.
  struct Environment : ProbeEnvironment {
    TokenSource accountToken;  // the own account's token; null: none
  };

  static constexpr std::string_view usagePath = "/api/oauth/usage";

  // The probe family's shared client (8 s request time-out, 10 s wait).
  static HttpClient& session();

  // The windows ("5h" before "7d"), possibly none. Never fails.
  static std::vector<LimitWindow> fetch(const Environment& env);

  // One request with token: a non-empty list, or nothing.
  static std::optional<std::vector<LimitWindow>> fetchLive(const std::string& token,
                                                           HttpClient& http,
                                                           const Endpoints& endpoints);
  // The windows of one live answer, or nothing when it holds none.
  static std::optional<std::vector<LimitWindow>> parseLive(const nlohmann::json& answer);
  // "resets_at": fractional seconds are dropped before an internet
  // date-time parse.
  static std::optional<Time> parseResetsAt(const std::string& text);

  // The stored report with the largest "fetchedAt" in an open copy of the
  // agent database; every window carries that report's asOf.
  static std::vector<LimitWindow> cachedWindows(sqlite3* db);
  // One stored limit object, or nothing.
  static std::optional<LimitWindow> windowFromCache(const nlohmann::json& limit);

  // The first agent credential whose expiry lies more than 60 s after now.
  static std::optional<std::string> validToken(sqlite3* db, Time now);
  // Claude Code's token from its credentials (keychain on macOS, then the
  // file), when it expires more than 60 s after now.
  static std::optional<std::string> claudeCodeToken(const std::string& home, Time now);
  static std::optional<std::string> keychainClaudeCreds();  // nothing off macOS
  static std::optional<std::string> fileClaudeCreds(const std::string& home);

  static std::string agentDatabasePath(const std::string& home);    // .gjc/agent/agent.db
  static std::string claudeCredentialsPath(const std::string& home);  // .claude/.credentials.json
};

}  // namespace brimvale
