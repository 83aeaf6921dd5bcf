#include "registry_store.h"

#include <cerrno>
#include <fcntl.h>
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

}  // namespace

LONG HiveFile::read(Key& root) const {
  FileDescriptor fd(openRetrying(path_.c_str(), O_RDONLY));
  if (!fd.valid()) {
    if (errno == ENOENT) {
      root = Key();
      return ERROR_SUCCESS;
    }
    return ERROR_CANTREAD;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_CANTREAD;
  if (st.st_size > kMaxHiveSize) return ERROR_REGISTRY_CORRUPT;
  // The file never changes in place, so its size is final; read until end anyway.
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ERROR_CANTREAD;
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.size() > static_cast<size_t>(kMaxHiveSize)) return ERROR_REGISTRY_CORRUPT;
  }
  return parseHive(bytes.data(), bytes.size(), root) ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

LONG HiveFile::update(const Change& change) const {
  if (!makeDirectories(directoryOf(path_))) return ERROR_CANTWRITE;
  FileDescriptor lock(openRetrying((path_ + ".lock").c_str(), O_RDWR | O_CREAT, 0644));
  if (!lock.valid()) return ERROR_CANTWRITE;
  int r;
  do {
    r = flock(lock.get(), LOCK_EX);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return ERROR_CANTWRITE;

  Key root;
  // A damaged hive is never overwritten: what it still holds may be recoverable.
  if (LONG status = read(root); status != ERROR_SUCCESS) return status;
  bool changed = false;
  if (LONG status = change(root, changed); status != ERROR_SUCCESS || !changed) return status;
  return commit(root);
  // The lock goes with the descriptor.
}

LONG HiveFile::commit(const Key& root) const {
  const std::vector<uint8_t> bytes = serializeHive(root);
  if (bytes.size() > static_cast<size_t>(kMaxHiveSize)) return ERROR_OUTOFMEMORY;
  const std::string temp = path_ + ".new";
  FileDescriptor out(openRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!out.valid()) return ERROR_CANTWRITE;
  if (!writeAll(out.get(), bytes.data(), bytes.size()) || fsync(out.get()) != 0 || !out.close() ||
      ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  // Make the rename itself durable.
  FileDescriptor dir(openRetrying(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY));
  if (dir.valid()) fsync(dir.get());
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
