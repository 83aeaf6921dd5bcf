// The machine root of a fuzz run: a fresh folder under /tmp made on first use and removed
// at exit, so that what a fuzzer's viewer writes (its windows, settings, documents) never
// reaches the user's machine root.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzztest {

// The path, made before the exit handler that removes the folder is registered, so that
// the handler runs while the path still exists.
inline std::string& runRootPath() {
  static std::string path;
  return path;
}

// Makes the folder "/tmp/<prefix>-XXXXXX" once, sets it as the process's machine root and
// answers its path ("/tmp" when it cannot be made).
inline const std::string& machineRootOfThisRun(const char* prefix) {
  static const bool made = [prefix] {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      runRootPath() = "/tmp";
    } else {
      runRootPath() = pattern;
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(runRootPath(), ignored);
      });
    }
    setenv("QUARVEL_MACHINE_ROOT", runRootPath().c_str(), 1);
    return true;
  }();
  (void)made;
  return runRootPath();
}

}  // namespace fuzztest
