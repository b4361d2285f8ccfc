#include "collection/readers/gemini_sessions.h"

namespace brimvale {

// Not read yet: contributes no events.
std::vector<UsageEvent> loadGeminiSessions(const std::string&) { return {}; }

}  // namespace brimvale
