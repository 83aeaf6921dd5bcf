// Test servers of the certificate checks' network code, all on 127.0.0.1 with a
// port of their own (port 0): a server core that serves each connection on a
// thread of its own, plainly or with TLS (a certificate of the test PKI kit),
// records every byte each connection sent, and answers with what a handler
// makes of the request: a reply given in pieces, a silent connection, an
// endless body. On it: a file server (paths to replies), an OCSP responder made
// with OpenSSL's OCSP functions, and a capturing proxy that answers CONNECT.
// The real forward proxy, tinyproxy, runs as a child process (TinyProxy).
#pragma once

#include <openssl/ocsp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace certnet {

struct Request {
  std::string raw;          // every byte received on the connection
  std::string method;
  std::string target;       // as sent: "/x" or "http://host:port/x"
  std::string path;         // the target's path
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;         // Content-Length bytes after the head
};

struct Reply {
  std::string bytes;               // sent verbatim (status line, head and body)
  std::vector<size_t> pieces;      // sizes of the writes, in turn, with a pause between them
  bool silent = false;             // reads the request, never answers, keeps the connection
  bool endless = false;            // after `bytes`, sends body bytes until the client goes
  bool keepOpen = false;           // after `bytes`, keeps the connection open (no close)
  uint16_t relayPort = 0;          // after `bytes`, relays the connection to 127.0.0.1 at this port,
  std::string relayPrefix;         // sending these bytes there first
};

// A reply with status, Content-Length and body.
Reply httpReply(int status, const std::string& body, const std::string& contentType = "application/octet-stream");

using Handler = std::function<Reply(const Request&)>;

struct TlsIdentity {
  std::string certificateChainPem;  // the server's certificate, then its issuers
  std::string keyPem;
};

class LoopbackServer {
 public:
  // Binds 127.0.0.1 at `wantedPort`, or at a port of its own when that is 0 or busy
  // (port() tells); with a TLS identity every connection is TLS first.
  explicit LoopbackServer(Handler handler, const TlsIdentity* tls = nullptr, uint16_t wantedPort = 0);
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  virtual ~LoopbackServer();

  uint16_t port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  void setHandler(Handler handler);
  std::vector<Request> requests() const;
  // Connections accepted so far (also those that never sent a request).
  int connections() const { return connections_; }
  // Connections that completed a TLS handshake.
  int handshakes() const { return handshakes_; }

 protected:
  void stop();

 private:
  void run();
  void serve(int fd);
  bool readRequest(int fd, SSL* ssl, Request& request);
  void relay(int fd, const Reply& reply);

  Handler handler_;
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tls_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex lock_;
  std::vector<Request> requests_;
  std::atomic<int> connections_{0};
  std::atomic<int> handshakes_{0};
  std::vector<std::thread> workers_;
  std::thread thread_;
  std::vector<int> open_;  // connections being served, shut down at the stop
};

// Serves files by path ("/int.crl"); other paths get 404.
class FileServer : public LoopbackServer {
 public:
  explicit FileServer(const TlsIdentity* tls = nullptr, uint16_t wantedPort = 0);
  void put(const std::string& path, const Reply& reply);
  void putFile(const std::string& path, const std::string& body) { put(path, httpReply(200, body)); }

 private:
  Reply answer(const Request& request);
  std::mutex filesLock_;
  std::map<std::string, Reply> files_;
};

// An OCSP responder: reads the status of each serial from an `openssl ca`
// index file and signs with the configured responder, plus crafted answers.
struct OcspSettings {
  std::string indexFile;        // openssl ca's index.txt
  std::string issuerPem;        // the issuer the CertIDs must name
  std::string signerPem;        // responder certificate (PEM)
  std::string signerKeyPem;
  bool includeSigner = true;    // embed the responder certificate
  bool byKey = false;           // responder id by key hash, else by name
  bool echoNonce = true;
  long thisUpdateOffset = 0;    // seconds from now
  long nextUpdateOffset = 3600; // seconds from now; 0 for none
  int forceStatus = -1;         // V_OCSP_CERTSTATUS_*, or -1 for the index's
  std::string garbage;          // when set: the whole HTTP body instead of a response
};

class OcspResponder : public LoopbackServer {
 public:
  explicit OcspResponder(const OcspSettings& settings, const TlsIdentity* tls = nullptr, uint16_t wantedPort = 0);
  void setSettings(const OcspSettings& settings);

 private:
  Reply answer(const Request& request);
  std::mutex settingsLock_;
  OcspSettings settings_;
};

// A proxy stand-in that records exact request bytes: it answers CONNECT with the
// configured status (200: relays the tunnel to 127.0.0.1 at the requested port)
// and absolute-form requests by forwarding them in origin-form to 127.0.0.1.
class CaptureProxy : public LoopbackServer {
 public:
  CaptureProxy();
  // The status line of the answer to CONNECT (e.g. "HTTP/1.0 407 Proxy Authentication Required").
  void setConnectAnswer(const std::string& statusLine, const std::vector<size_t>& pieces = {});
  // Every request is answered 407.
  void requireAuthentication(bool on);

 private:
  Reply answer(const Request& request);
  std::mutex settingsLock_;
  std::string connectAnswer_ = "HTTP/1.0 200 Connection established\r\n\r\n";
  std::vector<size_t> connectPieces_;
  bool authentication_ = false;
};

// tinyproxy on 127.0.0.1 at a free port, run in the foreground as a child, with
// its configuration and log in a folder of its own (removed afterwards); with a
// user and password it asks for Basic credentials.
class TinyProxy {
 public:
  explicit TinyProxy(const std::string& user = "", const std::string& password = "");
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;
  ~TinyProxy();
  uint16_t port() const { return port_; }
  // The proxy's log (connections it made).
  std::string log() const;

 private:
  int pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
  std::string logFile_;
};

std::string readText(const std::string& path);

}  // namespace certnet
