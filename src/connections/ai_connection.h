#pragma once
// A connection: the user's decision to watch one tool, with its name, colour,
// fill metric and icon style. Also the tool catalogue and the icon styles.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/color.h"
#include "model/kinds.h"

namespace brimvale {

enum class SourceKind { claudeCode, gjc, codex, gemini, cursor, grok };
inline constexpr std::array<SourceKind, 6> kAllSourceKinds{
    SourceKind::claudeCode, SourceKind::gjc,    SourceKind::codex,
    SourceKind::gemini,     SourceKind::cursor, SourceKind::grok};

std::string_view rawValue(SourceKind source);
std::optional<SourceKind> sourceKindFromRaw(std::string_view raw);
std::string_view defaultName(SourceKind source);
std::string_view detail(SourceKind source);
// Whether the tool's files exist under the real home.
bool isAvailable(SourceKind source, const std::string& home);
ProviderKind fallbackProviderKind(SourceKind source);
std::string_view subscriptionGroup(SourceKind source);
std::string_view subscriptionLabel(SourceKind source);
double subscriptionUSD(SourceKind source);
// The default fill metric of a new connection.
std::string_view defaultMetricKey(SourceKind source);

struct Subscription {
  std::string label;
  double usd = 0;
  bool operator==(const Subscription&) const = default;
};
// One entry per subscription group, in order of first appearance.
std::vector<Subscription> uniqueSubscriptions(const std::vector<SourceKind>& sources);

enum class IconStyle { app, automatic, claude, gpt, gemini, cursor, grok, chart, photo };
inline constexpr std::array<IconStyle, 9> kAllIconStyles{
    IconStyle::app,    IconStyle::automatic, IconStyle::claude, IconStyle::gpt,  IconStyle::gemini,
    IconStyle::cursor, IconStyle::grok,      IconStyle::chart,  IconStyle::photo};
std::string_view rawValue(IconStyle style);  // "app", "auto", ...
std::optional<IconStyle> iconStyleFromRaw(std::string_view raw);
std::string_view title(IconStyle style);

inline constexpr std::string_view kDefaultColorHex = "00C7BE";

struct AIConnection {
  std::string id;  // canonical upper-case UUID
  SourceKind source = SourceKind::claudeCode;
  std::string name;
  std::string colorHex;
  std::string metricKey;
  std::string iconKey = "app";

  bool operator==(const AIConnection&) const = default;

  RGBColor color() const;
  MetricKind metric() const { return MetricKind::from(metricKey); }
  IconStyle icon() const { return iconStyleFromRaw(iconKey).value_or(IconStyle::app); }
};

// JSON in the stored key order: id, source, name, colorHex, metricKey, iconKey.
nlohmann::ordered_json toJSON(const AIConnection& connection);
// Throws nlohmann::json::exception for a missing key or an unknown source.
AIConnection connectionFromJSON(const nlohmann::ordered_json& json);

// Colour texts: "#00c7be", " 00C7BE " -> colour; anything else gives mint.
RGBColor hex(std::string_view text);
// Six upper-case hex digits, no "#".
std::string hexRGB(RGBColor color);

// A fresh canonical upper-case UUID (version 4).
std::string makeUUID();

}  // namespace brimvale
