#pragma once
// Billing figures the store publishes for Cursor and Grok; each yields one
// long ("7d") window for its connection's snapshot.

#include <optional>
#include <string>
#include <vector>

#include "model/time_util.h"
#include "model/usage_snapshot.h"

namespace brimvale {

struct CursorBilling {
  double usedPercent = 0;  // normally 0..100
  std::optional<Time> periodStart;
  std::optional<Time> periodEnd;
  Time fetchedAt{};
  bool operator==(const CursorBilling&) const = default;

  // id "7d", "Cursor Monthly", usedPercent / 100 clamped to 0..1.
  LimitWindow monthlyWindow() const;
};

struct GrokProductUsage {
  std::string name;
  std::optional<double> percent;
  bool operator==(const GrokProductUsage&) const = default;
};

struct GrokBilling {
  double usedPercent = 0;  // as reported, unclamped
  std::optional<Time> periodStart;
  std::optional<Time> periodEnd;
  std::vector<GrokProductUsage> products;
  Time fetchedAt{};
  bool operator==(const GrokBilling&) const = default;

  double fraction() const;  // usedPercent / 100 clamped to 0..1
  LimitWindow weeklyWindow() const;
};

}  // namespace brimvale
