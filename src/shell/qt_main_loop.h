#pragma once
// The main loop on Qt's event loop, and the thread the refresh cycle runs on.

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <QObject>
#include <QPointer>

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

// One worker thread running submitted work in order. Destruction waits for
// the work that is running and drops what has not started.
class BackgroundThread final : public BackgroundExecutor {
 public:
  BackgroundThread();
  ~BackgroundThread() override;
  void submit(std::function<void()> work) override;

 private:
  void run();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace brimvale
