// npcalvero: the browser creates an instance with the page's arguments, and the
// instance forwards the Security Layer request there and then; its window shows nothing.
#include "npcalvero.h"

#include <cstdio>
#include <cstring>

#include "SecurityLayerForwarding.h"

namespace {

constexpr const char* kRecordProperty = "instance->pdata";

NPPluginFuncs* g_pluginFuncs = nullptr;

void* allocateFromBrowser(size_t bytes) {
  return bytes > 0xFFFFFFFFu ? nullptr : NPN_MemAlloc(static_cast<uint32_t>(bytes));
}
void releaseToBrowser(void* block) { NPN_MemFree(block); }
const slforward::PluginMemory kBrowserMemory{&allocateFromBrowser, &releaseToBrowser};

// A copy of a page argument in the browser's memory.
class ArgumentCopy {
 public:
  ArgumentCopy() = default;
  ArgumentCopy(const ArgumentCopy&) = delete;
  ArgumentCopy& operator=(const ArgumentCopy&) = delete;
  ~ArgumentCopy() { reset(); }
  // False when there was no memory for it.
  bool assign(const char* value) {
    reset();
    if (!value) value = "";
    const size_t size = std::strlen(value) + 1;
    text_ = static_cast<char*>(allocateFromBrowser(size));
    if (!text_) return false;
    std::memcpy(text_, value, size);
    return true;
  }
  void reset() {
    if (text_) NPN_MemFree(text_);
    text_ = nullptr;
  }
  const char* get() const { return text_; }

 private:
  char* text_ = nullptr;
};

// Makes the browser post the form body to the page's URL: one buffer of the browser's
// memory holds the headers and, behind them, the body.
class BrowserPoster : public slforward::RequestPoster {
 public:
  explicit BrowserPoster(NPP instance) : instance_(instance) {}
  BrowserPoster(const BrowserPoster&) = delete;
  BrowserPoster& operator=(const BrowserPoster&) = delete;
  ~BrowserPoster() override {
    if (buffer_) NPN_MemFree(buffer_);
  }

  char* formBuffer(size_t length) override {
    static const char kHead[] = "Content-type: application/x-www-form-urlencoded\nContent-length: ";
    char number[24];
    std::snprintf(number, sizeof number, "%d\n\n", static_cast<int>(length));
    const size_t head = sizeof kHead - 1 + std::strlen(number);
    if (length > 0x7FFFFFFF - head - 1) return nullptr;
    buffer_ = static_cast<char*>(allocateFromBrowser(head + length + 1));
    if (!buffer_) return nullptr;
    std::memcpy(buffer_, kHead, sizeof kHead - 1);
    std::memcpy(buffer_ + sizeof kHead - 1, number, std::strlen(number));
    buffer_[head + length] = '\0';
    size_ = head + length;
    return buffer_ + head;
  }

  void post(const char* postUrl) override {
    NPN_PostURLNotify(instance_, postUrl, "_self", static_cast<uint32_t>(size_), buffer_, FALSE, nullptr);
    NPN_MemFree(buffer_);
    buffer_ = nullptr;
  }

 private:
  NPP instance_;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

// Puts the window's own procedure back and forgets the window.
void restoreWindow(InstanceRecord* record) {
  if (record->hwnd) {
    SetWindowLongPtrA(record->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(record->savedProc));
    RemovePropA(record->hwnd, kRecordProperty);
  }
  record->hwnd = nullptr;
  record->savedProc = nullptr;
}

LRESULT CALLBACK pluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* record = static_cast<InstanceRecord*>(GetPropA(hwnd, kRecordProperty));
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (!record || !record->savedProc) return DefWindowProcA(hwnd, message, wParam, lParam);
  return CallWindowProcA(record->savedProc, hwnd, message, wParam, lParam);
}

}  // namespace

extern "C" {

NPError WINAPI NP_GetEntryPoints(NPPluginFuncs* funcs) {
  if (!funcs) return NPERR_INVALID_FUNCTABLE_ERROR;
  funcs->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  funcs->newp = NPP_New;
  funcs->destroy = NPP_Destroy;
  funcs->setwindow = NPP_SetWindow;
  funcs->newstream = NPP_NewStream;
  funcs->destroystream = NPP_DestroyStream;
  funcs->asfile = NPP_StreamAsFile;
  funcs->writeready = NPP_WriteReady;
  funcs->write = NPP_Write;
  funcs->print = NPP_Print;
  funcs->event = nullptr;
  g_pluginFuncs = funcs;
  return NPERR_NO_ERROR;
}

NPError WINAPI NP_Initialize(NPNetscapeFuncs* browser) {
  if (!browser) return NPERR_INVALID_FUNCTABLE_ERROR;
  g_browser = browser;
  if ((browser->version >> 8) > NP_VERSION_MAJOR) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  if ((browser->version & 0xFF) >= 9 && g_pluginFuncs) {
    g_pluginFuncs->urlnotify = NPP_URLNotify;
    g_pluginFuncs->javaClass = NPP_GetJavaClass();
  }
  return NPP_Initialize();
}

NPError WINAPI NP_Shutdown(void) {
  NPP_Shutdown();
  g_browser = nullptr;
  return NPERR_NO_ERROR;
}

const char* WINAPI NP_GetMIMEDescription(void) { return NPCALVERO_MIME_DESCRIPTION; }

}  // extern "C"

