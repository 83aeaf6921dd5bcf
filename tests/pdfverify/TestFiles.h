// Helpers of the pdfverify tests: a scratch folder per test process and running peers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// What pdfsig says of one signature: whether the value verifies over its byte range
// ("Signature is Valid."), and whether the range covers the whole file ("Total document
// signed", as against "Not total document signed").
struct PdfsigVerdict {
  bool intact = false;
  bool total = false;
};

// pdfsig's word on each signature of the document, in order; its certificate check is
// left out unless `options` asks otherwise.
inline std::vector<PdfsigVerdict> pdfsig(const std::string& path, const std::string& options = "-nocert") {
  const Run r = run("pdfsig " + options + " '" + path + "'");
  std::vector<PdfsigVerdict> verdicts;
  for (size_t at = r.output.find("Signature #"); at != std::string::npos;) {
    const size_t next = r.output.find("Signature #", at + 1);
    const std::string block = r.output.substr(at, next == std::string::npos ? std::string::npos : next - at);
    PdfsigVerdict v;
    v.intact = block.find("Signature Validation: Signature is Valid.") != std::string::npos;
    v.total = block.find("- Total document signed") != std::string::npos;
    verdicts.push_back(v);
    at = next;
  }
  return verdicts;
}

}  // namespace pdftest
