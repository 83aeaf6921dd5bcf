// A document viewer for the tests of JUtil.shellExecute: appends one line to the file
// named by QTEST_VIEWER_LOG (its process id, its program file's name, the number of
// its arguments and each argument, tab-separated), then waits until it is ended.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* log = std::getenv("QTEST_VIEWER_LOG");
  if (log == nullptr) return 2;
  char program[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", program, sizeof program - 1);
  std::string name = n > 0 ? std::string(program, static_cast<size_t>(n)) : std::string("?");
  name = name.substr(name.rfind('/') + 1);
  std::string line = std::to_string(::getpid()) + "\t" + name + "\t" + std::to_string(argc - 1);
  for (int i = 1; i < argc; ++i) line += std::string("\t") + argv[i];
  if (FILE* file = std::fopen(log, "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
  for (;;) ::pause();
}
