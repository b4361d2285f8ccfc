#include "collection/readers/claude_projects.h"

namespace brimvale {

// Not read yet: contributes no events.
std::vector<UsageEvent> loadClaudeProjects(const std::string&) { return {}; }

}  // namespace brimvale
