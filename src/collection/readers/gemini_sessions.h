#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Gemini CLI chat sessions under home/.gemini/tmp: every file whose path
// below that folder ends in ".../chats/session-*.json", one event per model
// reply (provider "google"). Replies are de-duplicated by their "id" across
// all files, the last read winning; files are visited in the byte order of
// their paths below the folder. A file that is not a JSON object whose
// "messages" is an array of objects yields nothing. Never fails.
std::vector<UsageEvent> loadGeminiSessions(const std::string& home);

// The path rule above, for a path relative to home/.gemini/tmp.
bool isGeminiSessionPath(std::string_view relative);

}  // namespace brimvale
