#pragma once
// The Grok command-line tool leaves usage in up to three places under
// home/.grok, depending on its version: the usage_events table of grok.db,
// "shell.turn.inference_done" records in the JSON-lines logs, and per-session
// folders whose updates.jsonl reports a running context-token count. Sessions
// seen in the logs are not read again from their folders.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/time_util.h"
#include "model/usage_event.h"

struct sqlite3;

namespace brimvale {

// All three sources; throws StoreError when the database exists but cannot
// be read (copy, open or statement). `now` stamps records without a time.
std::vector<UsageEvent> loadGrokUsage(const std::string& home);
std::vector<UsageEvent> loadGrokUsage(const std::string& home, Time now);

// The database pass over an open grok.db; throws StoreError with SQLite's
// message when its statement does not prepare.
std::vector<UsageEvent> loadGrokDB(sqlite3* db);

struct GrokLogLoad {
  std::vector<UsageEvent> events;
  std::set<std::string> sessions;  // session ids that produced events
};
GrokLogLoad loadGrokOfficialLogs(const std::string& home, Time now);

// One event per session folder whose name is not in `excluded`.
std::vector<UsageEvent> loadGrokBuildSessions(const std::string& home,
                                              const std::set<std::string>& excluded, Time now);

}  // namespace brimvale
