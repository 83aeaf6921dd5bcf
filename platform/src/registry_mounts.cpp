#include "registry_mounts.h"

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "platform/machine.h"
#include "registry_hive.h"
#include "registry_store.h"
#include "winerror.h"

namespace platform::registry {

namespace {

std::string registryDir() { return machineRoot() + "/registry"; }
std::string tablePath() { return registryDir() + "/mounts"; }
std::string recordsDir() { return registryDir() + "/mounts.open"; }

const char* rootTag(Root root) { return root == Root::LocalMachine ? "HKLM" : "HKU"; }

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Table lines: root, name and file separated by tabs, with \\, \t and \n escaped.
std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<Mount> parseTable(const std::string& text) {
  std::vector<Mount> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t first = line.find('\t');
    const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    Mount mount;
    const std::string tag = line.substr(0, first);
    if (tag != "HKU" && tag != "HKLM") continue;
    mount.root = tag == "HKLM" ? Root::LocalMachine : Root::Users;
    mount.name = unescape(line.substr(first + 1, second - first - 1));
    mount.file = unescape(line.substr(second + 1));
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

// The table as the file holds it now; none when there is no file.
std::vector<Mount> readTable() {
  std::ifstream in(tablePath(), std::ios::binary);
  if (!in) return {};
  std::ostringstream all;
  all << in.rdbuf();
  return parseTable(all.str());
}

bool writeTable(const std::vector<Mount>& mounts) {
  std::string text;
  for (const Mount& m : mounts) text += std::string(rootTag(m.root)) + "\t" + escape(m.name) + "\t" + escape(m.file) + "\n";
  const std::string temp = tablePath() + ".new";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), tablePath().c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// The mount table's lock, shared by those who rely on a mount staying while they
// record a handle, exclusive for loads and unloads.
class TableLock {
 public:
  explicit TableLock(int operation) {
    makeDirectories(registryDir());
    fd_ = ::open((registryDir() + "/mounts.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    int r;
    do {
      r = ::flock(fd_, operation);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~TableLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

int64_t nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// What this process last read of the table. Every change replaces the file, so its
// stat changes too; a file changed less than 50 ms before it was read could be
// followed by a look-alike within one tick of the file clock (as the hive cache
// knows), so such a reading is not trusted again.
struct TableCache {
  std::mutex lock;
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;
  int64_t readAt = 0;
  std::vector<Mount> mounts;
};

TableCache& tableCache() {
  static auto* cache = new TableCache();
  return *cache;
}

std::vector<Mount> currentMounts() {
  struct stat st;
  if (::stat(tablePath().c_str(), &st) != 0) return {};
  TableCache& cache = tableCache();
  std::lock_guard<std::mutex> lock(cache.lock);
  constexpr int64_t kSettle = 50 * 1000000;
  if (cache.valid && cache.device == st.st_dev && cache.inode == st.st_ino && cache.size == st.st_size &&
      cache.modified == nanoseconds(st.st_mtim) && cache.changed == nanoseconds(st.st_ctim) &&
      cache.modified < cache.readAt - kSettle && cache.changed < cache.readAt - kSettle)
    return cache.mounts;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  cache.readAt = nanoseconds(now);
  cache.mounts = readTable();
  // The stamp of the file read may be newer than the one stat saw: take it again.
  if (::stat(tablePath().c_str(), &st) == 0) {
    cache.valid = true;
    cache.device = st.st_dev;
    cache.inode = st.st_ino;
    cache.size = st.st_size;
    cache.modified = nanoseconds(st.st_mtim);
    cache.changed = nanoseconds(st.st_ctim);
  } else {
    cache.valid = false;
  }
  return cache.mounts;
}

const Mount* find(const std::vector<Mount>& mounts, Root root, const std::string& name) {
  for (const Mount& m : mounts)
    if (m.root == root && sameName(m.name, name)) return &m;
  return nullptr;
}

std::string recordDirOf(const std::string& id) { return recordsDir() + "/" + id; }

// The process's start time in clock ticks since boot, so that a record of a process
// that ended is not mistaken for one of a later process with the same number.
unsigned long long startTimeOf(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return 0;
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  // Fields after the command: state is the 3rd of the line; the start time the 22nd.
  for (int i = 3; i < 22 && (fields >> field); ++i) {
  }
  unsigned long long start = 0;
  fields >> start;
  return start;
}

bool recordIsLive(const std::string& record) {
  long pid = 0;
  unsigned long long start = 0;
  unsigned long long serial = 0;
  if (std::sscanf(record.c_str(), "%ld-%llu-%llu", &pid, &start, &serial) != 3 || pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? startTimeOf(pid) == start : false;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether a file is one of the machine's own hives or lies in the registry's own
// directory (its temporaries, the mount table), whichever way the machine root or
// the file's path is spelled.
bool machineOwned(const std::string& canonical, const struct stat& st) {
  struct stat registry, parent;
  if (::stat(registryDir().c_str(), &registry) == 0 &&
      ::stat(canonical.substr(0, std::max<size_t>(canonical.rfind('/'), 1)).c_str(), &parent) == 0 &&
      sameFile(registry, parent))
    return true;
  for (Root root : {Root::LocalMachine, Root::CurrentUser, Root::Users}) {
    struct stat own;
    if (::stat(hiveFileOf(root).c_str(), &own) == 0 && sameFile(own, st)) return true;
  }
  return false;
}

}  // namespace

bool findMount(Root root, const std::string& name, Mount& mount) {
  if (root != Root::Users && root != Root::LocalMachine) return false;
  const std::vector<Mount> mounts = currentMounts();
  const Mount* found = find(mounts, root, name);
  if (found) mount = *found;
  return found != nullptr;
}

std::vector<Mount> mountsBelow(Root root) {
  std::vector<Mount> below;
  for (const Mount& m : currentMounts())
    if (m.root == root) below.push_back(m);
  return below;
}

std::string mountId(const Mount& mount) { return std::string(rootTag(mount.root)) + "-" + hex(foldName(mount.name)); }

LONG loadHive(Root root, const std::string& name, const std::string& file) {
  // A hive is the file itself, however its path is spelled: resolved, and compared by
  // device and inode.
  char resolved[PATH_MAX];
  if (file.empty() || ::realpath(file.c_str(), resolved) == nullptr)
    return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_CANTOPEN;
  const std::string canonical = resolved;
  struct stat st;
  if (::stat(canonical.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_BADDB;
  // The machine's own hives are always in use.
  if (machineOwned(canonical, st)) return ERROR_SHARING_VIOLATION;
  std::shared_ptr<const Key> hive;
  if (LONG status = HiveFile(canonical).read(hive); status != ERROR_SUCCESS)
    return status == ERROR_REGISTRY_CORRUPT ? ERROR_BADDB : status;

  TableLock lock(LOCK_EX);
  if (!lock.held()) return ERROR_CANTWRITE;
  std::vector<Mount> mounts = readTable();
  if (find(mounts, root, name)) return ERROR_SHARING_VIOLATION;
  for (const Mount& m : mounts) {
    struct stat mounted;
    if (::stat(m.file.c_str(), &mounted) == 0 && sameFile(mounted, st)) return ERROR_SHARING_VIOLATION;
  }
  std::shared_ptr<const Key> parentHive;
  if (LONG status = HiveFile(hiveFileOf(root)).read(parentHive); status != ERROR_SUCCESS) return status;
  if (parentHive->findSubkey(name)) return ERROR_ALREADY_EXISTS;
  Mount mount{root, name, canonical};
  mounts.push_back(mount);
  if (!makeDirectories(recordDirOf(mountId(mount))) || !writeTable(mounts)) return ERROR_CANTWRITE;
  return ERROR_SUCCESS;
}

LONG unloadHive(Root root, const std::string& name) {
  TableLock lock(LOCK_EX);
  if (!lock.held()) return ERROR_CANTWRITE;
  std::vector<Mount> mounts = readTable();
  const Mount* found = find(mounts, root, name);
  if (!found) return ERROR_INVALID_PARAMETER;
  const std::string dir = recordDirOf(mountId(*found));
  if (DIR* d = ::opendir(dir.c_str())) {
    bool inUse = false;
    while (dirent* entry = ::readdir(d)) {
      const std::string record = entry->d_name;
      if (record == "." || record == "..") continue;
      if (recordIsLive(record))
        inUse = true;
      else
        ::unlink((dir + "/" + record).c_str());  // left by a process that has ended
    }
    ::closedir(d);
    if (inUse) return ERROR_ACCESS_DENIED;
  }
  mounts.erase(mounts.begin() + (found - mounts.data()));
  if (!writeTable(mounts)) return ERROR_CANTWRITE;
  ::rmdir(dir.c_str());
  // Every change was committed to the hive file when it was made: nothing to flush.
  return ERROR_SUCCESS;
}

LONG recordMountHandle(const HiveLocation& location, std::string& record) {
  record.clear();
  TableLock lock(LOCK_SH);
  if (!lock.held()) return ERROR_CANTWRITE;
  for (const Mount& m : readTable()) {
    if (mountId(m) != location.mount) continue;
    if (m.file != location.file) break;
    static std::atomic<unsigned long long> serial{0};
    const long pid = static_cast<long>(::getpid());  // read each time: a forked child is another process
    const std::string path = recordDirOf(location.mount) + "/" + std::to_string(pid) + "-" +
                             std::to_string(startTimeOf(pid)) + "-" + std::to_string(++serial);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return ERROR_CANTWRITE;
    ::close(fd);
    record = path;
    return ERROR_SUCCESS;
  }
  return ERROR_KEY_DELETED;
}

void dropMountHandle(const std::string& record) {
  if (!record.empty()) ::unlink(record.c_str());
}

}  // namespace platform::registry
