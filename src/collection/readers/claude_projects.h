#pragma once

#include <string>
#include <vector>

#include "model/usage_event.h"

namespace brimvale {

// Assistant replies in Claude Code's project logs under home/.claude/projects.
std::vector<UsageEvent> loadClaudeProjects(const std::string& home);

}  // namespace brimvale
