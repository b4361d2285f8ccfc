#include "collection/readers/cursor_sessions.h"

namespace brimvale {

// Not read yet: contributes no events.
std::vector<UsageEvent> loadCursorSessions(const std::string&) { return {}; }

}  // namespace brimvale
