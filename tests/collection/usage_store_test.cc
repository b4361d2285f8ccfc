#include "collection/usage_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "collection/store_error.h"
#include "connections/connection_store.h"
#include "model/snapshot_io.h"
#include "platform/manual_loop.h"
#include "platform/user_defaults.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

const Time kNow = *parseISO8601("2026-06-10T12:00:00Z");

UsageEvent event(const char* ts, const char* model, double cost, int64_t tokens = 100,
                 const char* provider = "") {
  return UsageEvent{*parseISO8601(ts), model, tokens, cost, provider};
}

LimitWindow window(const char* id, double used) { return LimitWindow{id, id, used, {}, {}}; }

// A store over a temporary home, a manual loop and a manual background queue.
struct StoreHarness {
  test::TempDir home;
  UserDefaults defaults = UserDefaults::forHome(home.path());
  ConnectionStore connectionStore{defaults};
  ManualMainLoop loop;
  ManualExecutor background;
  UsageSources sources;
  int claudeLimitCalls = 0;
  std::unique_ptr<UsageStore> store;
  std::vector<UsageStore::Field> published;

  void start() {
    UsageStore::Dependencies deps;
    deps.loop = &loop;
    deps.background = &background;
    deps.connections = &connectionStore;
    deps.home = home.path();
    deps.sources = sources;
    deps.clock = [] { return kNow; };
    store = std::make_unique<UsageStore>(std::move(deps));
    store->addObserver([this](UsageStore::Field f) { published.push_back(f); });
  }
  // Runs every queued cycle and the publications they post.
  int drain() {
    int cycles = 0;
    for (;;) {
      loop.runPending();
      if (!background.runOne()) break;
      ++cycles;
    }
    loop.runPending();
    return cycles;
  }
  void connect(std::initializer_list<SourceKind> kinds) {
    std::vector<AIConnection> list;
    for (SourceKind k : kinds) {
      AIConnection c;
      c.id = makeUUID();
      c.source = k;
      c.name = std::string(defaultName(k)) + " #" + std::to_string(list.size());
      c.colorHex = "FF0000";
      c.metricKey = "session";
      list.push_back(c);
    }
    connectionStore.save(list);
  }
};

TEST(UsageStore, WithNoConnectionsPublishesAnEmptyCombinedSnapshotAndWritesBothFiles) {
  StoreHarness h;
  h.start();
  EXPECT_EQ(h.drain(), 1);
  const UsageStore& s = *h.store;
  EXPECT_TRUE(s.snapshots().empty());
  ASSERT_TRUE(s.combined());
  EXPECT_EQ(s.combined()->provider, "generic");
  EXPECT_EQ(s.combined()->totalMessages, 0);
  EXPECT_TRUE(s.combined()->days.empty());
  EXPECT_FALSE(s.lastError());
  EXPECT_EQ(s.lastRefresh(), kNow);
  EXPECT_EQ(SnapshotIO::load(h.home.path()), s.combined());
  auto payload = SnapshotIO::loadPayload(h.home.path());
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->combined, s.combined());
  EXPECT_TRUE(payload->sources.empty());
  // Only the two files, no temporary left behind.
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(SnapshotIO::directory(h.home.path()))) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2u);
  using F = UsageStore::Field;
  EXPECT_EQ(h.published, (std::vector<F>{F::snapshots, F::combined, F::billing, F::lastError,
                                         F::lastRefresh}));
}

TEST(UsageStore, RefreshesDuringACycleCollapseIntoOneQueuedCycle) {
  StoreHarness h;
  int reads = 0;
  h.sources.claudeCode = [&] {
    ++reads;
    return std::vector<UsageEvent>{};
  };
  h.connect({SourceKind::claudeCode});
  h.start();
  EXPECT_TRUE(h.store->refreshInFlight());
  for (int i = 0; i < 5; ++i) h.store->refresh();
  EXPECT_EQ(h.background.queued(), 1u);
  EXPECT_EQ(h.drain(), 2);
  EXPECT_EQ(reads, 2);
  EXPECT_FALSE(h.store->refreshInFlight());
}

