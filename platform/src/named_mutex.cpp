// Mutexes: owned by one thread at a time, recursive; a named mutex is shared by every
// process of the same machine root.
//
// A named mutex lives as two lock files in the runtime folder. Every process that has
// the mutex open holds a shared flock on "<name>.ref", so the mutex exists exactly
// while some process holds it open; the owning process holds an exclusive flock on
// "<name>.own". The kernel drops both when a process dies, however it dies. The first
// byte of "<name>.own" is '1' while an owner holds it, so the next owner learns that
// the last one died holding it (WAIT_ABANDONED). Creation and opening test for
// existence under one guard lock, which makes the test and the shared lock one step.
// The files stay in the runtime folder (removing a lock file races with its users).
// The descriptors are close-on-exec; a child made by fork alone would keep the locks.
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "platform/handles.h"
#include "platform/machine.h"
#include "windows.h"

namespace platform {
namespace {

class Mutex : public Waitable {
 public:
  Acquire tryAcquire(DWORD threadId) override {
    if (owner_ == threadId) {
      ++count_;
      return Acquire::Acquired;
    }
    if (owner_ != 0) return Acquire::NotSignalled;
    bool abandoned = abandoned_;
    if (!takeProcessLock(&abandoned)) return Acquire::NotSignalled;
    owner_ = threadId;
    count_ = 1;
    lastAcquireAbandoned_ = abandoned;
    abandoned_ = false;
    trackOwnership();
    return abandoned ? Acquire::Abandoned : Acquire::Acquired;
  }

  void undoAcquire(DWORD threadId) override {
    if (owner_ != threadId || --count_ > 0) return;
    owner_ = 0;
    abandoned_ = lastAcquireAbandoned_;
    dropProcessLock(lastAcquireAbandoned_);
    untrackOwnership();
  }

  void ownerThreadEnded(DWORD threadId) override {
    if (owner_ != threadId) return;
    owner_ = 0;
    count_ = 0;
    abandoned_ = true;
    dropProcessLock(true);
    notifyWaiters();
  }

  // With the kernel lock held: false when the caller does not own the mutex.
  bool release(DWORD threadId) {
    if (owner_ != threadId || count_ == 0) return false;
    if (--count_ == 0) {
      owner_ = 0;
      dropProcessLock(false);
      untrackOwnership();
      notifyWaiters();
    }
    return true;
  }

 protected:
  // The lock that makes ownership exclusive across processes; none for an unnamed mutex.
  virtual bool takeProcessLock(bool* abandoned) {
    (void)abandoned;
    return true;
  }
  virtual void dropProcessLock(bool abandoned) { (void)abandoned; }

