// URLDownloadToFileA over libcurl: one easy handle per download, run to its end on the
// calling thread, with the binding status callback told of each step (see urlmon.h).
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "crypt_stores.h"
#include "platform/machine.h"
#include "platform/urlmon_test.h"
#include "platform/win_text.h"
#include "urlmon.h"
#include "winerror.h"

const IID IID_IBinding = {0x79EAC9C0, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
const IID IID_IBindStatusCallback = {0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

namespace {

constexpr DWORD kDefaultWait = 60000;
std::atomic<DWORD> g_connectWait{kDefaultWait};
std::atomic<DWORD> g_receiveWait{kDefaultWait};

std::u16string wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return u"";
  std::u16string out(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), length);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

// The binding handed to OnStartBinding: Abort cancels the download at its next step.
class Binding : public IBinding {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = (riid == IID_IUnknown || riid == IID_IBinding) ? static_cast<IBinding*>(this) : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  // The binding lives as long as the download; references change nothing.
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Abort() override {
    aborted = true;
    return S_OK;
  }
  STDMETHODIMP Suspend() override { return E_NOTIMPL; }
  STDMETHODIMP Resume() override { return E_NOTIMPL; }
  STDMETHODIMP SetPriority(LONG nPriority) override {
    priority = nPriority;
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG* pnPriority) override {
    if (!pnPriority) return E_POINTER;
    *pnPriority = priority;
    return S_OK;
  }
  STDMETHODIMP GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }

  std::atomic<bool> aborted{false};
  LONG priority = 0;
};

// Holds the caller's callback with one reference for the whole download.
class CallbackHold {
 public:
  explicit CallbackHold(IBindStatusCallback* callback) : callback_(callback) {
    if (callback_) callback_->AddRef();
  }
  ~CallbackHold() {
    if (callback_) callback_->Release();
  }
  CallbackHold(const CallbackHold&) = delete;
  CallbackHold& operator=(const CallbackHold&) = delete;

 private:
  IBindStatusCallback* callback_;
};

// The downloaded bytes go to a file beside the target, renamed to the target only when
// the download succeeded.
class PartFile {
 public:
  explicit PartFile(const std::string& target) : target_(target) {
    std::vector<char> name(target.begin(), target.end());
    const char suffix[] = ".part-XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) path_ = name.data();
    error_ = fd_ >= 0 ? 0 : errno;
  }
  ~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool open() const { return fd_ >= 0; }
  int openError() const { return error_; }
  bool write(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  // Closes the file and puts it in the target's place.
  bool commit() {
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!closed || ::rename(path_.c_str(), target_.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
};

HRESULT fromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    default: return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  }
}

class Download {
 public:
  Download(IBindStatusCallback* callback, const std::string& url, PartFile& file, Binding& binding)
      : callback_(callback), url_(url), wideUrl_(wide(url)), file_(file), binding_(binding) {}

  // Tells the callback; false (and the result E_ABORT) when it wants the download to end.
  bool progress(ULONG done, ULONG total, ULONG status, const std::u16string& text) {
    if (callback_ && FAILED(callback_->OnProgress(done, total, status, text.c_str()))) failure_ = E_ABORT;
    if (binding_.aborted) failure_ = E_ABORT;
    return failure_ == S_OK;
  }

  HRESULT run() {
    CURLU* parts = curl_url();
    char* scheme = nullptr;
    char* host = nullptr;
    const bool parsed = parts && curl_url_set(parts, CURLUPART_URL, url_.c_str(), 0) == CURLUE_OK &&
                        curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                        curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK;
    const std::string schemeText = scheme ? scheme : "", hostText = host ? host : "";
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(parts);
    if (!parsed) return INET_E_INVALID_URL;
    if (schemeText != "http" && schemeText != "https") return INET_E_UNKNOWN_PROTOCOL;
    secure_ = schemeText == "https";

    if (!progress(0, 0, BINDSTATUS_FINDINGRESOURCE, wide(hostText))) return failure_;
    CURL* easy = curl_easy_init();
    if (!easy) return E_OUTOFMEMORY;
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy from the environment
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Once secure, always secure: an https download follows only https redirects.
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure_ ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/4.0 (compatible; Win32; URL moniker)");
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Download::onSslContext);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(g_connectWait.load()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>((g_receiveWait.load() + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Download::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Download::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Download::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Download::onTick);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    easy_ = easy;
    const CURLcode code = curl_easy_perform(easy);
    long redirects = 0;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_cleanup(easy);
    easy_ = nullptr;
    if (failure_ != S_OK) return failure_;
    if (code != CURLE_OK) return resultOf(code, redirects > 0 || redirecting_);
    if (!started_) return INET_E_DOWNLOAD_FAILURE;  // no reply with a body to keep
    if (!progress(received_, contentLength_, BINDSTATUS_ENDDOWNLOADDATA, wideUrl_)) return failure_;
    return file_.commit() ? S_OK : fromErrno(errno);
  }

 private:
  static HRESULT resultOf(CURLcode code, bool redirected) {
    switch (code) {
      case CURLE_COULDNT_RESOLVE_HOST: return INET_E_RESOURCE_NOT_FOUND;
      case CURLE_COULDNT_CONNECT: return INET_E_CANNOT_CONNECT;
      case CURLE_OPERATION_TIMEDOUT: return INET_E_CONNECTION_TIMEOUT;
      case CURLE_PEER_FAILED_VERIFICATION: return INET_E_INVALID_CERTIFICATE;
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_CIPHER:
      case CURLE_SSL_CERTPROBLEM: return INET_E_SECURITY_PROBLEM;
      case CURLE_TOO_MANY_REDIRECTS: return INET_E_REDIRECT_FAILED;
      case CURLE_UNSUPPORTED_PROTOCOL: return redirected ? INET_E_REDIRECT_FAILED : INET_E_UNKNOWN_PROTOCOL;
      case CURLE_URL_MALFORMAT: return redirected ? INET_E_REDIRECT_FAILED : INET_E_INVALID_URL;
      default: return INET_E_DOWNLOAD_FAILURE;
    }
  }

  static int onConnected(void* self, char* address, char*, int, int) {
    auto* d = static_cast<Download*>(self);
    const bool go = d->progress(0, 0, BINDSTATUS_CONNECTING, wide(address ? address : "")) &&
                    d->progress(0, 0, BINDSTATUS_SENDINGREQUEST, u"");
    return go ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
  }

  // The target of a Location header, resolved against the URL that answered.
  std::string resolve(const std::string& location) const {
    char* current = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &current);
    CURLU* url = curl_url();
    char* resolved = nullptr;
    std::string out;
    if (url && current && curl_url_set(url, CURLUPART_URL, current, 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &resolved, 0) == CURLUE_OK)
      out = resolved;
    curl_free(resolved);
    curl_url_cleanup(url);
    return out;
  }

  // Each line of each reply's head; at its end, a redirect that libcurl follows, or the
  // reply whose body is kept.
  static size_t onHeader(char* data, size_t size, size_t count, void* self) {
    auto* d = static_cast<Download*>(self);
    const size_t length = size * count;
    std::string line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
      d->location_.clear();
      d->redirecting_ = false;
      return length;
    }
    if (line != "\r\n" && line != "\n") {
      const size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (colon != std::string::npos && name == "location") {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t\r\n") + 1);
        d->location_ = value;
      }
      return length;
    }
    long status = 0;
    curl_easy_getinfo(d->easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) return length;  // an interim reply; the real one follows
    if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && !d->location_.empty()) {
      d->redirecting_ = true;
      return d->progress(0, 0, BINDSTATUS_REDIRECTING, wide(d->resolve(d->location_))) ? length : 0;
    }
    if (status < 200 || status >= 300) {
      d->failure_ = INET_E_DOWNLOAD_FAILURE;
      return 0;
    }
    curl_off_t announced = -1;
    curl_easy_getinfo(d->easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    d->contentLength_ = announced > 0 && announced <= 0xFFFFFFFF ? static_cast<ULONG>(announced) : 0;
    d->started_ = true;
    return d->progress(0, d->contentLength_, BINDSTATUS_BEGINDOWNLOADDATA, d->wideUrl_) ? length : 0;
  }

  static size_t onBody(char* data, size_t size, size_t count, void* self) {
    auto* d = static_cast<Download*>(self);
    const size_t length = size * count;
    if (!d->started_) return length;  // the body of a redirect
    if (!d->file_.write(data, length)) {
      d->failure_ = fromErrno(errno);
      return 0;
    }
    const uint64_t total = static_cast<uint64_t>(d->received_) + length;
    d->received_ = total > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<ULONG>(total);
    return d->progress(d->received_, d->contentLength_, BINDSTATUS_DOWNLOADINGDATA, d->wideUrl_) ? length : 0;
  }

  // Between pieces: a binding aborted from another thread ends the transfer.
  static int onTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* d = static_cast<Download*>(self);
    if (d->binding_.aborted) d->failure_ = E_ABORT;
    return d->failure_ == S_OK ? 0 : 1;
  }

  // The machine's roots beside the host's: the machine's and the user's "Root" stores.
  static CURLcode onSslContext(CURL*, void* context, void*) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    for (const bool machine : {true, false}) {
      for (const std::vector<unsigned char>& der : platform::readStoreFile(platform::systemStoreFile(machine, "Root"))) {
        const unsigned char* p = der.data();
        if (X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(der.size()))) {
          X509_STORE_add_cert(store, certificate);  // takes its own reference
          X509_free(certificate);
        }
      }
    }
    return CURLE_OK;
  }

  IBindStatusCallback* callback_;
  std::string url_;
  std::u16string wideUrl_;
  PartFile& file_;
  Binding& binding_;
  CURL* easy_ = nullptr;
  bool secure_ = false;
  bool started_ = false;
  bool redirecting_ = false;
  std::string location_;
  ULONG contentLength_ = 0;
  ULONG received_ = 0;
  HRESULT failure_ = S_OK;
};

void initCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

namespace platform {
namespace urlmontest {

void setDownloadWaits(DWORD connectMilliseconds, DWORD receiveMilliseconds) {
  g_connectWait = connectMilliseconds ? connectMilliseconds : kDefaultWait;
  g_receiveWait = receiveMilliseconds ? receiveMilliseconds : kDefaultWait;
}

}  // namespace urlmontest
}  // namespace platform

extern "C" {

HRESULT WINAPI URLDownloadToFileA(LPUNKNOWN pCaller, LPCSTR szURL, LPCSTR szFileName, DWORD dwReserved,
                                  LPBINDSTATUSCALLBACK lpfnCB) {
  (void)pCaller;  // no calling object takes part: there is no browser here
  if (!szURL || !*szURL || !szFileName || !*szFileName || dwReserved != 0) return E_INVALIDARG;
  initCurl();
  CallbackHold hold(lpfnCB);
  if (lpfnCB) {
    DWORD bindFlags = 0;
    BINDINFO info{};
    info.cbSize = sizeof info;
    if (FAILED(lpfnCB->GetBindInfo(&bindFlags, &info))) return E_ABORT;
  }
  Binding binding;
  if (lpfnCB && FAILED(lpfnCB->OnStartBinding(0, &binding))) return E_ABORT;
  if (lpfnCB) {
    LONG priority = 0;
    lpfnCB->GetPriority(&priority);
    binding.priority = priority;
  }
  const std::string target = platform::mapPath(szFileName);
  HRESULT result;
  {
    PartFile file(target);
    if (target.empty()) {
      result = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    } else if (!file.open()) {
      result = fromErrno(file.openError());
    } else {
      Download download(lpfnCB, szURL, file, binding);
      result = download.run();
    }
  }
  if (lpfnCB) {
    const std::u16string error = FAILED(result) ? u"download failed" : u"";
    lpfnCB->OnStopBinding(result, FAILED(result) ? error.c_str() : nullptr);
  }
  return result;
}

}  // extern "C"
