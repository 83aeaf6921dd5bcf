// WinINet over libcurl. One request is one easy handle driven by a multi handle of its
// own, so that the caller's steps (send, write the body in pieces, end, read in
// pieces) each drive the transfer just as far as they need: the body is fed to libcurl
// through a read callback that pauses while the caller has given nothing, and the
// reply is taken from a write callback that pauses while the caller has not read.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <functional>
#include <mutex>
#include <string>

#include "hosts_file.h"
#include "platform/handles.h"
#include "platform/wininet_test.h"
#include "wininet.h"

namespace platform {
namespace {

constexpr size_t kMaxUnreadBody = 1 << 20;  // pause the transfer beyond this much unread reply

struct InetSettings {
  std::mutex lock;
  std::vector<DWORD> timeoutsSet;
  DWORD waitCap = 0;
};

InetSettings& settings() {
  static auto* s = new InetSettings();
  return *s;
}

void initCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class InetObject : public KernelObject {
 public:
  DWORD receiveTimeout = 0;  // 0: none
};

class InternetSession : public InetObject {
 public:
  std::string agent;
};

class InternetConnection : public InetObject {
 public:
  std::string agent;
  std::string server;
  INTERNET_PORT port = 0;
};

BOOL failWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

class HttpRequest : public InetObject {
 public:
  enum class State { Opened, Sending, Sent, Failed };

  ~HttpRequest() override {
    if (easy_) {
      if (multi_) curl_multi_remove_handle(multi_, easy_);
      curl_easy_cleanup(easy_);
    }
    if (multi_) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
    curl_slist_free_all(resolve_);
  }

  std::string agent, server, verb, object, version;
  INTERNET_PORT port = 0;
  DWORD flags = 0;

