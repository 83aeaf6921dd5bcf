#include "quarvel_test.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quarveltest {

std::map<std::string, ChildFunction>& childRegistry() {
  static std::map<std::string, ChildFunction> registry;
  return registry;
}

ChildRegistration::ChildRegistration(const char* name, ChildFunction function) {
  childRegistry()[name] = function;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

int ChildProcess::wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  pid_ = -1;
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

void ChildProcess::kill(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

std::string selfExecutable() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) throw std::runtime_error("cannot find the test executable");
  return std::string(buffer, static_cast<size_t>(n));
}

ChildProcess startChild(const std::string& name, const std::vector<std::string>& args) {
  if (!childRegistry().count(name)) throw std::invalid_argument("no child function " + name);
  std::vector<std::string> words{"--quarvel-child", name};
  words.insert(words.end(), args.begin(), args.end());
  return startProgram(selfExecutable(), words);
}

ChildProcess startProgram(const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    execv(path.c_str(), cargv.data());
    _exit(127);
  }
  return ChildProcess(pid);
}

int runChild(const std::string& name, const std::vector<std::string>& args) {
  return startChild(name, args).wait();
}

// Called by main: runs a child function when this process was started as one.
bool runAsChild(int argc, char** argv, int* exitCode) {
  if (argc < 3 || std::strcmp(argv[1], "--quarvel-child") != 0) return false;
  auto it = childRegistry().find(argv[2]);
  if (it == childRegistry().end()) {
    *exitCode = 126;
    return true;
  }
  std::vector<std::string> args(argv + 3, argv + argc);
  *exitCode = it->second(args);
  return true;
}

}  // namespace quarveltest
