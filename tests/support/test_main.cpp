// Test entry: every test executable starts with an empty program log, so that
// what a test reads back is its own. Death-test children share the parent's
// log and leave it alone.
#include "support/log_watch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  bool deathTestChild = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "internal_run_death_test") != nullptr) deathTestChild = true;
  }
  if (!deathTestChild) {
    std::remove(tillwire::ProgramLogPath().c_str());
    std::remove((tillwire::ProgramLogPath() + ".old").c_str());
  }
  testing::InitGoogleTest(&argc, argv);
  testing::GTEST_FLAG(death_test_style) = "threadsafe";
  return RUN_ALL_TESTS();
}
