#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Assistant replies in Claude Code's project logs: every "*.jsonl" file at any
// depth below home/.claude/projects (sub-agent logs included), one event per
// reply with provider "anthropic". A reply the tool wrote as several lines
// under one "message"."id" counts once; the last such line read wins, files
// being visited in the byte order of their paths below the folder. An empty
// home, a missing folder, unreadable files and malformed lines
// give fewer events, never an error. A line that is not valid UTF-8 is
// skipped on its own rather than costing the whole file.
std::vector<UsageEvent> loadClaudeProjects(const std::string& home);

}  // namespace brimvale
