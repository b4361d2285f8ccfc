#include "limits/cursor_usage_probe.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>

#include "collection/sqlite_copy.h"
#include "limits/http_client.h"
#include "limits/probe_support.h"
#include "platform/paths.h"

namespace brimvale {

namespace {

using nlohmann::json;

const json* member(const json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace

HttpClient& CursorUsageProbe::session() {
  static HttpClient client;
  return client;
}

std::optional<double> CursorUsageProbe::numberValue(const json& value) {
  double number = 0;
  if (value.is_number()) {
    number = value.get<double>();
  } else if (value.is_string()) {
    std::string_view text = value.get_ref<const std::string&>();
    if (text.empty()) return std::nullopt;
    if (text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || std::isspace(static_cast<unsigned char>(text.front()))) {
      return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<double> CursorUsageProbe::numberValue(const json& object, std::string_view key) {
  const json* value = member(object, key);
  return value ? numberValue(*value) : std::nullopt;
}

std::optional<Time> CursorUsageProbe::timeValue(const json& object, std::string_view key) {
  const auto number = numberValue(object, key);
  if (!number || !(*number > 0)) return std::nullopt;
  return probe::timeFromUnixSeconds(*number > 1e12 ? *number / 1000.0 : *number);
}

std::optional<CursorBilling> CursorUsageProbe::parse(const json& answer, Time now) {
  static const json empty = json::object();
  const json* planUsage = member(answer, "planUsage");
  const json& plan = planUsage && planUsage->is_object() ? *planUsage : empty;

  CursorBilling billing;
  if (const auto percent = numberValue(plan, "totalPercentUsed")) {
    billing.usedPercent = *percent;
  } else {
    const auto limit = numberValue(plan, "limit");
    if (!limit || !(*limit > 0)) return std::nullopt;
    auto spend = numberValue(plan, "includedSpend");
    if (!spend) spend = numberValue(plan, "totalSpend");
    billing.usedPercent = std::clamp(spend.value_or(0) / *limit * 100.0, 0.0, 100.0);
  }
  billing.periodStart = timeValue(answer, "billingCycleStart");
  billing.periodEnd = timeValue(answer, "billingCycleEnd");
  billing.fetchedAt = now;
  return billing;
}

std::optional<CursorBilling> CursorUsageProbe::fetchLive(const std::string& token, HttpClient& http,
                                                         const Endpoints& endpoints,
                                                         const std::function<Time()>& now) {
  auto request = HttpRequest::post(endpoints.cursorAPI + std::string(usagePath), "{}");
  request.header("Authorization", "Bearer " + token)
      .header("Content-Type", "application/json")
      .header("Connect-Protocol-Version", "1")
      .header("x-cursor-client-type", "ide");
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  return parse(*answer, now ? now() : Clock::now());
}

std::optional<std::string> CursorUsageProbe::storedClientID(const std::string& applicationUser) {
  const auto user = json::parse(applicationUser, nullptr, false);
  const json* creds = member(user, "cursorCreds");
  const json* id = creds ? member(*creds, "authClientId") : nullptr;
  if (!id || !id->is_string() || id->get_ref<const std::string&>().empty()) return std::nullopt;
  return id->get<std::string>();
}

std::optional<std::string> CursorUsageProbe::refreshAccessToken(const std::string& refreshToken,
                                                                const std::string& clientID,
                                                                HttpClient& http,
                                                                const Endpoints& endpoints) {
  if (refreshToken.empty()) return std::nullopt;
  const json body = {{"grant_type", "refresh_token"},
                     {"client_id", clientID.empty() ? std::string(builtInClientID) : clientID},
                     {"refresh_token", refreshToken}};
  auto request = HttpRequest::post(endpoints.cursorAPI + std::string(tokenPath), body.dump());
  request.header("Content-Type", "application/json").header("x-cursor-client-type", "ide");
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  const json* token = member(*answer, "access_token");
  if (!token || !token->is_string()) token = member(*answer, "accessToken");
  if (!token || !token->is_string() || token->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return token->get<std::string>();
}

std::optional<std::map<std::string, std::string>> CursorUsageProbe::itemValues(
    const std::string& home, const std::vector<std::string>& keys) {
  const std::string path = paths::cursorStateDB(home);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  try {
    return withSQLiteCopy(path, "cursor-auth", [&](sqlite3* db) {
      std::map<std::string, std::string> values;
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT value FROM ItemTable WHERE key = ?", -1, &statement,
                             nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return values;
      }
      for (const auto& key : keys) {
        sqlite3_reset(statement);
        sqlite3_bind_text(statement, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(statement) != SQLITE_ROW) continue;
        auto value = optionalColumnText(statement, 0);
        if (value && !value->empty()) values[key] = std::move(*value);
      }
      sqlite3_finalize(statement);
      return values;
    });
  } catch (const StoreError&) {
    return std::nullopt;
  }
}

std::optional<std::string> CursorUsageProbe::itemValue(const std::string& home,
                                                       const std::string& key) {
  auto values = itemValues(home, {key});
  if (!values) return std::nullopt;
  const auto it = values->find(key);
  if (it == values->end()) return std::nullopt;
  return std::move(it->second);
}

std::optional<CursorBilling> CursorUsageProbe::fetch(const Environment& env) {
  HttpClient& http = env.http ? *env.http : session();
  try {
    // One copy of the editor's database serves the first attempt and the
    // refresh alike.
    const std::string access(accessTokenKey), refresh(refreshTokenKey), user(applicationUserKey);
    const auto values = itemValues(env.home, {access, refresh, user});
    if (!values || !values->count(access)) return std::nullopt;

    if (auto billing = fetchLive(values->at(access), http, env.endpoints, env.now)) return billing;

    const auto refreshToken = values->find(refresh);
    if (refreshToken == values->end()) return std::nullopt;
    std::string clientID;
    if (const auto stored = values->find(user); stored != values->end()) {
      clientID = storedClientID(stored->second).value_or("");
    }
    const auto fresh = refreshAccessToken(refreshToken->second, clientID, http, env.endpoints);
    if (!fresh) return std::nullopt;
    return fetchLive(*fresh, http, env.endpoints, env.now);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace brimvale
