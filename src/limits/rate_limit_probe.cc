#include "limits/rate_limit_probe.h"

#include <sqlite3.h>

#include <cstdio>
#include <exception>
#include <filesystem>

#include "collection/sqlite_copy.h"
#include "limits/http_client.h"
#include "limits/probe_support.h"

#if defined(__APPLE__)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace brimvale {

namespace {

using nlohmann::json;

constexpr auto kExpiryMargin = std::chrono::seconds(60);

std::string defaultLabel(const std::string& id) {
  return id == "5h" ? "Claude 5 Hour" : "Claude 7 Day";
}

// An expiry in milliseconds since 1970 that lies more than a minute ahead.
bool expiresLater(const json& millis, Time now) {
  if (!millis.is_number()) return false;
  const auto expiry = probe::timeFromUnixSeconds(millis.get<double>() / 1000.0);
  return expiry && *expiry > now + kExpiryMargin;
}

std::optional<std::string> tokenFromClaudeCreds(const std::string& text, Time now) {
  const auto document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  const auto oauth = document.find("claudeAiOauth");
  if (oauth == document.end() || !oauth->is_object()) return std::nullopt;
  const auto token = oauth->find("accessToken");
  const auto expiry = oauth->find("expiresAt");
  if (token == oauth->end() || !token->is_string() || expiry == oauth->end()) return std::nullopt;
  if (!expiresLater(*expiry, now)) return std::nullopt;
  return token->get<std::string>();
}

#if defined(__APPLE__)
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}
#endif

}  // namespace

HttpClient& RateLimitProbe::session() {
  static HttpClient client;
  return client;
}

std::string RateLimitProbe::agentDatabasePath(const std::string& home) {
  return home + "/.gjc/agent/agent.db";
}

std::string RateLimitProbe::claudeCredentialsPath(const std::string& home) {
  return home + "/.claude/.credentials.json";
}

std::optional<Time> RateLimitProbe::parseResetsAt(const std::string& text) {
  std::string cleaned = text;
  if (const auto dot = cleaned.find('.'); dot != std::string::npos) {
    if (const auto zone = cleaned.find_first_of("+-Z", dot); zone != std::string::npos) {
      cleaned.erase(dot, zone - dot);
    }
  }
  return parseISO8601Plain(cleaned);
}

std::optional<std::vector<LimitWindow>> RateLimitProbe::parseLive(const json& answer) {
  if (!answer.is_object()) return std::nullopt;
  std::vector<LimitWindow> windows;
  for (const auto& [id, key] : {std::pair{"5h", "five_hour"}, std::pair{"7d", "seven_day"}}) {
    const auto entry = answer.find(key);
    if (entry == answer.end() || !entry->is_object()) continue;
    const auto utilization = entry->find("utilization");
    if (utilization == entry->end() || !utilization->is_number()) continue;
    LimitWindow window;
    window.id = id;
    window.label = defaultLabel(window.id);
    window.usedFraction = utilization->get<double>() / 100.0;
    if (const auto resets = entry->find("resets_at"); resets != entry->end() && resets->is_string()) {
      window.resetsAt = parseResetsAt(resets->get<std::string>());
    }
    windows.push_back(std::move(window));
  }
  if (windows.empty()) return std::nullopt;
  return windows;
}

std::optional<std::vector<LimitWindow>> RateLimitProbe::fetchLive(const std::string& token,
                                                                  HttpClient& http,
                                                                  const Endpoints& endpoints) {
  auto request = HttpRequest::get(endpoints.anthropicAPI + std::string(usagePath));
  request.header("Authorization", "Bearer " + token).header("anthropic-beta", "oauth-2025-04-20");
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  return parseLive(*answer);
}

std::optional<LimitWindow> RateLimitProbe::windowFromCache(const json& limit) {
  if (!limit.is_object()) return std::nullopt;
  const auto id = limit.find("id");
  const auto amount = limit.find("amount");
  if (id == limit.end() || !id->is_string() || amount == limit.end() || !amount->is_object()) {
    return std::nullopt;
  }
  const auto used = amount->find("usedFraction");
  if (used == amount->end() || !used->is_number()) return std::nullopt;

  const auto& fullID = id->get_ref<const std::string&>();
  const auto colon = fullID.rfind(':');
  std::string shortID = colon == std::string::npos ? fullID : fullID.substr(colon + 1);
  if (shortID != "5h" && shortID != "7d") return std::nullopt;

  LimitWindow window;
  window.id = shortID;
  window.usedFraction = used->get<double>();
  if (const auto span = limit.find("window"); span != limit.end() && span->is_object()) {
    if (const auto resets = span->find("resetsAt"); resets != span->end() && resets->is_number()) {
      window.resetsAt = probe::timeFromUnixSeconds(resets->get<double>() / 1000.0);
    }
  }
  const auto label = limit.find("label");
  window.label = label != limit.end() && label->is_string() ? label->get<std::string>()
                                                            : defaultLabel(window.id);
  return window;
}