TEST(UsageStore, ActivatingTwiceStartsOneTimerAndOneRefresh) {
  StoreHarness h;
  h.start();
  h.drain();
  h.store->setActive(true);
  h.store->setActive(true);
  EXPECT_EQ(h.loop.timerCount(), 1u);
  EXPECT_EQ(h.drain(), 1);
  h.loop.advance(std::chrono::seconds(60));
  EXPECT_EQ(h.drain(), 1);
  h.store->setActive(false);
  EXPECT_EQ(h.loop.timerCount(), 0u);
  h.loop.advance(std::chrono::seconds(120));
  EXPECT_EQ(h.drain(), 0);
}

TEST(UsageStore, ConnectionOperations) {
  StoreHarness h;
  h.start();
  h.drain();
  h.store->addConnection(SourceKind::codex, RGBColor{1, 0, 0, 1});
  EXPECT_EQ(h.drain(), 1);
  ASSERT_EQ(h.store->connections().size(), 1u);
  AIConnection c = h.store->connections()[0];
  EXPECT_EQ(c.name, "Codex CLI");
  EXPECT_EQ(c.colorHex, "FF0000");
  EXPECT_EQ(c.metricKey, "session");
  EXPECT_EQ(c.iconKey, "app");
  EXPECT_EQ(c.id.size(), 36u);
  for (char ch : c.id) EXPECT_TRUE(ch == '-' || std::isdigit(ch) || (ch >= 'A' && ch <= 'F'));

  // A tool that is already connected: nothing changes, no refresh starts.
  h.store->addConnection(SourceKind::codex, RGBColor{0, 1, 0, 1});
  EXPECT_EQ(h.store->connections().size(), 1u);
  EXPECT_EQ(h.background.queued(), 0u);

  h.store->addConnection(SourceKind::grok, RGBColor{0, 0, 1, 1});
  h.drain();
  EXPECT_EQ(h.store->connections()[1].metricKey, "week");

  c.name = "Mine";
  h.store->updateConnection(c);
  EXPECT_EQ(h.background.queued(), 0u);
  EXPECT_EQ(h.store->connections()[0].name, "Mine");

  // Survives a restart, in order.
  EXPECT_EQ(ConnectionStore(h.defaults).load(), h.store->connections());
  UserDefaults reread = UserDefaults::forHome(h.home.path());
  EXPECT_EQ(ConnectionStore(reread).load(), h.store->connections());

  h.store->removeConnection(c.id);
  EXPECT_EQ(h.store->connections().size(), 1u);
  EXPECT_EQ(h.store->snapshots().count(c.id), 0u);
  EXPECT_EQ(h.drain(), 1);
  EXPECT_EQ(ConnectionStore(h.defaults).load().size(), 1u);
}

TEST(UsageStore, CycleReadsEachToolOnceAndAttachesWindowsByProvider) {
  StoreHarness h;
  int claudeReads = 0;
  h.sources.claudeCode = [&] {
    ++claudeReads;
    return std::vector<UsageEvent>{event("2026-06-10T11:00:00Z", "claude-opus-4-8", 5)};
  };
  h.sources.codex = [] {
    return CodexData{{event("2026-06-10T11:10:00Z", "gpt-5-codex", 1, 50, "openai")},
                     {window("5h", 0.4)}};
  };
  h.sources.gjc = [] {
    return std::vector<UsageEvent>{event("2026-06-10T10:00:00Z", "claude-sonnet-5", 2)};
  };
  h.sources.claudeLimits = [&] {
    ++h.claudeLimitCalls;
    return std::vector<LimitWindow>{window("5h", 0.7), window("7d", 0.2)};
  };
  // Two Claude Code connections share one read; gjc gets no Claude windows.
  h.connect({SourceKind::claudeCode, SourceKind::codex, SourceKind::claudeCode, SourceKind::gjc});
  h.start();
  h.drain();
  const auto& list = h.store->connections();
  const auto& snaps = h.store->snapshots();
  EXPECT_EQ(claudeReads, 1);
  EXPECT_EQ(h.claudeLimitCalls, 1);

  const UsageSnapshot& claude = snaps.at(list[0].id);
  EXPECT_EQ(claude, snaps.at(list[2].id));
  EXPECT_EQ(claude.provider, "claude");
  EXPECT_EQ(claude.limitWindow("5h")->usedFraction, 0.7);
  EXPECT_EQ(claude.totalCost, 5);

  const UsageSnapshot& codex = snaps.at(list[1].id);
  EXPECT_EQ(codex.provider, "gpt");
  EXPECT_EQ(codex.limitWindow("5h")->usedFraction, 0.4);

  const UsageSnapshot& gjc = snaps.at(list[3].id);
  EXPECT_EQ(gjc.provider, "generic");
  EXPECT_FALSE(gjc.limits);

  // Combined: every tool once, dominant provider, its windows.
  const UsageSnapshot& all = *h.store->combined();
  EXPECT_EQ(all.totalCost, 8);
  EXPECT_EQ(all.totalMessages, 3);
  EXPECT_EQ(all.provider, "claude");
  EXPECT_TRUE(all.limitWindow("7d"));

  // The payload is keyed by tool; the later connection of a tool wins.
  const WidgetPayload& payload = h.store->lastPayload();
  EXPECT_EQ(payload.sources.size(), 3u);
  EXPECT_EQ(payload.names.at("claudeCode"), list[2].name);
  EXPECT_EQ(SnapshotIO::loadPayload(h.home.path()), payload);
}

