// The main of a benchmark program: the benchmarks run on a machine root of the run's own
// (made before, removed after), which `prepare` may furnish first.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "quarvel_test.h"

extern "C" char** environ;

namespace quarveltest {

// One whole process as a user waits for it: started (its output discarded) and waited
// for. Wall time, peak resident memory, exit code (-1 when it did not run or was killed).
struct ProcessRun {
  double milliseconds = 0;
  double maxRssMiB = 0;
  int exitCode = -1;
};

inline ProcessRun runProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ProcessRun run;
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  clock_gettime(CLOCK_MONOTONIC, &end);
  run.milliseconds = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
  run.maxRssMiB = usage.ru_maxrss / 1024.0;  // KiB on Linux
  if (waited == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

// Our program beside the peer's, each run as a fresh process, interleaved: one of each per
// iteration, the order swapped every iteration so that neither always starts on caches
// the other warmed. The benchmark's time is ours (manual time); the counters tell the
// first iteration (the first start of each program) apart from the warm ones and give
// the min and median of each side over the warm ones, the min and median ratios (ours
// over the peer's), and the peak memory of each. Run with ->UseManualTime()->Iterations(n).
inline void compareProcesses(benchmark::State& state, const std::vector<std::string>& ours,
                             const std::vector<std::string>& peer, int peerExitCode = 0) {
  std::vector<double> oursWarm, peerWarm;
  double oursRss = 0, peerRss = 0;
  size_t round = 0;
  for (auto _ : state) {
    ProcessRun a, b;
    if (round % 2 == 0) {
      a = runProcess(ours);
      b = runProcess(peer);
    } else {
      b = runProcess(peer);
      a = runProcess(ours);
    }
    if (a.exitCode != 0 || b.exitCode != peerExitCode) {
      state.SkipWithError(("a run failed: " + ours[0] + " " + std::to_string(a.exitCode) + ", " + peer[0] + " " +
                           std::to_string(b.exitCode))
                              .c_str());
      break;
    }
    state.SetIterationTime(a.milliseconds / 1e3);
    oursRss = std::max(oursRss, a.maxRssMiB);
    peerRss = std::max(peerRss, b.maxRssMiB);
    if (round == 0) {
      state.counters["first_ms"] = a.milliseconds;
      state.counters["first_peer_ms"] = b.milliseconds;
      state.counters["first_ratio"] = a.milliseconds / b.milliseconds;
    } else {
      oursWarm.push_back(a.milliseconds);
      peerWarm.push_back(b.milliseconds);
    }
    ++round;
  }
  if (oursWarm.empty()) return;
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  };
  const double oursMin = *std::min_element(oursWarm.begin(), oursWarm.end());
  const double peerMin = *std::min_element(peerWarm.begin(), peerWarm.end());
  state.counters["min_ms"] = oursMin;
  state.counters["peer_min_ms"] = peerMin;
  state.counters["median_ms"] = median(oursWarm);
  state.counters["peer_median_ms"] = median(peerWarm);
  state.counters["ratio_min"] = oursMin / peerMin;
  state.counters["ratio_median"] = median(oursWarm) / median(peerWarm);
  state.counters["rss_MiB"] = oursRss;
  state.counters["peer_rss_MiB"] = peerRss;
}

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
