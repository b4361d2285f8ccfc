// brimvale-cli: one refresh cycle through the same store the tray application
// uses, printed as a report or as the widget payload. Reads only.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/account_command.h"
#include "cli/cli_options.h"
#include "cli/report.h"
#include "collection/usage_store.h"
#include "connections/connection_store.h"
#include "model/snapshot_io.h"
#include "platform/event_loop.h"
#include "platform/paths.h"
#include "platform/user_defaults.h"

namespace brimvale::cli {
namespace {

std::vector<AIConnection> connectionsFor(const std::vector<SourceKind>& kinds) {
  std::vector<AIConnection> list;
  for (SourceKind kind : kinds) {
    AIConnection c;
    c.id = std::string(rawValue(kind));
    c.source = kind;
    c.name = std::string(defaultName(kind));
    c.colorHex = std::string(kDefaultColorHex);
    c.metricKey = std::string(defaultMetricKey(kind));
    list.push_back(std::move(c));
  }
  return list;
}

int runReport(const ReportOptions& options) {
  const std::string home = options.home.value_or(paths::realHome());
  // Read-only defaults: the CLI never writes under the home.
  UserDefaults defaults(paths::defaultsFile(home), /*readOnly=*/true);
  ConnectionStore connections(defaults);

  std::vector<SourceKind> kinds = options.sources;
  if (kinds.empty() && connections.load().empty()) {
    for (SourceKind kind : kAllSourceKinds)
      if (isAvailable(kind, home)) kinds.push_back(kind);
  }
  if (!kinds.empty()) connections.save(connectionsFor(kinds));

  EventLoop loop;
  ThreadExecutor background;
  UsageStore::Dependencies deps;
  deps.loop = &loop;
  deps.background = &background;
  deps.connections = &connections;
  deps.home = home;
  if (options.now) {
    Time fixed = *options.now;
    deps.clock = [fixed] { return fixed; };
  }
  deps.sources = defaultSources(SourceOptions{home, options.offline, deps.clock});
  deps.writeExchangeFiles = false;

  UsageStore store(std::move(deps));
  int token = store.addObserver([&](UsageStore::Field field) {
    if (field == UsageStore::Field::lastRefresh) loop.quit();
  });
  loop.run();
  store.removeObserver(token);

  if (options.json) {
    std::cout << SnapshotIO::encodePayload(store.lastPayload()) << "\n";
  } else {
    ReportInput input{store.connections(), store.snapshots(), store.grokBilling(),
                      store.cursorBilling(), store.lastRefresh().value_or(Clock::now())};
    if (options.now) input.now = *options.now;
    std::cout << renderReport(input);
  }
  if (store.lastError()) std::cerr << *store.lastError() << "\n";
  return 0;
}

}  // namespace
}  // namespace brimvale::cli

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "account") {
    return brimvale::cli::runAccount({args.begin() + 1, args.end()});
  }
  auto parsed = brimvale::cli::parseReportArguments(args);
  if (!parsed.options) {
    std::cerr << "brimvale-cli: " << parsed.error << "\n" << brimvale::cli::kUsage;
    return 2;
  }
  return brimvale::cli::runReport(*parsed.options);
}
