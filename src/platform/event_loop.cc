#include "platform/event_loop.h"

namespace brimvale {

void EventLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void EventLoop::postDelayed(std::chrono::milliseconds delay, Task task) {
  {
    std::lock_guard lock(mutex_);
    timers_.emplace(nextTimer_++, Timer{std::chrono::steady_clock::now() + delay,
                                        std::chrono::milliseconds(0), std::move(task)});
  }
  wake_.notify_one();
}

MainLoop::TimerId EventLoop::startRepeating(std::chrono::milliseconds interval, Task task) {
  TimerId id;
  {
    std::lock_guard lock(mutex_);
    id = nextTimer_++;
    if (interval.count() <= 0) interval = std::chrono::milliseconds(1);
    timers_.emplace(id, Timer{std::chrono::steady_clock::now() + interval, interval,
                              std::move(task)});
  }
  wake_.notify_one();
  return id;
}

void EventLoop::cancel(TimerId id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

void EventLoop::quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
}

void EventLoop::run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    if (!ready_.empty()) {
      Task task = std::move(ready_.front());
      ready_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (next == timers_.end() || it->second.due < next->second.due) next = it;
    if (next == timers_.end()) {
      wake_.wait(lock);
      continue;
    }
    if (next->second.due > now) {
      wake_.wait_until(lock, next->second.due);
      continue;
    }
    Task task;
    if (next->second.interval.count() > 0) {
      task = next->second.task;
      next->second.due = now + next->second.interval;
    } else {
      task = std::move(next->second.task);
      timers_.erase(next);
    }
    lock.unlock();
    task();
    lock.lock();
  }
  quit_ = false;
}

ThreadExecutor::ThreadExecutor()
    : worker_([this] {
        std::unique_lock lock(mutex_);
        for (;;) {
          wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
          if (queue_.empty()) return;
          auto work = std::move(queue_.front());
          queue_.pop_front();
          lock.unlock();
          work();
          lock.lock();
        }
      }) {}

ThreadExecutor::~ThreadExecutor() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void ThreadExecutor::submit(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
}

}  // namespace brimvale
