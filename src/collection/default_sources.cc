#include "collection/readers/claude_projects.h"
#include "collection/readers/codex_sessions.h"
#include "collection/readers/cursor_sessions.h"
#include "collection/readers/gemini_sessions.h"
#include "collection/readers/gjc_stats.h"
#include "collection/readers/grok_usage.h"
#include "collection/usage_store.h"
#include "limits/account_token_store.h"
#include "limits/cursor_usage_probe.h"
#include "limits/endpoints.h"
#include "limits/grok_usage_probe.h"
#include "limits/rate_limit_probe.h"

namespace brimvale {

UsageSources defaultSources(const SourceOptions& options) {
  const std::string home = options.home;
  // Readers that judge "now" (reset windows, records without a time) use the
  // same clock as the cycle, so a fixed clock gives a reproducible result.
  std::function<Time()> clock = options.clock ? options.clock : [] { return Clock::now(); };
  UsageSources s;
  s.claudeCode = [home] { return loadClaudeProjects(home); };
  s.gjc = [home] { return loadGJCStats(home); };
  s.codex = [home, clock] { return loadCodexSessions(home, clock()); };
  s.gemini = [home] { return loadGeminiSessions(home); };
  s.cursor = [home, clock] { return loadCursorSessions(home, clock()); };
  s.grok = [home, clock] { return loadGrokUsage(home, clock()); };
  if (!options.offline) {
    ProbeEnvironment base;
    base.home = home;
    base.endpoints = Endpoints::fromEnvironment();
    base.now = clock;
    s.claudeLimits = [base] {
      RateLimitProbe::Environment env{base, {}};
      env.accountToken = [base] {
        return AccountTokenStore::validAccessToken(AccountTokenStore::Environment{base});
      };
      return RateLimitProbe::fetch(env);
    };
    s.grokBilling = [base] { return GrokUsageProbe::fetch(GrokUsageProbe::Environment{base, {}}); };
    s.cursorBilling = [base] {
      return CursorUsageProbe::fetch(CursorUsageProbe::Environment{base});
    };
  }
  return s;
}

}  // namespace brimvale
