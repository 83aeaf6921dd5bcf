#include "SecurityLayerForwarding.h"

#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SecurityLayerNamespace.h"

namespace slforward {

const char* const kMsgRequestMissing =
    "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten für die Signaturerstellung vorhanden.\n"
    "Bitte überprüfen Sie, ob der Parameter 'xml_request' angegeben wurde.";
const char* const kMsgPostUrlMissing =
    "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten für die Signaturerstellung vorhanden.\n"
    "Bitte überprüfen Sie, ob der Parameter 'post_url' angegeben wurde.";
const char* const kMsgIncomplete =
    "Das HTML-File ist fehlerhaft.\nEs sind nicht alle Daten für die Signaturerstellung vorhanden.";
const char* const kMsgCommunication = "Kommunikationsfehler.\nBitte prüfen Sie, ob Quar:vel gestartet ist.";
const char* const kMsgTransfer = "Bei der Datenübertragung ist ein Fehler aufgetreten.";
const char* const kMsgForwarding = "Bei der Weiterleitung auf die nächste Seite ist ein Fehler aufgetreten.";
const char* const kCaptionError = "Error";

namespace {

void* heapAllocate(size_t bytes) { return std::malloc(bytes); }
void heapRelease(void* block) { std::free(block); }

// A block of the plug-in's memory, released when it goes.
class Block {
 public:
  explicit Block(const PluginMemory& memory) : memory_(memory) {}
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { reset(); }

  bool allocate(size_t size) {
    reset();
    data_ = static_cast<char*>(memory_.allocate(size));
    size_ = data_ ? size : 0;
    return data_ != nullptr;
  }
  // A bigger block holding the first `keep` bytes of this one.
  bool grow(size_t size, size_t keep) {
    char* bigger = static_cast<char*>(memory_.allocate(size));
    if (!bigger) return false;
    if (keep) std::memcpy(bigger, data_, keep);
    reset();
    data_ = bigger;
    size_ = size;
    return true;
  }
  void reset() {
    if (data_) memory_.release(data_);
    data_ = nullptr;
    size_ = 0;
  }
  char* get() const { return data_; }
  size_t size() const { return size_; }

 private:
  const PluginMemory& memory_;
  char* data_ = nullptr;
  size_t size_ = 0;
};

// Closes an Internet handle when it goes.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h) : h_(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (h_) InternetCloseHandle(h_);
  }
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

// One deadline for the whole exchange: a server that trickles its reply byte by byte
// must not keep the browser blocked beyond the page's time-out, however each single
// wait goes.
class Deadline {
 public:
  explicit Deadline(DWORD milliseconds)
      : end_(GetTickCount64() + milliseconds), slack_(std::max<DWORD>(100, milliseconds / 100)), armed_(milliseconds) {}
  // Lets the next wait of the request last no longer than what is left (give or take
  // a hundredth of the time-out); false when nothing is left.
  bool arm(HINTERNET request) const {
    const ULONGLONG now = GetTickCount64();
    if (now >= end_) return false;
    const ULONGLONG left = end_ - now;
    if (left + slack_ < armed_) {
      armed_ = static_cast<DWORD>(left);
      InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &armed_, sizeof armed_);
    }
    return true;
  }

 private:
  ULONGLONG end_;
  ULONGLONG slack_;
  mutable DWORD armed_;  // the wait the request has now (it inherits the whole time-out)
};

enum class Exchange {
  kReply,    // the reply, possibly empty, is in the buffer
  kNoReply,  // nothing came: no server, no time, a failed send
  kBadReply  // something came that is none to classify
};

// The Content-Length the server announced: -1 when it sent none, -2 when it is no
// number or beyond the cap.
long long announcedLength(HINTERNET request) {
  char text[32];
  DWORD length = sizeof text;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) return -1;
  if (length == 0 || length >= sizeof text) return -2;
  unsigned long long value = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -2;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > kMaxReply) return -2;
  }
  return static_cast<long long>(value);
}

