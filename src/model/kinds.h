#pragma once
// The vocabulary of the usage records: which vendor, which unit, which figure.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "model/color.h"

namespace brimvale {

struct UsageSnapshot;

enum class ProviderKind { claude, gpt, gemini, cursor, grok, generic };
inline constexpr std::array<ProviderKind, 6> kAllProviderKinds{
    ProviderKind::claude, ProviderKind::gpt,  ProviderKind::gemini,
    ProviderKind::cursor, ProviderKind::grok, ProviderKind::generic};

std::string_view rawValue(ProviderKind kind);
std::optional<ProviderKind> providerKindFromRaw(std::string_view raw);
// Vendor detection from free-text provider and model names; never fails.
ProviderKind detectProvider(std::string_view provider, std::string_view model);
RGBColor brandColor(ProviderKind kind);

enum class UnitKind { percent, cost, tokens };
inline constexpr std::array<UnitKind, 3> kAllUnitKinds{UnitKind::percent, UnitKind::cost,
                                                       UnitKind::tokens};
std::string_view rawValue(UnitKind unit);
std::optional<UnitKind> unitKindFromRaw(std::string_view raw);
std::string_view title(UnitKind unit);

// The figure that fills an icon or a widget. Stored as its key.
class MetricKind {
 public:
  enum class Case { model, total, today, week, session };

  static MetricKind total() { return MetricKind(Case::total); }
  static MetricKind today() { return MetricKind(Case::today); }
  static MetricKind week() { return MetricKind(Case::week); }
  static MetricKind session() { return MetricKind(Case::session); }
  static MetricKind model(std::string id) { return MetricKind(Case::model, std::move(id)); }
  // Never fails: unknown keys give the session metric.
  static MetricKind from(std::string_view key);

  Case kind() const { return case_; }
  const std::string& modelId() const { return modelId_; }
  std::string key() const;
  std::string title(const UsageSnapshot* snapshot) const;
  std::string shortPrefix(const UsageSnapshot* snapshot) const;
  // Display text of the figure in a unit; "—" without a snapshot.
  std::string value(const UsageSnapshot* snapshot, UnitKind unit) const;

  bool operator==(const MetricKind& other) const {
    return case_ == other.case_ && (case_ != Case::model || modelId_ == other.modelId_);
  }

 private:
  explicit MetricKind(Case c, std::string id = {}) : case_(c), modelId_(std::move(id)) {}
  std::string modelName(const UsageSnapshot* snapshot) const;

  Case case_;
  std::string modelId_;
};

}  // namespace brimvale
