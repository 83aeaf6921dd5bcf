#include "certcheck/HttpTransport.h"

#include <windows.h>
#include <wincrypt.h>
#include <winsock2.h>

#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "certcheck/Download.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "foundation/util/VOQ_Base64.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "foundation/util/VOQ_String.h"

namespace {

std::atomic<unsigned> connectTimeout{10000};
std::atomic<unsigned> overallTimeout{30000};

// The longest status line the reader collects before it gives up.
const size_t MAX_STATUS_LINE = 1023;
// The longest answer to CONNECT.
const size_t MAX_CONNECT_ANSWER = 8192;

void addStore(X509_STORE* trusted, HCERTSTORE store) {
  if (!store) return;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
    const unsigned char* p = context->pbCertEncoded;
    if (X509* x = d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded))) {
      X509_STORE_add_cert(trusted, x);
      X509_free(x);
    }
  }
  CertCloseStore(store, 0);
}

bool isAddress(const std::string& host) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
  ASN1_OCTET_STRING_free(address);
  return address != nullptr;
}

}  // namespace

HttpTimeouts getHttpTimeouts() {
  HttpTimeouts t;
  t.connectMilliseconds = connectTimeout;
  t.overallMilliseconds = overallTimeout;
  return t;
}

void setHttpTimeouts(unsigned connectMilliseconds, unsigned overallMilliseconds) {
  if (connectMilliseconds) connectTimeout = connectMilliseconds;
  if (overallMilliseconds) overallTimeout = overallMilliseconds;
}

bool isSafeUrl(const char* url) {
  if (!url) return false;
  const size_t length = strlen(url);
  if (length == 0 || length > MAX_URL_LENGTH) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool proxyAuthorizationLine(const VOQ_ProxySettings& proxy, std::string& line) {
  line.clear();
  if (!proxy.usesAuthentication()) return true;
  const char* user = proxy.getUser() ? proxy.getUser() : "";
  const char* password = proxy.getPassword() ? proxy.getPassword() : "";
  const size_t userLength = strlen(user);
  const size_t passwordLength = strlen(password);
  if (userLength + 1 + passwordLength > MAX_CREDENTIALS_LENGTH) return false;
  // Credentials must not carry a line break into the header.
  for (const char* p : {user, password})
    for (; *p; ++p)
      if (*p == '\r' || *p == '\n') return false;
  VOQ_String credentials(user);
  credentials.appendByte(':');
  credentials.append(static_cast<unsigned int>(passwordLength), password);
  VOQ_String encoded;
  VOQ_MemoryStream in(&credentials);
  VOQ_MemoryStream out(&encoded);
  const unsigned int count = static_cast<unsigned int>(userLength + 1 + passwordLength);
  voqBase64Encode(&in, &out, count, 1024);
  const unsigned int length = voqBase64EncodedLength(count);
  if (encoded.getLength() < length) return false;
  line = "Proxy-Authorization: Basic ";
  line.append(encoded.getData(), length);
  line += "\r\n";
  return true;
}

bool splitUrl(const char* url, ParsedUrl& out) {
  if (!isSafeUrl(url)) return false;
  char* host = nullptr;
  char* port = nullptr;
  char* path = nullptr;
  int ssl = 0;
  if (!OCSP_parse_url(url, &host, &port, &path, &ssl)) return false;
  out.host = host ? host : "";
  out.port = port ? port : "";
  out.path = path ? path : "/";
  out.ssl = ssl != 0;
  OPENSSL_free(host);
  OPENSSL_free(port);
  OPENSSL_free(path);
  return !out.host.empty() && !out.port.empty();
}

HttpConnection::HttpConnection() : deadline_(Clock::now() + std::chrono::milliseconds(overallTimeout.load())) {}

HttpConnection::~HttpConnection() {
  if (ssl_) SSL_free(ssl_);  // frees the BIO it holds
  else if (bio_) BIO_free_all(bio_);
  if (context_) SSL_CTX_free(context_);
}

bool HttpConnection::prepare(const std::string& host, const std::string& port) {
  if (bio_ || ssl_ || host.empty() || port.empty() || host.size() > 255 || port.size() > 5) return false;
  bio_ = BIO_new_connect(host.c_str());
  if (!bio_) return false;
  if (BIO_set_conn_port(bio_, port.c_str()) <= 0) {
    BIO_free_all(bio_);
    bio_ = nullptr;
    return false;
  }
  BIO_set_nbio(bio_, 1);
  return true;
}

bool HttpConnection::connect() {
  if (!bio_ || ssl_) return false;
  const Clock::time_point connectDeadline =
      std::min(deadline_, Clock::now() + std::chrono::milliseconds(connectTimeout.load()));
  for (;;) {
    if (BIO_do_connect(bio_) > 0) return true;
    // Refused or unresolvable: at once; in progress: wait for the socket.
    if (!BIO_should_retry(bio_) || !waitUntil(false, connectDeadline)) return false;
  }
}

bool HttpConnection::connect(const VOQ_ProxySettings& proxy) {
  if (!proxy.getHost() || proxy.getPort() <= 0 || proxy.getPort() > 65535) return false;
  return connect(proxy.getHost(), std::to_string(proxy.getPort()));
}

bool HttpConnection::waitUntil(bool forRead, Clock::time_point until) {
  int fd = -1;
  if (!bio_ || BIO_get_fd(bio_, &fd) <= 0 || fd < 0) return false;
  for (;;) {
    const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    WSAPOLLFD entry = {};
    entry.fd = fd;
    entry.events = forRead ? POLLIN : POLLOUT;
    const int ready = WSAPoll(&entry, 1, static_cast<INT>(std::min<long long>(left, 0x7FFFFFFF)));
    if (ready > 0) return true;
    if (ready < 0) return false;
    // 0: the time is up, or the wait came back a hair early; the loop looks again.
  }
}

bool HttpConnection::startTls(const std::string& serverName) {
  if (!bio_ || ssl_) return false;
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  context_ = SSL_CTX_new(TLS_client_method());
  if (!context_) return false;
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  X509_STORE* trusted = SSL_CTX_get_cert_store(context_);
  addStore(trusted, CertOpenSystemStoreA(0, "Root"));
  addStore(trusted, CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
  ssl_ = SSL_new(context_);
  if (!ssl_) return false;
  if (isAddress(serverName)) {
    if (!X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), serverName.c_str())) return false;
  } else {
    if (!SSL_set_tlsext_host_name(ssl_, serverName.c_str()) || !SSL_set1_host(ssl_, serverName.c_str())) return false;
  }
  // The SSL object owns the BIO from here on.
  SSL_set_bio(ssl_, bio_, bio_);
  for (;;) {
    const int r = SSL_connect(ssl_);
    if (r > 0) return true;
    const int error = SSL_get_error(ssl_, r);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (!wait(error == SSL_ERROR_WANT_READ)) return false;
      continue;
    }
    return false;
  }
}

