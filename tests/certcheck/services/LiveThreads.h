// The threads this process has now, from /proc/self/task, and a fixture that checks
// that each case leaves none behind.
#pragma once

#include <dirent.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

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

// Polls until the condition holds; false after a generous bound (it only guards against hangs).
inline bool eventually(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// An ended thread leaves /proc/self/task a moment after its handle is signalled.
class NoThreadLeftBehind : public ::testing::Test {
 protected:
  void SetUp() override { baseline = liveThreads(); }
  void TearDown() override {
    EXPECT_TRUE(eventually([this] { return liveThreads() == baseline; }))
        << liveThreads() << " threads, " << baseline << " before";
  }
  int baseline = 0;
};

}  // namespace servicestest
