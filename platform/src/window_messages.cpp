// Per-thread message queues: posted and sent messages, the message waits, WM_QUIT,
// WM_PAINT, accelerators, and sent messages that cross to another thread or process.
//
// A thread's queue wakes through an eventfd. Each GUI thread also has an endpoint
// for other processes of the same user (window_endpoint.h); another process sends a
// message by connecting, writing one request (for WM_COPYDATA with its data bytes) and
// waiting for the answer. The request is read whole by the endpoint's reader before the
// thread sees it. Sent messages, from other threads and other processes, are handled by
// the owning thread inside its message waits (GetMessage, PeekMessage, and its own
// sends), before its posted messages; they never appear as a MSG. No signals are used.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/handles.h"
#include "platform/waitpoint.h"
#include "platform/window_test.h"
#include "window_endpoint.h"
#include "window_internal.h"
#include "window_marshal.h"

namespace platform {
namespace win {

namespace {

class ThreadQueue;

struct SendState {
  std::mutex mutex;
  bool done = false;
  bool abandoned = false;  // the receiving thread ended without handling it
  LRESULT result = 0;
  std::weak_ptr<ThreadQueue> sender;
};

struct PendingSend {
  HWND hwnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool copyData = false;
  ULONG_PTR dwData = 0;
  std::vector<unsigned char> data;
  std::shared_ptr<SendState> state;
};

class ThreadQueue {
 public:
  explicit ThreadQueue(DWORD tid) : tid_(tid) { eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
  ~ThreadQueue() {
    endpoint_.reset();
    if (eventFd_ >= 0) close(eventFd_);
  }

  // Opens the thread's endpoint; requests of other processes join the queue whole.
  static void listen(const std::shared_ptr<ThreadQueue>& queue) {
    std::weak_ptr<ThreadQueue> weak = queue;
    auto sink = [weak](IncomingRequest&& request) {
      auto q = weak.lock();
      if (!q) return false;
      {
        std::lock_guard<std::mutex> guard(q->mutex_);
        if (!q->alive_) return false;
        q->incoming_.push_back(std::move(request));
      }
      q->wake();
      return true;
    };
    auto wakeOwner = [weak] {
      if (auto q = weak.lock()) q->wake();
    };
    queue->endpoint_ =
        std::make_unique<Endpoint>(endpointName(static_cast<uint32_t>(getpid()), queue->tid_), sink, wakeOwner);
    if (queue->endpoint_->fd() < 0) queue->endpoint_.reset();
  }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  void wake() {
    uint64_t one = 1;
    ssize_t n = write(eventFd_, &one, sizeof one);
    (void)n;
  }
  void drain() {
    uint64_t v;
    ssize_t n = read(eventFd_, &v, sizeof v);
    (void)n;
  }

  DWORD tid_;
  int eventFd_ = -1;
  std::unique_ptr<Endpoint> endpoint_;  // the owner's thread's alone, until the queue retires
  std::mutex mutex_;
  std::deque<MSG> posted_;
  std::deque<PendingSend> sent_;
  std::deque<IncomingRequest> incoming_;  // from other processes, read whole
  bool quit_ = false;
  int quitCode_ = 0;
  bool alive_ = true;
};

std::mutex g_queuesMutex;
std::map<DWORD, std::shared_ptr<ThreadQueue>>& queues() {
  static auto* q = new std::map<DWORD, std::shared_ptr<ThreadQueue>>();
  return *q;
}

std::atomic<DWORD> g_hungThreshold{5000};
std::atomic<int> g_failGetMessage{0};
thread_local int t_inSend = 0;

void retireQueue(const std::shared_ptr<ThreadQueue>& queue);

// Tells the window layer that its thread ended before the thread's handle becomes
// signalled, so that whoever waits for the thread finds its windows gone.
class QueueOwnership : public Waitable {
 public:
  explicit QueueOwnership(std::weak_ptr<ThreadQueue> queue) : queue_(std::move(queue)) {}
  Acquire tryAcquire(DWORD) override { return Acquire::NotSignalled; }
  void undoAcquire(DWORD) override {}
  void ownerThreadEnded(DWORD) override {
    if (auto q = queue_.lock()) retireQueue(q);
  }
  void track() {
    auto lock = lockKernel();
    trackOwnership();
  }

