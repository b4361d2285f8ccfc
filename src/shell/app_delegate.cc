#include "shell/app_delegate.h"

#include <chrono>

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>

#include "model/snapshot_io.h"
#include "shell/status_label.h"

namespace brimvale {

AppDelegate::AppDelegate(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      defaults_(UserDefaults::forHome(options_.home)),
      connectionStore_(defaults_),
      icons_(SnapshotIO::directory(options_.home)) {
  UsageStore::Dependencies deps;
  deps.loop = &loop_;
  deps.background = &background_;
  deps.connections = &connectionStore_;
  deps.home = options_.home;
  deps.sources = options_.sources ? *options_.sources : defaultSources(SourceOptions{options_.home, false, {}});
  store_ = std::make_unique<UsageStore>(std::move(deps));
  connect(&session_, &SessionMonitor::changed, this, &AppDelegate::updateActivity);
}

AppDelegate::~AppDelegate() {
  if (store_ && observer_) store_->removeObserver(observer_);
  removeEntries(true);
  store_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
  // Publications arrive on the main loop after the field holds its new value;
  // handling them in a task of their own keeps the store's notification free
  // of re-entrant calls back into it.
  observer_ = store_->addObserver([this](UsageStore::Field field) {
    if (field == UsageStore::Field::connections) {
      loop_.post([this] { syncStatusItems(store_->connections()); });
    } else if (field == UsageStore::Field::snapshots) {
      loop_.post([this] {
        for (const Entry& entry : entries_) renderLabel(entry);
      });
    }
  });
  syncStatusItems(store_->connections());
  updateActivity();
}

void AppDelegate::syncStatusItems(const std::vector<AIConnection>& connections) {
  std::vector<std::string> wanted;
  for (const AIConnection& c : connections) wanted.push_back(c.id);
  if (wanted.empty()) wanted.emplace_back();

  std::vector<std::string> current;
  for (const Entry& e : entries_) current.push_back(e.connectionID);

  if (wanted != current) {
    updateActivity();
    removeEntries(false);
    std::vector<Entry> fresh;
    for (const std::string& id : wanted) {
      Entry entry{id, new QSystemTrayIcon(this), makeContextMenu(id)};
      entry.item->setContextMenu(entry.menu);
      QSystemTrayIcon* item = entry.item;
      connect(item, &QSystemTrayIcon::activated, this, [this, item](QSystemTrayIcon::ActivationReason reason) {
        for (const Entry& e : entries_)
          if (e.item == item) statusItemClicked(e, static_cast<int>(reason));
      });
      fresh.push_back(entry);
    }
    entries_ = std::move(fresh);
    ++rebuilds_;
    // Rendered before they are shown, so no blank icon flashes in the panel.
    for (const Entry& entry : entries_) renderLabel(entry);
    if (options_.showIcons)
      for (const Entry& entry : entries_) entry.item->show();
  } else {
    for (const Entry& entry : entries_) renderLabel(entry);
  }
  updateActivity();
}

QMenu* AppDelegate::makeContextMenu(const std::string& /*connectionID*/) {
  auto* menu = new QMenu();
  QAction* refresh = menu->addAction(QStringLiteral("새로고침"));
  refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(refresh, &QAction::triggered, this, &AppDelegate::refreshNow);
  menu->addSeparator();
  QAction* quit = menu->addAction(QStringLiteral("종료"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quit, &QAction::triggered, this, &AppDelegate::quitApp);
  return menu;
}

void AppDelegate::removeEntries(bool immediately) {
  for (Entry& e : entries_) {
    e.item->hide();
    e.item->setContextMenu(nullptr);
    // A rebuild may come while a menu is open (its own action can remove the
    // last connection): let Qt finish with it first.
    if (immediately) {
      delete e.item;
      delete e.menu;
    } else {
      e.item->deleteLater();
      e.menu->deleteLater();
    }
  }
  entries_.clear();
}

void AppDelegate::statusItemClicked(const Entry& /*entry*/, int reason) {
  // The context menu is Qt's own on a right click. A left click will toggle
  // the popover; until it exists there is nothing to open.
  (void)reason;
}

double AppDelegate::devicePixelRatioFor(const Entry& entry) const {
  if (entry.item) {
    const QRect where = entry.item->geometry();
    if (where.isValid())
      if (QScreen* screen = QGuiApplication::screenAt(where.center()))
        return screen->devicePixelRatio();
  }
  if (QScreen* screen = QGuiApplication::primaryScreen()) return screen->devicePixelRatio();
  return 2.0;
}

void AppDelegate::renderLabel(const Entry& entry) {
  if (!entry.item) return;
  const AIConnection* connection = nullptr;
  for (const AIConnection& c : store_->connections())
    if (c.id == entry.connectionID) {
      connection = &c;
      break;
    }
  const UsageSnapshot* snapshot = nullptr;
  if (connection) {
    const auto& snapshots = store_->snapshots();
    if (auto it = snapshots.find(connection->id); it != snapshots.end()) snapshot = &it->second;
  }
  const StatusLabel label = statusLabel(connection, snapshot, std::chrono::system_clock::now(),
                                        [this](const std::string& id) { return icons_.load(id); });
  entry.item->setToolTip(QString::fromStdString(label.tooltip));

  const double dpr = devicePixelRatioFor(entry);
  const QImage picture = label.icon.render(dpr);
  if (picture.isNull()) return;
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(picture));
  // A sharper source for panels that draw icons larger than 18 points.
  if (dpr < 2) {
    const QImage sharp = label.icon.render(2);
    if (!sharp.isNull()) icon.addPixmap(QPixmap::fromImage(sharp));
  }
  entry.item->setIcon(icon);
}

void AppDelegate::refreshNow() { store_->refresh(); }

void AppDelegate::quitApp() { QCoreApplication::quit(); }

bool AppDelegate::activityFor(size_t entryCount, bool screensOff, bool popoverShown,
                              bool statsVisible) {
  if (entryCount > 0 && !screensOff) return true;
  return popoverShown || statsVisible;
}

void AppDelegate::updateActivity() {
  store_->setActive(activityFor(entries_.size(), session_.screensOff(), false, false));
}

}  // namespace brimvale
