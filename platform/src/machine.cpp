#include "platform/machine.h"

#include <cctype>
#include <climits>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace platform {

bool makeDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string prefix = path.substr(0, i);
      if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// What stands for a refused root: a file, so that every path below it fails
// (ENOTDIR) and nothing is made or read anywhere, whichever caller composes a path.
constexpr const char* kNoRoot = "/dev/null";

// A directory that holds the user's machine must be the user's alone: owned by the
// user, writable by nobody else. Read and search rights of others are taken away.
std::string claimPrivateDirectory(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return path + " is not a directory";
  if (st.st_uid != geteuid()) return path + " belongs to another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return path + " is writable by others";
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) return path + ": " + std::strerror(errno);
  return std::string();
}

// Makes a private directory (and its missing parents) and checks it. The directories
// above must not let anyone else replace it: each is the user's or the system's, and
// one that others may write to is sticky (as /tmp), where nobody moves another's entry.
std::string makePrivateDirectory(const std::string& path) {
  if (path.empty() || path[0] != '/') return "\"" + path + "\" is not an absolute path";
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/') continue;
    const std::string above = path.substr(0, i);
    if (mkdir(above.c_str(), 0700) != 0 && errno != EEXIST) return above + ": " + std::strerror(errno);
    struct stat st;
    if (stat(above.c_str(), &st) != 0) return above + ": " + std::strerror(errno);
    if (st.st_uid != geteuid() && st.st_uid != 0) return above + " belongs to another user";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
      return above + " is writable by others";
    }
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return path + ": " + std::strerror(errno);
  return claimPrivateDirectory(path);
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  // No HOME: the account's own home, never a shared directory.
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

struct CheckedRoot {
  std::string candidate;  // the root the environment names
  std::string problem;    // why it is refused, "" when it is used
  dev_t device = 0;
  ino_t inode = 0;
};

std::mutex g_rootLock;
CheckedRoot g_root;

// The root the environment names (with its trailing slashes dropped), checked and made
// when missing. A root already checked is only looked at again when its directory
// changed (it was removed, or replaced).
CheckedRoot checkedRoot() {
  std::string candidate;
  if (const char* env = std::getenv(kMachineRootVariable); env && *env) {
    candidate = env;
  } else {
    const std::string home = homeDirectory();
    if (!home.empty()) candidate = home + "/.quarvel/machine";
  }
  while (candidate.size() > 1 && candidate.back() == '/') candidate.pop_back();
  std::lock_guard<std::mutex> guard(g_rootLock);
  struct stat st;
  if (!candidate.empty() && candidate == g_root.candidate && g_root.problem.empty() &&
      stat(candidate.c_str(), &st) == 0 && st.st_dev == g_root.device && st.st_ino == g_root.inode &&
      st.st_uid == geteuid() && (st.st_mode & 077) == 0) {
    return g_root;
  }
  CheckedRoot checked;
  checked.candidate = candidate;
  checked.problem = candidate.empty() ? "no machine root is named and there is no home directory"
                                      : makePrivateDirectory(candidate);
  if (checked.problem.empty()) {
    // Named through a link: where the root really lies must be as safe.
    char real[PATH_MAX];
    if (realpath(candidate.c_str(), real) == nullptr) {
      checked.problem = candidate + ": " + std::strerror(errno);
    } else if (candidate != real) {
      checked.problem = makePrivateDirectory(real);
    }
  }
  if (checked.problem.empty() && stat(candidate.c_str(), &st) == 0) {
    checked.device = st.st_dev;
    checked.inode = st.st_ino;
  }
  if (!checked.problem.empty() && (checked.candidate != g_root.candidate || checked.problem != g_root.problem)) {
    std::fprintf(stderr, "quarvel: the machine root is not used: %s\n", checked.problem.c_str());
  }
  g_root = checked;
  return checked;
}

}  // namespace

std::string machineRoot() {
  const CheckedRoot root = checkedRoot();
  return root.problem.empty() ? root.candidate : std::string(kNoRoot);
}