TEST(UsageStore, ProbesRunOnlyForConnectionsThatNeedThem) {
  StoreHarness h;
  int grokCalls = 0, cursorCalls = 0;
  h.sources.claudeLimits = [&] {
    ++h.claudeLimitCalls;
    return std::vector<LimitWindow>{};
  };
  h.sources.grokBilling = [&] {
    ++grokCalls;
    return std::optional<GrokBilling>(GrokBilling{150, {}, {}, {}, kNow});
  };
  h.sources.cursorBilling = [&] {
    ++cursorCalls;
    return std::optional<CursorBilling>{};
  };
  h.connect({SourceKind::grok, SourceKind::gemini});
  h.start();
  h.drain();
  EXPECT_EQ(h.claudeLimitCalls, 0);
  EXPECT_EQ(cursorCalls, 0);
  EXPECT_EQ(grokCalls, 1);
  ASSERT_TRUE(h.store->grokBilling());
  EXPECT_FALSE(h.store->cursorBilling());
  const auto& grok = h.store->snapshots().at(h.store->connections()[0].id);
  EXPECT_EQ(grok.limitWindow("7d")->usedFraction, 1.0);  // clamped
  EXPECT_EQ(grok.limitWindow("7d")->label, "Grok Weekly");
}

TEST(UsageStore, FailingDatabaseReadersAreReportedAndOthersStillCount) {
  StoreHarness h;
  h.sources.gjc = []() -> std::vector<UsageEvent> {
    throw StoreError::sqlite("file is not a database");
  };
  h.sources.grok = []() -> std::vector<UsageEvent> { throw StoreError::sqlite("no such table"); };
  h.sources.gemini = [] {
    return std::vector<UsageEvent>{event("2026-06-10T09:00:00Z", "gemini-2.5-pro", 3)};
  };
  h.connect({SourceKind::gjc, SourceKind::gemini, SourceKind::grok});
  h.start();
  h.drain();
  EXPECT_EQ(h.store->lastError(), "gjc: file is not a database / grok: no such table");
  const std::vector<AIConnection> list = h.store->connections();
  EXPECT_EQ(h.store->snapshots().at(list[1].id).totalCost, 3);
  EXPECT_EQ(h.store->snapshots().at(list[2].id).totalMessages, 0);
  EXPECT_EQ(h.store->combined()->totalCost, 3);

  // The problem disappears with the next cycle that runs without it.
  h.store->removeConnection(list[0].id);
  h.store->removeConnection(list[2].id);
  h.drain();
  EXPECT_FALSE(h.store->lastError()) << *h.store->lastError();
}

TEST(UsageStore, ACycleOutlivingTheStoreDoesNothing) {
  StoreHarness h;
  bool read = false;
  h.sources.claudeCode = [&] {
    read = true;
    return std::vector<UsageEvent>{};
  };
  h.connect({SourceKind::claudeCode});
  h.start();
  h.store.reset();
  h.drain();
  EXPECT_FALSE(read);
  EXPECT_FALSE(SnapshotIO::load(h.home.path()));
}

}  // namespace
}  // namespace brimvale