 private:
  std::weak_ptr<ThreadQueue> queue_;
};

void retireQueue(const std::shared_ptr<ThreadQueue>& queue) {
  const DWORD tid = queue->tid_;
  std::unique_ptr<Endpoint> endpoint;
  std::deque<IncomingRequest> unanswered;
  {
    std::lock_guard<std::mutex> guard(g_queuesMutex);
    auto it = queues().find(tid);
    if (it != queues().end() && it->second == queue) queues().erase(it);
  }
  {
    std::lock_guard<std::mutex> guard(queue->mutex_);
    queue->alive_ = false;
    // Senders still waiting learn that nobody will answer.
    for (PendingSend& p : queue->sent_) {
      std::lock_guard<std::mutex> g(p.state->mutex);
      p.state->done = true;
      p.state->abandoned = true;
      if (auto s = p.state->sender.lock()) s->wake();
    }
    queue->sent_.clear();
    endpoint.swap(queue->endpoint_);
    unanswered.swap(queue->incoming_);
  }
  endpoint.reset();
  unanswered.clear();  // their senders learn at once that nobody will answer
  dropThreadWindows(tid);
}

struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  std::shared_ptr<QueueOwnership> ownership;
  ~QueueHolder() {
    if (queue) retireQueue(queue);
  }
};
thread_local QueueHolder t_queue;

std::shared_ptr<ThreadQueue> myQueue() {
  if (!t_queue.queue) {
    auto q = std::make_shared<ThreadQueue>(GetCurrentThreadId());
    ThreadQueue::listen(q);
    {
      std::lock_guard<std::mutex> guard(g_queuesMutex);
      queues()[q->tid_] = q;
    }
    t_queue.queue = q;
    t_queue.ownership = std::make_shared<QueueOwnership>(q);
    t_queue.ownership->track();
    markAsking(false);
  }
  return t_queue.queue;
}

std::shared_ptr<ThreadQueue> queueOf(DWORD tid) {
  std::lock_guard<std::mutex> guard(g_queuesMutex);
  auto it = queues().find(tid);
  return it == queues().end() ? nullptr : it->second;
}

// The kinds of request sent to another process (the wire format is in window_endpoint.h).
enum : uint32_t { kSend = 1, kPost = 2 };

// What travels with a message whose parameters point at data: the data itself.
enum : uint32_t { kNoPayload = 0, kCopyData = 1, kTextIn = 2, kTextOut = 3, kWindowPos = 4 };

// SetWindowPos on a window of another process: carried out by the window's own thread.
// Never handed to a window procedure.
constexpr UINT kSetWindowPosRequest = 0x03F0;
struct WireWindowPos {
  int32_t x, y, cx, cy;
  uint32_t flags;
};

// What travels after the request for a message (the layer's own SetWindowPos request aside).
uint32_t payloadOf(UINT msg) {
  switch (carriageOf(msg)) {
    case Carriage::CopyData:
      return kCopyData;
    case Carriage::TextIn:
      return kTextIn;
    case Carriage::TextOut:
      return kTextOut;
    default:
      return kNoPayload;
  }
}

// The receiver's rule: whatever the sender wrote, a message reaches a window procedure
// only when its parameters are values or what the layer copied for it.
bool mayDeliver(HWND hwnd, const WireRequest& req) {
  if (req.msg == kSetWindowPosRequest) return req.kind == kSend && req.payload == kWindowPos;
  if (req.payload != payloadOf(req.msg)) return false;
  WNDPROC classProc = nullptr;
  {
    auto lock = lockWindows();
    Window* w = findLocal(hwnd);
    if (w == nullptr) return false;
    classProc = w->cls ? w->cls->proc : nullptr;
  }
  return crossesToWindow(classProc, req.msg, req.kind == kPost, static_cast<LPARAM>(req.lParam));
}

// Reads exactly `size` bytes from a non-blocking socket, all of them by the deadline.
bool readWithin(int fd, void* buffer, size_t size, std::chrono::steady_clock::time_point deadline) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
  }
  return true;
}

bool writeAll(int fd, const void* buffer, size_t size) {
  auto* p = static_cast<const unsigned char*>(buffer);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ownedByThisThread(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  return w != nullptr && w->threadId == GetCurrentThreadId();
}

LRESULT deliverSent(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool copyData, ULONG_PTR dwData,
                    std::vector<unsigned char>& data) {
  ++t_inSend;
  LRESULT result;
  if (copyData) {
    // The receiver's own copy of the data, freed when the procedure has returned.
    COPYDATASTRUCT cds{};
    cds.dwData = dwData;
    cds.cbData = static_cast<DWORD>(data.size());
    cds.lpData = data.empty() ? nullptr : data.data();
    result = callProcedure(hwnd, msg, wParam, reinterpret_cast<LPARAM>(&cds));
  } else {
    result = callProcedure(hwnd, msg, wParam, lParam);
  }
  --t_inSend;
  return result;
}

// Handles a request of another process, read whole. The request closes its connection
// on every way out, a stop of the thread included, so that the sender learns at once
// that no answer comes.
void handleRequest(IncomingRequest incoming) {
  const WireRequest& req = incoming.request;
  std::vector<unsigned char>& data = incoming.data;
  WireReply reply{kReplyMagic, 0, 0, 0, 0};
  const HWND hwnd = toHandle(req.hwnd);
  std::vector<char> textOut;
  if (!ownedByThisThread(hwnd)) {
    reply.status = 1;
  } else if (!mayDeliver(hwnd, req)) {
    reply.status = 2;  // an address of another process, or a payload that does not fit the message
  } else if (req.kind == kPost) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = req.msg;
    m.wParam = static_cast<WPARAM>(req.wParam);
    m.lParam = static_cast<LPARAM>(req.lParam);
    m.time = GetTickCount();
    postLocal(GetCurrentThreadId(), m);
  } else if (req.msg == kSetWindowPosRequest) {
    WireWindowPos pos{};
    if (data.size() != sizeof pos) {
      reply.status = 2;
    } else {
      memcpy(&pos, data.data(), sizeof pos);
      const HWND after = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int64_t>(req.wParam)));
      reply.result = SetWindowPos(hwnd, after, pos.x, pos.y, pos.cx, pos.cy, pos.flags);
    }
  } else if (req.payload == kTextIn) {
    data.push_back(0);  // terminated whatever the sender wrote
    ++t_inSend;
    reply.result = callProcedure(hwnd, req.msg, static_cast<WPARAM>(req.wParam), reinterpret_cast<LPARAM>(data.data()));
    --t_inSend;
  } else if (req.payload == kTextOut) {
    const size_t capacity = static_cast<size_t>(std::min<uint64_t>(req.wParam, kMaxCopyData));
    textOut.assign(capacity + 1, '\0');
    ++t_inSend;
    reply.result = callProcedure(hwnd, req.msg, capacity, reinterpret_cast<LPARAM>(textOut.data()));
    --t_inSend;
    textOut.resize(capacity == 0 ? 0 : strnlen(textOut.data(), capacity - 1) + 1);
    reply.extra = static_cast<uint32_t>(textOut.size());
  } else {
    reply.result = deliverSent(hwnd, req.msg, static_cast<WPARAM>(req.wParam), static_cast<LPARAM>(req.lParam),
                               req.payload == kCopyData, static_cast<ULONG_PTR>(req.dwData), data);
  }
  incoming.answer(reply, textOut);
}