bool HttpConnection::send(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int piece = size > 65536 ? 65536 : static_cast<int>(size);
    int written;
    if (ssl_) {
      written = SSL_write(ssl_, p, piece);
      if (written <= 0) {
        const int error = SSL_get_error(ssl_, written);
        if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && wait(error == SSL_ERROR_WANT_READ))
          continue;
        return false;
      }
    } else {
      if (!bio_) return false;
      written = BIO_write(bio_, p, piece);
      if (written <= 0) {
        if (BIO_should_retry(bio_) && wait(false)) continue;
        return false;
      }
    }
    p += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int HttpConnection::receive(void* buffer, int size) {
  for (;;) {
    if (ssl_) {
      const int n = SSL_read(ssl_, buffer, size);
      if (n > 0) return n;
      const int error = SSL_get_error(ssl_, n);
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && wait(error == SSL_ERROR_WANT_READ)) continue;
      // A peer that closes without close_notify ends the reply as well.
      if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return 0;
      if (error == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        ERR_clear_error();
        return 0;
      }
      return -1;
    }
    if (!bio_) return -1;
    const int n = BIO_read(bio_, buffer, size);
    if (n > 0) return n;
    if (n == 0 && !BIO_should_retry(bio_)) return 0;
    if (BIO_should_retry(bio_) && wait(true)) continue;
    return -1;
  }
}

void HttpConnection::shutdown() {
  if (ssl_) SSL_shutdown(ssl_);
}

