#include "shell/qt_main_loop.h"

#include <QMetaObject>
#include <QTimer>

namespace brimvale {

QtMainLoop::QtMainLoop() : context_(new QObject) {}

QtMainLoop::~QtMainLoop() {
  // Timers are children of the context and go with it.
  delete context_;
}

void QtMainLoop::post(Task task) {
  // Queued invocation on the context's thread; safe from any thread. The
  // task is dropped if the loop is gone by then.
  QMetaObject::invokeMethod(context_, [task = std::move(task)] { if (task) task(); },
                            Qt::QueuedConnection);
}

void QtMainLoop::postDelayed(std::chrono::milliseconds delay, Task task) {
  QTimer::singleShot(delay, context_, [task = std::move(task)] { if (task) task(); });
}

MainLoop::TimerId QtMainLoop::startRepeating(std::chrono::milliseconds interval, Task task) {
  auto* timer = new QTimer(context_);
  timer->setInterval(interval);
  timer->setTimerType(Qt::CoarseTimer);
  QObject::connect(timer, &QTimer::timeout, context_, [task = std::move(task)] { if (task) task(); });
  timer->start();
  const TimerId id = nextTimer_++;
  timers_.emplace(id, timer);
  return id;
}

void QtMainLoop::cancel(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

}  // namespace brimvale
