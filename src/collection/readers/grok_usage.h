#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Grok's database, official logs and build sessions. Throws StoreError when
// the database pass fails.
std::vector<UsageEvent> loadGrokUsage(const std::string& home);

}  // namespace brimvale
