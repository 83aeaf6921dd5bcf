// Helpers of the pdfverify tests: a scratch folder per test process and running peers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace pdftest {

// A file name in a folder of this test process.
inline std::string scratch(const std::string& name) {
  static const std::string dir = [] {
    char templ[] = "/tmp/pdfverify-XXXXXX";
    const char* d = mkdtemp(templ);
    return std::string(d ? d : "/tmp");
  }();
  return dir + "/" + name;
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
