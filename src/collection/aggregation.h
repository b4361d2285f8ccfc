#pragma once
// Folds usage events into one snapshot. Pure: depends only on its arguments
// and the local calendar (TZ).

#include <optional>
#include <vector>

#include "model/kinds.h"
#include "model/usage_event.h"
#include "model/usage_snapshot.h"

namespace brimvale {

struct AggregationLimits {
  std::vector<LimitWindow> claude;
  std::vector<LimitWindow> gpt;
  std::vector<LimitWindow> grok;
  std::vector<LimitWindow> cursor;
};

UsageSnapshot aggregate(const std::vector<UsageEvent>& events, Time now,
                        const AggregationLimits& limits = {},
                        std::optional<ProviderKind> preferredProvider = std::nullopt);

// The kind that accounts for most of the cost (most events when all are free).
ProviderKind dominantProvider(const std::vector<UsageEvent>& events);

}  // namespace brimvale
