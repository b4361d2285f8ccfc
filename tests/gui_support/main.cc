#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
  // Painting tests need no display; test discovery runs without one too.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  brimvale::test::setTimeZone("Europe/Berlin");
  return RUN_ALL_TESTS();
}
