#pragma once
// The aggregate records every figure of the application comes from, and their
// JSON forms (keys equal field names, absent optionals left out).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/kinds.h"
#include "model/time_util.h"

namespace brimvale {

struct DayUsage {
  std::string date;  // day key of the local calendar day
  double cost = 0;
  int64_t tokens = 0;
  int64_t messages = 0;
  bool operator==(const DayUsage&) const = default;
};

struct ModelUsage {
  std::string id;    // raw model identifier
  std::string name;  // display name made when the row was created
  double cost = 0;
  int64_t tokens = 0;
  int64_t messages = 0;
  bool operator==(const ModelUsage&) const = default;
};

struct LimitWindow {
  std::string id;  // "5h" session window, "7d" long window
  std::string label;
  double usedFraction = 0;  // passed through unclamped
  std::optional<Time> resetsAt;
  std::optional<Time> asOf;
  bool operator==(const LimitWindow&) const = default;
};

struct HistoryRange {
  std::string first;
  std::string last;
  int64_t dayCount = 0;
  bool operator==(const HistoryRange&) const = default;
};

struct UsageSnapshot {
  Time generatedAt{};
  double totalCost = 0;
  int64_t totalTokens = 0;
  int64_t totalMessages = 0;
  double todayCost = 0;
  int64_t todayTokens = 0;
  double weekCost = 0;
  int64_t weekTokens = 0;
  double sessionCost = 0;
  int64_t sessionTokens = 0;
  std::optional<Time> sessionStart;
  std::optional<Time> sessionEnd;
  std::optional<double> sessionMaxCost;
  std::optional<int64_t> sessionMaxTokens;
  std::optional<std::string> provider;
  std::optional<std::vector<LimitWindow>> limits;
  std::vector<ModelUsage> models;  // highest cost first
  std::vector<DayUsage> days;      // oldest first, unique keys

  bool operator==(const UsageSnapshot&) const = default;

  // Derived values, computed on demand.
  std::map<std::string, DayUsage> dayMap() const;
  ProviderKind providerKind() const;
  double maxDayCost() const;
  double maxWeekCost() const;
  std::optional<LimitWindow> limitWindow(std::string_view id) const;
  std::optional<HistoryRange> historyRange() const;
  int historyWeeks(Time now) const;
  int64_t activeDayCount() const;
  double averageDailyCost() const;
  int64_t averageDailyTokens() const;
  // Share of a metric used up; absent when the metric has no fraction.
  std::optional<double> fraction(const MetricKind& metric) const;

  // Fixed demonstration data for widget previews.
  static UsageSnapshot placeholder(Time now);
};

void to_json(nlohmann::json& j, const DayUsage& v);
void from_json(const nlohmann::json& j, DayUsage& v);
void to_json(nlohmann::json& j, const ModelUsage& v);
void from_json(const nlohmann::json& j, ModelUsage& v);
void to_json(nlohmann::json& j, const LimitWindow& v);
void from_json(const nlohmann::json& j, LimitWindow& v);
void to_json(nlohmann::json& j, const UsageSnapshot& v);
void from_json(const nlohmann::json& j, UsageSnapshot& v);

}  // namespace brimvale
