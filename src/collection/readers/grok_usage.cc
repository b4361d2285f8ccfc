#include "collection/readers/grok_usage.h"

namespace brimvale {

// Not read yet: contributes no events.
std::vector<UsageEvent> loadGrokUsage(const std::string&) { return {}; }

}  // namespace brimvale
