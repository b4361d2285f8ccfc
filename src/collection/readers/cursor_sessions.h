#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Cursor's composer records plus agent transcripts not already counted there.
// Database failures only narrow the result.
std::vector<UsageEvent> loadCursorSessions(const std::string& home);

}  // namespace brimvale
