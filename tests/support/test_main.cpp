#include "platform/machine.h"
#include "quarvel_test.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarveltest {

bool runAsChild(int argc, char** argv, int* exitCode);

namespace {
std::string g_root;

void removeRoot() {
  if (!g_root.empty() && !std::getenv("QUARVEL_KEEP_MACHINE_ROOT")) {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
}
}  // namespace

}  // namespace quarveltest

extern "C" const char* __asan_default_options() { return "detect_leaks=1:abort_on_error=0"; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

int main(int argc, char** argv) {
  int exitCode = 0;
  // A child shares its parent's machine root through the inherited environment.
  if (quarveltest::runAsChild(argc, argv, &exitCode)) return exitCode;

  quarveltest::g_root = quarveltest::makeMachineRoot("quarvel-test");
  if (quarveltest::g_root.empty()) {
    std::perror("mkdtemp");
    return 1;
  }
  std::atexit(quarveltest::removeRoot);

  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
