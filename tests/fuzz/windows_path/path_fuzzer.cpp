// Any text as a path: a Windows-form path (a drive, a rooted path, a share or a
// device) maps to nothing or to a place under the machine root, with no "." or
// ".." left in it; a host path keeps its place.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/machine.h"

namespace {

std::string root;

bool windowsForm(const std::string& p) {
  return (!p.empty() && p[0] == '\\') ||
         (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':');
}

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
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string text = path.substr(0, path.find('\0'));
  const std::string mapped = platform::mapPath(text.c_str());
  if (windowsForm(text)) {
    if (!mapped.empty() && !underRoot(mapped)) std::abort();
  } else if (!text.empty() && text[0] == '/') {
    for (size_t i = 0; i < text.size(); ++i) {
      if (mapped[i] != (text[i] == '\\' ? '/' : text[i])) std::abort();
    }
  }
  return 0;
}
