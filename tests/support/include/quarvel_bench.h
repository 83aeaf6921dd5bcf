// The main of a benchmark program: the benchmarks run on a machine root of the run's own
// (made before, removed after), which `prepare` may furnish first.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

// Runs the program and measures it from the calling process. A process's peak memory
// counts the memory of the process it was started from (the kernel keeps the larger of
// the two across exec), so runProcess measures in a launcher: this program started afresh
// (small), which starts the program and writes what it measured to the pipe on fd 3.
inline ProcessRun measureHere(const std::vector<std::string>& args) {
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

inline const char* kMeasureOption = "--quarvel-measure";

inline ProcessRun runProcess(const std::vector<std::string>& args) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  int fds[2];
  if (n <= 0 || pipe2(fds, O_CLOEXEC) != 0) return {};
  self[n] = '\0';
  std::vector<std::string> words{self, kMeasureOption};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (const std::string& a : words) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);  // the copy on 3 stays open across exec
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  ProcessRun run;
  if (spawned == 0) {
    FILE* in = fdopen(fds[0], "r");
    if (in == nullptr || std::fscanf(in, "%lf %lf %d", &run.milliseconds, &run.maxRssMiB, &run.exitCode) != 3) {
      run = ProcessRun{};
    }
    if (in != nullptr) std::fclose(in);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else {
    close(fds[0]);
  }
  return run;
}

// The launcher's side: when this program was started as one, measures the program named
// after the option and answers true.
inline bool runAsMeasurer(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != kMeasureOption) return false;
  const ProcessRun run = measureHere(std::vector<std::string>(argv + 2, argv + argc));
  FILE* out = fdopen(3, "w");
  if (out != nullptr) {
    std::fprintf(out, "%.6f %.6f %d\n", run.milliseconds, run.maxRssMiB, run.exitCode);
    std::fclose(out);
  }
  return true;
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
  if (runAsMeasurer(argc, argv)) return 0;
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
