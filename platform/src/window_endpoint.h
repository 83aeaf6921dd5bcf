// The endpoints through which other processes reach a GUI thread's windows.
//
// Each GUI thread listens on an abstract Unix socket. Abstract sockets carry no file
// permissions, so every connection is checked on accept: a peer running as another
// user is closed before a byte of it is read. A window thread never waits for a peer:
// it takes what a peer has already written, and a request that has not arrived whole
// is read to its end by a reader thread, which runs only while such requests (or
// answers a peer has not taken yet) are in flight. A request is handed to its window
// thread only once it is whole, and a peer that does not deliver it within a bounded
// time is cut off, so no sender can hold a window thread or other senders' requests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "windows.h"

namespace platform {
namespace win {

// The wire format of a message sent to another process. 32-bit and 64-bit programs talk
// to each other: the records have one layout in both.
constexpr uint32_t kRequestMagic = 0x514D5347;  // "QMSG"
constexpr uint32_t kReplyMagic = 0x51525350;    // "QRSP"
constexpr uint32_t kMaxCopyData = 64u << 20;

struct WireRequest {
  uint32_t magic;
  uint32_t kind;
  uint32_t hwnd;
  uint32_t msg;
  uint64_t wParam;
  uint64_t lParam;
  uint64_t dwData;
  uint32_t payload;
  uint32_t cbData;  // bytes following the request
};

struct WireReply {
  uint32_t magic;
  uint32_t status;  // 0 handled, 1 no such window here, 2 refused
  int64_t result;
  uint32_t extra;  // bytes following the reply (the text of WM_GETTEXT)
  uint32_t reserved;
};

static_assert(sizeof(WireRequest) == 48 && offsetof(WireRequest, wParam) == 16 && offsetof(WireRequest, cbData) == 44,
              "request layout");
static_assert(sizeof(WireReply) == 24 && offsetof(WireReply, result) == 8, "reply layout");

struct EndpointSlot;

// A request that has arrived whole from a peer of this user. It owns the connection:
// destroyed unanswered (the window is gone, the thread was stopped), it closes it, and
// the sender learns at once that no answer comes.
class IncomingRequest {
 public:
  IncomingRequest() = default;
  IncomingRequest(int fd, std::shared_ptr<EndpointSlot> slot);
  ~IncomingRequest();
  IncomingRequest(IncomingRequest&& other) noexcept;
  IncomingRequest& operator=(IncomingRequest&& other) noexcept;
  IncomingRequest(const IncomingRequest&) = delete;
  IncomingRequest& operator=(const IncomingRequest&) = delete;

  WireRequest request{};
  std::vector<unsigned char> data;  // the request's cbData bytes

  // Sends the answer (and the bytes that follow it) and closes the connection. What the
  // peer does not take at once is written by the reader thread, within the same bound
  // as a request; the caller never waits for the peer.
  void answer(const WireReply& reply, const std::vector<char>& extra);

 private:
  void release();
  int fd_ = -1;
  std::shared_ptr<EndpointSlot> slot_;
};

// Receives each request of the endpoint; false when nobody takes it any more (the
// request is then dropped and its connection closed). Called on the owner's thread or
// on the reader's.
using RequestSink = std::function<bool(IncomingRequest&&)>;

// A GUI thread's endpoint. The thread polls fd() among its waits and calls
// acceptWaiting() when it asks for messages; neither ever waits for a peer.
class Endpoint {
 public:
  // Listens on the abstract socket `name`; fd() is -1 when the name cannot be bound.
  // `wakeOwner` wakes the owner's thread when the endpoint has room again.
  Endpoint(const std::string& name, RequestSink sink, std::function<void()> wakeOwner);
  ~Endpoint();  // stops listening; requests still being read are dropped
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  int fd() const { return listenFd_; }
  // False while as many connections as the endpoint holds are being read, waiting for
  // the thread or being answered: further senders wait in the socket's backlog.
  bool hasRoom() const;
  // Accepts the connections waiting: a peer of another user is closed before a byte of
  // it is read; a request that is there whole goes to the sink at once, the others are
  // read to their end by the reader thread.
  void acceptWaiting();

 private:
  int listenFd_ = -1;
  std::shared_ptr<EndpointSlot> slot_;
};

// How long a peer may take to deliver its whole request (and to take its answer)
// before it is cut off (default 2000 ms).
void setEndpointReadLimit(DWORD milliseconds);

}  // namespace win
}  // namespace platform
