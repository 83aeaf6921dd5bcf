#include "platform/machine.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace platform {

bool makeDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string prefix = path.substr(0, i);
      if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string machineRoot() {
  std::string root;
  if (const char* env = std::getenv(kMachineRootVariable); env && *env) {
    root = env;
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home && *home ? home : "/tmp") + "/.quarvel/machine";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  makeDirectories(root);
  return root;
}

std::string mapPath(const char* path) {
  if (!path) return std::string();
  std::string p(path);
  const bool rooted = !p.empty() && p[0] == '\\' && !(p.size() > 1 && p[1] == '\\');
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    std::string rest = p.substr(2);
    if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');
    return machineRoot() + "/" + static_cast<char>(std::tolower(static_cast<unsigned char>(p[0]))) + rest;
  }
  if (rooted) return machineRoot() + "/c" + p;
  return p;
}

std::string runtimeDirectory() {
  std::string dir = machineRoot() + "/run";
  makeDirectories(dir);
  return dir;
}

}  // namespace platform
