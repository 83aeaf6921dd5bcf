#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace slserver {

namespace {

constexpr const char* kPortLockFile = "/tmp/quarvel-port20000.lock";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(uint16_t port, const std::string& address) : address_(address) {
  const bool v6 = address.find(':') != std::string::npos;
  listenFd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket");
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool parsed = false;
  if (v6) {
    ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    parsed = ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1;
    length = sizeof *in6;
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    parsed = ::inet_pton(AF_INET, address.c_str(), &in4->sin_addr) == 1;
    length = sizeof *in4;
  }
  auto* where = reinterpret_cast<sockaddr*>(&storage);
  if (!parsed || ::bind(listenFd_, where, length) != 0 || ::listen(listenFd_, 16) != 0) {
    const int error = errno;
    ::close(listenFd_);
    throw std::runtime_error("bind " + address + " port " + std::to_string(port) + ": " + std::strerror(error));
  }
  ::getsockname(listenFd_, where, &length);
  port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
  uint64_t one = 1;
  (void)!::write(stopFd_, &one, sizeof one);
  thread_.join();
  ::close(listenFd_);
  ::close(stopFd_);
}

std::string ScriptedHttpServer::url(const std::string& path) const {
  const bool v6 = address_.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_) + path;
}

void ScriptedHttpServer::setReply(const Reply& reply) {
  std::lock_guard<std::mutex> guard(lock_);
  reply_ = reply;
}

std::vector<Request> ScriptedHttpServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool ScriptedHttpServer::waitForRequests(size_t count) const {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::seconds(30), [&] { return requests_.size() >= count; });
}

void ScriptedHttpServer::run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    serve(fd);
    ::close(fd);
  }
}

bool ScriptedHttpServer::pause(int milliseconds) {
  // The test's end cuts the wait short.
  pollfd stop{stopFd_, POLLIN, 0};
  return ::poll(&stop, 1, milliseconds) <= 0;
}

bool ScriptedHttpServer::sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void ScriptedHttpServer::serve(int fd) {
  // Reads one request: the head, then Content-Length bytes of body.
  Request request;
  size_t headEnd = std::string::npos;
  size_t bodyLength = 0;
  char buffer[4096];
  for (;;) {
    if (headEnd != std::string::npos && request.raw.size() >= headEnd + bodyLength) break;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.raw.append(buffer, static_cast<size_t>(n));
    if (headEnd == std::string::npos) {
      const size_t end = request.raw.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      headEnd = end + 4;
      size_t lineEnd = request.raw.find("\r\n");
      request.requestLine = request.raw.substr(0, lineEnd);
      size_t at = lineEnd + 2;
      while (at < end) {
        const size_t next = request.raw.find("\r\n", at);
        const std::string line = request.raw.substr(at, next - at);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
          std::string value = line.substr(colon + 1);
          value.erase(0, value.find_first_not_of(' '));
          request.headerOrder.push_back(line.substr(0, colon));
          request.headers[lower(line.substr(0, colon))] = value;
        }
        at = next + 2;
      }
      auto length = request.headers.find("content-length");
      if (length != request.headers.end()) bodyLength = std::stoul(length->second);
    }
  }
  if (headEnd == std::string::npos) return;
  request.body = request.raw.substr(headEnd);
  Reply reply;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
    reply = reply_;
  }
  changed_.notify_all();

  if (reply.silent) {
    // Holds the connection open until the test ends.
    pollfd stop{stopFd_, POLLIN, 0};
    while (::poll(&stop, 1, -1) < 0) {
    }
    return;
  }
  if (reply.status == 0) return;
  if (reply.delayMs > 0 && !pause(reply.delayMs)) return;
  std::string head = "HTTP/1.0 " + std::to_string(reply.status) + (reply.status == 200 ? " OK" : " Error") + "\r\n";
  head += "Content-Type: text/xml; charset=UTF-8\r\n";
  if (reply.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (reply.withLength) {
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  }
  head += "\r\n";
  if (!sendAll(fd, head.data(), head.size())) return;

  const std::string& body = reply.body;
  const size_t limit = std::min(reply.closeAfter, body.size());
  size_t sent = 0;
  size_t piece = 0;
  while (sent < limit) {
    size_t n = limit - sent;
    if (!reply.pieces.empty()) n = std::min(n, std::max<size_t>(1, reply.pieces[piece++ % reply.pieces.size()]));
    if (sent > 0 && reply.pauseMs > 0 && !pause(reply.pauseMs)) return;
    if (reply.chunked) {
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", n);
      if (!sendAll(fd, size, std::strlen(size))) return;
    }
    if (!sendAll(fd, body.data() + sent, n)) return;
    if (reply.chunked && !sendAll(fd, "\r\n", 2)) return;
    sent += n;
  }
  if (reply.chunked && sent == body.size()) sendAll(fd, "0\r\n\r\n", 5);
}

Port20000Turn::Port20000Turn() {
  fd_ = ::open(kPortLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) throw std::runtime_error("cannot take the port 20000 lock");
}

Port20000Turn::~Port20000Turn() {
  if (fd_ >= 0) ::close(fd_);
}

std::map<std::string, std::string> decodeForm(const std::string& body) {
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at <= body.size()) {
    size_t end = body.find('&', at);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(at, end - at);
    std::replace(pair.begin(), pair.end(), '+', ' ');
    const size_t eq = pair.find('=');
    auto decode = [](const std::string& s) {
      int length = 0;
      char* out = curl_easy_unescape(nullptr, s.c_str(), static_cast<int>(s.size()), &length);
      std::string value(out, static_cast<size_t>(length));
      curl_free(out);
      return value;
    };
    if (!pair.empty()) fields[decode(pair.substr(0, eq))] = eq == std::string::npos ? "" : decode(pair.substr(eq + 1));
    at = end + 1;
  }
  return fields;
}

}  // namespace slserver
