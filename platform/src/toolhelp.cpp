// Tool Help's process snapshot over /proc: one entry per process, the program file's
// name from /proc/<pid>/exe (the name the kernel keeps, /proc/<pid>/comm, when the link
// cannot be read), the parent and thread count from /proc/<pid>/stat.
#include <windows.h>
#include <tlhelp32.h>

#include "platform/handles.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class Snapshot : public platform::KernelObject {
 public:
  std::vector<PROCESSENTRY32> entries;
  std::mutex mutex;
  size_t next = 0;
};

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readEntry(pid_t pid, PROCESSENTRY32* entry) {
  const std::string dir = "/proc/" + std::to_string(pid);
  std::string name;
  char target[4096];
  const ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    name = baseName(std::string(target, static_cast<size_t>(n)));
    // An executable replaced or removed while it runs.
    const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
      name.resize(name.size() - deleted.size());
  } else {
    std::ifstream comm(dir + "/comm");
    if (!std::getline(comm, name)) return false;
  }
  std::ifstream statFile(dir + "/stat");
  std::string stat;
  if (!std::getline(statFile, stat)) return false;
  // "pid (comm) state ppid ... num_threads(20th)": the fields after the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  char state = 0;
  int ppid = 0;
  long threads = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %ld",
                  &state, &ppid, &threads) != 3)
    return false;
  if (state == 'Z' || state == 'X') return false;  // ended, not yet reaped
  *entry = PROCESSENTRY32{};
  entry->dwSize = sizeof(PROCESSENTRY32);
  entry->th32ProcessID = static_cast<DWORD>(pid);
  entry->th32ParentProcessID = static_cast<DWORD>(ppid);
  entry->cntThreads = static_cast<DWORD>(threads);
  entry->pcPriClassBase = 8;
  std::snprintf(entry->szExeFile, sizeof entry->szExeFile, "%s", name.c_str());
  return true;
}

BOOL step(HANDLE hSnapshot, LPPROCESSENTRY32 lppe, bool first) {
  auto snapshot = platform::objectOf<Snapshot>(hSnapshot);
  if (!snapshot) return FALSE;
  if (lppe == nullptr || lppe->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(snapshot->mutex);
  if (first) snapshot->next = 0;
  if (snapshot->next >= snapshot->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *lppe = snapshot->entries[snapshot->next++];
  return TRUE;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
  if ((dwFlags & TH32CS_SNAPPROCESS) == 0 || (dwFlags & ~TH32CS_SNAPPROCESS) != 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  auto snapshot = std::make_shared<Snapshot>();
  if (DIR* proc = opendir("/proc")) {
    while (dirent* de = readdir(proc)) {
      char* end = nullptr;
      const long pid = std::strtol(de->d_name, &end, 10);
      if (end == de->d_name || *end != '\0' || pid <= 0) continue;
      PROCESSENTRY32 entry;
      if (readEntry(static_cast<pid_t>(pid), &entry)) snapshot->entries.push_back(entry);
    }
    closedir(proc);
  }
  HANDLE handle = platform::insertHandle(snapshot);
  return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
}

BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) { return step(hSnapshot, lppe, true); }
BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) { return step(hSnapshot, lppe, false); }

}  // extern "C"
