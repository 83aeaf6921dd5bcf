// Test support shared by every test executable.
//
// Each test process gets a private machine root (registry hives, drives, runtime
// folder), made before the first test runs and removed at exit. A test can run a
// part of itself in a second process: QUARVEL_CHILD defines a function that the
// same executable runs when started by startChild; the child inherits the machine root.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quarveltest {

using ChildFunction = int (*)(const std::vector<std::string>& args);

struct ChildRegistration {
  ChildRegistration(const char* name, ChildFunction function);
};

class ChildProcess {
 public:
  ChildProcess() = default;
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills and reaps a child that is still running

  pid_t pid() const { return pid_; }
  // Waits for the child: its exit code, or 128 + signal number when a signal ended it.
  int wait();
  void kill(int signal);

 private:
  pid_t pid_ = -1;
};

// Starts the registered child function `name` in a new process of this executable.
ChildProcess startChild(const std::string& name, const std::vector<std::string>& args = {});
// Starts it and waits: the child's exit code (128 + signal when killed).
int runChild(const std::string& name, const std::vector<std::string>& args = {});
// Starts a program file with these arguments (after its own name), inheriting the
// environment and the machine root.
ChildProcess startProgram(const std::string& path, const std::vector<std::string>& args = {});

// The machine root of this test process.
std::string machineRoot();
// Makes a fresh directory under $TMPDIR (or /tmp) named <prefix>-XXXXXX and makes it this
// process's machine root; its path, or "" when it cannot be made.
std::string makeMachineRoot(const std::string& prefix);
// A fresh empty directory under the machine root.
std::string makeTempDirectory(const std::string& hint = "tmp");
// Path of this test executable.
std::string selfExecutable();

// Polls until the condition holds; false after a generous bound, which only guards
// against a hang (a test waits for events, never for a time).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(20));

}  // namespace quarveltest

#define QUARVEL_CHILD(name)                                                             \
  static int name##_child(const std::vector<std::string>& args);                        \
  static ::quarveltest::ChildRegistration name##_registration(#name, name##_child);     \
  static int name##_child([[maybe_unused]] const std::vector<std::string>& args)