// Sends the request and collects the reply body into `reply` (NUL-terminated; empty
// when nothing came). A bad reply: one that stops short of its Content-Length or
// breaks off, one longer than kMaxReply, one holding a NUL byte (no Security Layer
// reply has one, and read as text the reply would lose what follows it), one not whole
// when the time is up, or one there is no memory for.
Exchange exchange(const char* request, DWORD timeoutMs, Block& reply) {
  InternetHandle internet(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!internet) return Exchange::kNoReply;
  InternetSetOptionA(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
  InternetHandle connection(InternetConnectA(internet.get(), kServer, kPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return Exchange::kNoReply;
  InternetHandle http(HttpOpenRequestA(connection.get(), kVerb, kObject, kVersion, nullptr, nullptr,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                           INTERNET_FLAG_PRAGMA_NOCACHE,
                                       0));
  if (!http) return Exchange::kNoReply;

  const Deadline deadline(timeoutMs);
  const DWORD length = static_cast<DWORD>(std::strlen(request));
  INTERNET_BUFFERSA buffers;
  std::memset(&buffers, 0, sizeof buffers);
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = length;
  if (!HttpSendRequestExA(http.get(), &buffers, nullptr, 0, 0)) return Exchange::kNoReply;

  bool failed = false;
  const DWORD fullChunks = length / kWriteChunk;
  for (DWORD i = 0; i <= fullChunks; ++i) {
    // The last write takes the remainder, also when it is empty.
    const DWORD chunk = i < fullChunks ? kWriteChunk : length % kWriteChunk;
    DWORD written = 0;
    if (!deadline.arm(http.get()) || !InternetWriteFile(http.get(), request + i * kWriteChunk, chunk, &written) ||
        written != chunk)
      failed = true;
  }
  if (!deadline.arm(http.get()) || !HttpEndRequestA(http.get(), nullptr, 0, 0)) failed = true;
  if (failed) return Exchange::kNoReply;

  const long long announced = announcedLength(http.get());
  if (announced == -2) return Exchange::kBadReply;

  size_t used = 0;  // reply bytes, without the NUL
  char chunk[kReadChunk + 1];
  for (;;) {
    DWORD got = 0;
    // Out of time, or the connection broke: a reply begun is not whole.
    if (!deadline.arm(http.get()) || !InternetReadFile(http.get(), chunk, kReadChunk, &got))
      return used == 0 ? Exchange::kNoReply : Exchange::kBadReply;
    if (got == 0) break;
    if (used + got > kMaxReply || std::memchr(chunk, '\0', got)) return Exchange::kBadReply;
    if (used + got + 1 > reply.size()) {
      // Grow by half at least, so that a long reply costs linear time, not quadratic;
      // never beyond what the longest reply needs.
      size_t bigger = used + got + 1 + kReadChunk + 100;
      if (bigger < reply.size() + reply.size() / 2) bigger = reply.size() + reply.size() / 2;
      if (bigger > kMaxReply + 1) bigger = kMaxReply + 1;
      if (!reply.grow(bigger, used)) return Exchange::kBadReply;
    }
    std::memcpy(reply.get() + used, chunk, got);
    used += got;
    reply.get()[used] = '\0';
  }
  if (announced >= 0 && static_cast<unsigned long long>(announced) != used) return Exchange::kBadReply;
  return Exchange::kReply;
}

// The form encoding of `source` written at `out` without a NUL; the end of what it wrote.
char* encodeInto(const char* source, char* out) {
  static const char hex[] = "0123456789abcdef";
  for (; *source; ++source) {
    const unsigned char c = static_cast<unsigned char>(*source);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      *out++ = static_cast<char>(c);
    } else if (c == ' ') {
      *out++ = '+';
    } else {
      *out++ = '%';
      *out++ = hex[c >> 4];
      *out++ = hex[c & 0x0F];
    }
  }
  return out;
}

size_t encodedLength(const char* source) {
  size_t length = 0;
  for (; *source; ++source) {
    const unsigned char c = static_cast<unsigned char>(*source);
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ';
    length += plain ? 1 : 3;
  }
  return length;
}

template <typename Char>
bool postable(const Char* url) {
  if (!url) return false;
  // The scheme is what stands before a ':' that comes before any '/', '?' or '#'.
  size_t colon = 0;
  bool hasScheme = false;
  for (size_t i = 0; url[i] && url[i] != '/' && url[i] != '?' && url[i] != '#'; ++i) {
    if (url[i] == ':') {
      colon = i;
      hasScheme = true;
      break;
    }
  }
  if (!hasScheme) {
    for (size_t i = 0; url[i] && url[i] != '?' && url[i] != '#'; ++i)
      if (url[i] == '\\') return false;
    return true;
  }
  auto is = [url, colon](const char* scheme) {
    size_t i = 0;
    for (; i < colon && scheme[i]; ++i) {
      Char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
      if (c != static_cast<Char>(scheme[i])) return false;
    }
    return i == colon && scheme[i] == '\0';
  };
  // Compared character by character, a blank, a control character or any letter
  // beyond ASCII in the scheme makes it neither of the two.
  return is("http") || is("https");
}

bool contains(const char* text, const char* part) { return std::strstr(text, part) != nullptr; }

// The text between the first `open` and the first `close`, into `out` of `room` bytes.
// False when a tag is missing, the close comes first or the text does not fit.
bool between(const char* reply, const char* open, const char* close, char* out, size_t room) {
  const char* start = std::strstr(reply, open);
  const char* end = std::strstr(reply, close);
  if (!start || !end) return false;
  start += std::strlen(open);
  if (end < start) return false;
  const size_t length = static_cast<size_t>(end - start);
  if (length + 1 > room) return false;
  std::memcpy(out, start, length);
  out[length] = '\0';
  return true;
}

struct SuccessElement {
  const char* open;
  const char* close;
};

#define SL_UNPREFIXED(name) {"<" name ">", "</" name ">"}
#define SL_PREFIXED(prefix, name, uri) {"<" prefix ":" name " xmlns:" prefix "=\"" uri "\">", "</" prefix ":" name ">"}

const SuccessElement kSuccessElements[] = {
    SL_UNPREFIXED("CreateXMLSignatureResponse"),
    SL_UNPREFIXED("CreateCMSSignatureResponse"),
    SL_PREFIXED("sl11", "CreateXMLSignatureResponse", SL11_NAMESPACE),
    SL_PREFIXED("sl10", "CreateCMSSignatureResponse", SL10_NAMESPACE),
    SL_UNPREFIXED("VerifyCMSSignatureResponse"),
    SL_UNPREFIXED("VerifyXMLSignatureResponse"),
    SL_PREFIXED("sl11", "VerifyXMLSignatureResponse", SL11_NAMESPACE),
    SL_PREFIXED("sl11", "VerifyCMSSignatureResponse", SL11_NAMESPACE),
    SL_UNPREFIXED("GetPropertiesResponse"),
    SL_PREFIXED("sl11", "GetPropertiesResponse", SL11_NAMESPACE),
    SL_PREFIXED("sl10", "InfoboxAvailableResponse", SL10_NAMESPACE),
    SL_PREFIXED("sl10", "InfoboxReadResponse", SL10_NAMESPACE),
    SL_PREFIXED("sl10", "InfoboxUpdateResponse", SL10_NAMESPACE),
    SL_PREFIXED("sl10", "GetStatusResponse", SL10_NAMESPACE),
};

}  // namespace

const PluginMemory& heapMemory() {
  static const PluginMemory memory{&heapAllocate, &heapRelease};
  return memory;
}

void showError(HWND owner, const char* text) { MessageBoxA(owner, text, kCaptionError, MB_OK | MB_ICONERROR); }

DWORD receiveTimeoutOf(const char* timeoutText) {
  if (!timeoutText) return kDefaultTimeoutMs;
  // An unsigned decimal as scanf reads it: blanks, a sign, digits; the rest is ignored.
  const char* p = timeoutText;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) return kDefaultTimeoutMs;
  // Minutes beyond what 32-bit milliseconds hold give the longest time-out, never a
  // wrapped short one.
  const unsigned long long limit = 0xFFFFFFFFull;
  unsigned long long minutes = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    minutes = minutes * 10 + static_cast<unsigned>(*p - '0');
    if (minutes > limit) minutes = limit + 1;
  }
  if (minutes == 0) return kDefaultTimeoutMs;  // "0" would wait for ever
  if (negative) return 0xFFFFFFFFu;              // a negative number reads as a huge one
  const unsigned long long ms = minutes * 60000ull;
  return ms > limit ? 0xFFFFFFFFu : static_cast<DWORD>(ms);
}

