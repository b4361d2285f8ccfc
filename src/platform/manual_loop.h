#pragma once
// Deterministic MainLoop and BackgroundExecutor for tests: nothing runs until
// the test says so, and time is virtual.

#include <deque>
#include <functional>
#include <map>

#include "platform/main_loop.h"

namespace brimvale {

class ManualMainLoop : public MainLoop {
 public:
  void post(Task task) override { ready_.push_back(std::move(task)); }
  void postDelayed(std::chrono::milliseconds delay, Task task) override;
  TimerId startRepeating(std::chrono::milliseconds interval, Task task) override;
  void cancel(TimerId id) override { timers_.erase(id); }

  // Runs posted tasks (and tasks they post) until none is left; returns how many ran.
  int runPending();
  // Moves virtual time forward, firing due timers in order, then runs pending tasks.
  void advance(std::chrono::milliseconds by);

  size_t timerCount() const { return timers_.size(); }
  size_t pendingCount() const { return ready_.size(); }

 private:
  struct Timer {
    std::chrono::milliseconds due;
    std::chrono::milliseconds interval;  // 0: one-shot
    Task task;
  };
  std::deque<Task> ready_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  std::chrono::milliseconds now_{0};
};

class ManualExecutor : public BackgroundExecutor {
 public:
  void submit(std::function<void()> work) override { queue_.push_back(std::move(work)); }
  // Runs the oldest submitted work; false when there is none.
  bool runOne();
  size_t queued() const { return queue_.size(); }

 private:
  std::deque<std::function<void()>> queue_;
};

}  // namespace brimvale