std::vector<LimitWindow> RateLimitProbe::cachedWindows(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT value FROM cache WHERE key LIKE 'usage_cache:report:%'", -1,
                         &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return {};
  }
  std::vector<LimitWindow> best;
  double bestAt = -1;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const auto text = optionalColumnText(statement, 0);
    if (!text) continue;
    const auto row = json::parse(*text, nullptr, false);
    if (row.is_discarded() || !row.is_object()) continue;
    const auto report = row.find("value");
    if (report == row.end() || !report->is_object()) continue;
    const auto limits = report->find("limits");
    if (limits == report->end() || !limits->is_array()) continue;

    double fetchedAt = 0;
    if (const auto at = report->find("fetchedAt"); at != report->end() && at->is_number()) {
      fetchedAt = at->get<double>();
    }
    const std::optional<Time> asOf =
        fetchedAt > 0 ? probe::timeFromUnixSeconds(fetchedAt / 1000.0) : std::nullopt;

    std::vector<LimitWindow> windows;
    for (const auto& limit : *limits) {
      if (auto window = windowFromCache(limit)) {
        window->asOf = asOf;
        windows.push_back(std::move(*window));
      }
    }
    // The later of equal reports wins.
    if (!windows.empty() && fetchedAt >= bestAt) {
      best = std::move(windows);
      bestAt = fetchedAt;
    }
  }
  sqlite3_finalize(statement);
  return best;
}

std::optional<std::string> RateLimitProbe::validToken(sqlite3* db, Time now) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT data FROM auth_credentials\n"
                         "WHERE provider = 'anthropic' AND credential_type = 'oauth'",
                         -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return std::nullopt;
  }
  std::optional<std::string> token;
  while (!token && sqlite3_step(statement) == SQLITE_ROW) {
    const auto text = optionalColumnText(statement, 0);
    if (!text) continue;
    const auto data = json::parse(*text, nullptr, false);
    if (data.is_discarded() || !data.is_object()) continue;
    const auto access = data.find("access");
    const auto expires = data.find("expires");
    if (access == data.end() || !access->is_string() || expires == data.end()) continue;
    if (expiresLater(*expires, now)) token = access->get<std::string>();
  }
  sqlite3_finalize(statement);
  return token;
}

std::optional<std::string> RateLimitProbe::keychainClaudeCreds() {
#if defined(__APPLE__)
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const char* argv[] = {"/usr/bin/security", "find-generic-password", "-s",
                        "Claude Code-credentials", "-w", nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr,
                                  const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string output;
  if (spawned == 0) {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
      if (output.size() < (1u << 20)) output.append(buffer, static_cast<size_t>(n));
    }
  }
  close(out[0]);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::nullopt;
  }
  return trimmed(output);
#else
  // Claude Code keeps its credentials only in the file here.
  return std::nullopt;
#endif
}

std::optional<std::string> RateLimitProbe::fileClaudeCreds(const std::string& home) {
  return probe::readBoundedFile(claudeCredentialsPath(home));
}

std::optional<std::string> RateLimitProbe::claudeCodeToken(const std::string& home, Time now) {
  const auto keychain = keychainClaudeCreds();
  const auto file = fileClaudeCreds(home);
  for (const auto* text : {&keychain, &file}) {
    if (!*text) continue;
    if (auto token = tokenFromClaudeCreds(**text, now)) return token;
  }
  return std::nullopt;
}

std::vector<LimitWindow> RateLimitProbe::fetch(const Environment& env) {
  const Time now = env.now ? env.now() : Clock::now();
  HttpClient& http = env.http ? *env.http : session();

  const auto withDatabase = [&](sqlite3* db) -> std::vector<LimitWindow> {
    // Every source is read before the first request goes out.
    std::vector<std::string> candidates;
    if (env.accountToken) {
      try {
        if (auto token = env.accountToken(); token && !token->empty()) {
          candidates.push_back(std::move(*token));
        }
      } catch (const std::exception&) {
      }
    }
    if (db) {
      if (auto token = validToken(db, now)) candidates.push_back(std::move(*token));
    }
    if (auto token = claudeCodeToken(env.home, now)) candidates.push_back(std::move(*token));

    for (const auto& token : candidates) {
      if (auto windows = fetchLive(token, http, env.endpoints)) return std::move(*windows);
    }
    return db ? cachedWindows(db) : std::vector<LimitWindow>{};
  };

  try {
    const std::string agentDB = agentDatabasePath(env.home);
    std::error_code ec;
    if (std::filesystem::is_regular_file(agentDB, ec)) {
      bool ran = false;
      std::vector<LimitWindow> windows;
      try {
        // The private folder is "kestrune-agent-" + pid.
        withSQLiteCopy(agentDB, "agent", [&](sqlite3* db) {
          ran = true;
          windows = withDatabase(db);
        });
      } catch (const StoreError&) {
      }
      if (ran) return windows;
    }
    return withDatabase(nullptr);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace brimvale