int splitResponse(const char* reply, char* code, char* info) {
  const size_t infoRoom = std::strlen(reply) + 1;
  const bool plain = contains(reply, "<ErrorResponse>");
  if (plain || contains(reply, "<sl10:ErrorResponse xmlns:sl10='" SL10_NAMESPACE "'>")) {
    const char* codeOpen = plain ? "<Code>" : "<sl10:ErrorCode>";
    const char* codeClose = plain ? "</Code>" : "</sl10:ErrorCode>";
    const char* infoOpen = plain ? "<Info>" : "<sl10:Info>";
    const char* infoClose = plain ? "</Info>" : "</sl10:Info>";
    if (!between(reply, codeOpen, codeClose, code, kCodeSize)) return -1;
    if (!between(reply, infoOpen, infoClose, info, infoRoom)) return -1;
    return 0;
  }
  for (const SuccessElement& element : kSuccessElements) {
    if (contains(reply, element.open) && contains(reply, element.close)) {
      std::strcpy(code, "0");
      std::memcpy(info, reply, infoRoom);
      return 1;
    }
  }
  return -1;
}

void urlEncode(const char* source, char* destination) { *encodeInto(source, destination) = '\0'; }

bool isPostableUrl(const char* url) { return postable(url); }
bool isPostableUrl(const char16_t* url) { return postable(url); }

