// Helpers of the pdfverify tests: a scratch folder per test process and running peers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <unistd.h>

namespace pdftest {

// A file name in the test process's own machine root, which the test main makes and
// removes.
inline std::string scratch(const std::string& name) {
  const char* root = std::getenv("QUARVEL_MACHINE_ROOT");
  return std::string(root ? root : "/tmp") + "/" + name;
}

// The threads of this process now (a progress dialog runs on one of its own).
inline int threadCount() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

struct Run {
  int status = -1;
  std::string output;
};

// Runs a shell command; its standard output and error together.
inline Run run(const std::string& command) {
  Run r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace pdftest
