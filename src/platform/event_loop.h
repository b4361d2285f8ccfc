#pragma once
// MainLoop and BackgroundExecutor for programs without a GUI toolkit (the CLI):
// run() executes tasks on the calling thread until quit().

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/main_loop.h"

namespace brimvale {

class EventLoop : public MainLoop {
 public:
  void post(Task task) override;
  void postDelayed(std::chrono::milliseconds delay, Task task) override;
  TimerId startRepeating(std::chrono::milliseconds interval, Task task) override;
  void cancel(TimerId id) override;

  // Runs tasks until quit() is called (from a task or another thread).
  void run();
  void quit();

 private:
  using SteadyTime = std::chrono::steady_clock::time_point;
  struct Timer {
    SteadyTime due;
    std::chrono::milliseconds interval{0};  // 0: one-shot
    Task task;
  };

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> ready_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  bool quit_ = false;
};

// Runs submitted work, in order, on one worker thread; joins it on destruction
// after the queued work is done.
class ThreadExecutor : public BackgroundExecutor {
 public:
  ThreadExecutor();
  ~ThreadExecutor() override;
  void submit(std::function<void()> work) override;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace brimvale
