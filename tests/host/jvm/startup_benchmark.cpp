// Not a test: the time from the start of a process to the end of the Java launcher's
// main (its last marker line), for Quarvel (signed archives, the Java VM through the
// host, the natives, the properties) and for a plain `java -cp launcher.jar` start of
// the same stand-in launcher. Run from a Release build:
//   build-rel/tests/host/jvm/startup_benchmark
#include "JvmFixture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

bool launcherReturned() {
  return jvmtest::readFile(jvmtest::markerPath()).find("main class ") != std::string::npos;
}

// Waits (polling every half millisecond) until the launcher has returned; seconds taken.
double timeToLauncherEnd(std::chrono::steady_clock::time_point start) {
  while (!launcherReturned()) usleep(500);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void QuarvelStartup(benchmark::State& state) {
  for (auto _ : state) {
    std::remove(jvmtest::markerPath().c_str());
    const auto start = std::chrono::steady_clock::now();
    jvmtest::Quarvel quarvel({jvmtest::javaLogPath()});
    state.SetIterationTime(timeToLauncherEnd(start));
    quarvel.kill(SIGKILL);
    quarvel.wait();
  }
}

void BareJavaStartup(benchmark::State& state) {
  setenv("QUARVEL_JAVA_SCRIPT", "bare", 1);
  for (auto _ : state) {
    std::remove(jvmtest::markerPath().c_str());
    std::vector<std::string> words{QUARVEL_JAVA, "-Xmx128m", "-Dqtest.classpath=app.jar;a2.jar;a3.jar", "-cp",
                                   jvmtest::installDir() + "/lib/launcher.jar", "qtest.BareLaunch",
                                   jvmtest::installDir(), jvmtest::kResponder, "0"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      state.SkipWithError("java could not be started");
      break;
    }
    quarveltest::ChildProcess java(pid);
    state.SetIterationTime(timeToLauncherEnd(start));
    java.wait();
  }
  unsetenv("QUARVEL_JAVA_SCRIPT");
}

BENCHMARK(QuarvelStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BareJavaStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  char root[] = "/tmp/quarvel-startup-XXXXXX";
  if (mkdtemp(root) == nullptr) return 1;
  setenv("QUARVEL_MACHINE_ROOT", root, 1);
  // The machine as shipped: no trace, no checked JNI.
  jvmtest::Machine machine;
  machine.trace = false;
  jvmtest::install(machine);
  unsetenv("JAVA_TOOL_OPTIONS");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