NPError NPP_Initialize(void) { return NPERR_NO_ERROR; }

void NPP_Shutdown(void) {}

JRIGlobalRef NPP_GetJavaClass(void) { return nullptr; }

NPError NPP_New(NPMIMEType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[], NPSavedData*) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* record = static_cast<InstanceRecord*>(NPN_MemAlloc(sizeof(InstanceRecord)));
  if (!record) return NPERR_OUT_OF_MEMORY_ERROR;
  record->window = nullptr;
  record->mode = mode;
  record->hwnd = nullptr;
  record->savedProc = nullptr;
  instance->pdata = record;

  ArgumentCopy request, postUrl, timeout;
  int counted = 0;
  bool requestSeen = false, urlSeen = false;
  for (int i = 0; i < argc; ++i) {
    if (!argn || !argn[i]) continue;
    const char* value = argv ? argv[i] : nullptr;
    bool stored = true;
    if (std::strcmp(argn[i], "xml_request") == 0) {
      stored = request.assign(value);
      ++counted;
      requestSeen = true;
    } else if (std::strcmp(argn[i], "post_url") == 0) {
      stored = postUrl.assign(value);
      ++counted;
      urlSeen = true;
    } else if (std::strcmp(argn[i], "timeout") == 0) {
      stored = timeout.assign(value);
    }
    if (!stored) {
      // The browser forgets an instance whose NPP_New failed: its record goes now.
      NPN_MemFree(record);
      instance->pdata = nullptr;
      return NPERR_OUT_OF_MEMORY_ERROR;
    }
  }

  if (counted == 2 && requestSeen && urlSeen) {
    BrowserPoster poster(instance);
    slforward::forwardRequest(request.get(), postUrl.get(), timeout.get(), nullptr, poster, kBrowserMemory);
  } else if (!requestSeen) {
    slforward::showError(nullptr, slforward::kMsgRequestMissing);
  } else if (!urlSeen) {
    slforward::showError(nullptr, slforward::kMsgPostUrlMissing);
  } else {
    slforward::showError(nullptr, slforward::kMsgIncomplete);
  }
  return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* record = static_cast<InstanceRecord*>(instance->pdata);
  if (record) {
    restoreWindow(record);
    NPN_MemFree(record);
    instance->pdata = nullptr;
  }
  return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  auto* record = static_cast<InstanceRecord*>(instance->pdata);
  if (!record) return NPERR_INVALID_INSTANCE_ERROR;
  const HWND handle = window ? static_cast<HWND>(window->window) : nullptr;
  bool subclass = handle != nullptr;
  if (record->window) {
    if (!handle) {
      restoreWindow(record);
    } else if (handle == record->hwnd) {
      InvalidateRect(handle, nullptr, TRUE);
      UpdateWindow(handle);
      subclass = false;
    } else {
      restoreWindow(record);
    }
  }
  if (subclass) {
    record->savedProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&pluginWindowProc)));
    record->hwnd = handle;
    SetPropA(handle, kRecordProperty, record);
    InvalidateRect(handle, nullptr, TRUE);
    UpdateWindow(handle);
  }
  record->window = window;
  return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream*, NPBool, uint16_t*) {
  return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPError NPP_DestroyStream(NPP instance, NPStream*, NPReason) {
  return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

void NPP_StreamAsFile(NPP, NPStream*, const char*) {}

int32_t NPP_WriteReady(NPP, NPStream*) { return 0x0FFFFFFF; }

int32_t NPP_Write(NPP, NPStream*, int32_t, int32_t len, void*) { return len; }

void NPP_Print(NPP instance, NPPrint* platformPrint) {
  if (!platformPrint || !instance) return;
  auto* record = static_cast<InstanceRecord*>(instance->pdata);
  if (record && record->mode == NP_FULL) platformPrint->print.fullPrint.pluginPrinted = FALSE;
}

void NPP_URLNotify(NPP, const char*, NPReason, void*) {}