// Answers a sender of this process on every way out: with the result, or as abandoned
// when the thread is stopped while the procedure runs.
class SendAnswer {
 public:
  explicit SendAnswer(std::shared_ptr<SendState> state) : state_(std::move(state)) {}
  ~SendAnswer() {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->done = true;
    state_->abandoned = !answered_;
    state_->result = result_;
    if (auto s = state_->sender.lock()) s->wake();
  }
  SendAnswer(const SendAnswer&) = delete;
  SendAnswer& operator=(const SendAnswer&) = delete;
  void set(LRESULT result) {
    result_ = result;
    answered_ = true;
  }

 private:
  std::shared_ptr<SendState> state_;
  LRESULT result_ = 0;
  bool answered_ = false;
};

// Handles every sent message waiting for the calling thread. True when one was handled.
bool processSent(ThreadQueue& q) {
  bool any = false;
  for (;;) {
    PendingSend p;
    {
      std::lock_guard<std::mutex> guard(q.mutex_);
      if (q.sent_.empty()) break;
      p = std::move(q.sent_.front());
      q.sent_.pop_front();
    }
    SendAnswer answer(p.state);
    answer.set(deliverSent(p.hwnd, p.msg, p.wParam, p.lParam, p.copyData, p.dwData, p.data));
    any = true;
  }
  // Requests of other processes: those that are there whole now, and those the reader
  // has finished meanwhile.
  if (q.endpoint_) q.endpoint_->acceptWaiting();
  for (;;) {
    IncomingRequest incoming;
    {
      std::lock_guard<std::mutex> guard(q.mutex_);
      if (q.incoming_.empty()) break;
      incoming = std::move(q.incoming_.front());
      q.incoming_.pop_front();
    }
    handleRequest(std::move(incoming));
    any = true;
  }
  return any;
}

