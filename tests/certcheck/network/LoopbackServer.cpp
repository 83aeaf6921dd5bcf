#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace certnet {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

X509* readCertificate(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return x;
}

EVP_PKEY* readKey(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  return key;
}

int connectLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Reply httpReply(int status, const std::string& body, const std::string& contentType) {
  Reply reply;
  reply.bytes = "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Error") + "\r\nContent-Type: " +
                contentType + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return reply;
}

LoopbackServer::LoopbackServer(Handler handler, const TlsIdentity* tls, uint16_t wantedPort)
    : handler_(std::move(handler)), tls_(nullptr, SSL_CTX_free) {
  if (tls) {
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    BIO* bio = BIO_new_mem_buf(tls->certificateChainPem.data(), static_cast<int>(tls->certificateChainPem.size()));
    X509* leaf = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    SSL_CTX_use_certificate(tls_.get(), leaf);
    X509_free(leaf);
    while (X509* extra = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) SSL_CTX_add_extra_chain_cert(tls_.get(), extra);
    ERR_clear_error();
    BIO_free(bio);
    EVP_PKEY* key = readKey(tls->keyPem);
    if (!key || SSL_CTX_use_PrivateKey(tls_.get(), key) != 1) throw std::runtime_error("TLS identity");
    EVP_PKEY_free(key);
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(wantedPort);
  // A port asked for again after a run ended may still have connections in TIME_WAIT.
  const int one = 1;
  if (wantedPort != 0) ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (wantedPort != 0 && ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    address.sin_port = 0;
  if ((address.sin_port == 0 && ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ||
      ::listen(listenFd_, 32) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("bind 127.0.0.1");
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop() {
  if (!thread_.joinable()) return;
  uint64_t one = 1;
  (void)!::write(stopFd_, &one, sizeof one);
  thread_.join();
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : workers_) t.join();
  ::close(listenFd_);
  ::close(stopFd_);
}

std::string LoopbackServer::url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::setHandler(Handler handler) {
  std::lock_guard<std::mutex> guard(lock_);
  handler_ = std::move(handler);
}

std::vector<Request> LoopbackServer::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

void LoopbackServer::run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    std::lock_guard<std::mutex> guard(lock_);
    open_.push_back(fd);
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

bool LoopbackServer::readRequest(int fd, SSL* ssl, Request& request) {
  size_t headEnd = std::string::npos;
  size_t bodyLength = 0;
  char buffer[4096];
  for (;;) {
    if (headEnd != std::string::npos && request.raw.size() >= headEnd + bodyLength) break;
    const int n = ssl ? SSL_read(ssl, buffer, sizeof buffer) : static_cast<int>(::recv(fd, buffer, sizeof buffer, 0));
    if (n <= 0) return false;
    request.raw.append(buffer, static_cast<size_t>(n));
    if (request.raw.size() > (4u << 20)) return false;
    if (headEnd != std::string::npos) continue;
    const size_t end = request.raw.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    headEnd = end + 4;
    const size_t lineEnd = request.raw.find("\r\n");
    std::istringstream line(request.raw.substr(0, lineEnd));
    line >> request.method >> request.target;
    request.path = request.target;
    const size_t scheme = request.target.find("://");
    if (scheme != std::string::npos) {
      const size_t slash = request.target.find('/', scheme + 3);
      request.path = slash == std::string::npos ? "/" : request.target.substr(slash);
    }
    size_t at = lineEnd + 2;
    while (at < end) {
      const size_t next = request.raw.find("\r\n", at);
      const std::string header = request.raw.substr(at, next - at);
      const size_t colon = header.find(':');
      if (colon != std::string::npos) {
        std::string value = header.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        request.headers[lower(header.substr(0, colon))] = value;
      }
      at = next + 2;
    }
    auto length = request.headers.find("content-length");
    if (length != request.headers.end()) bodyLength = std::strtoul(length->second.c_str(), nullptr, 10);
  }
  request.body = request.raw.substr(headEnd, bodyLength);
  return true;
}

void LoopbackServer::relay(int fd, const Reply& reply) {
  const int upstream = connectLoopback(reply.relayPort);
  if (upstream < 0) return;
  if (!reply.relayPrefix.empty()) (void)!::send(upstream, reply.relayPrefix.data(), reply.relayPrefix.size(), MSG_NOSIGNAL);
  char buffer[16384];
  for (;;) {
    pollfd fds[3] = {{fd, POLLIN, 0}, {upstream, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents) break;
    bool done = false;
    for (int i = 0; i < 2 && !done; ++i) {
      if (!fds[i].revents) continue;
      const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
      if (n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) done = true;
    }
    if (done) break;
  }
  ::close(upstream);
}

void LoopbackServer::serve(int fd) {
  SSL* ssl = nullptr;
  bool ok = true;
  if (tls_) {
    ssl = SSL_new(tls_.get());
    SSL_set_fd(ssl, fd);
    ok = SSL_accept(ssl) == 1;
    if (ok) ++handshakes_;
  }
  Request request;
  if (ok && readRequest(fd, ssl, request)) {
    Handler handler;
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(request);
      handler = handler_;
    }
    const Reply reply = handler(request);
    auto sendAll = [&](const char* data, size_t size) {
      while (size > 0) {
        const int n = ssl ? SSL_write(ssl, data, static_cast<int>(size))
                          : static_cast<int>(::send(fd, data, size, MSG_NOSIGNAL));
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
      }
      return true;
    };
    bool sent = true;
    if (!reply.silent) {
      size_t at = 0, piece = 0;
      while (sent && at < reply.bytes.size()) {
        size_t n = reply.bytes.size() - at;
        if (!reply.pieces.empty()) n = std::min(n, std::max<size_t>(1, reply.pieces[piece++ % reply.pieces.size()]));
        sent = sendAll(reply.bytes.data() + at, n);
        at += n;
        if (!reply.pieces.empty()) pause();
      }
    }
    if (sent && reply.endless) {
      const std::string filler(16384, 'x');
      while (sendAll(filler.data(), filler.size())) {
      }
    } else if (sent && reply.relayPort) {
      relay(fd, reply);
    } else if (reply.silent || reply.keepOpen) {
      pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
      // Until the client goes or the server stops.
      while (::poll(fds, 2, -1) < 0) {
      }
    }
  }
  if (ssl) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  // Unread bytes on close would turn the close into a reset that can
  // overtake the reply: end the writing side and drain briefly first.
  ::shutdown(fd, SHUT_WR);
  char drain[4096];
  pollfd in{fd, POLLIN, 0};
  while (::poll(&in, 1, 200) > 0 && ::recv(fd, drain, sizeof drain, 0) > 0) {
  }
  std::lock_guard<std::mutex> guard(lock_);
  open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
  ::close(fd);
}

FileServer::FileServer(const TlsIdentity* tls, uint16_t wantedPort)
    : LoopbackServer([this](const Request& r) { return answer(r); }, tls, wantedPort) {}

void FileServer::put(const std::string& path, const Reply& reply) {
  std::lock_guard<std::mutex> guard(filesLock_);
  files_[path] = reply;
}

Reply FileServer::answer(const Request& request) {
  std::lock_guard<std::mutex> guard(filesLock_);
  auto it = files_.find(request.path);
  return it == files_.end() ? httpReply(404, "not found", "text/plain") : it->second;
}

OcspResponder::OcspResponder(const OcspSettings& settings, const TlsIdentity* tls, uint16_t wantedPort)
    : LoopbackServer([this](const Request& r) { return answer(r); }, tls, wantedPort), settings_(settings) {}

void OcspResponder::setSettings(const OcspSettings& settings) {
  std::lock_guard<std::mutex> guard(settingsLock_);
  settings_ = settings;
}

namespace {

struct IndexEntry {
  char state = 0;
  std::string revoked;  // YYMMDDHHMMSSZ
};

// openssl ca's index: state, expiry, revocation[,reason], serial (hex), file, subject.
std::map<std::string, IndexEntry> readIndex(const std::string& path) {
  std::map<std::string, IndexEntry> entries;
  std::istringstream in(readText(path));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
      const size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (fields.size() < 4 || fields[0].empty()) continue;
    IndexEntry e;
    e.state = fields[0][0];
    e.revoked = fields[2].substr(0, fields[2].find(','));
    std::string serial = fields[3];
    for (char& c : serial) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    serial.erase(0, std::min(serial.find_first_not_of('0'), serial.size() - 1));
    entries[serial] = e;
  }
  return entries;
}

std::string serialText(const ASN1_INTEGER* serial) {
  BIGNUM* bn = ASN1_INTEGER_to_BN(serial, nullptr);
  char* hex = BN_bn2hex(bn);
  std::string text = hex ? hex : "";
  OPENSSL_free(hex);
  BN_free(bn);
  text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  return text;
}

std::string der(OCSP_RESPONSE* response) {
  unsigned char* out = nullptr;
  const int n = i2d_OCSP_RESPONSE(response, &out);
  std::string bytes(reinterpret_cast<char*>(out), n > 0 ? static_cast<size_t>(n) : 0);
  OPENSSL_free(out);
  return bytes;
}

}  // namespace

Reply OcspResponder::answer(const Request& request) {
  OcspSettings s;
  {
    std::lock_guard<std::mutex> guard(settingsLock_);
    s = settings_;
  }
  if (!s.garbage.empty()) return httpReply(200, s.garbage, "application/ocsp-response");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(request.body.data());
  OCSP_REQUEST* ocspRequest = d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(request.body.size()));
  if (!ocspRequest) {
    OCSP_RESPONSE* malformed = OCSP_response_create(OCSP_RESPONSE_STATUS_MALFORMEDREQUEST, nullptr);
    const std::string bytes = der(malformed);
    OCSP_RESPONSE_free(malformed);
    return httpReply(200, bytes, "application/ocsp-response");
  }
  X509* issuer = readCertificate(s.issuerPem);
  X509* signer = readCertificate(s.signerPem);
  EVP_PKEY* key = readKey(s.signerKeyPem);
  OCSP_CERTID* issuerId = OCSP_cert_to_id(EVP_sha1(), nullptr, issuer);
  const std::map<std::string, IndexEntry> index = readIndex(s.indexFile);
  OCSP_BASICRESP* basic = OCSP_BASICRESP_new();
  ASN1_TIME* thisUpdate = X509_gmtime_adj(nullptr, s.thisUpdateOffset);
  ASN1_TIME* nextUpdate = s.nextUpdateOffset ? X509_gmtime_adj(nullptr, s.nextUpdateOffset) : nullptr;
  for (int i = 0; i < OCSP_request_onereq_count(ocspRequest); ++i) {
    OCSP_CERTID* id = OCSP_onereq_get0_id(OCSP_request_onereq_get0(ocspRequest, i));
    ASN1_INTEGER* serial = nullptr;
    OCSP_id_get0_info(nullptr, nullptr, nullptr, &serial, id);
    int status = V_OCSP_CERTSTATUS_UNKNOWN;
    ASN1_TIME* revoked = nullptr;
    auto entry = index.find(serialText(serial));
    if (OCSP_id_issuer_cmp(issuerId, id) == 0 && entry != index.end()) {
      if (entry->second.state == 'R') {
        status = V_OCSP_CERTSTATUS_REVOKED;
        revoked = ASN1_TIME_new();
        ASN1_TIME_set_string(revoked, entry->second.revoked.c_str());
      } else if (entry->second.state == 'V') {
        status = V_OCSP_CERTSTATUS_GOOD;
      }
    }
    if (s.forceStatus >= 0) status = s.forceStatus;
    if (status == V_OCSP_CERTSTATUS_REVOKED && !revoked) revoked = X509_gmtime_adj(nullptr, -86400);
    OCSP_basic_add1_status(basic, id, status, status == V_OCSP_CERTSTATUS_REVOKED ? OCSP_REVOKED_STATUS_UNSPECIFIED : 0,
                           revoked, thisUpdate, nextUpdate);
    ASN1_TIME_free(revoked);
  }
  if (s.echoNonce) OCSP_copy_nonce(basic, ocspRequest);
  unsigned long flags = 0;
  if (!s.includeSigner) flags |= OCSP_NOCERTS;
  if (s.byKey) flags |= OCSP_RESPID_KEY;
  OCSP_basic_sign(basic, signer, key, EVP_sha256(), nullptr, flags);
  OCSP_RESPONSE* response = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic);
  const std::string bytes = der(response);
  OCSP_RESPONSE_free(response);
  OCSP_BASICRESP_free(basic);
  ASN1_TIME_free(thisUpdate);
  ASN1_TIME_free(nextUpdate);
  OCSP_CERTID_free(issuerId);
  EVP_PKEY_free(key);
  X509_free(signer);
  X509_free(issuer);
  OCSP_REQUEST_free(ocspRequest);
  return httpReply(200, bytes, "application/ocsp-response");
}

CaptureProxy::CaptureProxy() : LoopbackServer([this](const Request& r) { return answer(r); }) {}

void CaptureProxy::setConnectAnswer(const std::string& statusLine, const std::vector<size_t>& pieces) {
  std::lock_guard<std::mutex> guard(settingsLock_);
  connectAnswer_ = statusLine;
  connectPieces_ = pieces;
}

void CaptureProxy::requireAuthentication(bool on) {
  std::lock_guard<std::mutex> guard(settingsLock_);
  authentication_ = on;
}

Reply CaptureProxy::answer(const Request& request) {
  std::lock_guard<std::mutex> guard(settingsLock_);
  if (authentication_) {
    Reply reply = httpReply(407, "", "text/plain");
    reply.bytes.insert(reply.bytes.find("\r\n") + 2, "Proxy-Authenticate: Basic realm=\"test\"\r\n");
    return reply;
  }
  const size_t colon = request.target.rfind(':');
  if (request.method == "CONNECT") {
    Reply reply;
    reply.bytes = connectAnswer_;
    reply.pieces = connectPieces_;
    if (connectAnswer_.compare(0, 12, "HTTP/1.0 200") == 0 || connectAnswer_.compare(0, 12, "HTTP/1.1 200") == 0)
      reply.relayPort = static_cast<uint16_t>(std::atoi(request.target.c_str() + colon + 1));
    return reply;
  }
  // http://127.0.0.1:PORT/path → origin-form to that port.
  const size_t hostStart = request.target.find("://");
  if (hostStart == std::string::npos) return httpReply(400, "", "text/plain");
  const size_t portStart = request.target.find(':', hostStart + 3);
  Reply reply;
  reply.relayPort = static_cast<uint16_t>(std::atoi(request.target.c_str() + portStart + 1));
  const size_t lineEnd = request.raw.find("\r\n");
  reply.relayPrefix = request.method + " " + request.path + " HTTP/1.0" + request.raw.substr(lineEnd);
  return reply;
}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
  // A folder the proxy can write to also after it dropped its privileges.
  char folder[] = "/tmp/quarvel-tinyproxy-XXXXXX";
  if (!::mkdtemp(folder)) throw std::runtime_error("no folder for tinyproxy");
  dir_ = folder;
  ::chmod(folder, 0777);
  const std::string& dir = dir_;
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freePort();
    const std::string config = dir + "/tinyproxy.conf";
    logFile_ = dir + "/tinyproxy.log";
    {
      std::ofstream out(config);
      out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nLogFile \"" << logFile_
          << "\"\nLogLevel Info\nMaxClients 16\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
      if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
      if (::getuid() == 0) out << "User nobody\nGroup nogroup\n";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Ends with the test process, also when that one dies.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready once it accepts; gone when the port was taken meanwhile.
    bool reaped = false;
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        reaped = true;
        break;
      }
      const int fd = connectLoopback(port_);
      if (fd >= 0) {
        ::close(fd);
        pid_ = pid;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (pid_ < 0 && !reaped) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) {
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("tinyproxy did not start");
  }
}

TinyProxy::~TinyProxy() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TinyProxy::log() const { return readText(logFile_); }

}  // namespace certnet
