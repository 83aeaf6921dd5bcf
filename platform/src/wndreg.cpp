// The registry of top-level windows, shared by the processes of one machine root.
//
// <runtime>/windows/ holds one small file per top-level window ("w<id>": owner process
// and thread, class, title, style, owner window, topmost flag and Z-order stamp),
// rewritten in place on every change, and one lock file per process ("p<pid>_<nonce>"),
// on which the process holds an open-file-description lock while it lives. A reader
// that finds a lock file without its lock knows that the process has ended and removes
// its entries, so a process that dies leaves no stale window behind. A counter file
// under a file lock hands out window ids and Z-order stamps unique on the machine.
// Each GUI thread also keeps a 16-byte record ("t<pid>_<tid>") of when it last asked
// for messages, for SMTO_ABORTIFHUNG.
//
// An entry is not replaced by renaming a new file over it: on a disk file system that
// makes the kernel write the new file out and, once the old one is freed, wait for that
// write and discard its blocks, several milliseconds on every change of a window. Each
// entry starts instead with its length and a hash of what follows, so that a reader
// that met a rewrite in progress sees the mismatch and reads again.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <sched.h>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/machine.h"
#include "window_internal.h"

namespace platform {
namespace win {

namespace {

// The process-wide state below is made on first use by whichever GUI thread comes
// first, so it is guarded.
std::recursive_mutex g_stateLock;
std::string g_directory;
std::string g_lockName;
int g_lockFd = -1;
pid_t g_lockPid = 0;
std::set<uint32_t> g_published;  // the entries this process wrote and has not withdrawn

std::string directory() {
  std::lock_guard<std::recursive_mutex> guard(g_stateLock);
  if (g_directory.empty()) {
    g_directory = runtimeDirectory() + "/windows";
    makeDirectories(g_directory);
  }
  return g_directory;
}

uint64_t monotonicMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The lock file of this process, made on first use (again after a fork).
std::string processLock() {
  std::lock_guard<std::recursive_mutex> guard(g_stateLock);
  if (g_lockFd >= 0 && g_lockPid == getpid()) return g_lockName;
  if (g_lockFd >= 0) close(g_lockFd);
  g_published.clear();  // a child made by fork owns none of its parent's windows
  std::random_device rd;
  char name[64];
  snprintf(name, sizeof name, "p%d_%08x", static_cast<int>(getpid()), rd());
  g_lockName = name;
  g_lockPid = getpid();
  // Locked under a temporary name and then renamed: a reader never sees the lock file
  // without its lock, which it would take for a process that ended.
  const std::string path = directory() + "/" + g_lockName;
  const std::string temp = path + ".new";
  g_lockFd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (g_lockFd >= 0) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fcntl(g_lockFd, F_OFD_SETLK, &fl);
    rename(temp.c_str(), path.c_str());
  }
  return g_lockName;
}

bool processAlive(const std::string& lockName, std::map<std::string, bool>& cache) {
  auto it = cache.find(lockName);
  if (it != cache.end()) return it->second;
  bool alive = false;
  bool mine;
  {
    std::lock_guard<std::recursive_mutex> guard(g_stateLock);
    mine = lockName == g_lockName && g_lockPid == getpid();
  }
  if (mine) {
    alive = true;
  } else {
    const std::string path = directory() + "/" + lockName;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      if (fcntl(fd, F_OFD_GETLK, &fl) == 0) alive = fl.l_type != F_UNLCK;
      close(fd);
    }
  }
  cache[lockName] = alive;
  return alive;
}

std::string entryPath(uint32_t id) { return directory() + "/w" + std::to_string(id); }

uint64_t entryHash(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Room for the longest class name and title an entry may hold, and the lines around them.
constexpr size_t kMaxEntryBytes = (2u << 20) + 4096;

// The whole payload of an entry: its "<length> <hash>" line checked against what follows.
bool readEntryPayload(const std::string& path, std::string* payload) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool whole = false;
  // An owner rewrites an entry with one short write; a reader that met one reads again.
  for (int attempt = 0; attempt < 16 && !whole; ++attempt) {
    if (attempt > 0) sched_yield();
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size <= 0 || static_cast<size_t>(st.st_size) > kMaxEntryBytes) break;
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = pread(fd, &bytes[got], bytes.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    const size_t lineEnd = bytes.find('\n');
    if (lineEnd == std::string::npos || lineEnd > 64) continue;
    unsigned long long length = 0, hash = 0;
    char extra = 0;
    if (std::sscanf(bytes.c_str(), "%llu %llx%c", &length, &hash, &extra) != 3 || extra != '\n' ||
        length > bytes.size() - lineEnd - 1) {
      continue;
    }
    *payload = bytes.substr(lineEnd + 1, static_cast<size_t>(length));
    whole = entryHash(*payload) == hash;
  }
  close(fd);
  return whole;
}

bool readEntry(const std::string& path, RegistryEntry* e) {
  std::string payload;
  if (!readEntryPayload(path, &payload)) return false;
  std::istringstream in(payload);
  std::string head;
  if (!std::getline(in, head)) return false;
  std::istringstream h(head);
  unsigned topmost = 0;
  unsigned long long z = 0;
  if (!(h >> e->id >> e->pid >> e->tid >> e->style >> e->exStyle >> topmost >> z >> e->owner >> e->lockName)) {
    return false;
  }
  e->topmost = topmost != 0;
  e->zorder = z;
  // Texts are stored with their length, so that any byte may appear in them.
  auto text = [&in](std::string& out) {
    size_t n = 0;
    std::string line;
    if (!std::getline(in, line)) return false;
    n = std::strtoull(line.c_str(), nullptr, 10);
    if (n > (1u << 20)) return false;
    out.assign(n, '\0');
    in.read(&out[0], static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n;
  };
  return text(e->className) && text(e->title);
}

void removeProcessFiles(const std::string& lockName) {
  // "p<pid>_<nonce>": its thread records are "t<pid>_*".
  const std::string dir = directory();
  const size_t underscore = lockName.find('_');
  const std::string pid = lockName.substr(1, underscore == std::string::npos ? std::string::npos : underscore - 1);
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* de = readdir(d)) {
      const std::string name = de->d_name;
      if (name.rfind("t" + pid + "_", 0) == 0) unlink((dir + "/" + name).c_str());
    }
    closedir(d);
  }
  unlink((dir + "/" + lockName).c_str());
}

}  // namespace