namespace {

// Parses a collected status line (a NUL-terminated copy, as the parser changes it).
ReplyOutcome judgeStatusLine(const std::string& line, int* status) {
  if (line.size() > MAX_STATUS_LINE) return ReplyOutcome::BadStatusLine;
  std::unique_ptr<char[]> text(new char[line.size() + 1]);
  memcpy(text.get(), line.data(), line.size());
  text[line.size()] = 0;
  int code = 0;
  const bool parsed = parseStatusLine(code, text.get());
  if (status) *status = code;
  if (!parsed) return ReplyOutcome::BadStatusLine;
  return code == 200 ? ReplyOutcome::Ok : ReplyOutcome::NotOk;
}

// Collects bytes until the first CR LF (or LF) is in `line`, keeping them also in
// `reply`; what came after the line end stays in the reply as well.
ReplyOutcome readStatusLine(HttpConnection& connection, BIO* reply, std::string& line, int* status) {
  std::string collected;
  char chunk[1024];
  for (;;) {
    const size_t end = collected.find('\n');
    if (end != std::string::npos) {
      line.assign(collected, 0, end + 1);
      break;
    }
    if (collected.size() > MAX_STATUS_LINE) return ReplyOutcome::BadStatusLine;
    const int n = connection.receive(chunk, sizeof chunk);
    if (n < 0) return ReplyOutcome::ReadFailed;
    if (n == 0) {
      // The peer closed: what came is all of the line.
      if (collected.empty()) return ReplyOutcome::ReadFailed;
      line = collected;
      break;
    }
    collected.append(chunk, static_cast<size_t>(n));
    if (BIO_write(reply, chunk, n) != n) return ReplyOutcome::ReadFailed;
  }
  return judgeStatusLine(line, status);
}

}  // namespace

ReplyOutcome readReply(HttpConnection& connection, BIO* reply, size_t cap, int* status) {
  std::string line;
  const ReplyOutcome first = readStatusLine(connection, reply, line, status);
  if (first != ReplyOutcome::Ok) return first;
  char chunk[1024];
  for (;;) {
    if (static_cast<size_t>(BIO_ctrl_pending(reply)) > cap) return ReplyOutcome::ReadFailed;
    const int n = connection.receive(chunk, sizeof chunk);
    if (n == 0) return ReplyOutcome::Ok;
    if (n < 0) return ReplyOutcome::ReadFailed;
    if (BIO_write(reply, chunk, n) != n) return ReplyOutcome::ReadFailed;
  }
}

ReplyOutcome readConnectAnswer(HttpConnection& connection, int* status) {
  std::string answer;
  // One byte at a time: whatever follows the empty line is the TLS server's.
  while (answer.size() < MAX_CONNECT_ANSWER) {
    char c;
    const int n = connection.receive(&c, 1);
    if (n <= 0) return ReplyOutcome::ReadFailed;
    answer += c;
    const size_t size = answer.size();
    if ((size >= 4 && answer.compare(size - 4, 4, "\r\n\r\n") == 0) ||
        (size >= 2 && answer.compare(size - 2, 2, "\n\n") == 0))
      break;
  }
  if (answer.size() >= MAX_CONNECT_ANSWER) return ReplyOutcome::ReadFailed;
  const size_t end = answer.find('\n');
  return judgeStatusLine(answer.substr(0, end + 1), status);
}

TunnelOutcome openTunnel(HttpConnection& connection, const VOQ_ProxySettings& proxy, const std::string& host,
                         const std::string& port) {
  std::string authorization;
  if (!isSafeUrl(host.c_str()) || !isSafeUrl(port.c_str()) || !proxyAuthorizationLine(proxy, authorization))
    return TunnelOutcome::Refused;
  if (!connection.connect(proxy)) return TunnelOutcome::ConnectFailed;
  if (!connection.send("CONNECT " + host + ":" + port + " HTTP/1.0\r\n" + authorization + "\r\n"))
    return TunnelOutcome::ReadFailed;
  switch (readConnectAnswer(connection, nullptr)) {
    case ReplyOutcome::Ok:
      break;
    case ReplyOutcome::ReadFailed:
      return TunnelOutcome::ReadFailed;
    case ReplyOutcome::BadStatusLine:
      return TunnelOutcome::BadStatusLine;
    case ReplyOutcome::NotOk:
      return TunnelOutcome::NotOk;
  }
  return connection.startTls(host) ? TunnelOutcome::Ok : TunnelOutcome::TlsFailed;
}

bool takeBody(BIO* reply, int contentLength, std::string& body) {
  body.clear();
  if (contentLength <= 0) return false;
  const size_t wanted = static_cast<size_t>(contentLength);
  if (static_cast<size_t>(BIO_ctrl_pending(reply)) < wanted) return false;
  body.resize(wanted);
  size_t done = 0;
  while (done < wanted) {
    const size_t left = wanted - done;
    const int n = BIO_read(reply, &body[done], left > 65536 ? 65536 : static_cast<int>(left));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string restOf(BIO* reply) {
  std::string rest;
  char* data = nullptr;
  const long size = BIO_get_mem_data(reply, &data);
  if (size > 0 && data) rest.assign(data, static_cast<size_t>(size));
  return rest;
}

void skipHeader(BIO* reply) {
  char line[512];
  for (;;) {
    const int n = BIO_gets(reply, line, sizeof line);
    if (n <= 0) return;
    const char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f') ++p;
    if (*p == 0) return;
  }
}
