// Any text as a path: a Windows-form path (a drive, a rooted path, a share, a device,
// or a relative path taken against the current directory) maps to nothing or to a
// place under the machine root, with no "." or ".." left in it; a host path keeps its
// place. The first byte picks where the process works: deep in a drive, in a share, or
// outside the root.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/machine.h"

namespace {

std::string root;

std::string workingDirectories[3];

// Under the root: the root, then components none of which is "." or "..".
bool underRoot(const std::string& mapped) {
  if (mapped.compare(0, root.size() + 1, root + "/") != 0) return false;
  size_t i = root.size() + 1;
  while (i <= mapped.size()) {
    size_t end = mapped.find('/', i);
    if (end == std::string::npos) end = mapped.size();
    const std::string part = mapped.substr(i, end - i);
    if (part == "." || part == "..") return false;
    if (part.empty() && end != mapped.size()) return false;
    i = end + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/quarvel-path-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) std::abort();
  setenv(platform::kMachineRootVariable, dir, 1);
  root = platform::machineRoot();
  workingDirectories[0] = root + "/c/a/b/c";
  workingDirectories[1] = root + "/unc/server/share/d/e";
  workingDirectories[2] = root + "-outside/f/g";
  for (const std::string& w : workingDirectories) {
    if (!platform::makeDirectories(w)) std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (chdir(workingDirectories[data[0] % 3].c_str()) != 0) std::abort();
  const std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string text = path.substr(0, path.find('\0'));
  const std::string mapped = platform::mapPath(text.c_str());
  if (text.empty()) {
    if (!mapped.empty()) std::abort();
  } else if (text[0] != '/') {
    if (!mapped.empty() && !underRoot(mapped)) std::abort();
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      if (mapped[i] != (text[i] == '\\' ? '/' : text[i])) std::abort();
    }
  }
  return 0;
}
