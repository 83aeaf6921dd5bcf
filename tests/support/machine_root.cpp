// The machine root of the running test process and waiting for a condition, for
// tests, fixtures and the benchmark programs (which have a main of their own).
#include "platform/machine.h"
#include "quarvel_test.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quarveltest {

std::string machineRoot() { return platform::machineRoot(); }

std::string makeMachineRoot(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return std::string();
  setenv(platform::kMachineRootVariable, buffer.data(), 1);
  return buffer.data();
}

std::string makeTempDirectory(const std::string& hint) {
  std::string pattern = machineRoot() + "/" + hint + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  return buffer.data();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace quarveltest
