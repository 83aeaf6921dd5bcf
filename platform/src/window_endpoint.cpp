// The endpoints of GUI threads for other processes: accept with the peer's credentials
// checked, requests taken only whole and read to their end off the window threads
// within a bounded time, answers written without blocking them (see window_endpoint.h).
#include "window_endpoint.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace win {

namespace {

using Clock = std::chrono::steady_clock;

// Connections of one endpoint being read, waiting for their window thread or being
// answered. Beyond it the endpoint stops accepting: new senders wait in the socket's
// backlog, and find it full (as a receiver that does not ask for messages makes them)
// rather than making this process hold any number of requests.
constexpr int kConnectionsPerEndpoint = 64;

std::atomic<DWORD> g_readLimitMs{2000};

}  // namespace

struct EndpointSlot {
  RequestSink sink;
  std::function<void()> wakeOwner;
  std::atomic<int> inFlight{0};
  std::atomic<bool> closed{false};
};

namespace {

// Whether the peer of a connection runs as this process's user. The credentials are
// those the kernel recorded at connect; the peer cannot choose them.
bool peerIsThisUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred && cred.uid == geteuid();
}

// Gives a connection's place back; wakes the owner when the endpoint was full.
void giveBack(const std::shared_ptr<EndpointSlot>& slot) {
  if (slot && slot->inFlight.fetch_sub(1) == kConnectionsPerEndpoint && slot->wakeOwner) slot->wakeOwner();
}

void drop(int fd, const std::shared_ptr<EndpointSlot>& slot) {
  ::close(fd);
  giveBack(slot);
}

struct Reading {
  int fd = -1;
  std::shared_ptr<EndpointSlot> slot;
  Clock::time_point start;
  unsigned char head[sizeof(WireRequest)] = {};
  size_t headGot = 0;
  WireRequest request{};
  std::vector<unsigned char> data;
};

struct Writing {
  int fd = -1;
  std::shared_ptr<EndpointSlot> slot;
  Clock::time_point start;
  std::vector<char> bytes;
  size_t sent = 0;
};

enum class Progress { More, Done };

// Reads what the peer has sent so far, never waiting. Done when the connection is done
// with here: handed on whole, or dropped (a peer that gave up, broke the connection or
// wrote something that is no request).
Progress readSome(Reading& r) {
  for (;;) {
    size_t want;
    unsigned char* into;
    unsigned char chunk[65536];
    if (r.headGot < sizeof r.head) {
      want = sizeof r.head - r.headGot;
      into = r.head + r.headGot;
    } else {
      want = std::min<size_t>(r.request.cbData - r.data.size(), sizeof chunk);
      into = chunk;
    }
    const ssize_t n = read(r.fd, into, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::More;
    if (n <= 0) {
      drop(r.fd, r.slot);
      return Progress::Done;
    }
    if (r.headGot < sizeof r.head) {
      r.headGot += static_cast<size_t>(n);
      if (r.headGot < sizeof r.head) continue;
      memcpy(&r.request, r.head, sizeof r.request);
      if (r.request.magic != kRequestMagic || r.request.cbData > kMaxCopyData) {
        drop(r.fd, r.slot);
        return Progress::Done;
      }
    } else {
      r.data.insert(r.data.end(), chunk, chunk + n);
    }
    if (r.data.size() < r.request.cbData) continue;
    IncomingRequest whole(r.fd, r.slot);
    whole.request = r.request;
    whole.data = std::move(r.data);
    r.slot->sink(std::move(whole));  // a request nobody takes closes its connection here
    return Progress::Done;
  }
}

// Writes what the peer takes; Done when all is written or the peer is gone.
Progress writeSome(Writing& w) {
  while (w.sent < w.bytes.size()) {
    const ssize_t n = send(w.fd, w.bytes.data() + w.sent, w.bytes.size() - w.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Progress::More;
    if (n <= 0) break;
    w.sent += static_cast<size_t>(n);
  }
  drop(w.fd, w.slot);
  return Progress::Done;
}

// Finishes the requests and answers that did not go through at once. Its thread runs
// only while there are any, so a process that nobody keeps waiting has no thread of
// it. State apart from what is handed over belongs to the one thread running.
class EndpointReader {
 public:
  static EndpointReader& instance() {
    static EndpointReader* reader = new EndpointReader();
    return *reader;
  }

  void handOver(Reading r) {
    std::lock_guard<std::mutex> guard(mutex_);
    handedReads_.push_back(std::move(r));
    startOrWake();
  }

  void handOver(Writing w) {
    std::lock_guard<std::mutex> guard(mutex_);
    handedWrites_.push_back(std::move(w));
    startOrWake();
  }

  void wake() {
    uint64_t one = 1;
    ssize_t n = write(wakeFd_, &one, sizeof one);
    (void)n;
  }

 private:
  EndpointReader() { wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

  void startOrWake() {
    if (running_) {
      wake();
      return;
    }
    running_ = true;
    std::thread([this] { run(); }).detach();
  }

  // Peers that have not delivered (or taken) everything in time, and those of endpoints
  // that closed, are cut off. The time until the next bound runs out, -1 for none.
  int cutOffLate() {
    const auto now = Clock::now();
    const auto limit = std::chrono::milliseconds(g_readLimitMs.load());
    Clock::time_point next = Clock::time_point::max();
    for (auto it = reading_.begin(); it != reading_.end();) {
      if (now - it->start >= limit || it->slot->closed) {
        drop(it->fd, it->slot);
        it = reading_.erase(it);
      } else {
        next = std::min(next, it->start + limit);
        ++it;
      }
    }
    for (auto it = writing_.begin(); it != writing_.end();) {
      if (now - it->start >= limit) {
        drop(it->fd, it->slot);
        it = writing_.erase(it);
      } else {
        next = std::min(next, it->start + limit);
        ++it;
      }
    }
    if (next == Clock::time_point::max()) return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 1 << 30));
  }

  void run() {
    std::vector<pollfd> fds;
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(mutex_);
        for (Reading& r : handedReads_) reading_.push_back(std::move(r));
        for (Writing& w : handedWrites_) writing_.push_back(std::move(w));
        handedReads_.clear();
        handedWrites_.clear();
        if (reading_.empty() && writing_.empty()) {
          running_ = false;
          return;
        }
      }
      const int timeout = cutOffLate();
      fds.clear();
      fds.push_back({wakeFd_, POLLIN, 0});
      for (const Reading& r : reading_) fds.push_back({r.fd, POLLIN, 0});
      for (const Writing& w : writing_) fds.push_back({w.fd, POLLOUT, 0});
      if (fds.size() == 1) continue;
      if (poll(fds.data(), fds.size(), timeout) < 0) continue;
      if (fds[0].revents & POLLIN) {
        uint64_t v;
        ssize_t got = read(wakeFd_, &v, sizeof v);
        (void)got;
      }
      std::vector<Reading> stillReading;
      for (size_t i = 0; i < reading_.size(); ++i) {
        if (fds[1 + i].revents == 0 || readSome(reading_[i]) == Progress::More) {
          stillReading.push_back(std::move(reading_[i]));
        }
      }
      std::vector<Writing> stillWriting;
      const size_t at = 1 + reading_.size();
      for (size_t i = 0; i < writing_.size(); ++i) {
        if (fds[at + i].revents == 0 || writeSome(writing_[i]) == Progress::More) {
          stillWriting.push_back(std::move(writing_[i]));
        }
      }
      reading_ = std::move(stillReading);
      writing_ = std::move(stillWriting);
    }
  }

  std::mutex mutex_;
  int wakeFd_ = -1;
  bool running_ = false;               // guarded by mutex_
  std::vector<Reading> handedReads_;   // guarded by mutex_
  std::vector<Writing> handedWrites_;  // guarded by mutex_
  // The running thread's own.
  std::vector<Reading> reading_;
  std::vector<Writing> writing_;
};

}  // namespace

