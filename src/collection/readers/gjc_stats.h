#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// The gjc agent's statistics database and session logs. Throws StoreError
// when the database pass fails.
std::vector<UsageEvent> loadGJCStats(const std::string& home);

}  // namespace brimvale
