#pragma once
// The one owner of the usage state: connections, snapshots, billing figures.
// Every operation and every published field belongs to the main loop; the
// refresh cycle runs on the background executor with its own copy of the
// connections and hands its results back through MainLoop::post.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collection/readers/codex_sessions.h"
#include "connections/ai_connection.h"
#include "limits/billing.h"
#include "model/color.h"
#include "model/usage_event.h"
#include "model/usage_snapshot.h"
#include "model/widget_payload.h"
#include "platform/main_loop.h"

namespace brimvale {

class ConnectionStore;

// What one cycle calls to read the tools and probe the providers. Each member
// may be empty, which contributes nothing. gjc and grok may throw StoreError.
struct UsageSources {
  std::function<std::vector<UsageEvent>()> claudeCode;
  std::function<std::vector<UsageEvent>()> gjc;
  std::function<CodexData()> codex;
  std::function<std::vector<UsageEvent>()> gemini;
  std::function<std::vector<UsageEvent>()> cursor;
  std::function<std::vector<UsageEvent>()> grok;
  std::function<std::vector<LimitWindow>()> claudeLimits;
  std::function<std::optional<GrokBilling>()> grokBilling;
  std::function<std::optional<CursorBilling>()> cursorBilling;
};

struct SourceOptions {
  std::string home;      // the real home the readers and probes look under
  bool offline = false;  // no probe touches the network
  std::function<Time()> clock;  // the cycle's clock; default: system clock
};
// The real readers and probes.
UsageSources defaultSources(const SourceOptions& options);

class UsageStore {
 public:
  enum class Field { connections, snapshots, combined, billing, lastError, lastRefresh };
  using Observer = std::function<void(Field)>;

  struct Dependencies {
    MainLoop* loop = nullptr;
    BackgroundExecutor* background = nullptr;
    ConnectionStore* connections = nullptr;
    std::string home;  // exchange folder lives under it
    UsageSources sources;
    std::function<Time()> clock;   // default: system clock
    bool writeExchangeFiles = true;  // the CLI only reads
  };

  // Loads the connections and starts one refresh.
  explicit UsageStore(Dependencies deps);
  ~UsageStore();
  UsageStore(const UsageStore&) = delete;
  UsageStore& operator=(const UsageStore&) = delete;

  // Published state.
  const std::vector<AIConnection>& connections() const { return connections_; }
  const std::map<std::string, UsageSnapshot>& snapshots() const { return snapshots_; }
  const std::optional<UsageSnapshot>& combined() const { return combined_; }
  const std::optional<GrokBilling>& grokBilling() const { return grokBilling_; }
  const std::optional<CursorBilling>& cursorBilling() const { return cursorBilling_; }
  const std::optional<std::string>& lastError() const { return lastError_; }
  const std::optional<Time>& lastRefresh() const { return lastRefresh_; }
  bool refreshInFlight() const { return refreshInFlight_; }
  // The widget payload of the last publication, as "widget-data.json" holds it.
  const WidgetPayload& lastPayload() const { return lastPayload_; }

  // Observers are called on the main loop after a published field changed.
  int addObserver(Observer observer);
  void removeObserver(int token);

  void refresh();
  void setActive(bool active);
  void iconChanged();
  void addConnection(SourceKind source, RGBColor color);
  void removeConnection(const std::string& id);
  void updateConnection(const AIConnection& connection);

 private:
  struct CycleResult;
  static CycleResult runCycle(const UsageSources& sources, const std::vector<AIConnection>& list,
                              const std::function<Time()>& clock);
  void publish(CycleResult result);
  void notify(Field field);

  Dependencies deps_;
  std::vector<AIConnection> connections_;
  std::map<std::string, UsageSnapshot> snapshots_;
  std::optional<UsageSnapshot> combined_;
  std::optional<GrokBilling> grokBilling_;
  std::optional<CursorBilling> cursorBilling_;
  std::optional<std::string> lastError_;
  std::optional<Time> lastRefresh_;
  WidgetPayload lastPayload_;

  std::optional<MainLoop::TimerId> timer_;
  bool active_ = false;
  bool refreshInFlight_ = false;
  bool refreshQueued_ = false;
  std::map<int, Observer> observers_;
  int nextObserver_ = 1;
  // Lets a cycle that outlives the store drop its result.
  std::shared_ptr<UsageStore*> self_;
};

}  // namespace brimvale
