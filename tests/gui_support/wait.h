#pragma once
// Runs the Qt event loop until a condition holds (bounded, so a broken test
// fails instead of hanging). Returns whether the condition came true.

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QEventLoop>

namespace brimvale::test {

inline bool processEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace brimvale::test
