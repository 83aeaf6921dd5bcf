// Forwarding of a page's Security Layer request to the local Security Layer server, and
// of its reply back to the page; shared by the ActiveX control and the NPAPI plug-in.
#pragma once

#include <cstddef>

#include <windows.h>

namespace slforward {

// The exchange with the server.
constexpr const char* kAgent = "InetURL/1.0";
constexpr const char* kServer = "localhost";
constexpr unsigned short kPort = 20000;
constexpr const char* kVerb = "POST";
constexpr const char* kObject = "/";
constexpr const char* kVersion = "HTTP/1.0";
constexpr DWORD kDefaultTimeoutMs = 1200000;  // 20 minutes
constexpr DWORD kWriteChunk = 1024;
constexpr DWORD kReadChunk = 1000;
constexpr size_t kInitialReplyBuffer = 5100;
// A reply longer than this is not a Security Layer answer worth holding. A reply may
// carry a signed document in Base64: 64 MiB hold one of some 48 MB.
constexpr size_t kMaxReply = 64u << 20;
// The reply code's field: at most 12 characters and the NUL.
constexpr size_t kCodeSize = 13;

// What the user is told.
extern const char* const kMsgRequestMissing;   // 'xml_request' absent
extern const char* const kMsgPostUrlMissing;   // 'post_url' absent
extern const char* const kMsgIncomplete;       // parameters not as the plug-in needs them
extern const char* const kMsgCommunication;    // no reply
extern const char* const kMsgTransfer;         // a reply that is neither error nor success
extern const char* const kMsgForwarding;       // the browser posting cannot be prepared
extern const char* const kCaptionError;        // "Error"

// Where the plug-in's working memory comes from (the NPAPI plug-in takes all of its
// memory from the browser).
struct PluginMemory {
  void* (*allocate)(size_t bytes);
  void (*release)(void* block);
};
const PluginMemory& heapMemory();

// How the plug-in makes the browser post the form body to the page's URL. The body is
// written straight into the memory that the posting carries, so that a long reply is
// never held as a form twice.
class RequestPoster {
 public:
  virtual ~RequestPoster() = default;
  // Room for a form body of exactly `length` bytes (no NUL is written); NULL when the
  // posting cannot be prepared.
  virtual char* formBuffer(size_t length) = 0;
  // Posts the form body written into that room.
  virtual void post(const char* postUrl) = 0;
};

// Whether the reply may be posted to this URL: one whose scheme, compared without
// case, is http or https, or a relative one (no ':' before the first '/', '?' or '#'),
// which the browser resolves against the page; never with a blank or a control
// character before the scheme's ':', and never with a backslash before the first '?'
// or '#' of a relative one (browsers of this platform read "\\host\share" as a file
// share). Any other scheme (javascript:, vbscript:, file:, data:, ...) could run the
// page's script in the browser or reach the user's files.
bool isPostableUrl(const char* url);
bool isPostableUrl(const char16_t* url);

// The whole run: sends the request, classifies the reply, posts it or shows why not.
// Any argument but the poster may be absent (NULL).
void forwardRequest(const char* request, const char* postUrl, const char* timeoutText, HWND owner,
                    RequestPoster& poster, const PluginMemory& memory = heapMemory());
// The same run with the time-out already decided: the whole reply must have arrived
// within `timeoutMs` milliseconds of the start of the exchange.
void forwardRequestWithin(const char* request, const char* postUrl, DWORD timeoutMs, HWND owner,
                          RequestPoster& poster, const PluginMemory& memory = heapMemory());

// 0: an error reply (code and info set); 1: a success reply (code "0", info the whole
// reply); -1: neither. `code` holds kCodeSize bytes, `info` strlen(reply) + 1.
int splitResponse(const char* reply, char* code, char* info);

// Form encoding; `destination` holds 3 * strlen(source) + 1 bytes.
void urlEncode(const char* source, char* destination);

// German letters from UTF-8 to their Windows-1252 bytes, in place.
void convertUmlauts(char* text);

// The time-out for a page's time-out text (whole minutes), in milliseconds; no text
// and "0" give the default (a page cannot make the browser wait for ever).
DWORD receiveTimeoutOf(const char* timeoutText);

// An error box of the run: "Error", OK button, error icon.
void showError(HWND owner, const char* text);

}  // namespace slforward
