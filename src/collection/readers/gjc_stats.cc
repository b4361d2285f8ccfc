#include "collection/readers/gjc_stats.h"

namespace brimvale {

// Not read yet: contributes no events.
std::vector<UsageEvent> loadGJCStats(const std::string&) { return {}; }

}  // namespace brimvale
