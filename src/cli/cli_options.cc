#include "cli/cli_options.h"

namespace brimvale::cli {

const char* const kUsage =
    "usage: brimvale-cli [report] [--source KIND]... [--home DIR] [--json] [--offline] "
    "[--now TIME]\n"
    "  KIND: claudeCode, gjc, codex, gemini, cursor, grok\n"
    "  TIME: ISO 8601, for example 2026-03-05T10:15:30Z\n";

ParseResult parseReportArguments(const std::vector<std::string>& args) {
  ReportOptions o;
  size_t i = 0;
  if (i < args.size() && args[i] == "report") ++i;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto needValue = [&]() -> const std::string* {
      return i + 1 < args.size() ? &args[++i] : nullptr;
    };
    if (a == "--json") {
      o.json = true;
    } else if (a == "--offline") {
      o.offline = true;
    } else if (a == "--source") {
      const std::string* v = needValue();
      if (!v) return fail("--source needs a tool name");
      auto kind = sourceKindFromRaw(*v);
      if (!kind) return fail("--source: unknown tool '" + *v + "'");
      bool seen = false;
      for (auto k : o.sources) seen = seen || k == *kind;
      if (!seen) o.sources.push_back(*kind);
    } else if (a == "--home") {
      const std::string* v = needValue();
      if (!v || v->empty()) return fail("--home needs a folder");
      o.home = *v;
    } else if (a == "--now") {
      const std::string* v = needValue();
      if (!v) return fail("--now needs an ISO 8601 time");
      auto t = parseISO8601(*v);
      if (!t) return fail("--now: not an ISO 8601 time with a zone: '" + *v + "'");
      o.now = t;
    } else {
      return fail("unknown argument '" + a + "'");
    }
  }
  return ParseResult{o, {}};
}

}  // namespace brimvale::cli
