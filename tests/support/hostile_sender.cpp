#include "hostile_sender.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/window_test.h"
#include "window_endpoint.h"

namespace quarveltest {
namespace hostile {

// The platform's own records: a hostile sender writes the wire itself, in the layout the
// receiver reads.
using platform::win::kRequestMagic;
using platform::win::WireReply;
using platform::win::WireRequest;

int writeRequest(HWND via, HWND target, uint32_t kind, UINT msg, uint64_t wParam, uint64_t lParam, uint32_t payload,
                 const std::string& bytes) {
  const std::string name = platform::wintest::messageEndpoint(via);
  if (name.empty() || name.size() > sizeof(sockaddr_un::sun_path) - 2) return kNoAnswer;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoAnswer;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    close(fd);
    return kNoAnswer;
  }
  const WireRequest req{kRequestMagic, kind, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)), msg, wParam,
                        lParam, 0x1234, payload, static_cast<uint32_t>(bytes.size())};
  std::string out(reinterpret_cast<const char*>(&req), sizeof req);
  out += bytes;
  const bool written = send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
  WireReply reply{};
  size_t got = 0;
  while (written && got < sizeof reply) {
    const ssize_t n = read(fd, reinterpret_cast<char*>(&reply) + got, sizeof reply - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return got == sizeof reply ? static_cast<int>(reply.status) : kNoAnswer;
}

}  // namespace hostile
}  // namespace quarveltest
