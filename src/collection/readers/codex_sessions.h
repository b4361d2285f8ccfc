#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/time_util.h"
#include "model/usage_event.h"
#include "model/usage_snapshot.h"

namespace brimvale {

struct CodexData {
  std::vector<UsageEvent> events;
  std::vector<LimitWindow> limits;  // newest windows that have not reset yet
};

// A file's newest rate-limit windows and the time of the record carrying them.
struct CodexLimits {
  Time ts{};
  std::vector<LimitWindow> windows;
  bool operator==(const CodexLimits&) const = default;
};

// What one rollout file yields.
struct CodexRollout {
  std::vector<UsageEvent> events;
  std::optional<CodexLimits> newestLimits;
};

// The per-file entry of the process-wide cache (see loadCodexSessions).
struct CodexFileCache {
  uint64_t size = 0;  // file size when parsed; 0 when it could not be read
  std::vector<UsageEvent> events;
  std::optional<CodexLimits> newestLimits;
};

// Token counts and rate limits in Codex's session rollouts: every "*.jsonl"
// file at any depth below home/.codex/sessions, one event per token record
// (provider "openai"), plus the newest rate-limit windows across all files
// that have not reset by `now`.
//
// Keeps a process-wide cache (codexCache) from full path to CodexFileCache:
// a file whose size is unchanged and not 0 costs one size lookup and is not
// read again; any other file is parsed in full and its entry replaced.
// Entries of vanished files stay until the process ends. Calls are
// serialised by a lock, so overlapping refreshes are safe. Files are visited
// in the byte order of their paths below the folder; of windows with equal
// times the earlier file's stay. Never fails.
CodexData loadCodexSessions(const std::string& home, Time now);
inline CodexData loadCodexSessions(const std::string& home) {
  return loadCodexSessions(home, Clock::now());
}

// Parses one rollout file: token events (model: the latest "turn_context"
// above, "gpt" before the first) and the file's newest windows. An
// unreadable file yields nothing; a line that is not valid UTF-8 or not
// valid JSON is skipped on its own, so one damaged line (a write cut inside
// a multi-byte character) does not cost the rest of the session.
CodexRollout parseCodexRollout(const std::string& path);

// The windows of one "rate_limits" object (given as JSON text) stamped with
// the record's time: the "primary" window first, then the "secondary" one
// unless a window with its id is already there. Malformed input gives fewer
// windows.
std::vector<LimitWindow> codexWindows(std::string_view rateLimitsJSON, Time recordTime);

}  // namespace brimvale
