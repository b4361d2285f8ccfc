#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"
#include "model/usage_snapshot.h"

namespace brimvale {

struct CodexData {
  std::vector<UsageEvent> events;
  std::vector<LimitWindow> limits;  // newest windows that have not reset yet
};

// Token counts and rate limits in Codex's session rollouts under
// home/.codex/sessions. Keeps a per-file cache between calls; never fails.
CodexData loadCodexSessions(const std::string& home);

}  // namespace brimvale
