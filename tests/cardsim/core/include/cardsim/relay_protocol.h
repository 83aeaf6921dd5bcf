// The frames between the reader driver inside pcscd and the test's reader host
// over a Unix socket. Request: u32 length, u8 op, u32 reader, u32 arg1,
// u32 arg2, payload. Answer: u32 length, u32 IFD result code, payload.
// All numbers big-endian.
#pragma once

#include <cerrno>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace cardsim::relay {

enum Op : std::uint8_t {
  kHello = 1,      // the reader exists
  kPresence = 2,   // IFDHICCPresence
  kPower = 3,      // arg1: IFD_POWER_UP / DOWN / RESET; answer: ATR
  kTransmit = 4,   // arg1: receive capacity; payload: APDU
  kControl = 5,    // arg1: control code, arg2: receive capacity; payload: input
  kCapability = 6, // arg1: tag, arg2: capacity
};

constexpr std::uint32_t kMaxFrame = 1u << 20;

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

inline std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// A peer that went away must not end the process with SIGPIPE.
inline bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

inline bool readAll(int fd, std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// One length-prefixed frame.
inline bool sendFrame(int fd, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out;
  put32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return writeAll(fd, out.data(), out.size());
}

inline bool receiveFrame(int fd, std::vector<std::uint8_t>& body) {
  std::uint8_t head[4];
  if (!readAll(fd, head, 4)) return false;
  std::uint32_t n = get32(head);
  if (n > kMaxFrame) return false;
  body.resize(n);
  return n == 0 || readAll(fd, body.data(), n);
}

}  // namespace cardsim::relay
