#pragma once
// The main thread's queue. Published state is only touched from tasks run by
// the loop; other threads hand work over with post().

#include <chrono>
#include <cstdint>
#include <functional>

namespace brimvale {

class MainLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = uint64_t;

  virtual ~MainLoop() = default;
  // Runs task on the main thread after the current task. Safe from any thread.
  virtual void post(Task task) = 0;
  // Runs task once after delay (main thread).
  virtual void postDelayed(std::chrono::milliseconds delay, Task task) = 0;
  // Runs task every interval until cancelled (main thread).
  virtual TimerId startRepeating(std::chrono::milliseconds interval, Task task) = 0;
  virtual void cancel(TimerId id) = 0;
};

// Where the refresh cycle runs: a background thread in the application, a
// queue the test drives by hand.
class BackgroundExecutor {
 public:
  virtual ~BackgroundExecutor() = default;
  virtual void submit(std::function<void()> work) = 0;
};

}  // namespace brimvale
