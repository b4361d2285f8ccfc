#pragma once

#include <optional>
#include <string>
#include <vector>

#include "connections/ai_connection.h"
#include "model/time_util.h"

namespace brimvale::cli {

struct ReportOptions {
  std::vector<SourceKind> sources;  // empty: saved connections, else available tools
  std::optional<std::string> home;
  bool json = false;
  bool offline = false;
  std::optional<Time> now;
};

struct ParseResult {
  std::optional<ReportOptions> options;
  std::string error;  // one line naming the argument, when options is absent
};

ParseResult parseReportArguments(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace brimvale::cli
