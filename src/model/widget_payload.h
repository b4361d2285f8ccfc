#pragma once
// The records of the widget exchange files.

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/kinds.h"
#include "model/usage_snapshot.h"

namespace brimvale {

struct WidgetConfig {
  std::string source = "all";  // "all" or a SourceKind raw value
  std::string unit = "cost";   // "tokens" shows tokens, anything else costs
  bool operator==(const WidgetConfig&) const = default;
  UnitKind unitKind() const { return unit == "tokens" ? UnitKind::tokens : UnitKind::cost; }
};

struct WidgetPayload {
  std::optional<UsageSnapshot> combined;
  std::map<std::string, UsageSnapshot> sources;  // by SourceKind raw value
  std::map<std::string, std::string> names;
  bool operator==(const WidgetPayload&) const = default;

  // "all" gives combined; a source without an entry falls back to combined.
  std::optional<UsageSnapshot> snapshot(const WidgetConfig& config) const;
  std::optional<std::string> name(const WidgetConfig& config) const;
};

struct WidgetConfigs {
  WidgetConfig contribution, summary, models, session;
  bool operator==(const WidgetConfigs&) const = default;

  // Unknown kinds give the default config.
  WidgetConfig config(std::string_view kind) const;
  // Unknown kinds change nothing.
  void set(const WidgetConfig& config, std::string_view kind);

  // Lenient at every level; never fails.
  static WidgetConfigs fromJSON(const nlohmann::json& json);
  nlohmann::ordered_json toJSON() const;
};

void to_json(nlohmann::json& j, const WidgetPayload& v);
void from_json(const nlohmann::json& j, WidgetPayload& v);

}  // namespace brimvale