  // Connects and starts the request; the body follows through write().
  BOOL start(DWORD bodyTotal, const std::string& extraHeaders) {
    if (state_ != State::Opened) return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    initCurl();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) return failWith(ERROR_NOT_ENOUGH_MEMORY);
    bodyTotal_ = bodyTotal;
    const bool bracket = server.find(':') != std::string::npos;  // an IPv6 literal
    const std::string url = "http://" + (bracket ? "[" + server + "]" : server) + ":" + std::to_string(port) +
                            (object.empty() || object[0] != '/' ? "/" : "") + object;
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    // The machine's hosts file answers first, as for every look-up of this layer; libcurl
    // tries each address it gives in turn ("localhost" as ::1, then 127.0.0.1).
    std::string addresses;
    for (const std::string& address : hostsFileAddressTexts(server.c_str())) {
      if (!addresses.empty()) addresses += ",";
      addresses += address.find(':') != std::string::npos ? "[" + address + "]" : address;
    }
    if (!addresses.empty()) {
      resolve_ = curl_slist_append(nullptr, (server + ":" + std::to_string(port) + ":" + addresses).c_str());
      curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve_);
    }
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_PROXY, "");  // direct: no proxy from the environment
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION,
                     version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
    if (verb == "POST") {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyTotal));
    } else if (verb == "GET") {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
      if (bodyTotal != 0) return failWith(ERROR_INVALID_PARAMETER);
    } else {
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb.c_str());
      curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodyTotal));
    }
    // Only the headers WinINet itself sends: libcurl's own defaults are taken out.
    headers_ = curl_slist_append(headers_, "Accept:");
    headers_ = curl_slist_append(headers_, "Content-Type:");
    headers_ = curl_slist_append(headers_, "Expect:");
    if (flags & INTERNET_FLAG_PRAGMA_NOCACHE) headers_ = curl_slist_append(headers_, "Pragma: no-cache");
    size_t from = 0;
    while (from < extraHeaders.size()) {
      size_t end = extraHeaders.find_first_of("\r\n", from);
      if (end == std::string::npos) end = extraHeaders.size();
      if (end > from) headers_ = curl_slist_append(headers_, extraHeaders.substr(from, end - from).c_str());
      from = end + 1;
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &HttpRequest::onRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpRequest::onWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HttpRequest::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &HttpRequest::onConnected);
    curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
    curl_multi_add_handle(multi_, easy_);
    state_ = State::Sending;
    // The connection is made here: a refusal on every address fails the send.
    drive([this] { return connected_; }, receiveTimeout);
    if (!connected_) {
      state_ = State::Failed;
      return failWith(ERROR_INTERNET_CANNOT_CONNECT);
    }
    return TRUE;
  }

  BOOL write(const void* data, DWORD size, DWORD* written) {
    if (written) *written = 0;
    if (state_ != State::Sending) return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (size == 0) return TRUE;
    if (!data || !written) return failWith(ERROR_INVALID_PARAMETER);
    if (static_cast<uint64_t>(bodyWritten_) + size > bodyTotal_) return failWith(ERROR_INVALID_PARAMETER);
    pending_.append(static_cast<const char*>(data), size);
    unpause();
    drive([this] { return pending_.empty(); }, receiveTimeout);
    if (!pending_.empty()) {
      // Whatever libcurl did not take is not sent: the request is broken.
      pending_.clear();
      state_ = State::Failed;
      return failWith(finished_ ? errorOf(result_) : ERROR_INTERNET_TIMEOUT);
    }
    bodyWritten_ += size;
    *written = size;
    return TRUE;
  }

  BOOL end() {
    if (state_ != State::Sending) return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (bodyWritten_ != bodyTotal_) {
      state_ = State::Failed;
      return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    if (!drive([this] { return headersDone_; }, receiveTimeout)) {
      state_ = State::Failed;
      return failWith(ERROR_INTERNET_TIMEOUT);
    }
    if (!headersDone_) {
      state_ = State::Failed;
      return failWith(result_ == CURLE_COULDNT_CONNECT ? ERROR_INTERNET_CANNOT_CONNECT
                                                       : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    state_ = State::Sent;
    return TRUE;
  }

  BOOL query(DWORD level, void* buffer, DWORD* length, DWORD* index) {
    if (state_ != State::Sent) return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (!length) return failWith(ERROR_INVALID_PARAMETER);
    if (index && *index != 0) return failWith(ERROR_HTTP_HEADER_NOT_FOUND);  // each header is kept once
    std::string text;
    switch (level & ~static_cast<DWORD>(HTTP_QUERY_FLAG_NUMBER)) {
      case HTTP_QUERY_CONTENT_LENGTH:
        if (!hasContentLength_) return failWith(ERROR_HTTP_HEADER_NOT_FOUND);
        text = contentLength_;
        break;
      case HTTP_QUERY_STATUS_CODE:
        text = statusCode_;
        break;
      default:
        return failWith(ERROR_INVALID_PARAMETER);
    }
    if (level & HTTP_QUERY_FLAG_NUMBER) {
      if (*length < sizeof(DWORD) || !buffer) {
        *length = sizeof(DWORD);
        return failWith(ERROR_INSUFFICIENT_BUFFER);
      }
      const DWORD number = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
      std::memcpy(buffer, &number, sizeof number);
      *length = sizeof(DWORD);
    } else {
      if (*length < text.size() + 1 || !buffer) {
        *length = static_cast<DWORD>(text.size() + 1);
        return failWith(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(buffer, text.c_str(), text.size() + 1);
      *length = static_cast<DWORD>(text.size());
    }
    if (index) ++*index;
    return TRUE;
  }

  BOOL read(void* buffer, DWORD size, DWORD* got) {
    if (got) *got = 0;
    if (state_ != State::Sent) return failWith(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (!got || (!buffer && size)) return failWith(ERROR_INVALID_PARAMETER);
    if (unread_.empty() && !finished_) {
      unpause();
      if (!drive([this] { return !unread_.empty(); }, receiveTimeout)) return failWith(ERROR_INTERNET_TIMEOUT);
    }
    if (!unread_.empty()) {
      const size_t n = std::min<size_t>(size, unread_.size() - unreadFrom_);
      std::memcpy(buffer, unread_.data() + unreadFrom_, n);
      unreadFrom_ += n;
      if (unreadFrom_ == unread_.size()) {
        unread_.clear();
        unreadFrom_ = 0;
      }
      *got = static_cast<DWORD>(n);
      return TRUE;
    }
    if (result_ != CURLE_OK) return failWith(errorOf(result_));
    return TRUE;  // the end of the body
  }

 private:
  static DWORD errorOf(CURLcode code) {
    switch (code) {
      case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
      case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
      case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
      case CURLE_WEIRD_SERVER_REPLY:
      case CURLE_GOT_NOTHING:
      case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
      default:
        return ERROR_INTERNET_CONNECTION_RESET;
    }
  }

  // The wait of one step: the time-out set, under the test cap.
  static DWORD effectiveWait(DWORD timeout) {
    std::lock_guard<std::mutex> guard(settings().lock);
    const DWORD cap = settings().waitCap;
    if (cap == 0) return timeout;
    return timeout == 0 ? cap : std::min(timeout, cap);
  }

  // Drives the transfer until `done` holds or the transfer ends: true then. False when
  // `timeout` ms (0: none) pass without any byte from the server.
  bool drive(const std::function<bool()>& done, DWORD timeout) {
    const DWORD wait = effectiveWait(timeout);
    auto lastActivity = std::chrono::steady_clock::now();
    size_t seen = bytesReceived_;
    for (;;) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
        if (m->msg == CURLMSG_DONE) {
          finished_ = true;
          result_ = m->data.result;
        }
      }
      if (done() || finished_) return true;
      if (bytesReceived_ != seen) {
        seen = bytesReceived_;
        lastActivity = std::chrono::steady_clock::now();
      }
      int pollMs = 200;
      if (wait != 0) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                lastActivity);
        if (idle.count() >= static_cast<long long>(wait)) return false;
        pollMs = static_cast<int>(std::min<long long>(pollMs, wait - idle.count()));
      }
      curl_multi_poll(multi_, nullptr, 0, pollMs, nullptr);
    }
  }

  void unpause() {
    if (paused_) {
      paused_ = false;
      curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
  }

  static int onConnected(void* self, char*, char*, int, int) {
    static_cast<HttpRequest*>(self)->connected_ = true;
    return CURL_PREREQFUNC_OK;
  }

  static size_t onRead(char* buffer, size_t size, size_t count, void* self) {
    auto* r = static_cast<HttpRequest*>(self);
    if (r->pending_.empty()) {
      r->paused_ = true;
      return CURL_READFUNC_PAUSE;
    }
    const size_t n = std::min(size * count, r->pending_.size());
    std::memcpy(buffer, r->pending_.data(), n);
    r->pending_.erase(0, n);
    return n;
  }

  static size_t onWrite(char* data, size_t size, size_t count, void* self) {
    auto* r = static_cast<HttpRequest*>(self);
    const size_t n = size * count;
    if (r->unread_.size() - r->unreadFrom_ >= kMaxUnreadBody) {
      r->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (r->unreadFrom_ > 0) {
      r->unread_.erase(0, r->unreadFrom_);
      r->unreadFrom_ = 0;
    }
    r->unread_.append(data, n);
    r->bytesReceived_ += n;
    return n;
  }

  static size_t onHeader(char* data, size_t size, size_t count, void* self) {
    auto* r = static_cast<HttpRequest*>(self);
    const size_t n = size * count;
    r->bytesReceived_ += n;
    const std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
      // A new status line; an interim 1xx answer is followed by the real one.
      const size_t space = line.find(' ');
      r->interim_ = space != std::string::npos && space + 1 < line.size() && line[space + 1] == '1';
      r->statusCode_ = space == std::string::npos ? std::string() : line.substr(space + 1, 3);
      r->hasContentLength_ = false;
      r->contentLength_.clear();
    } else if (line.size() > 15 && strncasecmp(line.c_str(), "Content-Length:", 15) == 0) {
      // The value as sent, without the blanks around it.
      const size_t from = line.find_first_not_of(" \t", 15);
      const size_t to = line.find_last_not_of(" \t\r\n");
      r->contentLength_ = from == std::string::npos || to < from ? std::string() : line.substr(from, to - from + 1);
      r->hasContentLength_ = true;
    } else if ((line == "\r\n" || line == "\n") && !r->interim_) {
      r->headersDone_ = true;
    }
    return n;
  }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headers_ = nullptr;
  curl_slist* resolve_ = nullptr;
  State state_ = State::Opened;
  DWORD bodyTotal_ = 0;
  DWORD bodyWritten_ = 0;
  std::string pending_;  // body bytes given but not yet taken by libcurl
  std::string unread_;   // reply body received but not yet read
  size_t unreadFrom_ = 0;
  size_t bytesReceived_ = 0;
  bool connected_ = false;
  bool headersDone_ = false;
  bool interim_ = false;
  std::string statusCode_;
  std::string contentLength_;
  bool hasContentLength_ = false;
  bool paused_ = false;
  bool finished_ = false;
  CURLcode result_ = CURLE_OK;
};

}  // namespace
}  // namespace platform

