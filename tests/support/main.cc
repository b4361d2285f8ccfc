#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // A zone with daylight saving, unless a test pins another one.
  brimvale::test::setTimeZone("Europe/Berlin");
  return RUN_ALL_TESTS();
}