namespace {

// At a normal exit the process takes its files along; after a crash the next reader does.
struct ProcessFilesAtExit {
  ~ProcessFilesAtExit() {
    if (g_lockFd >= 0 && g_lockPid == getpid()) {
      for (uint32_t id : g_published) unlink((g_directory + "/w" + std::to_string(id)).c_str());
      unlink((g_directory + "/" + g_lockName).c_str());
      close(g_lockFd);
      g_lockFd = -1;
    }
  }
} g_processFilesAtExit;

}  // namespace

uint64_t nextMachineNumber() {
  const std::string path = directory() + "/counter";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    static uint64_t fallback = 0x100000;
    return ++fallback;
  }
  flock(fd, LOCK_EX);
  uint64_t value = 0;
  if (pread(fd, &value, sizeof value, 0) != sizeof value || value < 0x100) value = 0x100;
  // Window ids stay below 2^30 so that they fit every 32-bit use; the stamps wrap with them.
  uint64_t next = value + 1;
  if (next >= 0x3FFFFFF0u) next = 0x100;
  ssize_t written = pwrite(fd, &next, sizeof next, 0);
  (void)written;
  flock(fd, LOCK_UN);
  close(fd);
  return value;
}

void publishWindow(const Window& w) {
  const std::string& lock = processLock();
  std::ostringstream out;
  const std::string& cls = w.cls->name;
  out << w.id << ' ' << getpid() << ' ' << w.threadId << ' ' << w.style << ' ' << w.exStyle << ' '
      << (w.topmost ? 1 : 0) << ' ' << w.zorder << ' ' << w.owner << ' ' << lock << '\n'
      << cls.size() << '\n'
      << cls << w.title.size() << '\n'
      << w.title;
  // The class name is followed directly by the title's length line; readEntry reads
  // exactly the stored number of bytes, so no separator is needed.
  const std::string payload = out.str();
  char line[64];
  snprintf(line, sizeof line, "%zu %016llx\n", payload.size(),
           static_cast<unsigned long long>(entryHash(payload)));
  const std::string data = line + payload;
  // Bytes left behind a shorter rewrite lie outside the stated length and are not read.
  const int fd = open(entryPath(w.id).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  {
    std::lock_guard<std::recursive_mutex> guard(g_stateLock);
    g_published.insert(w.id);
  }
  for (size_t at = 0; at < data.size();) {
    const ssize_t n = pwrite(fd, data.data() + at, data.size() - at, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  close(fd);
}

void withdrawWindow(uint32_t id) {
  unlink(entryPath(id).c_str());
  std::lock_guard<std::recursive_mutex> guard(g_stateLock);
  g_published.erase(id);
}

std::vector<RegistryEntry> listWindows() {
  std::vector<RegistryEntry> out;
  std::map<std::string, bool> alive;
  const std::string dir = directory();
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* de = readdir(d)) names.push_back(de->d_name);
    closedir(d);
  }
  for (const std::string& name : names) {
    if (name.size() < 2 || name[0] != 'w' || name.find('.') != std::string::npos) continue;
    RegistryEntry e;
    const std::string path = dir + "/" + name;
    if (!readEntry(path, &e)) continue;
    if (!processAlive(e.lockName, alive)) {
      unlink(path.c_str());
      continue;
    }
    out.push_back(std::move(e));
  }
  // Processes that ended without windows still leave their lock file behind.
  for (const std::string& name : names) {
    if (name.size() > 1 && name[0] == 'p' && name.find('.') == std::string::npos) processAlive(name, alive);
  }
  for (const auto& [lockName, isAlive] : alive) {
    if (!isAlive) removeProcessFiles(lockName);
  }
  std::sort(out.begin(), out.end(), [](const RegistryEntry& a, const RegistryEntry& b) {
    if (a.topmost != b.topmost) return a.topmost;
    return a.zorder > b.zorder;
  });
  return out;
}

bool lookupWindow(uint32_t id, RegistryEntry* entry) {
  if (id == 0) return false;
  RegistryEntry e;
  const std::string path = entryPath(id);
  if (!readEntry(path, &e)) return false;
  std::map<std::string, bool> alive;
  if (!processAlive(e.lockName, alive)) {
    unlink(path.c_str());
    return false;
  }
  if (entry) *entry = std::move(e);
  return true;
}

std::string endpointName(uint32_t pid, uint32_t tid) {
  // Abstract sockets have no length trouble with deep machine roots and vanish with
  // their process; the machine root's hash keeps test machines apart.
  const std::string dir = directory();
  uint64_t h = 1469598103934665603ull;
  for (char c : dir) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  char name[96];
  snprintf(name, sizeof name, "quarvel-win-%016llx-%u-%u", static_cast<unsigned long long>(h), pid, tid);
  return name;
}

namespace {

struct AskRecord {
  uint64_t lastAsk;
  uint32_t waiting;
  uint32_t waitedOnce;  // set at the thread's first wait for messages, never cleared
};

// One object, so that its path is still there when it removes the file at thread end.
struct AskRecordHolder {
  AskRecord* record = nullptr;
  std::string path;
  ~AskRecordHolder() {
    if (record != nullptr) {
      munmap(record, sizeof(AskRecord));
      unlink(path.c_str());
    }
  }
};
thread_local AskRecordHolder t_ask;

}  // namespace

void markAsking(bool waiting) {
  AskRecordHolder& holder = t_ask;
  if (holder.record == nullptr) {
    processLock();
    holder.path = directory() + "/t" + std::to_string(getpid()) + "_" + std::to_string(GetCurrentThreadId());
    int fd = open(holder.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (ftruncate(fd, sizeof(AskRecord)) == 0) {
      void* p = mmap(nullptr, sizeof(AskRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) holder.record = static_cast<AskRecord*>(p);
    }
    close(fd);
    if (holder.record == nullptr) return;
  }
  __atomic_store_n(&holder.record->lastAsk, monotonicMs(), __ATOMIC_RELEASE);
  __atomic_store_n(&holder.record->waiting, waiting ? 1u : 0u, __ATOMIC_RELEASE);
  if (waiting) __atomic_store_n(&holder.record->waitedOnce, 1u, __ATOMIC_RELEASE);
}

bool processWasIdle(uint32_t pid) {
  const std::string dir = directory();
  const std::string prefix = "t" + std::to_string(pid) + "_";
  bool idle = false;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* de = readdir(d)) {
      if (std::strncmp(de->d_name, prefix.c_str(), prefix.size()) != 0) continue;
      const int fd = open((dir + "/" + de->d_name).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      AskRecord r{};
      if (pread(fd, &r, sizeof r, 0) == static_cast<ssize_t>(sizeof r) && r.waitedOnce != 0) idle = true;
      close(fd);
      if (idle) break;
    }
    closedir(d);
  }
  return idle;
}

bool threadHung(uint32_t pid, uint32_t tid, DWORD thresholdMs) {
  const std::string path = directory() + "/t" + std::to_string(pid) + "_" + std::to_string(tid);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // a thread that never asked for messages is not judged
  AskRecord r{};
  const bool ok = pread(fd, &r, sizeof r, 0) == static_cast<ssize_t>(sizeof r);
  close(fd);
  if (!ok || r.waiting) return false;
  return monotonicMs() - r.lastAsk > thresholdMs;
}

}  // namespace win
}  // namespace platform
