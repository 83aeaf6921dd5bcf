// The checking library's HTTP/1.0 client underneath the downloads and the
// OCSP and CRL retrieval: one connection over OpenSSL's connect BIO, optionally
// wrapped in TLS, with a connect time-out and an overall deadline for the whole
// exchange, and the reading of replies whose size is capped.
//
// Everything that arrives is untrusted: the status line is collected up to its
// CR LF before it is parsed, a proxy's answer to CONNECT is read up to its empty
// line and no further (the bytes after it belong to the TLS handshake), and a
// reply stops at its cap.
#pragma once

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <chrono>
#include <string>

class VOQ_ProxySettings;

// The time-outs of every connection the library makes, process-wide: how long a
// connection may take to be made, and how long one whole exchange may take.
// Deadlines are counted in milliseconds on the monotonic clock, so a time-out
// is as long as it says whenever it starts and whatever the wall clock does.
struct HttpTimeouts {
  unsigned connectMilliseconds = 10000;
  unsigned overallMilliseconds = 30000;
};
HttpTimeouts getHttpTimeouts();
// Zero keeps the current value. Tests shorten both.
void setHttpTimeouts(unsigned connectMilliseconds, unsigned overallMilliseconds);

// Reply caps.
const size_t OCSP_REPLY_CAP = 1u << 20;
const size_t CRL_REPLY_CAP = 64u << 20;
const size_t DOWNLOAD_REPLY_CAP = 16u << 20;

// The longest URL the library sends.
const size_t MAX_URL_LENGTH = 1023;
// The longest "user:password" text sent as Basic credentials.
const size_t MAX_CREDENTIALS_LENGTH = 768;

// True for a URL that may go into a request line: at most MAX_URL_LENGTH bytes,
// none of them a control byte, a blank or DEL (no header injection).
bool isSafeUrl(const char* url);

// The "Proxy-Authorization: Basic ...\r\n" line when the record asks for it, ""
// when it does not; false when the credentials are too long to be sent.
bool proxyAuthorizationLine(const VOQ_ProxySettings& proxy, std::string& line);

// A URL split by OCSP_parse_url.
struct ParsedUrl {
  std::string host;
  std::string port;
  std::string path;
  bool ssl = false;
};
bool splitUrl(const char* url, ParsedUrl& out);

class HttpConnection {
 public:
  // The deadline of the whole exchange starts now.
  HttpConnection();
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Makes the connection object for host:port; false when it cannot be made
  // (a host or port that cannot be used). connect() then connects it.
  bool prepare(const std::string& host, const std::string& port);
  // Connects the prepared object within the connect time-out.
  bool connect();
  // Both steps.
  bool connect(const std::string& host, const std::string& port) { return prepare(host, port) && connect(); }
  // Connects to the proxy record's host and port.
  bool connect(const VOQ_ProxySettings& proxy);
  // TLS 1.2 or later over the connection: SNI, the server's certificate
  // verified against the Root stores of the user and the machine, and its name
  // (or address) checked against serverName.
  bool startTls(const std::string& serverName);
  bool usesTls() const { return ssl_ != nullptr; }

  // Sends every byte, before the deadline.
  bool send(const void* data, size_t size);
  bool send(const std::string& text) { return send(text.data(), text.size()); }
  // Reads at most size bytes: the count, 0 when the peer closed, -1 on a failure
  // or when the deadline passed.
  int receive(void* buffer, int size);

  // Ends TLS politely (without waiting for the peer's answer).
  void shutdown();

  // The connection BIO while no TLS holds it (for OpenSSL's own OCSP client).
  BIO* bio() { return ssl_ ? nullptr : bio_; }
  // Waits until the socket is ready (for reading or writing); false on the deadline.
  bool wait(bool forRead) { return waitUntil(forRead, deadline_); }

 private:
  using Clock = std::chrono::steady_clock;
  bool waitUntil(bool forRead, Clock::time_point until);

  BIO* bio_ = nullptr;  // owned while no SSL object holds it
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  Clock::time_point deadline_;
};

enum class ReplyOutcome {
  Ok,
  ReadFailed,     // a read failed, the deadline passed, or the cap was hit
  BadStatusLine,  // the status line does not parse
  NotOk,          // the status is not 200
};

// Reads a whole reply, up to the peer's close, into the memory BIO `reply`: the
// status line is collected up to its CR LF (at most 1023 bytes) and must be 200.
// *status receives the code when the line parsed.
ReplyOutcome readReply(HttpConnection& connection, BIO* reply, size_t cap, int* status);

// Reads a proxy's answer to CONNECT up to and including its empty line, and not
// one byte further; its status line must be 200.
ReplyOutcome readConnectAnswer(HttpConnection& connection, int* status);

enum class TunnelOutcome {
  Ok,
  Refused,        // host, port or credentials that cannot be sent
  ConnectFailed,  // the proxy cannot be reached
  ReadFailed,     // sending, or reading the answer, failed
  BadStatusLine,  // the answer's status line does not parse
  NotOk,          // the proxy refused the tunnel (status not 200)
  TlsFailed,      // the TLS handshake with host, or its verification, failed
};
// Connects to the proxy, asks it for a tunnel to host:port (with the record's
// Basic credentials when it asks for them) and starts TLS to host through it.
TunnelOutcome openTunnel(HttpConnection& connection, const VOQ_ProxySettings& proxy, const std::string& host,
                         const std::string& port);

// After parseContentLength consumed the header of `reply`: exactly contentLength
// body bytes, which must be positive and must all have arrived.
bool takeBody(BIO* reply, int contentLength, std::string& body);
// After the header: every byte that follows it.
std::string restOf(BIO* reply);
// Skips the header of a reply (its lines up to the empty one).
void skipHeader(BIO* reply);