void convertUmlauts(char* text) {
  static const unsigned char table[][2] = {{0x9C, 0xDC}, {0xBC, 0xFC}, {0x96, 0xD6}, {0xB6, 0xF6},
                                           {0x84, 0xC4}, {0xA4, 0xE4}, {0x9F, 0xDF}};
  if (!text || !*text) return;
  for (const auto& letter : table) {
    // One pass per letter: each two-byte sequence becomes one byte, the rest moves up.
    char* out = text;
    for (const char* in = text; *in;) {
      if (static_cast<unsigned char>(in[0]) == 0xC3 && static_cast<unsigned char>(in[1]) == letter[0]) {
        *out++ = static_cast<char>(letter[1]);
        in += 2;
      } else {
        *out++ = *in++;
      }
    }
    *out = '\0';
  }
}

void forwardRequest(const char* request, const char* postUrl, const char* timeoutText, HWND owner,
                    RequestPoster& poster, const PluginMemory& memory) {
  forwardRequestWithin(request, postUrl, receiveTimeoutOf(timeoutText), owner, poster, memory);
}

void forwardRequestWithin(const char* request, const char* postUrl, DWORD timeoutMs, HWND owner,
                          RequestPoster& poster, const PluginMemory& memory) {
  if (!request) {
    showError(owner, kMsgRequestMissing);
    return;
  }
  if (!postUrl) {
    showError(owner, kMsgPostUrlMissing);
    return;
  }
  // A page that names a destination the reply must never go to gets nothing signed.
  if (!isPostableUrl(postUrl)) {
    MessageBoxA(owner, kMsgForwarding, kCaptionError, MB_OK);  // as the control says it: no icon
    return;
  }

  Block reply(memory);
  if (!reply.allocate(kInitialReplyBuffer)) {
    showError(owner, kMsgCommunication);
    return;
  }
  reply.get()[0] = '\0';
  switch (exchange(request, timeoutMs, reply)) {
    case Exchange::kBadReply:
      showError(owner, kMsgTransfer);
      return;
    case Exchange::kNoReply:
      reply.get()[0] = '\0';
      break;
    case Exchange::kReply:
      break;
  }
  if (reply.get()[0] == '\0') {
    showError(owner, kMsgCommunication);
    return;
  }

  const size_t replyLength = std::strlen(reply.get());
  char code[kCodeSize] = {0};
  Block info(memory);
  if (!info.allocate(replyLength + 1)) {
    showError(owner, kMsgTransfer);
    return;
  }
  if (splitResponse(reply.get(), code, info.get()) == -1) {
    showError(owner, kMsgTransfer);
    return;
  }
  reply.reset();

  if (std::strcmp(code, "0") != 0) {
    // The info is UTF-8; a Windows-1252 machine shows the German letters in its own bytes.
    if (GetACP() == 1252) convertUmlauts(info.get());
    char caption[sizeof "Error: " + kCodeSize];
    std::snprintf(caption, sizeof caption, "Error: %s", code);
    MessageBoxA(owner, info.get(), caption, MB_OK | MB_ICONERROR);
    return;
  }

  static const char kData[] = "data=";
  static const char kRetValue[] = "&retValue=";
  const size_t length = sizeof kData - 1 + encodedLength(info.get()) + sizeof kRetValue - 1 + encodedLength(code);
  char* form = poster.formBuffer(length);
  if (!form) {
    MessageBoxA(owner, kMsgForwarding, kCaptionError, MB_OK);  // as the control says it: no icon
    return;
  }
  char* out = form;
  out = std::copy(kData, kData + sizeof kData - 1, out);
  out = encodeInto(info.get(), out);
  out = std::copy(kRetValue, kRetValue + sizeof kRetValue - 1, out);
  encodeInto(code, out);
  info.reset();
  poster.post(postUrl);
}

}  // namespace slforward