 private:
  DWORD owner_ = 0;
  LONG count_ = 0;
  bool abandoned_ = false;
  bool lastAcquireAbandoned_ = false;
};

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

Descriptor openLockFile(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return Descriptor(fd);
}

int lockFile(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// An exclusive lock within the given time; false when it stays held.
bool lockWithin(int fd, int milliseconds) {
  for (int waited = 0;; waited += 5) {
    if (lockFile(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK || waited >= milliseconds) return false;
    ::usleep(5000);
  }
}

void writeMarker(int fd, char value) {
  ssize_t rc;
  do {
    rc = ::pwrite(fd, &value, 1, 0);
  } while (rc < 0 && errno == EINTR);
}

bool readMarkerHeld(int fd) {
  char value = 0;
  ssize_t rc;
  do {
    rc = ::pread(fd, &value, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc == 1 && value == '1';
}

// Lock-file names: safe characters kept, the rest as %XX; long names end in a hash.
std::string encodeName(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > 200) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    std::string suffix = "~";
    for (int shift = 60; shift >= 0; shift -= 4) suffix += hex[(hash >> shift) & 15];
    out = out.substr(0, 180) + suffix;
  }
  return "m_" + out;
}

std::string mutexDirectory() {
  std::string dir = runtimeDirectory() + "/mutex";
  makeDirectories(dir);
  return dir;
}

class NamedMutex : public Mutex {
 public:
  NamedMutex(std::string name, Descriptor ref, Descriptor own);
  ~NamedMutex() override;

  std::chrono::milliseconds pollInterval() const override { return std::chrono::milliseconds(10); }

 protected:
  bool takeProcessLock(bool* abandoned) override {
    if (lockFile(own_.get(), LOCK_EX | LOCK_NB) != 0) return false;
    if (readMarkerHeld(own_.get())) *abandoned = true;
    writeMarker(own_.get(), '1');
    return true;
  }
  void dropProcessLock(bool abandoned) override {
    writeMarker(own_.get(), abandoned ? '1' : '0');
    lockFile(own_.get(), LOCK_UN);
  }

 private:
  std::string name_;
  Descriptor ref_;
  Descriptor own_;
};

// The named mutexes this process has open, so that all its handles of one name share one object.
struct NamedMutexRegistry {
  std::mutex mutex;
  std::condition_variable closed;  // an entry left the map
  std::map<std::string, std::weak_ptr<NamedMutex>> open;
};

NamedMutexRegistry& registry() {
  static NamedMutexRegistry* instance = new NamedMutexRegistry;
  return *instance;
}

NamedMutex::NamedMutex(std::string name, Descriptor ref, Descriptor own)
    : name_(std::move(name)), ref_(std::move(ref)), own_(std::move(own)) {}

// The files are closed before the entry goes, so that a new opener in this process
// never counts this process's old shared lock as another holder; the ownership lock
// first, so that whoever finds the name free finds it unowned too.
NamedMutex::~NamedMutex() {
  std::lock_guard<std::mutex> guard(registry().mutex);
  own_ = Descriptor();
  ref_ = Descriptor();
  registry().open.erase(name_);
  registry().closed.notify_all();
}

enum class Disposition { Create, Open };

// Finds or makes this process's object of a named mutex. Sets *existed when some
// handle (here or in another process) held it already; null with the last error set
// when it cannot be had (Open of a mutex nobody holds: ERROR_FILE_NOT_FOUND).
std::shared_ptr<NamedMutex> findOrMake(const std::string& name, Disposition disposition, bool initialOwner,
                                       bool* existed) {
  NamedMutexRegistry& reg = registry();
  std::unique_lock<std::mutex> lock(reg.mutex);
  for (;;) {
    auto it = reg.open.find(name);
    if (it == reg.open.end()) break;
    if (auto object = it->second.lock()) {
      *existed = true;
      return object;
    }
    reg.closed.wait(lock);  // its destructor is still releasing the files
  }

  const std::string base = mutexDirectory() + "/" + encodeName(name);
  Descriptor guard = openLockFile(mutexDirectory() + "/.guard");
  Descriptor ref = openLockFile(base + ".ref");
  Descriptor own = openLockFile(base + ".own");
  if (!guard || !ref || !own || lockFile(guard.get(), LOCK_EX) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  // Under the guard nobody else tests or converts, so the exclusive test and the
  // following shared lock act as one step.
  const bool exists = lockFile(ref.get(), LOCK_EX | LOCK_NB) != 0;
  if (!exists && disposition == Disposition::Open) {
    lockFile(ref.get(), LOCK_UN);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  bool owned = false;
  if (!exists) {
    // A new mutex: whatever a former holder left in the marker is gone with it.
    writeMarker(own.get(), '0');
    // Initial ownership is taken before anyone can see the mutex. A process that is
    // dying may still hold the ownership lock for a moment after its shared lock went.
    if (initialOwner) {
      owned = lockWithin(own.get(), 2000);
      if (!owned) {
        lockFile(ref.get(), LOCK_UN);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
    }
  }
  if (lockFile(ref.get(), LOCK_SH | LOCK_NB) != 0) {
    if (owned) lockFile(own.get(), LOCK_UN);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  guard = Descriptor();  // the shared lock now shows the mutex to others

  auto object = std::make_shared<NamedMutex>(name, std::move(ref), std::move(own));
  reg.open[name] = object;
  *existed = exists;
  if (owned) {
    // The process lock is held already; taking it again is a no-op for flock.
    auto kernel = lockKernel();
    object->tryAcquire(GetCurrentThreadId());
  }
  return object;
}

}  // namespace
}  // namespace platform

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  (void)lpMutexAttributes;
  if (!lpName || !*lpName) {
    auto mutex = std::make_shared<platform::Mutex>();
    if (bInitialOwner) {
      auto kernel = platform::lockKernel();
      mutex->tryAcquire(GetCurrentThreadId());
    }
    HANDLE handle = platform::insertHandle(mutex);
    if (handle) SetLastError(ERROR_SUCCESS);
    return handle;
  }
  bool existed = false;
  auto mutex = platform::findOrMake(lpName, platform::Disposition::Create, bInitialOwner != FALSE, &existed);
  if (!mutex) return nullptr;
  HANDLE handle = platform::insertHandle(mutex);
  if (handle) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE WINAPI OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  (void)dwDesiredAccess;
  (void)bInheritHandle;
  if (!lpName || !*lpName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  auto mutex = platform::findOrMake(lpName, platform::Disposition::Open, false, &existed);
  return mutex ? platform::insertHandle(mutex) : nullptr;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto mutex = platform::objectOf<platform::Mutex>(hMutex);
  if (!mutex) return FALSE;
  auto kernel = platform::lockKernel();
  if (!mutex->release(GetCurrentThreadId())) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
