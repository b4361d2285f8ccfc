#include "collection/readers/claude_projects.h"
#include "collection/readers/codex_sessions.h"
#include "collection/readers/cursor_sessions.h"
#include "collection/readers/gemini_sessions.h"
#include "collection/readers/gjc_stats.h"
#include "collection/readers/grok_usage.h"
#include "collection/usage_store.h"

namespace brimvale {

UsageSources defaultSources(const SourceOptions& options) {
  const std::string home = options.home;
  UsageSources s;
  s.claudeCode = [home] { return loadClaudeProjects(home); };
  s.gjc = [home] { return loadGJCStats(home); };
  s.codex = [home] { return loadCodexSessions(home); };
  s.gemini = [home] { return loadGeminiSessions(home); };
  s.cursor = [home] { return loadCursorSessions(home); };
  s.grok = [home] { return loadGrokUsage(home); };
  if (!options.offline) {
    // The live limit and billing probes join here.
  }
  return s;
}

}  // namespace brimvale