Endpoint::Endpoint(const std::string& name, RequestSink sink, std::function<void()> wakeOwner)
    : slot_(std::make_shared<EndpointSlot>()) {
  slot_->sink = std::move(sink);
  slot_->wakeOwner = std::move(wakeOwner);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t length = std::min(name.size(), sizeof(addr.sun_path) - 2);
  memcpy(addr.sun_path + 1, name.data(), length);
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, kConnectionsPerEndpoint) != 0) {
    ::close(fd);
    return;
  }
  listenFd_ = fd;
}

Endpoint::~Endpoint() {
  slot_->closed = true;
  if (listenFd_ >= 0) ::close(listenFd_);
}

bool Endpoint::hasRoom() const { return slot_->inFlight.load() < kConnectionsPerEndpoint; }

void Endpoint::acceptWaiting() {
  while (listenFd_ >= 0 && hasRoom()) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    // Another user's process is closed before a byte of it is read.
    if (!peerIsThisUser(fd)) {
      ::close(fd);
      continue;
    }
    slot_->inFlight.fetch_add(1);
    Reading r;
    r.fd = fd;
    r.slot = slot_;
    r.start = Clock::now();
    if (readSome(r) == Progress::More) EndpointReader::instance().handOver(std::move(r));
  }
}

IncomingRequest::IncomingRequest(int fd, std::shared_ptr<EndpointSlot> slot) : fd_(fd), slot_(std::move(slot)) {}

IncomingRequest::~IncomingRequest() { release(); }

IncomingRequest::IncomingRequest(IncomingRequest&& other) noexcept
    : request(other.request), data(std::move(other.data)), fd_(other.fd_), slot_(std::move(other.slot_)) {
  other.fd_ = -1;
}

IncomingRequest& IncomingRequest::operator=(IncomingRequest&& other) noexcept {
  if (this != &other) {
    release();
    request = other.request;
    data = std::move(other.data);
    fd_ = other.fd_;
    slot_ = std::move(other.slot_);
    other.fd_ = -1;
  }
  return *this;
}

void IncomingRequest::release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    giveBack(slot_);
  }
  slot_.reset();
}

void IncomingRequest::answer(const WireReply& reply, const std::vector<char>& extra) {
  if (fd_ < 0) return;
  const char* head = reinterpret_cast<const char*>(&reply);
  std::vector<char> bytes(head, head + sizeof reply);
  bytes.insert(bytes.end(), extra.begin(), extra.end());
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The rest goes out from the reader thread; the connection's place goes with it.
      Writing w;
      w.fd = fd_;
      w.slot = std::move(slot_);
      w.start = Clock::now();
      w.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(sent), bytes.end());
      EndpointReader::instance().handOver(std::move(w));
      fd_ = -1;
      return;
    }
    if (n <= 0) break;  // the peer is gone (a poster does not wait for the answer)
    sent += static_cast<size_t>(n);
  }
  release();
}

void setEndpointReadLimit(DWORD milliseconds) {
  g_readLimitMs = milliseconds;
  EndpointReader::instance().wake();
}

}  // namespace win
}  // namespace platform