std::string machineRootRefusal() {
  const CheckedRoot root = checkedRoot();
  if (!root.problem.empty()) return root.problem;
  const std::string run = root.candidate + "/run";
  struct stat st;
  if (stat(run.c_str(), &st) == 0) return claimPrivateDirectory(run);
  return std::string();
}

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool isDrive(const std::string& p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

std::vector<std::string> components(const std::string& p, size_t from) {
  std::vector<std::string> out;
  size_t i = from;
  while (i < p.size()) {
    size_t end = i;
    while (end < p.size() && !isSeparator(p[end])) ++end;
    if (end > i) out.push_back(p.substr(i, end - i));
    i = end + 1;
  }
  return out;
}

// The part of a path below its root (a drive or a share), resolved as Windows
// does: "." stays, ".." goes up one level but never above the root.
std::string below(const std::string& p, size_t from) {
  std::vector<std::string> kept;
  for (std::string& c : components(p, from)) {
    if (c == ".") continue;
    if (c == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(std::move(c));
  }
  std::string out;
  for (const std::string& c : kept) out += "/" + c;
  if (out.empty() || (p.size() > from && isSeparator(p.back()))) out += "/";
  return out;
}

std::string mapDrive(const std::string& p) {
  return machineRoot() + "/" + static_cast<char>(std::tolower(static_cast<unsigned char>(p[0]))) + below(p, 2);
}

// "server\share\..." lies under <root>/unc/server/share; ".." stops at the share.
std::string mapShare(const std::string& p, size_t from) {
  const std::vector<std::string> parts = components(p, from);
  if (parts.empty()) return std::string();
  for (size_t k = 0; k < parts.size() && k < 2; ++k) {
    if (parts[k] == "." || parts[k] == "..") return std::string();
  }
  size_t rest = from;
  for (size_t k = 0; k < parts.size() && k < 2; ++k) {
    while (rest < p.size() && isSeparator(p[rest])) ++rest;
    rest += parts[k].size();
  }
  std::string out = machineRoot() + "/unc/" + parts[0];
  if (parts.size() == 1) return out;
  out += "/" + parts[1];
  return parts.size() == 2 ? out : out + below(p, rest);
}

// The host directory `dir` as a Windows path when it lies in a drive folder or a share
// of the machine root `root` (both without "." or ".." or links); "" otherwise.
std::string windowsPathOf(const std::string& dir, const std::string& root) {
  if (dir.compare(0, root.size() + 1, root + "/") != 0) return std::string();
  std::vector<std::string> parts;
  for (size_t i = root.size() + 1; i < dir.size();) {
    size_t end = dir.find('/', i);
    if (end == std::string::npos) end = dir.size();
    if (end > i) parts.push_back(dir.substr(i, end - i));
    i = end + 1;
  }
  // A host name with a backslash has no Windows spelling.
  for (const std::string& part : parts) {
    if (part.find('\\') != std::string::npos || part.find(':') != std::string::npos) return std::string();
  }
  if (parts.empty()) return std::string();
  std::string out;
  size_t rest = 1;
  if (parts[0].size() == 1 && parts[0][0] >= 'a' && parts[0][0] <= 'z') {
    out = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(parts[0][0])))) + ":";
  } else if (parts[0] == "unc" && parts.size() >= 3) {
    out = "\\\\" + parts[1] + "\\" + parts[2];
    rest = 3;
  } else {
    return std::string();
  }
  for (size_t k = rest; k < parts.size(); ++k) out += "\\" + parts[k];
  if (rest == 1 && parts.size() == 1) out += "\\";  // a drive's root
  return out;
}

// A path against the current directory: "rel" and "X:rel" (on the current drive) below
// it, "\rel" below its drive's or share's root. The result is absolute.
std::string againstCurrentDirectory(const std::string& p) {
  const std::string current = currentDirectory();
  const bool share = current.size() >= 2 && current[0] == '\\' && current[1] == '\\';
  if (isDrive(p)) {
    // Another drive's current directory is its root: only one is kept.
    if (share || std::tolower(static_cast<unsigned char>(p[0])) != std::tolower(static_cast<unsigned char>(current[0])))
      return p.substr(0, 2) + "\\" + p.substr(2);
    return current + "\\" + p.substr(2);
  }
  if (!p.empty() && isSeparator(p[0])) {
    if (!share) return current.substr(0, 2) + p;
    // The share's root ("\\server\share") and then the rooted path.
    size_t end = current.find('\\', 2);
    if (end != std::string::npos) end = current.find('\\', end + 1);
    return current.substr(0, end == std::string::npos ? current.size() : end) + p;
  }
  return current + "\\" + p;
}

}  // namespace

std::string currentDirectory() {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return "C:\\";
  char root[PATH_MAX];
  if (realpath(machineRoot().c_str(), root) == nullptr) return "C:\\";
  const std::string mapped = windowsPathOf(cwd, root);
  return mapped.empty() ? "C:\\" : mapped;
}

std::string mapPath(const char* path) {
  if (!path) return std::string();
  std::string p(path);
  if (!p.empty() && p[0] == '/') {  // a host path
    for (char& c : p)
      if (c == '\\') c = '/';
    return p;
  }
  if (p.empty()) return p;
  if (p.size() >= 2 && p[0] == '\\' && isSeparator(p[1])) {
    // "\\?\" and "\\.\" name a drive path or a share in another form; any other
    // device has no file behind it here.
    if (p.size() >= 4 && (p[2] == '?' || p[2] == '.') && isSeparator(p[3])) {
      const std::string rest = p.substr(4);
      if (isDrive(rest)) return mapDrive(rest);
      if (p[2] == '?' && rest.size() >= 3 && strncasecmp(rest.c_str(), "UNC", 3) == 0 &&
          (rest.size() == 3 || isSeparator(rest[3]))) {
        return mapShare(rest, 3);
      }
      return std::string();
    }
    return mapShare(p, 2);
  }
  // A drive path with its root, else relative to the current directory (itself always a
  // Windows path in the root, so the result is clamped as an absolute one is).
  if (isDrive(p) && p.size() >= 3 && isSeparator(p[2])) return mapDrive(p);
  return mapPath(againstCurrentDirectory(p).c_str());
}

std::string runtimeDirectory() {
  const std::string root = machineRoot();
  if (root == kNoRoot) return root;
  const std::string dir = root + "/run";
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return dir;  // the calls below it fail
  // Named objects and the endpoints' registry live here: another user's (or anyone's
  // writable) folder would let them be forged.
  const std::string problem = claimPrivateDirectory(dir);
  if (problem.empty()) return dir;
  std::fprintf(stderr, "quarvel: the run directory is not used: %s\n", problem.c_str());
  return kNoRoot;
}

}  // namespace platform
