// The threads this process has now, from /proc/self/task, and a fixture that checks
// that each case leaves none behind.
#pragma once

#include <dirent.h>

#include <gtest/gtest.h>

#include "quarvel_test.h"

namespace servicestest {

inline int liveThreads() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

// An ended thread leaves /proc/self/task a moment after its handle is signalled.
class NoThreadLeftBehind : public ::testing::Test {
 protected:
  void SetUp() override { baseline = liveThreads(); }
  void TearDown() override {
    EXPECT_TRUE(quarveltest::eventually([this] { return liveThreads() == baseline; }))
        << liveThreads() << " threads, " << baseline << " before";
  }
  int baseline = 0;
};

}  // namespace servicestest
