#include "registry_store.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unordered_map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/machine.h"
#include "winerror.h"

namespace platform::registry {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (it can report a failed write-back).
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Far above any real hive; a larger file is refused instead of read into memory,
// and a change that would grow a hive beyond it is refused before it is written.
constexpr off_t kMaxHiveSize = 256 * 1024 * 1024;

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

int64_t nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

int64_t now() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return nanoseconds(t);
}

// What stat tells of a hive file. Every commit makes a new file, so a changed hive
// shows a new identity, size or time.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;

  explicit FileStamp(const struct stat& st)
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(nanoseconds(st.st_mtim)),
        changed(nanoseconds(st.st_ctim)) {}
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified == o.modified &&
           changed == o.changed;
  }
};

// File times come from a clock that advances in ticks of up to 10 ms, and a freed
// inode number is soon given to the next new file: two versions of a hive written
// within one tick can look alike to stat. A hive whose times lie this far before the
// moment it was read cannot be followed by a look-alike (anything written later
// carries a later time); until then it is confirmed by its bytes.
constexpr int64_t kSettleNanoseconds = 50 * 1000000;

bool settled(const FileStamp& stamp, int64_t readAt) {
  return stamp.modified < readAt - kSettleNanoseconds && stamp.changed < readAt - kSettleNanoseconds;
}

// The parsed hives of this process, by file path.
struct CachedHive {
  std::shared_ptr<const Key> root;
  FileStamp stamp;
  // The file's bytes while it is not settled; null once it is.
  std::shared_ptr<const std::vector<uint8_t>> bytes;
};

class HiveCache {
 public:
  // The cached hive when the file still has this stamp and needs no byte comparison.
  std::shared_ptr<const Key> settledHive(const std::string& path, const FileStamp& stamp) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hives_.find(path);
    if (it == hives_.end() || it->second.bytes || !(it->second.stamp == stamp)) return nullptr;
    return it->second.root;
  }
  // The cached hive when its file held exactly these bytes.
  std::shared_ptr<const Key> hiveWithBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hives_.find(path);
    if (it == hives_.end() || !it->second.bytes || *it->second.bytes != bytes) return nullptr;
    return it->second.root;
  }
  void store(const std::string& path, CachedHive hive) {
    std::lock_guard<std::mutex> lock(mutex_);
    hives_.insert_or_assign(path, std::move(hive));
  }
  void forget(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    hives_.erase(path);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, CachedHive> hives_;
};

HiveCache& hiveCache() {
  static HiveCache cache;
  return cache;
}

const std::shared_ptr<const Key>& emptyHive() {
  static const std::shared_ptr<const Key> empty = std::make_shared<Key>();
  return empty;
}

}  // namespace

LONG HiveFile::read(std::shared_ptr<const Key>& root) const {
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (auto cached = hiveCache().settledHive(path_, FileStamp(st))) {
      root = std::move(cached);
      return ERROR_SUCCESS;
    }
  }

  const int64_t readAt = now();
  FileDescriptor fd(openRetrying(path_.c_str(), O_RDONLY));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      root = emptyHive();
      return ERROR_SUCCESS;
    }
    return ERROR_CANTREAD;
  }
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_CANTREAD;
  if (st.st_size > kMaxHiveSize) return ERROR_REGISTRY_CORRUPT;
  // The file never changes in place, so its size is final; read until end anyway.
  auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(st.st_size));
  size_t filled = 0;
  for (;;) {
    if (filled == bytes->size()) bytes->resize(filled + 65536);
    ssize_t n = ::read(fd.get(), bytes->data() + filled, bytes->size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ERROR_CANTREAD;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
    if (filled > static_cast<size_t>(kMaxHiveSize)) return ERROR_REGISTRY_CORRUPT;
  }
  bytes->resize(filled);

  const FileStamp stamp(st);
  std::shared_ptr<const Key> parsed = hiveCache().hiveWithBytes(path_, *bytes);
  if (!parsed) {
    auto fresh = std::make_shared<Key>();
    if (!parseHive(bytes->data(), bytes->size(), *fresh)) return ERROR_REGISTRY_CORRUPT;
    parsed = std::move(fresh);
  }
  const bool confirmed = settled(stamp, readAt);
  hiveCache().store(path_, CachedHive{parsed, stamp, confirmed ? nullptr : std::move(bytes)});
  root = std::move(parsed);
  return ERROR_SUCCESS;
}

LONG HiveFile::update(const Change& change) const {
  if (!makeDirectories(directoryOf(path_))) return ERROR_CANTWRITE;
  FileDescriptor lock(openRetrying(lockPath_.c_str(), O_RDWR | O_CREAT, 0644));
  if (!lock.valid()) return ERROR_CANTWRITE;
  int r;
  do {
    r = flock(lock.get(), LOCK_EX);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return ERROR_CANTWRITE;

  std::shared_ptr<const Key> current;
  // A damaged hive is never overwritten: what it still holds may be recoverable.
  if (LONG status = read(current); status != ERROR_SUCCESS) return status;
  // The change works on a hive of its own. Out of the cache, nobody can pick up the
  // current one any more; when no reader still holds it, it is taken over instead of
  // copied (every cached hive is made as a mutable Key, see read and commit).
  hiveCache().forget(path_);
  Key root = current.use_count() == 1 ? std::move(const_cast<Key&>(*current)) : Key(*current);
  current.reset();
  bool changed = false;
  // Without a commit the cache stays empty: the change may have altered the hive it was given.
  if (LONG status = change(root, changed); status != ERROR_SUCCESS || !changed) return status;
  return commit(std::move(root));
  // The lock goes with the descriptor.
}

LONG HiveFile::commit(Key root) const {
  auto bytes = std::make_shared<const std::vector<uint8_t>>(serializeHive(root));
  if (bytes->size() > static_cast<size_t>(kMaxHiveSize)) return ERROR_OUTOFMEMORY;
  const std::string temp = path_ + ".new";
  FileDescriptor out(openRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!out.valid()) return ERROR_CANTWRITE;
  if (!writeAll(out.get(), bytes->data(), bytes->size()) || fsync(out.get()) != 0 || !out.close() ||
      ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  // What was committed is the hive now, so the next call in this process need not
  // parse it. Its stamp is taken after the rename, which sets the change time; no
  // other writer can replace the file while this one holds the lock.
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0)
    hiveCache().store(path_, CachedHive{std::make_shared<Key>(std::move(root)), FileStamp(st), bytes});
  else
    hiveCache().forget(path_);
  // Make the rename itself durable.
  FileDescriptor dir(openRetrying(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.valid()) fsync(dir.get());
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
