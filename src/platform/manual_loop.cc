#include "platform/manual_loop.h"

namespace brimvale {

void ManualMainLoop::postDelayed(std::chrono::milliseconds delay, Task task) {
  timers_.emplace(nextTimer_++, Timer{now_ + delay, std::chrono::milliseconds(0), std::move(task)});
}

MainLoop::TimerId ManualMainLoop::startRepeating(std::chrono::milliseconds interval, Task task) {
  TimerId id = nextTimer_++;
  timers_.emplace(id, Timer{now_ + interval, interval, std::move(task)});
  return id;
}

int ManualMainLoop::runPending() {
  int count = 0;
  while (!ready_.empty()) {
    Task task = std::move(ready_.front());
    ready_.pop_front();
    task();
    ++count;
  }
  return count;
}

void ManualMainLoop::advance(std::chrono::milliseconds by) {
  const auto target = now_ + by;
  for (;;) {
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.due <= target && (next == timers_.end() || it->second.due < next->second.due))
        next = it;
    if (next == timers_.end()) break;
    now_ = next->second.due;
    Task task;
    if (next->second.interval.count() > 0) {
      task = next->second.task;
      next->second.due += next->second.interval;
    } else {
      task = std::move(next->second.task);
      timers_.erase(next);
    }
    task();
    runPending();
  }
  now_ = target;
  runPending();
}

bool ManualExecutor::runOne() {
  if (queue_.empty()) return false;
  auto work = std::move(queue_.front());
  queue_.pop_front();
  work();
  return true;
}

}  // namespace brimvale
