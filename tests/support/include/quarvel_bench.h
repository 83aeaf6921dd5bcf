// The main of a benchmark program: the benchmarks run on a machine root of the run's own
// (made before, removed after), which `prepare` may furnish first.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "quarvel_test.h"

namespace quarveltest {

inline int runBenchmarks(int argc, char** argv, const std::function<void(const std::string& root)>& prepare = nullptr) {
  const std::string root = makeMachineRoot("quarvel-bench");
  if (root.empty()) {
    std::perror("mkdtemp");
    return 1;
  }
  if (prepare) prepare(root);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}

}  // namespace quarveltest