using platform::HttpRequest;
using platform::InetObject;
using platform::InternetConnection;
using platform::InternetSession;

extern "C" {

HINTERNET WINAPI InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR, DWORD) {
  if (accessType == INTERNET_OPEN_TYPE_PROXY && proxy && *proxy) {
    // Proxies are not part of this layer.
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return nullptr;
  }
  auto session = std::make_shared<InternetSession>();
  session->agent = agent ? agent : "";
  return platform::insertHandle(session);
}

BOOL WINAPI InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  auto object = platform::objectOf<InetObject>(handle);
  if (!object) return FALSE;
  switch (option) {
    case INTERNET_OPTION_RECEIVE_TIMEOUT: {
      if (!buffer || length < sizeof(DWORD)) return platform::failWith(ERROR_INVALID_PARAMETER);
      DWORD value = 0;
      std::memcpy(&value, buffer, sizeof value);
      object->receiveTimeout = value;
      std::lock_guard<std::mutex> guard(platform::settings().lock);
      platform::settings().timeoutsSet.push_back(value);
      return TRUE;
    }
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_SEND_TIMEOUT:
      if (!buffer || length < sizeof(DWORD)) return platform::failWith(ERROR_INVALID_PARAMETER);
      return TRUE;  // connections are local and sends wait with the receive time-out
    default:
      return platform::failWith(ERROR_INTERNET_INVALID_OPTION);
  }
}

