// libcurl opened on first use. WinINet, the URL moniker and the chain's issuer
// downloads are its only users, and most processes never go to the network; linked
// in, libcurl and the libraries it needs (Kerberos, LDAP, SSH, RTMP, ...) would be
// mapped and relocated at every start of every program on the layer, a few
// milliseconds each time. The layer's sources call libcurl's functions by their own
// names; these definitions open the library once, then forward every call to it.
// Where it cannot be opened, a call fails as libcurl itself reports a failed start
// (no handle, CURLE_FAILED_INIT): nothing pretends a transfer happened.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>

namespace {

struct Curl {
  bool loaded = false;
  CURLcode (*global_init)(long);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_perform)(CURL*);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  void (*easy_cleanup)(CURL*);
  CURLcode (*easy_pause)(CURL*, int);
  void (*free)(void*);
  curl_slist* (*slist_append)(curl_slist*, const char*);
  void (*slist_free_all)(curl_slist*);
  CURLU* (*url)();
  CURLUcode (*url_set)(CURLU*, CURLUPart, const char*, unsigned int);
  CURLUcode (*url_get)(CURLU*, CURLUPart, char**, unsigned int);
  void (*url_cleanup)(CURLU*);
  CURLM* (*multi_init)();
  CURLMcode (*multi_add_handle)(CURLM*, CURL*);
  CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
  CURLMcode (*multi_cleanup)(CURLM*);
  CURLMcode (*multi_perform)(CURLM*, int*);
  CURLMcode (*multi_poll)(CURLM*, curl_waitfd[], unsigned int, int, int*);
  CURLMsg* (*multi_info_read)(CURLM*, int*);
};

template <typename F>
bool bind(void* library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(dlsym(library, name));
  return slot != nullptr;
}

// The library with every function the layer uses, or loaded == false. Opened once per
// process (the first caller waits for it, as for any static), never closed: handles
// and strings it made may live until exit.
const Curl& curl() {
  static const Curl c = [] {
    Curl r{};
    void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return r;
    r.loaded = bind(library, "curl_global_init", r.global_init) && bind(library, "curl_easy_init", r.easy_init) &&
               bind(library, "curl_easy_setopt", r.easy_setopt) &&
               bind(library, "curl_easy_perform", r.easy_perform) &&
               bind(library, "curl_easy_getinfo", r.easy_getinfo) &&
               bind(library, "curl_easy_cleanup", r.easy_cleanup) &&
               bind(library, "curl_easy_pause", r.easy_pause) && bind(library, "curl_free", r.free) &&
               bind(library, "curl_slist_append", r.slist_append) &&
               bind(library, "curl_slist_free_all", r.slist_free_all) && bind(library, "curl_url", r.url) &&
               bind(library, "curl_url_set", r.url_set) && bind(library, "curl_url_get", r.url_get) &&
               bind(library, "curl_url_cleanup", r.url_cleanup) &&
               bind(library, "curl_multi_init", r.multi_init) &&
               bind(library, "curl_multi_add_handle", r.multi_add_handle) &&
               bind(library, "curl_multi_remove_handle", r.multi_remove_handle) &&
               bind(library, "curl_multi_cleanup", r.multi_cleanup) &&
               bind(library, "curl_multi_perform", r.multi_perform) &&
               bind(library, "curl_multi_poll", r.multi_poll) &&
               bind(library, "curl_multi_info_read", r.multi_info_read);
    return r;
  }();
  return c;
}

}  // namespace

// The layer's own: bound inside the library, not offered to the rest of the process, where
// a program or library that links libcurl itself keeps getting libcurl's.
#define LAYER_OWN __attribute__((visibility("hidden")))

// Calls that take a handle, a list or a string of libcurl's only get one from a loaded
// library; those that make one report the failure where it is not.
extern "C" {

LAYER_OWN CURLcode curl_global_init(long flags) { return curl().loaded ? curl().global_init(flags) : CURLE_FAILED_INIT; }

LAYER_OWN CURL* curl_easy_init() { return curl().loaded ? curl().easy_init() : nullptr; }

// The value is passed on as the type its option takes (the option's number says which),
// so that the library reads what the caller gave.
LAYER_OWN CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  if (!curl().loaded || easy == nullptr) return CURLE_BAD_FUNCTION_ARGUMENT;
  va_list args;
  va_start(args, option);
  CURLcode code;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    code = curl().easy_setopt(easy, option, va_arg(args, long));
  } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
    code = curl().easy_setopt(easy, option, va_arg(args, curl_off_t));
  } else {
    code = curl().easy_setopt(easy, option, va_arg(args, void*));  // data, function or blob
  }
  va_end(args);
  return code;
}

LAYER_OWN CURLcode curl_easy_perform(CURL* easy) {
  return curl().loaded && easy ? curl().easy_perform(easy) : CURLE_BAD_FUNCTION_ARGUMENT;
}

// Every information item is returned through a pointer.
LAYER_OWN CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  if (!curl().loaded || easy == nullptr) return CURLE_BAD_FUNCTION_ARGUMENT;
  va_list args;
  va_start(args, info);
  void* out = va_arg(args, void*);
  va_end(args);
  return curl().easy_getinfo(easy, info, out);
}

LAYER_OWN void curl_easy_cleanup(CURL* easy) {
  if (curl().loaded) curl().easy_cleanup(easy);
}

LAYER_OWN CURLcode curl_easy_pause(CURL* easy, int bitmask) {
  return curl().loaded && easy ? curl().easy_pause(easy, bitmask) : CURLE_BAD_FUNCTION_ARGUMENT;
}

LAYER_OWN void curl_free(void* p) {
  if (curl().loaded) curl().free(p);
}

LAYER_OWN curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return curl().loaded ? curl().slist_append(list, text) : nullptr;
}

LAYER_OWN void curl_slist_free_all(curl_slist* list) {
  if (curl().loaded) curl().slist_free_all(list);
}

LAYER_OWN CURLU* curl_url() { return curl().loaded ? curl().url() : nullptr; }

LAYER_OWN CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* content, unsigned int flags) {
  return curl().loaded && url ? curl().url_set(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

LAYER_OWN CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** content, unsigned int flags) {
  return curl().loaded && url ? curl().url_get(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

LAYER_OWN void curl_url_cleanup(CURLU* url) {
  if (curl().loaded) curl().url_cleanup(url);
}

LAYER_OWN CURLM* curl_multi_init() { return curl().loaded ? curl().multi_init() : nullptr; }

LAYER_OWN CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  return curl().loaded && multi ? curl().multi_add_handle(multi, easy) : CURLM_BAD_HANDLE;
}

LAYER_OWN CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  return curl().loaded && multi ? curl().multi_remove_handle(multi, easy) : CURLM_BAD_HANDLE;
}

LAYER_OWN CURLMcode curl_multi_cleanup(CURLM* multi) {
  return curl().loaded && multi ? curl().multi_cleanup(multi) : CURLM_BAD_HANDLE;
}

LAYER_OWN CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return curl().loaded && multi ? curl().multi_perform(multi, running) : CURLM_BAD_HANDLE;
}

LAYER_OWN CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready) {
  return curl().loaded && multi ? curl().multi_poll(multi, extra, count, timeoutMs, ready) : CURLM_BAD_HANDLE;
}

LAYER_OWN CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
  return curl().loaded && multi ? curl().multi_info_read(multi, queued) : nullptr;
}

}  // extern "C"
