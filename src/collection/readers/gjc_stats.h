#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// The gjc agent's statistics database (home/.gjc/stats.db, read through a
// private copy) and the tails of its session logs under
// home/.gjc/agent/sessions beyond the offsets the database recorded. Throws
// StoreError when the database pass fails; a missing database only means no
// database events.
std::vector<UsageEvent> loadGJCStats(const std::string& home);

// Assistant replies in the ".jsonl" files below root, each file read from the
// byte offset recorded under its full path (root + "/" + relative path), or
// from its start. Replies with the same "id" count once, the last read wins.
// Never fails.
std::vector<UsageEvent> loadGJCSessionEvents(const std::string& root,
                                             const std::map<std::string, uint64_t>& offsets);

}  // namespace brimvale
