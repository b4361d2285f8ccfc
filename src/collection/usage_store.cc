#include "collection/usage_store.h"

#include <set>

#include "collection/aggregation.h"
#include "collection/store_error.h"
#include "connections/connection_store.h"
#include "model/snapshot_io.h"
#include "model/widget_payload.h"

namespace brimvale {

struct UsageStore::CycleResult {
  std::map<std::string, UsageSnapshot> snapshots;
  UsageSnapshot combined;
  std::optional<GrokBilling> grokBilling;
  std::optional<CursorBilling> cursorBilling;
  std::vector<std::string> problems;
  WidgetPayload payload;
};

UsageStore::UsageStore(Dependencies deps)
    : deps_(std::move(deps)), self_(std::make_shared<UsageStore*>(this)) {
  if (!deps_.clock) deps_.clock = [] { return Clock::now(); };
  if (deps_.connections) connections_ = deps_.connections->load();
  refresh();
}

UsageStore::~UsageStore() {
  *self_ = nullptr;
  if (timer_) deps_.loop->cancel(*timer_);
}

int UsageStore::addObserver(Observer observer) {
  int token = nextObserver_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void UsageStore::removeObserver(int token) { observers_.erase(token); }

void UsageStore::notify(Field field) {
  // Copy: an observer may add or remove observers.
  auto observers = observers_;
  for (auto& [token, observer] : observers) observer(field);
}

void UsageStore::refresh() {
  if (refreshInFlight_) {
    refreshQueued_ = true;
    return;
  }
  refreshInFlight_ = true;
  std::vector<AIConnection> list = connections_;
  std::weak_ptr<UsageStore*> weak = self_;
  UsageSources sources = deps_.sources;
  auto clock = deps_.clock;
  MainLoop* loop = deps_.loop;
  deps_.background->submit([weak, list = std::move(list), sources = std::move(sources),
                            clock = std::move(clock), loop] {
    {
      auto alive = weak.lock();
      if (!alive || !*alive) return;
    }
    auto result = std::make_shared<CycleResult>(runCycle(sources, list, clock));
    loop->post([weak, result] {
      auto alive = weak.lock();
      if (alive && *alive) (*alive)->publish(std::move(*result));
    });
  });
}

void UsageStore::setActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (timer_) {
    deps_.loop->cancel(*timer_);
    timer_.reset();
  }
  if (!active) return;
  refresh();
  std::weak_ptr<UsageStore*> weak = self_;
  timer_ = deps_.loop->startRepeating(std::chrono::seconds(60), [weak] {
    auto alive = weak.lock();
    if (alive && *alive) (*alive)->refresh();
  });
}

void UsageStore::iconChanged() { notify(Field::snapshots); }

void UsageStore::addConnection(SourceKind source, RGBColor color) {
  for (const auto& c : connections_)
    if (c.source == source) return;
  AIConnection c;
  c.id = makeUUID();
  c.source = source;
  c.name = std::string(defaultName(source));
  c.colorHex = hexRGB(color);
  c.metricKey = std::string(defaultMetricKey(source));
  c.iconKey = "app";
  connections_.push_back(std::move(c));
  if (deps_.connections) deps_.connections->save(connections_);
  notify(Field::connections);
  refresh();
}

void UsageStore::removeConnection(const std::string& id) {
  std::erase_if(connections_, [&](const AIConnection& c) { return c.id == id; });
  snapshots_.erase(id);
  if (deps_.connections) deps_.connections->save(connections_);
  notify(Field::connections);
  notify(Field::snapshots);
  refresh();
}

void UsageStore::updateConnection(const AIConnection& connection) {
  for (auto& c : connections_) {
    if (c.id == connection.id) {
      c = connection;
      if (deps_.connections) deps_.connections->save(connections_);
      notify(Field::connections);
      return;
    }
  }
}

namespace {

// Runs a reader that may fail; a failure becomes "<label>: <description>"
// and no events.
template <typename Read>
std::optional<std::vector<UsageEvent>> readReporting(const Read& read, const char* label,
                                                     std::vector<std::string>& problems) {
  if (!read) return std::vector<UsageEvent>{};
  try {
    return read();
  } catch (const std::exception& e) {
    problems.push_back(std::string(label) + ": " + e.what());
    return std::nullopt;
  }
}

template <typename Read>
auto readQuietly(const Read& read) -> decltype(read()) {
  if (!read) return {};
  try {
    return read();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

UsageStore::CycleResult UsageStore::runCycle(const UsageSources& sources,
                                             const std::vector<AIConnection>& list,
                                             const std::function<Time()>& clock) {
  CycleResult result;
  std::set<SourceKind> kinds;
  for (const auto& c : list) kinds.insert(c.source);

  std::map<SourceKind, std::vector<UsageEvent>> events;
  std::vector<LimitWindow> codexLimits;
  for (SourceKind kind : kinds) {
    switch (kind) {
      case SourceKind::claudeCode: events[kind] = readQuietly(sources.claudeCode); break;
      case SourceKind::gjc:
        if (auto read = readReporting(sources.gjc, "gjc", result.problems))
          events[kind] = std::move(*read);
        break;
      case SourceKind::codex: {
        CodexData data = readQuietly(sources.codex);
        events[kind] = std::move(data.events);
        codexLimits = std::move(data.limits);
        break;
      }
      case SourceKind::gemini: events[kind] = readQuietly(sources.gemini); break;
      case SourceKind::cursor: events[kind] = readQuietly(sources.cursor); break;
      case SourceKind::grok:
        if (auto read = readReporting(sources.grok, "grok", result.problems))
          events[kind] = std::move(*read);
        break;
    }
  }

  const Time now = clock();
  AggregationLimits limits;
  limits.gpt = std::move(codexLimits);
  if (kinds.count(SourceKind::claudeCode) || kinds.count(SourceKind::gjc))
    limits.claude = readQuietly(sources.claudeLimits);
  if (kinds.count(SourceKind::grok)) {
    result.grokBilling = readQuietly(sources.grokBilling);
    if (result.grokBilling) limits.grok.push_back(result.grokBilling->weeklyWindow());
  }
  if (kinds.count(SourceKind::cursor)) {
    result.cursorBilling = readQuietly(sources.cursorBilling);
    if (result.cursorBilling) limits.cursor.push_back(result.cursorBilling->monthlyWindow());
  }

  static const std::vector<UsageEvent> kNone;
  for (const auto& c : list) {
    auto it = events.find(c.source);
    result.snapshots[c.id] = aggregate(it == events.end() ? kNone : it->second, now, limits,
                                       fallbackProviderKind(c.source));
  }

  std::vector<UsageEvent> all;
  for (const auto& [kind, list_] : events) all.insert(all.end(), list_.begin(), list_.end());
  std::optional<ProviderKind> preferred;
  if (!list.empty() && kinds.size() == 1) preferred = fallbackProviderKind(list.front().source);
  result.combined = aggregate(all, now, limits, preferred);

  result.payload.combined = result.combined;
  for (const auto& c : list) {
    std::string key(rawValue(c.source));
    result.payload.sources[key] = result.snapshots[c.id];
    result.payload.names[key] = c.name;
  }
  return result;
}

void UsageStore::publish(CycleResult result) {
  refreshInFlight_ = false;
  snapshots_ = std::move(result.snapshots);
  notify(Field::snapshots);
  combined_ = std::move(result.combined);
  notify(Field::combined);
  grokBilling_ = std::move(result.grokBilling);
  cursorBilling_ = std::move(result.cursorBilling);
  notify(Field::billing);

  if (result.problems.empty()) {
    lastError_.reset();
  } else {
    std::string joined;
    for (const auto& p : result.problems) joined += (joined.empty() ? "" : " / ") + p;
    lastError_ = std::move(joined);
  }
  notify(Field::lastError);
  lastRefresh_ = deps_.clock();
  notify(Field::lastRefresh);

  if (deps_.writeExchangeFiles) {
    // Failures leave the previous files in place; nothing to report.
    SnapshotIO::save(deps_.home, *combined_);
    // The widget host watches this file: rewriting it is the reload request.
    SnapshotIO::savePayload(deps_.home, result.payload);
  }
  lastPayload_ = std::move(result.payload);

  if (refreshQueued_) {
    refreshQueued_ = false;
    refresh();
  }
}

}  // namespace brimvale
