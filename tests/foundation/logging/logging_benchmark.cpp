// Cost of tracing: with logging off a traced method pays only the test for a
// report; with logging on each trace call takes the report's lock once and writes
// into the stream's buffer. Not a test: run it from a Release build.
//
// Logging is decided once per process, so each mode runs in a process of its own.
#include "foundation/core/CLogable.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class Traced : public CLogable {
 public:
  int getSize() const override { return static_cast<int>(sizeof *this); }

  __attribute__((noinline)) int untraced(int x) const {
    benchmark::DoNotOptimize(x);
    return x + 1;
  }

  __attribute__((noinline)) int traced(int x, int level) const {
    log("traced", "Parameter: x. Function started.\n", level, kPush);
    benchmark::DoNotOptimize(x);
    log("traced", "returned: 0x1.\n", level, kPop);
    return x + 1;
  }
};

void BM_UntracedCall(benchmark::State& state) {
  Traced object;
  int x = 0;
  for (auto _ : state) x = object.untraced(x);
  benchmark::DoNotOptimize(x);
}

void BM_TracedCall(benchmark::State& state) {
  Traced object;
  const int level = static_cast<int>(state.range(0));
  int x = 0;
  for (auto _ : state) x = object.traced(x, level);
  benchmark::DoNotOptimize(x);
}

void BM_LogMessage(benchmark::State& state) {
  for (auto _ : state) logMessage("CT_data: 00 A4 04 00 07 A0 00 00 00 01 01 01.\n", 2, 0);
}

CReport* g_report = nullptr;
CReport* benchmarkReport() { return g_report; }

}  // namespace

BENCHMARK(BM_UntracedCall);
BENCHMARK(BM_TracedCall)->Arg(3)->Arg(7);
BENCHMARK(BM_LogMessage);

int main(int argc, char** argv) {
  // Each mode in a child: "off" without a report, "on" with a report at level 6.
  for (const std::string mode : {"off", "on"}) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::string path;
      if (mode == "on") {
        path = (std::filesystem::temp_directory_path() / ("quarvel-bench-" + std::to_string(getpid()) + ".log")).string();
        g_report = CReportFactory::getInstance(path.c_str());
        g_report->setLevel(6);
      }
      setReportSetup(&benchmarkReport);
      std::printf("Logging %s%s\n", mode.c_str(), mode == "on" ? " (level 6; level 3 written, level 7 filtered)" : "");
      benchmark::Initialize(&argc, argv);
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      if (!path.empty()) std::remove(path.c_str());
      std::exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  }
  return 0;
}
