#include "limits/grok_usage_probe.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <vector>

#include "limits/cursor_usage_probe.h"
#include "limits/http_client.h"
#include "limits/probe_support.h"
#include "platform/atomic_file.h"

namespace brimvale {

namespace {

using nlohmann::json;

constexpr auto kExpiryMargin = std::chrono::seconds(60);
constexpr double kDefaultLifetime = 21600;  // six hours

const json* member(const json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> nonEmptyString(const json& object, std::string_view key) {
  const json* value = member(object, key);
  if (!value || !value->is_string() || value->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return value->get<std::string>();
}

std::optional<Time> dateValue(const json& object, std::string_view key) {
  const json* value = member(object, key);
  if (!value || !value->is_string()) return std::nullopt;
  return parseISO8601(value->get_ref<const std::string&>());
}

Time nowOf(const std::function<Time()>& now) { return now ? now() : Clock::now(); }

}  // namespace

HttpClient& GrokUsageProbe::session() {
  static HttpClient client;
  return client;
}

std::string GrokUsageProbe::authPath(const std::string& home) { return home + "/.grok/auth.json"; }

std::string GrokUsageProbe::formBody(const std::map<std::string, std::string>& pairs) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : pairs) {
    if (!body.empty()) body += '&';
    body += name;
    body += '=';
    for (unsigned char c : value) {
      const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                              c == '~';
      if (unreserved) {
        body += static_cast<char>(c);
      } else {
        body += '%';
        body += kHex[c >> 4];
        body += kHex[c & 0xF];
      }
    }
  }
  return body;
}

std::optional<GrokBilling> GrokUsageProbe::parse(const json& answer, Time now) {
  const json* config = member(answer, "config");
  if (!config || !config->is_object()) return std::nullopt;
  const auto percent = CursorUsageProbe::numberValue(*config, "creditUsagePercent");
  if (!percent) return std::nullopt;

  GrokBilling billing;
  billing.usedPercent = *percent;
  const json* current = member(*config, "currentPeriod");
  if (current && current->is_object()) {
    billing.periodStart = dateValue(*current, "start");
    billing.periodEnd = dateValue(*current, "end");
  }
  if (!billing.periodStart) billing.periodStart = dateValue(*config, "billingPeriodStart");
  if (!billing.periodEnd) billing.periodEnd = dateValue(*config, "billingPeriodEnd");

  if (const json* products = member(*config, "productUsage"); products && products->is_array()) {
    for (const auto& item : *products) {
      if (!item.is_object()) continue;
      auto name = nonEmptyString(item, "product");
      if (!name) continue;
      billing.products.push_back(
          GrokProductUsage{std::move(*name), CursorUsageProbe::numberValue(item, "usagePercent")});
    }
  }
  billing.fetchedAt = now;
  return billing;
}

std::optional<GrokBilling> GrokUsageProbe::fetchLive(const std::string& token, HttpClient& http,
                                                     const Endpoints& endpoints,
                                                     const std::function<Time()>& now) {
  auto request = HttpRequest::get(endpoints.grokAPI + std::string(creditsPath));
  request.header("Authorization", "Bearer " + token).header("X-XAI-Token-Auth", "xai-grok-cli");
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  return parse(*answer, nowOf(now));
}

void GrokUsageProbe::writeAuth(const std::string& path, const json& all) {
  std::string text;
  try {
    text = all.dump(2) + "\n";
  } catch (const std::exception&) {
    return;
  }
  if (writeFileAtomically(path, text, 0600)) return;  // an error text: nothing written
  ::chmod(path.c_str(), 0600);
}

std::optional<std::string> GrokUsageProbe::refresh(const std::string& key, json& all,
                                                   const Environment& env) {
  const json* found = member(all, key);
  if (!found || !found->is_object()) return std::nullopt;
  json entry = *found;

  const auto refreshToken = nonEmptyString(entry, "refresh_token");
  const json* clientID = member(entry, "oidc_client_id");
  const json* issuer = member(entry, "oidc_issuer");
  if (!refreshToken || !clientID || !clientID->is_string() || !issuer || !issuer->is_string()) {
    return std::nullopt;
  }
  const std::string& issuerText = issuer->get_ref<const std::string&>();
  if (!Endpoints::baseURL(issuerText)) return std::nullopt;

  auto request = HttpRequest::post(issuerText + "/oauth2/token",
                                   formBody({{"grant_type", "refresh_token"},
                                             {"refresh_token", *refreshToken},
                                             {"client_id", clientID->get<std::string>()}}));
  request.header("Content-Type", "application/x-www-form-urlencoded");
  HttpClient& http = env.http ? *env.http : session();
  const auto answer = http.fetchObject(request);
  if (!answer) return std::nullopt;
  auto accessToken = nonEmptyString(*answer, "access_token");
  if (!accessToken) return std::nullopt;

  const Time now = nowOf(env.now);
  double lifetime = kDefaultLifetime;
  if (const json* expiresIn = member(*answer, "expires_in"); expiresIn && expiresIn->is_number()) {
    lifetime = expiresIn->get<double>();
  }
  // A lifetime beyond a few centuries is garbage, not a date to compute.
  if (!(std::fabs(lifetime) < 1e10)) lifetime = kDefaultLifetime;
  const Time expiry =
      now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(lifetime));

  entry["key"] = *accessToken;
  if (auto newRefresh = nonEmptyString(*answer, "refresh_token")) entry["refresh_token"] = *newRefresh;
  entry["expires_at"] = probe::formatISO8601Millis(expiry);
  entry["create_time"] = probe::formatISO8601Millis(now);
  all[key] = std::move(entry);
  writeAuth(authPath(env.home), all);
  return accessToken;
}

std::optional<std::string> GrokUsageProbe::accessToken(const Environment& env) {
  if (const auto text = probe::readBoundedFile(authPath(env.home))) {
    json all = json::parse(*text, nullptr, false);
    if (!all.is_discarded() && all.is_object()) {
      std::vector<std::string> names;
      for (const auto& item : all.items()) names.push_back(item.key());
      for (const auto& name : names) {
        const json& entry = all[name];
        const auto key = nonEmptyString(entry, "key");
        if (!key) continue;
        const auto expiry = dateValue(entry, "expires_at");
        if (expiry && *expiry > nowOf(env.now) + kExpiryMargin) return key;
        if (auto fresh = refresh(name, all, env)) return fresh;
        if (!expiry) return key;
      }
    }
  }
  std::optional<std::string> fallback;
  if (env.apiKey) {
    fallback = env.apiKey();
  } else if (const char* value = std::getenv("XAI_API_KEY")) {
    fallback = value;
  }
  if (fallback && !fallback->empty()) return fallback;
  return std::nullopt;
}

std::optional<GrokBilling> GrokUsageProbe::fetch(const Environment& env) {
  try {
    const auto token = accessToken(env);
    if (!token) return std::nullopt;
    return fetchLive(*token, env.http ? *env.http : session(), env.endpoints, env.now);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace brimvale
