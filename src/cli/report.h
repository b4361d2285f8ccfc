#pragma once

#include <map>
#include <string>
#include <vector>

#include "connections/ai_connection.h"
#include "limits/billing.h"
#include "model/usage_snapshot.h"

namespace brimvale::cli {

struct ReportInput {
  std::vector<AIConnection> connections;
  std::map<std::string, UsageSnapshot> snapshots;  // by connection id
  std::optional<GrokBilling> grokBilling;
  std::optional<CursorBilling> cursorBilling;
  Time now{};
};

// The readable report: one block per connection.
std::string renderReport(const ReportInput& input);

}  // namespace brimvale::cli
