#pragma once
// Whether the screens are off: a locked screen (the screen saver's
// ActiveChanged on the session bus) or a system going to sleep (logind's
// PrepareForSleep on the system bus). Both are optional: without a bus, or
// without the services, the screens count as on.

#include <QObject>

namespace brimvale {

class SessionMonitor : public QObject {
  Q_OBJECT
 public:
  explicit SessionMonitor(QObject* parent = nullptr);
  bool screensOff() const { return screenLocked_ || sleeping_; }

 signals:
  void changed();

 private slots:
  void screenSaverActiveChanged(bool active);
  void prepareForSleep(bool sleeping);

 private:
  bool screenLocked_ = false;
  bool sleeping_ = false;
};

}  // namespace brimvale
