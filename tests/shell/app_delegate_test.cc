#include "shell/app_delegate.h"

#include <chrono>

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include "connections/connection_store.h"
#include "gui_support/wait.h"
#include "platform/user_defaults.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

AIConnection saved(std::string id, SourceKind source, std::string metric) {
  AIConnection c;
  c.id = std::move(id);
  c.source = source;
  c.name = std::string(defaultName(source));
  c.colorHex = "34C759";
  c.metricKey = std::move(metric);
  c.iconKey = "auto";
  return c;
}

// A home with saved connections and sources that report one event of today.
class AppDelegateTest : public ::testing::Test {
 protected:
  void saveConnections(const std::vector<AIConnection>& list) {
    UserDefaults defaults = UserDefaults::forHome(home.path());
    ConnectionStore(defaults).save(list);
  }

  std::unique_ptr<AppDelegate> launch() {
    UsageSources sources;
    sources.claudeCode = [] {
      UsageEvent e;
      e.ts = std::chrono::system_clock::now();
      e.model = "claude-sonnet-4";
      e.tokens = 1000;
      e.cost = 2.5;
      e.provider = "anthropic";
      return std::vector<UsageEvent>{e};
    };
    auto delegate = std::make_unique<AppDelegate>(AppDelegate::Options{home.path(), sources, false});
    delegate->applicationDidFinishLaunching();
    return delegate;
  }

  static std::vector<std::string> ids(const AppDelegate& d) {
    std::vector<std::string> out;
    for (const auto& e : d.entries()) out.push_back(e.connectionID);
    return out;
  }

  static std::string tooltip(const AppDelegate::Entry& e) { return e.item->toolTip().toStdString(); }

  test::TempDir home;
};

TEST_F(AppDelegateTest, WithoutConnectionsOnePlaceholderItemIsShown) {
  auto d = launch();
  ASSERT_EQ(ids(*d), std::vector<std::string>{""});
  const auto& entry = d->entries().front();
  EXPECT_EQ(tooltip(entry), "Brimvale — 클릭해서 AI를 연결하세요");
  EXPECT_FALSE(entry.item->icon().isNull());

  std::vector<std::string> titles;
  for (QAction* a : entry.menu->actions()) titles.push_back(a->isSeparator() ? "|" : a->text().toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"새로고침", "|", "종료"}));
}

TEST_F(AppDelegateTest, OneItemPerConnectionInOrderRedrawnOnEveryPublication) {
  saveConnections({saved("B-ID", SourceKind::claudeCode, "today"),
                   saved("A-ID", SourceKind::codex, "total")});
  auto d = launch();
  EXPECT_EQ(ids(*d), (std::vector<std::string>{"B-ID", "A-ID"}));
  EXPECT_EQ(tooltip(d->entries()[0]), "Claude Code — 오늘 사용량");  // before the first cycle

  ASSERT_TRUE(test::processEventsUntil([&] { return d->store().lastRefresh().has_value(); }));
  QCoreApplication::processEvents();  // the redraw task posted by the publication
  // Today's cost is also the best day's: 100 %.
  EXPECT_EQ(tooltip(d->entries()[0]), "Claude Code — 오늘 사용량 100%");
  EXPECT_EQ(tooltip(d->entries()[1]), "Codex CLI — 전체 사용량");
  EXPECT_EQ(d->rebuildCount(), 1);
}

TEST_F(AppDelegateTest, ItemsAreRebuiltOnlyWhenTheListOfIdsChanges) {
  saveConnections({saved("B-ID", SourceKind::claudeCode, "total"),
                   saved("A-ID", SourceKind::codex, "total")});
  auto d = launch();
  const QSystemTrayIcon* first = d->entries()[0].item;
  ASSERT_EQ(d->rebuildCount(), 1);

  AIConnection renamed = d->store().connections()[0];
  renamed.name = "Work Claude";
  renamed.colorHex = "FF3B30";
  d->store().updateConnection(renamed);
  ASSERT_TRUE(test::processEventsUntil(
      [&] { return tooltip(d->entries()[0]) == "Work Claude — 전체 사용량"; }));
  EXPECT_EQ(d->rebuildCount(), 1);
  EXPECT_EQ(d->entries()[0].item, first);

  d->store().removeConnection("B-ID");
  ASSERT_TRUE(test::processEventsUntil([&] { return ids(*d) == std::vector<std::string>{"A-ID"}; }));
  EXPECT_EQ(d->rebuildCount(), 2);

  d->store().removeConnection("A-ID");
  ASSERT_TRUE(test::processEventsUntil([&] { return ids(*d) == std::vector<std::string>{""}; }));
  EXPECT_EQ(tooltip(d->entries()[0]), "Brimvale — 클릭해서 AI를 연결하세요");
}

TEST_F(AppDelegateTest, APhotoSavedForAConnectionIsShownFaintlyUntilUsed) {
  AIConnection photo = saved("P-ID", SourceKind::codex, "total");
  photo.iconKey = "photo";
  saveConnections({photo});
  auto d = launch();
  auto centre = [&] {
    const QImage shown = d->entries()[0].item->icon().pixmap(QSize(36, 36)).toImage();
    return shown.pixelColor(shown.width() / 2, shown.height() / 2);
  };
  // No photo yet: the app glyph's faint track in the connection's colour.
  EXPECT_NE(centre().red(), 255);

  QImage red(40, 40, QImage::Format_ARGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(d->icons().save(red, "P-ID"));
  d->store().iconChanged();
  ASSERT_TRUE(test::processEventsUntil([&] { return centre().red() > 240 && centre().green() < 10; }));
  EXPECT_NEAR(centre().alpha(), 0.15 * 255, 1.5);  // the total metric never fills
}

TEST(AppDelegateActivity, TrayIconsCountAsVisibleUnlessTheScreensAreOff) {
  struct Case {
    size_t entries;
    bool screensOff, popover, stats, active;
  };
  const Case cases[] = {
      {1, false, false, false, true}, {3, false, false, false, true},
      {1, true, false, false, false}, {1, true, true, false, true},
      {1, true, false, true, true},   {0, false, false, false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AppDelegate::activityFor(c.entries, c.screensOff, c.popover, c.stats), c.active);
}

}  // namespace
}  // namespace brimvale
