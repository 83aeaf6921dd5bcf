// A scripted HTTP server on the loopback for the plug-in tests: it records every request
// byte for byte and answers as the test scripted (status, body, chunked or not, in
// pieces, slowly, closing early, or never). The Security Layer server is one on port 20000;
// the form receiver one on a port of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace slserver {

struct Reply {
  int status = 200;  // 0: closes without any answer
  std::string body;
  bool chunked = false;
  bool withLength = true;              // Content-Length, else the end is the close
  size_t closeAfter = std::string::npos;  // closes after this many body bytes
  bool silent = false;                 // reads the request and never answers
  std::vector<size_t> pieces;          // sends the body in pieces of these sizes, in turn
  int delayMs = 0;                     // waits this long before the status line
  int pauseMs = 0;                     // and this long before each piece after the first
};

struct Request {
  std::string raw;          // every byte received
  std::string requestLine;  // without CR LF
  std::map<std::string, std::string> headers;  // names in lower case
  std::vector<std::string> headerOrder;        // names as sent, in order
  std::string body;
};

class ScriptedHttpServer {
 public:
  // Binds `address` (127.0.0.1 or ::1) at `port` (0: a free one); throws when it cannot.
  explicit ScriptedHttpServer(uint16_t port = 0, const std::string& address = "127.0.0.1");
  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;
  ~ScriptedHttpServer();

  uint16_t port() const { return port_; }
  // The server's URL by its address.
  std::string url(const std::string& path = "/") const;
  // The answer to every following request.
  void setReply(const Reply& reply);
  std::vector<Request> requests() const;
  // True once `count` requests arrived in full (bounded wait against a hang).
  bool waitForRequests(size_t count) const;

 private:
  void run();
  void serve(int fd);
  bool sendAll(int fd, const char* data, size_t size);
  // Waits `milliseconds`; false when the server is being stopped.
  bool pause(int milliseconds);

  int listenFd_ = -1;
  int stopFd_ = -1;  // an eventfd: the server thread's stop
  uint16_t port_ = 0;
  std::string address_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  Reply reply_;
  std::vector<Request> requests_;
  std::thread thread_;
};

// The machine-wide turn on port 20000: a file lock that every test process takes
// before it binds the port, held while the object lives.
class Port20000Turn {
 public:
  Port20000Turn();
  Port20000Turn(const Port20000Turn&) = delete;
  Port20000Turn& operator=(const Port20000Turn&) = delete;
  ~Port20000Turn();

 private:
  int fd_ = -1;
};

// The Security Layer test server on 127.0.0.1:20000; the turn is taken before it binds.
class SecurityLayerServer : private Port20000Turn, public ScriptedHttpServer {
 public:
  SecurityLayerServer() : ScriptedHttpServer(20000) {}
};

// Splits an application/x-www-form-urlencoded body into its decoded fields.
std::map<std::string, std::string> decodeForm(const std::string& body);

}  // namespace slserver
