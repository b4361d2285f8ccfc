#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Gemini CLI chat sessions under home/.gemini/tmp.
std::vector<UsageEvent> loadGeminiSessions(const std::string& home);

}  // namespace brimvale
