#include "DocumentBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDFExc.hh>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

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

std::shared_ptr<DocumentInputSource> DocumentInputSource::ofFile(const std::string& path) {
  std::unique_ptr<DocumentBytes> bytes = DocumentBytes::ofFile(path);
  if (!bytes) return nullptr;
  return std::shared_ptr<DocumentInputSource>(new DocumentInputSource(path, std::move(bytes)));
}

// As qpdf's own sources do it: the offset of the next end-of-line byte, with the position
// left behind the run of end-of-line bytes that starts there (the file's end when none).
qpdf_offset_t DocumentInputSource::findAndSkipNextEOL() {
  const qpdf_offset_t end = size();
  auto isEol = [this](qpdf_offset_t at) {
    const int c = bytes_->byteAt(static_cast<size_t>(at));
    if (c < 0) throw QPDFExc(qpdf_e_system, name_, "", at, "the file cannot be read");
    return c == '\r' || c == '\n';
  };
  qpdf_offset_t at = std::max<qpdf_offset_t>(position_, 0);
  while (at < end && !isEol(at)) ++at;
  if (at >= end) {
    last_offset = position_ = end;
    return end;
  }
  position_ = at + 1;
  while (position_ < end && isEol(position_)) ++position_;
  return at;
}

void DocumentInputSource::seek(qpdf_offset_t offset, int whence) {
  const qpdf_offset_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? position_ : size();
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    throw std::logic_error(name_ + ": invalid seek");
  }
  if (offset < 0 && base < -offset) throw std::runtime_error(name_ + ": seek before the beginning of the file");
  position_ = base + offset;
}

size_t DocumentInputSource::read(char* buffer, size_t length) {
  last_offset = position_;
  if (position_ >= size()) return 0;
  const size_t n = std::min(length, static_cast<size_t>(size() - position_));
  if (!bytes_->read(static_cast<size_t>(position_), n, buffer)) {
    throw QPDFExc(qpdf_e_system, name_, "", position_, "the file cannot be read");
  }
  position_ += static_cast<qpdf_offset_t>(n);
  return n;
}

void DocumentInputSource::unreadCh(char) {
  if (position_ == 0) throw std::logic_error(name_ + ": unread at the beginning of the file");
  --position_;
}

}  // namespace vhost