// Blocks until something may have arrived for the thread, or the time is up.
// A wait point: a pending stop of the thread ends it here.
void waitForWork(ThreadQueue& q, int timeoutMs, int extraFd = -1) {
  platform::waitPoint();
  StopWakeHook hook([&q] { q.wake(); });
  markAsking(true);
  const int listenFd = q.endpoint_ && q.endpoint_->hasRoom() ? q.endpoint_->fd() : -1;
  pollfd fds[3] = {{q.eventFd_, POLLIN, 0}, {listenFd, POLLIN, 0}, {extraFd, POLLIN, 0}};
  const nfds_t n = extraFd >= 0 ? 3 : 2;
  int r = poll(fds, n, timeoutMs);
  if (r > 0 && (fds[0].revents & POLLIN)) q.drain();
  markAsking(false);
  platform::waitPoint();
}

bool matches(const MSG& m, HWND hwnd, UINT minMsg, UINT maxMsg) {
  if (minMsg != 0 || maxMsg != 0) {
    if (m.message < minMsg || m.message > maxMsg) return false;
  }
  if (hwnd == reinterpret_cast<HWND>(-1)) return m.hwnd == nullptr;
  if (hwnd == nullptr) return true;
  return m.hwnd == hwnd || IsChild(hwnd, m.hwnd);
}

bool takePosted(ThreadQueue& q, LPMSG out, HWND hwnd, UINT minMsg, UINT maxMsg, bool remove) {
  std::lock_guard<std::mutex> guard(q.mutex_);
  for (auto it = q.posted_.begin(); it != q.posted_.end(); ++it) {
    if (!matches(*it, hwnd, minMsg, maxMsg)) continue;
    *out = *it;
    if (remove) q.posted_.erase(it);
    return true;
  }
  if (q.quit_) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(q.quitCode_);
    out->time = GetTickCount();
    if (remove) q.quit_ = false;
    return true;
  }
  return false;
}

// WM_PAINT for a visible window of the thread that needs painting, once the queue is empty.
bool takePaint(LPMSG out, HWND hwnd, UINT minMsg, UINT maxMsg) {
  if ((minMsg != 0 || maxMsg != 0) && (WM_PAINT < minMsg || WM_PAINT > maxMsg)) return false;
  std::vector<HWND> mine = wintest::threadWindows(GetCurrentThreadId());
  for (HWND h : mine) {
    if (hwnd != nullptr && h != hwnd && !IsChild(hwnd, h)) continue;
    auto lock = lockWindows();
    Window* w = findLocal(h);
    if (w == nullptr || !w->updatePending) continue;
    lock.unlock();
    if (!IsWindowVisible(h)) continue;
    *out = MSG{};
    out->hwnd = h;
    out->message = WM_PAINT;
    out->time = GetTickCount();
    return true;
  }
  return false;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), 1 << 30)));
}

// Sends to a thread of this process and waits, handling the caller's own sent messages.
// False on time-out or when the receiving thread ended.
bool sendToThread(DWORD tid, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* result) {
  auto target = queueOf(tid);
  auto me = myQueue();
  if (!target) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  auto state = std::make_shared<SendState>();
  state->sender = me;
  PendingSend p;
  p.hwnd = hwnd;
  p.msg = msg;
  p.wParam = wParam;
  p.lParam = lParam;
  p.state = state;
  if (msg == WM_COPYDATA && lParam != 0) {
    // A copy, so that a sender that gave up may free its data.
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    p.copyData = true;
    p.dwData = cds->dwData;
    if (cds->lpData != nullptr && cds->cbData > 0) {
      const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
      p.data.assign(bytes, bytes + cds->cbData);
    }
  }
  {
    std::lock_guard<std::mutex> guard(target->mutex_);
    if (!target->alive_) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    target->sent_.push_back(std::move(p));
  }
  target->wake();
  const auto deadline = timeoutMs == INFINITE ? std::chrono::steady_clock::time_point::max()
                                              : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    processSent(*me);
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      if (state->done) {
        if (state->abandoned) {
          SetLastError(ERROR_INVALID_WINDOW_HANDLE);
          return false;
        }
        *result = state->result;
        return true;
      }
    }
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    waitForWork(*me, timeoutMs == INFINITE ? -1 : std::max(1, remainingMs(deadline)));
  }
}

