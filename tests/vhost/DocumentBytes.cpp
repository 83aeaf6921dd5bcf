#include "DocumentBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vhost {

namespace {

// Large enough that a sequential read makes few system calls; small enough to stay in the
// processor's cache while the bytes are handed on, and to come from memory the process
// already has rather than from fresh pages mapped for it.
constexpr size_t kWindow = 32 * 1024;

}  // namespace

std::unique_ptr<DocumentBytes> DocumentBytes::ofFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<DocumentBytes> bytes(new DocumentBytes());
  bytes->fd_ = fd;
  bytes->size_ = static_cast<size_t>(st.st_size);
  // The signed ranges are read from front to back; the kernel may read ahead further.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return bytes;
}

std::unique_ptr<DocumentBytes> DocumentBytes::ofMemory(const std::string& memory) {
  std::unique_ptr<DocumentBytes> bytes(new DocumentBytes());
  bytes->memory_ = &memory;
  bytes->size_ = memory.size();
  return bytes;
}

DocumentBytes::~DocumentBytes() {
  if (fd_ >= 0) ::close(fd_);
}

bool DocumentBytes::fill(size_t at) {
  if (!window_) window_.reset(new char[kWindow]);  // read into, never zeroed
  windowStart_ = at;
  windowLength_ = 0;
  const size_t want = std::min(kWindow, size_ - at);
  while (windowLength_ < want) {
    const ssize_t got = ::pread(fd_, window_.get() + windowLength_, want - windowLength_,
                                static_cast<off_t>(at + windowLength_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    windowLength_ += static_cast<size_t>(got);
  }
  return true;
}

bool DocumentBytes::read(size_t at, size_t n, char* out) {
  if (at > size_ || n > size_ - at) return false;
  if (memory_ != nullptr) {
    std::memcpy(out, memory_->data() + at, n);
    return true;
  }
  while (n > 0) {
    if (at < windowStart_ || at >= windowStart_ + windowLength_) {
      if (!fill(at)) return false;
    }
    const size_t from = at - windowStart_;
    const size_t take = std::min(n, windowLength_ - from);
    std::memcpy(out, window_.get() + from, take);
    out += take;
    at += take;
    n -= take;
  }
  return true;
}

int DocumentBytes::byteAt(size_t at) {
  if (at >= size_) return -1;
  if (memory_ != nullptr) return static_cast<unsigned char>((*memory_)[at]);
  if (at < windowStart_ || at >= windowStart_ + windowLength_) {
    // Backward scans (the words before an end-of-file marker) read the window that ends here.
    const size_t start = at >= kWindow / 2 ? at - kWindow / 2 : 0;
    if (!fill(start) || at >= windowStart_ + windowLength_) return -1;
  }
  return static_cast<unsigned char>(window_[at - windowStart_]);
}

}  // namespace vhost
