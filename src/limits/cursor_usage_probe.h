#pragma once
// How much of Cursor's current billing period is spent, asked from Cursor's
// dashboard service with the access token the editor keeps in its state
// database (read through a private copy, never written). A rejected first
// attempt is followed by one token refresh; the refreshed token serves that
// call only and is stored nowhere.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "limits/billing.h"
#include "limits/endpoints.h"
#include "limits/probe_environment.h"
#include "model/time_util.h"

namespace brimvale {

class HttpClient;

class CursorUsageProbe {
 public:
  CursorUsageProbe() = delete;

  struct Environment : ProbeEnvironment {};

  static constexpr std::string_view usagePath =
      "/aiserver.v1.DashboardService/GetCurrentPeriodUsage";
  static constexpr std::string_view tokenPath = "/oauth/token";
  static constexpr std::string_view builtInClientID = "Qm7TzX2pLc9VwR4nHs8JdK3fYb6GtE1a";

  static constexpr std::string_view accessTokenKey = "cursorAuth/accessToken";
  static constexpr std::string_view refreshTokenKey = "cursorAuth/refreshToken";
  static constexpr std::string_view applicationUserKey =
      "src.vs.platform.reactivestorage.browser.reactiveStorageServiceImpl.persistentStorage."
      "applicationUser";

  static HttpClient& session();

  // The billing figures, or nothing. Never fails.
  static std::optional<CursorBilling> fetch(const Environment& env);

  // One usage request with token; fetchedAt is now() when the answer came
  // (null: the system clock).
  static std::optional<CursorBilling> fetchLive(const std::string& token, HttpClient& http,
                                                const Endpoints& endpoints,
                                                const std::function<Time()>& now = {});
  // The figures of one usage answer, or nothing without a percentage or a
  // positive limit.
  static std::optional<CursorBilling> parse(const nlohmann::json& answer, Time now);

  // A fresh access token for refreshToken, or nothing. clientID empty: the
  // built-in identifier.
  static std::optional<std::string> refreshAccessToken(const std::string& refreshToken,
                                                       const std::string& clientID,
                                                       HttpClient& http,
                                                       const Endpoints& endpoints);
  // The client identifier stored in the applicationUser value, or nothing.
  static std::optional<std::string> storedClientID(const std::string& applicationUser);

  // Values of keys in the editor's state database (one private copy for all
  // of them); keys without a non-empty value are left out. Nothing at all
  // when the database is missing or cannot be copied and opened.
  static std::optional<std::map<std::string, std::string>> itemValues(
      const std::string& home, const std::vector<std::string>& keys);
  static std::optional<std::string> itemValue(const std::string& home, const std::string& key);

  // The probes' lenient number rule: a JSON number, or a string that is
  // wholly a finite decimal floating-point number.
  static std::optional<double> numberValue(const nlohmann::json& value);
  static std::optional<double> numberValue(const nlohmann::json& object, std::string_view key);
  // A time as seconds, or as milliseconds when above 1e12; nothing unless > 0.
  static std::optional<Time> timeValue(const nlohmann::json& object, std::string_view key);
};

}  // namespace brimvale
