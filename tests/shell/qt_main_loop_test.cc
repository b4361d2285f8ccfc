#include "shell/qt_main_loop.h"

#include <atomic>
#include <thread>
#include <vector>

#include <QThread>
#include <gtest/gtest.h>

#include "gui_support/wait.h"

namespace brimvale {
namespace {

using namespace std::chrono_literals;

TEST(QtMainLoop, TasksPostedFromAnyThreadRunOnTheMainThreadInOrder) {
  QtMainLoop loop;
  std::vector<int> order;
  std::atomic<int> offThread{0};
  QThread* main = QThread::currentThread();
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i)
      loop.post([&, i] {
        if (QThread::currentThread() != main) ++offThread;
        order.push_back(i);
      });
  });
  worker.join();
  EXPECT_TRUE(order.empty());  // nothing runs before the loop does
  ASSERT_TRUE(test::processEventsUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(offThread, 0);
}

TEST(QtMainLoop, RepeatingTimersRunUntilCancelledAndDelayedTasksOnce) {
  QtMainLoop loop;
  int ticks = 0, delayed = 0;
  const auto id = loop.startRepeating(1ms, [&] { ++ticks; });
  loop.postDelayed(1ms, [&] { ++delayed; });
  ASSERT_TRUE(test::processEventsUntil([&] { return ticks >= 3 && delayed == 1; }));
  loop.cancel(id);
  const int stopped = ticks;
  // Another timer proves the loop kept running while the cancelled one stayed silent.
  int other = 0;
  const auto probe = loop.startRepeating(1ms, [&] { ++other; });
  ASSERT_TRUE(test::processEventsUntil([&] { return other >= 3; }));
  loop.cancel(probe);
  loop.cancel(id);  // twice: ignored
  EXPECT_EQ(ticks, stopped);
  EXPECT_EQ(delayed, 1);
}

TEST(QtMainLoop, PendingTasksAreDroppedWithTheLoop) {
  bool ran = false;
  {
    QtMainLoop loop;
    loop.post([&] { ran = true; });
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace brimvale