HINTERNET WINAPI InternetConnectA(HINTERNET internet, LPCSTR server, INTERNET_PORT port, LPCSTR, LPCSTR, DWORD service,
                                  DWORD, DWORD_PTR) {
  auto session = platform::referenceHandleAs<InternetSession>(internet);
  if (!session) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (service != INTERNET_SERVICE_HTTP || !server || !*server) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<InternetConnection>();
  connection->agent = session->agent;
  connection->server = server;
  connection->port = port == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : port;
  connection->receiveTimeout = session->receiveTimeout;
  return platform::insertHandle(connection);
}

HINTERNET WINAPI HttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR objectName, LPCSTR version, LPCSTR,
                                  LPCSTR*, DWORD flags, DWORD_PTR) {
  auto connection = platform::referenceHandleAs<InternetConnection>(connect);
  if (!connection) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto request = std::make_shared<HttpRequest>();
  request->agent = connection->agent;
  request->server = connection->server;
  request->port = connection->port;
  request->receiveTimeout = connection->receiveTimeout;
  request->verb = verb && *verb ? verb : "GET";
  request->object = objectName && *objectName ? objectName : "/";
  request->version = version && *version ? version : "HTTP/1.1";
  request->flags = flags;
  return platform::insertHandle(request);
}

BOOL WINAPI HttpSendRequestExA(HINTERNET handle, LPINTERNET_BUFFERSA in, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  DWORD total = 0;
  std::string headers;
  if (in) {
    if (in->dwStructSize != sizeof(INTERNET_BUFFERSA)) return platform::failWith(ERROR_INVALID_PARAMETER);
    total = in->dwBufferTotal;
    if (in->lpcszHeader) {
      headers = in->dwHeadersLength == static_cast<DWORD>(-1) || in->dwHeadersLength == 0
                    ? std::string(in->lpcszHeader)
                    : std::string(in->lpcszHeader, in->dwHeadersLength);
    }
  }
  return request->start(total, headers);
}

BOOL WINAPI HttpSendRequestA(HINTERNET handle, LPCSTR headers, DWORD headersLength, LPVOID optional,
                             DWORD optionalLength) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  std::string extra;
  if (headers) extra = headersLength == static_cast<DWORD>(-1) ? std::string(headers) : std::string(headers, headersLength);
  if (!request->start(optionalLength, extra)) return FALSE;
  DWORD written = 0;
  if (optionalLength && !request->write(optional, optionalLength, &written)) return FALSE;
  return request->end();
}

BOOL WINAPI InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD size, LPDWORD written) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  return request->write(buffer, size, written);
}

BOOL WINAPI HttpEndRequestA(HINTERNET handle, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  return request->end();
}

BOOL WINAPI HttpQueryInfoA(HINTERNET handle, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  return request->query(level, buffer, length, index);
}

BOOL WINAPI InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD size, LPDWORD got) {
  auto request = platform::objectOf<HttpRequest>(handle);
  if (!request) return FALSE;
  return request->read(buffer, size, got);
}

BOOL WINAPI InternetCloseHandle(HINTERNET handle) {
  if (!platform::referenceHandleAs<InetObject>(handle)) return platform::failWith(ERROR_INVALID_HANDLE);
  return platform::closeHandle(handle) ? TRUE : platform::failWith(ERROR_INVALID_HANDLE);
}

}  // extern "C"

namespace platform {
namespace inettest {

std::vector<DWORD> receiveTimeoutsSet() {
  std::lock_guard<std::mutex> guard(settings().lock);
  return settings().timeoutsSet;
}

void clearReceiveTimeoutsSet() {
  std::lock_guard<std::mutex> guard(settings().lock);
  settings().timeoutsSet.clear();
}

void capReceiveWait(DWORD milliseconds) {
  std::lock_guard<std::mutex> guard(settings().lock);
  settings().waitCap = milliseconds;
}

}  // namespace inettest
}  // namespace platform
