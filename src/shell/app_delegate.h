#pragma once
// The tray application: owns the one usage store for the life of the process,
// shows one tray icon per connection (a placeholder when there is none), keeps
// their pictures and tooltips current and tells the store whether anybody
// can see its output.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "collection/usage_store.h"
#include "connections/connection_store.h"
#include "platform/event_loop.h"
#include "platform/user_defaults.h"
#include "shell/icon_store.h"
#include "shell/qt_main_loop.h"
#include "shell/session_monitor.h"

class QMenu;
class QSystemTrayIcon;

namespace brimvale {

class AppDelegate : public QObject {
  Q_OBJECT
 public:
  struct Options {
    std::string home;                      // the real home, or --home
    std::optional<UsageSources> sources;   // default: the real readers and probes
    bool showIcons = true;                 // false: items are made but never shown
  };

  struct Entry {
    std::string connectionID;  // "" for the placeholder
    QSystemTrayIcon* item = nullptr;
    QMenu* menu = nullptr;
  };

  explicit AppDelegate(Options options, QObject* parent = nullptr);
  ~AppDelegate() override;

  void applicationDidFinishLaunching();
  void syncStatusItems(const std::vector<AIConnection>& connections);
  void renderLabel(const Entry& entry);
  void refreshNow();
  void quitApp();
  void updateActivity();

  // A tray icon's visibility cannot be read, so each one counts as visible
  // unless the screens are off; the popover and the statistics window count
  // while they are shown.
  static bool activityFor(size_t entryCount, bool screensOff, bool popoverShown,
                          bool statsVisible);

  UsageStore& store() { return *store_; }
  const std::vector<Entry>& entries() const { return entries_; }
  IconStore& icons() { return icons_; }
  // How many times the tray icons were recreated (for checks).
  int rebuildCount() const { return rebuilds_; }

 private:
  void statusItemClicked(const Entry& entry, int reason);
  QMenu* makeContextMenu(const std::string& connectionID);
  void removeEntries(bool immediately);
  double devicePixelRatioFor(const Entry& entry) const;

  Options options_;
  // Declared in the order they must be built; destroyed in reverse, so the
  // store goes before the thread it submits to and the loop it posts to.
  QtMainLoop loop_;
  ThreadExecutor background_;
  UserDefaults defaults_;
  ConnectionStore connectionStore_;
  IconStore icons_;
  SessionMonitor session_;
  std::unique_ptr<UsageStore> store_;
  int observer_ = 0;
  std::vector<Entry> entries_;
  int rebuilds_ = 0;
};

}  // namespace brimvale
