#pragma once
// The main loop on Qt's event loop.

#include <map>

#include <QObject>

#include "platform/main_loop.h"

class QTimer;

namespace brimvale {

// Tasks run on the thread that owns the loop object (the GUI thread).
class QtMainLoop final : public MainLoop {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  void post(Task task) override;
  void postDelayed(std::chrono::milliseconds delay, Task task) override;
  TimerId startRepeating(std::chrono::milliseconds interval, Task task) override;
  void cancel(TimerId id) override;

 private:
  // Owns the timers and receives posted tasks; deleting it drops pending work.
  QObject* context_;
  std::map<TimerId, QTimer*> timers_;
  TimerId nextTimer_ = 1;
};

}  // namespace brimvale
