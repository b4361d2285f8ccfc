#include "shell/session_monitor.h"

#include <QDBusConnection>

namespace brimvale {

SessionMonitor::SessionMonitor(QObject* parent) : QObject(parent) {
  QDBusConnection session = QDBusConnection::sessionBus();
  if (session.isConnected()) {
    // The freedesktop name and GNOME's own; whichever the desktop provides.
    session.connect(QString(), QStringLiteral("/org/freedesktop/ScreenSaver"),
                    QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("ActiveChanged"),
                    this, SLOT(screenSaverActiveChanged(bool)));
    session.connect(QString(), QStringLiteral("/org/gnome/ScreenSaver"),
                    QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("ActiveChanged"), this,
                    SLOT(screenSaverActiveChanged(bool)));
  }
  QDBusConnection system = QDBusConnection::systemBus();
  if (system.isConnected()) {
    system.connect(QStringLiteral("org.freedesktop.login1"),
                   QStringLiteral("/org/freedesktop/login1"),
                   QStringLiteral("org.freedesktop.login1.Manager"),
                   QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
  }
}

void SessionMonitor::screenSaverActiveChanged(bool active) {
  if (screenLocked_ == active) return;
  screenLocked_ = active;
  emit changed();
}

void SessionMonitor::prepareForSleep(bool sleeping) {
  if (sleeping_ == sleeping) return;
  sleeping_ = sleeping;
  emit changed();
}

}  // namespace brimvale