// Sends to another process's window and waits for the answer.
bool sendToProcess(const RegistryEntry& e, uint32_t kind, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                   DWORD timeoutMs, LRESULT* result) {
  // What the receiver would refuse is refused here already, with the platform's codes.
  if (msg == kSetWindowPosRequest ? kind != kSend : !crossesToClass(e.className, msg, kind == kPost, lParam)) {
    SetLastError(kind == kPost ? ERROR_MESSAGE_SYNC_ONLY : ERROR_ACCESS_DENIED);
    return false;
  }
  auto me = myQueue();
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string name = endpointName(e.pid, e.tid);
  memcpy(addr.sun_path + 1, name.data(), std::min(name.size(), sizeof(addr.sun_path) - 2));
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    // A full backlog (a receiver that stopped asking for messages) is not waited for.
    const bool full = errno == EAGAIN;
    close(fd);
    SetLastError(full ? (kind == kPost ? ERROR_NOT_ENOUGH_QUOTA : ERROR_TIMEOUT) : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  // Anyone may bind an abstract name first: the message goes only to the window's own
  // process, and only when it runs as this user.
  ucred listener{};
  socklen_t credLength = sizeof listener;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &listener, &credLength) != 0 || credLength != sizeof listener ||
      listener.uid != geteuid() || static_cast<uint32_t>(listener.pid) != e.pid) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  WireRequest req{};
  req.magic = kRequestMagic;
  req.kind = kind;
  req.hwnd = toId(hwnd);
  req.msg = msg;
  req.wParam = wParam;
  req.lParam = static_cast<uint64_t>(lParam);
  const unsigned char* bytes = nullptr;
  req.payload = payloadOf(msg);
  if (req.payload != kNoPayload && lParam == 0) {
    close(fd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (msg == kSetWindowPosRequest) {
    // wParam is the window to go behind (HWND_TOPMOST is -1 in every word size), lParam
    // points at the position and the flags.
    req.payload = kWindowPos;
    req.cbData = sizeof(WireWindowPos);
    bytes = reinterpret_cast<const unsigned char*>(lParam);
    req.wParam = static_cast<uint64_t>(static_cast<int64_t>(static_cast<intptr_t>(wParam)));
  } else if (req.payload == kCopyData) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    req.dwData = cds->dwData;
    req.cbData = cds->lpData != nullptr ? cds->cbData : 0;
    bytes = static_cast<const unsigned char*>(cds->lpData);
  } else if (req.payload == kTextIn) {
    bytes = reinterpret_cast<const unsigned char*>(lParam);
    req.cbData = static_cast<uint32_t>(std::min<size_t>(strlen(reinterpret_cast<const char*>(lParam)) + 1, kMaxCopyData + 1));
  }
  if (req.payload != kNoPayload) req.lParam = 0;
  if (req.cbData > kMaxCopyData) {
    close(fd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const auto deadline = timeoutMs == INFINITE ? std::chrono::steady_clock::time_point::max()
                                              : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  if (timeoutMs != INFINITE) {
    timeval tv{static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>((timeoutMs % 1000) * 1000)};
    if (timeoutMs == 0) tv.tv_usec = 1000;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  if (!writeAll(fd, &req, sizeof req) || (req.cbData > 0 && !writeAll(fd, bytes, req.cbData))) {
    close(fd);
    SetLastError(errno == EAGAIN || errno == EWOULDBLOCK ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (kind == kPost) {
    // A posted message waits in the socket until the receiver next asks for messages;
    // the poster does not wait for it, as on Windows.
    close(fd);
    return true;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  WireReply reply{};
  size_t got = 0;
  for (;;) {
    ssize_t n = read(fd, reinterpret_cast<unsigned char*>(&reply) + got, sizeof reply - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      if (got == sizeof reply) break;
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // The receiver ended without answering.
      close(fd);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    processSent(*me);
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    waitForWork(*me, timeoutMs == INFINITE ? -1 : std::max(1, remainingMs(deadline)), fd);
  }
  if (reply.magic != kReplyMagic || reply.status != 0) {
    close(fd);
    SetLastError(reply.status == 2 ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (req.payload == kTextOut && reply.extra > 0) {
    // The text follows the answer at once, and is never longer than the buffer asked for.
    if (reply.extra > wParam) {
      close(fd);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    std::vector<char> text(reply.extra);
    const auto textDeadline = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(2));
    if (!readWithin(fd, text.data(), text.size(), textDeadline) || wParam == 0) {
      close(fd);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    const size_t n = std::min(text.size(), static_cast<size_t>(wParam));
    memcpy(reinterpret_cast<char*>(lParam), text.data(), n);
    reinterpret_cast<char*>(lParam)[n - 1] = '\0';
  }
  close(fd);
  *result = static_cast<LRESULT>(reply.result);
  return true;
}

// Where a window lives: 0 = gone, 1 = this thread, 2 = another thread here, 3 = another process.
int locate(HWND hwnd, DWORD* tid, RegistryEntry* entry) {
  {
    auto lock = lockWindows();
    if (Window* w = findLocal(hwnd)) {
      *tid = w->threadId;
      return w->threadId == GetCurrentThreadId() ? 1 : 2;
    }
  }
  if (lookupWindow(toId(hwnd), entry)) {
    if (entry->pid == static_cast<uint32_t>(getpid())) return 0;  // ours, but already gone
    *tid = entry->tid;
    return 3;
  }
  return 0;
}

bool sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, DWORD timeoutMs, LRESULT* result) {
  if (msg == kSetWindowPosRequest) {  // the layer's own, never the caller's
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  DWORD tid = 0;
  RegistryEntry entry;
  switch (locate(hwnd, &tid, &entry)) {
    case 1:
      *result = callProcedure(hwnd, msg, wParam, lParam);
      return true;
    case 2:
      if ((flags & SMTO_ABORTIFHUNG) && threadHung(static_cast<uint32_t>(getpid()), tid, g_hungThreshold)) {
        SetLastError(ERROR_TIMEOUT);
        return false;
      }
      return sendToThread(tid, hwnd, msg, wParam, lParam, timeoutMs, result);
    case 3:
      if ((flags & SMTO_ABORTIFHUNG) && threadHung(entry.pid, entry.tid, g_hungThreshold)) {
        SetLastError(ERROR_TIMEOUT);
        return false;
      }
      return sendToProcess(entry, kSend, hwnd, msg, wParam, lParam, timeoutMs, result);
    default:
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
  }
}

}  // namespace

void ensureThreadQueue() { myQueue(); }

bool setWindowPosElsewhere(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  DWORD tid = 0;
  RegistryEntry entry;
  if (locate(hwnd, &tid, &entry) != 3) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  WireWindowPos pos{x, y, cx, cy, flags};
  LRESULT result = 0;
  if (!sendToProcess(entry, kSend, hwnd, kSetWindowPosRequest, reinterpret_cast<WPARAM>(after),
                     reinterpret_cast<LPARAM>(&pos), 5000, &result))
    return false;
  return result != 0;
}

bool isOwnThread(HWND hwnd) { return ownedByThisThread(hwnd); }

bool postLocal(DWORD threadId, const MSG& msg) {
  auto q = queueOf(threadId);
  if (!q) return false;
  {
    std::lock_guard<std::mutex> guard(q->mutex_);
    if (q->posted_.size() >= 10000) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    q->posted_.push_back(msg);
  }
  q->wake();
  return true;
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT minMsg, UINT maxMsg) {
  if (msg == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return -1;
  }
  if (g_failGetMessage > 0) {
    --g_failGetMessage;
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (hwnd != nullptr && hwnd != reinterpret_cast<HWND>(-1) && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto q = myQueue();
  for (;;) {
    platform::waitPoint();
    markAsking(false);
    processSent(*q);
    runPendingUiActions();
    if (takePosted(*q, msg, hwnd, minMsg, maxMsg, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
    if (takePaint(msg, hwnd, minMsg, maxMsg)) return TRUE;
    waitForWork(*q, -1);
  }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT minMsg, UINT maxMsg, UINT remove) {
  if (msg == nullptr) return FALSE;
  auto q = myQueue();
  platform::waitPoint();
  markAsking(false);
  processSent(*q);
  runPendingUiActions();
  if (takePosted(*q, msg, hwnd, minMsg, maxMsg, (remove & PM_REMOVE) != 0)) return TRUE;
  return takePaint(msg, hwnd, minMsg, maxMsg) ? TRUE : FALSE;
}

BOOL WINAPI WaitMessage(void) {
  auto q = myQueue();
  MSG m;
  if (PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) return TRUE;
  waitForWork(*q, -1);
  return TRUE;
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD) {
  // Polls the objects and the queue in short slices; good enough for modal helpers.
  auto q = myQueue();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (count > 0) {
      DWORD r = WaitForMultipleObjects(count, handles, waitAll, 0);
      if (r != WAIT_TIMEOUT) return r;
    }
    MSG m;
    if (PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) return WAIT_OBJECT_0 + count;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (ms != INFINITE && elapsed >= ms) return WAIT_TIMEOUT;
    waitForWork(*q, 10);
  }
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msgId, WPARAM wParam, LPARAM lParam) {
  if (hwnd == nullptr) return PostThreadMessageA(GetCurrentThreadId(), msgId, wParam, lParam);
  MSG m{};
  m.hwnd = hwnd;
  m.message = msgId;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  if (hwnd == HWND_BROADCAST) {
    for (const RegistryEntry& e : listWindows()) PostMessageA(toHandle(e.id), msgId, wParam, lParam);
    return TRUE;
  }
  DWORD tid = 0;
  RegistryEntry entry;
  switch (locate(hwnd, &tid, &entry)) {
    case 1:
    case 2:
      return postLocal(tid, m) ? TRUE : FALSE;
    case 3: {
      LRESULT ignored = 0;
      return sendToProcess(entry, kPost, hwnd, msgId, wParam, lParam, 2000, &ignored) ? TRUE : FALSE;
    }
    default:
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
  }
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT msgId, WPARAM wParam, LPARAM lParam) {
  if (threadId == GetCurrentThreadId()) myQueue();
  MSG m{};
  m.message = msgId;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  if (!postLocal(threadId, m)) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msgId, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!sendMessage(hwnd, msgId, wParam, lParam, 0, INFINITE, &result)) return 0;
  return result;
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT msgId, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(hwnd, msgId, wParam, lParam);
}

LRESULT WINAPI SendMessageTimeoutA(HWND hwnd, UINT msgId, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                                   PDWORD_PTR out) {
  LRESULT result = 0;
  if (!sendMessage(hwnd, msgId, wParam, lParam, flags, timeout, &result)) {
    if (out) *out = 0;
    return 0;
  }
  if (out) *out = static_cast<DWORD_PTR>(result);
  return 1;
}

LRESULT WINAPI SendMessageTimeoutW(HWND hwnd, UINT msgId, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                                   PDWORD_PTR out) {
  // WM_COPYDATA carries bytes, so both forms are the same.
  return SendMessageTimeoutA(hwnd, msgId, wParam, lParam, flags, timeout, out);
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msgId, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, msgId, wParam, lParam) : 0;
}

BOOL WINAPI InSendMessage(void) { return t_inSend > 0 ? TRUE : FALSE; }

BOOL WINAPI ReplyMessage(LRESULT) { return FALSE; }

void WINAPI PostQuitMessage(int code) {
  auto q = myQueue();
  {
    std::lock_guard<std::mutex> guard(q->mutex_);
    q->quit_ = true;
    q->quitCode_ = code;
  }
  q->wake();
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  return msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    // Only a timer procedure registered with the layer is ever called, and this layer
    // offers no SetTimer: a WM_TIMER that names a procedure was posted by hand (from
    // this process or another) with an address of the poster's choosing. Dropped.
    return 0;
  }
  if (!ownedByThisThread(msg->hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LRESULT r = callProcedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (msg->message == WM_PAINT) {
    // A procedure that did not paint leaves the window valid, as on Windows.
    ValidateRect(msg->hwnd, nullptr);
  }
  return r;
}

}  // extern "C"

// Accelerators: a table of ACCEL records; WM_KEYDOWN (or WM_SYSKEYDOWN with FALT) of a
// listed virtual key becomes WM_COMMAND with the high word 1.
namespace {

std::mutex g_accelMutex;
std::map<uintptr_t, std::vector<ACCEL>>& accelTables() {
  static auto* t = new std::map<uintptr_t, std::vector<ACCEL>>();
  return *t;
}
uintptr_t g_nextAccel = 0x100;

}  // namespace

extern "C" {

HACCEL WINAPI CreateAcceleratorTableA(LPACCEL accel, int count) {
  if (accel == nullptr || count <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(g_accelMutex);
  const uintptr_t h = g_nextAccel++;
  accelTables()[h].assign(accel, accel + count);
  return reinterpret_cast<HACCEL>(h);
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE module, LPCSTR name) {
  // The resource holds 8-byte entries: flags, key, command, padding; 0x80 ends the table.
  HRSRC res = FindResourceA(module, name, RT_ACCELERATOR);
  if (res == nullptr) return nullptr;
  const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, res)));
  const DWORD size = SizeofResource(module, res);
  std::vector<ACCEL> entries;
  for (DWORD at = 0; bytes != nullptr && at + 8 <= size; at += 8) {
    ACCEL a{};
    a.fVirt = bytes[at];
    a.key = static_cast<WORD>(bytes[at + 2] | (bytes[at + 3] << 8));
    a.cmd = static_cast<WORD>(bytes[at + 4] | (bytes[at + 5] << 8));
    entries.push_back(a);
    if (bytes[at] & 0x80) break;
  }
  if (entries.empty()) return nullptr;
  for (ACCEL& a : entries) a.fVirt &= 0x7F;
  return CreateAcceleratorTableA(entries.data(), static_cast<int>(entries.size()));
}

BOOL WINAPI DestroyAcceleratorTable(HACCEL accel) {
  std::lock_guard<std::mutex> guard(g_accelMutex);
  return accelTables().erase(reinterpret_cast<uintptr_t>(accel)) ? TRUE : FALSE;
}

int WINAPI TranslateAcceleratorA(HWND hwnd, HACCEL accel, LPMSG msg) {
  if (msg == nullptr || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN && msg->message != WM_CHAR)) {
    return 0;
  }
  WORD command = 0;
  {
    std::lock_guard<std::mutex> guard(g_accelMutex);
    auto it = accelTables().find(reinterpret_cast<uintptr_t>(accel));
    if (it == accelTables().end()) {
      SetLastError(ERROR_INVALID_ACCEL_HANDLE);
      return 0;
    }
    const bool alt = msg->message == WM_SYSKEYDOWN;
    for (const ACCEL& a : it->second) {
      const bool virtKey = (a.fVirt & FVIRTKEY) != 0;
      if (virtKey != (msg->message != WM_CHAR)) continue;
      if (a.key != static_cast<WORD>(msg->wParam)) continue;
      if (virtKey && ((a.fVirt & FALT) != 0) != alt) continue;
      command = a.cmd;
      break;
    }
  }
  if (command == 0) return 0;
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(command, 1), 0);
  return 1;
}

}  // extern "C"

namespace platform {
namespace wintest {

void setHungThreshold(DWORD milliseconds) { g_hungThreshold = milliseconds; }

void setMessageReadLimit(DWORD milliseconds) { setEndpointReadLimit(milliseconds); }

std::string endpointOf(HWND hwnd) {
  {
    auto lock = lockWindows();
    if (Window* w = findLocal(hwnd)) return endpointName(static_cast<uint32_t>(getpid()), w->threadId);
  }
  RegistryEntry e;
  return lookupWindow(toId(hwnd), &e) ? endpointName(e.pid, e.tid) : std::string();
}

void failNextGetMessage() { ++g_failGetMessage; }

int pendingSentMessages() {
  auto q = myQueue();
  std::lock_guard<std::mutex> guard(q->mutex_);
  return static_cast<int>(q->sent_.size());
}

int pumpMessages() {
  int count = 0;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    TranslateMessage(&m);
    DispatchMessageA(&m);
    ++count;
  }
  return count;
}

bool pumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto q = myQueue();
  while (!done()) {
    pumpMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Short slices: what `done` waits for may happen on another thread without a message.
    waitForWork(*q, std::min(10, std::max(1, remainingMs(deadline))));
  }
  return true;
}

std::string messageEndpoint(HWND hwnd) {
  RegistryEntry entry;
  if (!lookupWindow(toId(hwnd), &entry)) return std::string();
  return endpointName(entry.pid, entry.tid);
}

}  // namespace wintest
}  // namespace platform
