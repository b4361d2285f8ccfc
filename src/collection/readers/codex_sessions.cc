#include "collection/readers/codex_sessions.h"

namespace brimvale {

// Not read yet: contributes no events and no windows.
CodexData loadCodexSessions(const std::string&) { return {}; }

}  // namespace brimvale
