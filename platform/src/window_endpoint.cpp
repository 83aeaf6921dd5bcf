// The endpoints of GUI threads for other processes: accept with the peer's credentials
// checked, requests read whole off the window threads within a bounded time, answers
// written without blocking them (see window_endpoint.h).
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
  uint64_t id = 0;
  int listenFd = -1;
  RequestSink sink;
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

// Gives a connection's place back; wakes the reader when the endpoint was full.
void giveBack(const std::shared_ptr<EndpointSlot>& slot);

}  // namespace

// One thread per process reads every endpoint's connections. It is never stopped: it
// holds nothing but its own state and the endpoints' sinks, which reach their queues
// through weak references.
class EndpointReader {
 public:
  static EndpointReader& instance() {
    static EndpointReader* reader = new EndpointReader();
    return *reader;
  }

  uint64_t open(int listenFd, RequestSink sink) {
    auto slot = std::make_shared<EndpointSlot>();
    slot->listenFd = listenFd;
    slot->sink = std::move(sink);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      slot->id = nextId_++;
      slots_.push_back(slot);
    }
    wake();
    return slot->id;
  }

  void close(uint64_t id) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      for (auto& s : slots_)
        if (s->id == id) s->closed = true;
    }
    wake();
  }

  void finishWrite(int fd, std::shared_ptr<EndpointSlot> slot, std::vector<char> rest) {
    Writing w;
    w.fd = fd;
    w.slot = std::move(slot);
    w.start = Clock::now();
    w.bytes = std::move(rest);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      handedWrites_.push_back(std::move(w));
    }
    wake();
  }

  void wake() {
    uint64_t one = 1;
    ssize_t n = write(wakeFd_, &one, sizeof one);
    (void)n;
  }

 private:
  EndpointReader() {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::thread([this] { run(); }).detach();
  }

  void drop(int fd, const std::shared_ptr<EndpointSlot>& slot) {
    ::close(fd);
    giveBack(slot);
  }

  // Takes the endpoints' changes and the answers handed over by window threads.
  void refresh() {
    std::vector<std::shared_ptr<EndpointSlot>> closed;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      for (Writing& w : handedWrites_) writing_.push_back(std::move(w));
      handedWrites_.clear();
      auto keep = std::stable_partition(slots_.begin(), slots_.end(), [](const auto& s) { return !s->closed; });
      closed.assign(keep, slots_.end());
      slots_.erase(keep, slots_.end());
      open_ = slots_;
    }
    for (const auto& s : closed) {
      ::close(s->listenFd);
      for (auto it = reading_.begin(); it != reading_.end();) {
        if (it->slot == s) {
          drop(it->fd, it->slot);
          it = reading_.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

  // Peers that have not delivered (or taken) everything in time are cut off.
  int cutOffLate() {
    const auto now = Clock::now();
    const auto limit = std::chrono::milliseconds(g_readLimitMs.load());
    Clock::time_point next = Clock::time_point::max();
    for (auto it = reading_.begin(); it != reading_.end();) {
      if (now - it->start >= limit) {
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

  void acceptFrom(const std::shared_ptr<EndpointSlot>& slot) {
    while (slot->inFlight.load() < kConnectionsPerEndpoint) {
      const int fd = accept4(slot->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      // Another user's process is closed before a byte of it is read.
      if (!peerIsThisUser(fd)) {
        ::close(fd);
        continue;
      }
      slot->inFlight.fetch_add(1);
      Reading r;
      r.fd = fd;
      r.slot = slot;
      r.start = Clock::now();
      reading_.push_back(std::move(r));
    }
  }

  // Reads what the peer has sent so far. True while the request is still coming;
  // false when the connection is done with here (handed on whole, or dropped).
  bool readSome(Reading& r) {
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
      const ssize_t n = want == 0 ? 0 : read(r.fd, into, want);
      if (want != 0 && n < 0 && errno == EINTR) continue;
      if (want != 0 && n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      if (want != 0 && n <= 0) {
        drop(r.fd, r.slot);  // the peer gave up, or broke the connection
        return false;
      }
      if (r.headGot < sizeof r.head) {
        r.headGot += static_cast<size_t>(n);
        if (r.headGot < sizeof r.head) continue;
        memcpy(&r.request, r.head, sizeof r.request);
        if (r.request.magic != kRequestMagic || r.request.cbData > kMaxCopyData) {
          drop(r.fd, r.slot);
          return false;
        }
      } else if (n > 0) {
        r.data.insert(r.data.end(), chunk, chunk + n);
      }
      if (r.data.size() < r.request.cbData) continue;
      IncomingRequest whole(r.fd, r.slot);
      whole.request = r.request;
      whole.data = std::move(r.data);
      r.slot->sink(std::move(whole));  // a request nobody takes closes its connection here
      return false;
    }
  }

  // Writes what the peer takes; false when done (all written, or the peer is gone).
  bool writeSome(Writing& w) {
    while (w.sent < w.bytes.size()) {
      const ssize_t n = send(w.fd, w.bytes.data() + w.sent, w.bytes.size() - w.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
      if (n <= 0) break;
      w.sent += static_cast<size_t>(n);
    }
    drop(w.fd, w.slot);
    return false;
  }

  void run() {
    std::vector<pollfd> fds;
    for (;;) {
      refresh();
      const int timeout = cutOffLate();
      fds.clear();
      fds.push_back({wakeFd_, POLLIN, 0});
      for (const auto& s : open_) {
        const bool room = s->inFlight.load() < kConnectionsPerEndpoint;
        fds.push_back({room ? s->listenFd : -1, POLLIN, 0});
      }
      for (const Reading& r : reading_) fds.push_back({r.fd, POLLIN, 0});
      for (const Writing& w : writing_) fds.push_back({w.fd, POLLOUT, 0});
      const size_t polledReading = reading_.size();
      const int n = poll(fds.data(), fds.size(), timeout);
      if (n < 0) continue;
      if (fds[0].revents & POLLIN) {
        uint64_t v;
        ssize_t got = read(wakeFd_, &v, sizeof v);
        (void)got;
      }
      size_t at = 1;
      for (size_t i = 0; i < open_.size(); ++i, ++at) {
        if (fds[at].fd >= 0 && fds[at].revents != 0) acceptFrom(open_[i]);
      }
      // Connections accepted just now are read at once: their request may be there.
      std::vector<Reading> stillReading;
      for (size_t i = 0; i < reading_.size(); ++i) {
        if (i < polledReading && fds[at + i].revents == 0) {
          stillReading.push_back(std::move(reading_[i]));
        } else if (readSome(reading_[i])) {
          stillReading.push_back(std::move(reading_[i]));
        }
      }
      at += polledReading;
      std::vector<Writing> stillWriting;
      for (size_t i = 0; i < writing_.size(); ++i) {
        if (fds[at + i].revents == 0 || writeSome(writing_[i])) stillWriting.push_back(std::move(writing_[i]));
      }
      reading_ = std::move(stillReading);
      writing_ = std::move(stillWriting);
    }
  }

  std::mutex mutex_;
  int wakeFd_ = -1;
  uint64_t nextId_ = 1;
  std::vector<std::shared_ptr<EndpointSlot>> slots_;  // guarded by mutex_
  std::vector<Writing> handedWrites_;                 // guarded by mutex_
  // The reader thread's own.
  std::vector<std::shared_ptr<EndpointSlot>> open_;
  std::vector<Reading> reading_;
  std::vector<Writing> writing_;
};

namespace {

void giveBack(const std::shared_ptr<EndpointSlot>& slot) {
  if (slot && slot->inFlight.fetch_sub(1) == kConnectionsPerEndpoint) EndpointReader::instance().wake();
}

}  // namespace

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
      bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sent));
      EndpointReader::instance().finishWrite(fd_, std::move(slot_), std::move(bytes));
      fd_ = -1;
      return;
    }
    if (n <= 0) break;  // the peer is gone (a poster does not wait for the answer)
    sent += static_cast<size_t>(n);
  }
  release();
}

uint64_t openEndpoint(const std::string& name, RequestSink sink) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t length = std::min(name.size(), sizeof(addr.sun_path) - 2);
  memcpy(addr.sun_path + 1, name.data(), length);
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, kConnectionsPerEndpoint) != 0) {
    ::close(fd);
    return 0;
  }
  return EndpointReader::instance().open(fd, std::move(sink));
}

void closeEndpoint(uint64_t id) {
  if (id != 0) EndpointReader::instance().close(id);
}

void setEndpointReadLimit(DWORD milliseconds) {
  g_readLimitMs = milliseconds;
  EndpointReader::instance().wake();
}

}  // namespace win
}  // namespace platform
