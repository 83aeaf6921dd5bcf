// WithoutScripting: the ActiveX control. The page's parameters arrive as properties
// (through the property bag or IDispatch); when the control's window is created, the
// request runs, and a reply worth posting goes to the page's URL through the browser.
#include <windows.h>

#include <exdisp.h>
#include <mshtml.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleauto.h>
#include <servprov.h>

#include <cstring>
#include <vector>

#include "Brevatto.h"
#include "PersistedState.h"
#include "SecurityLayerForwarding.h"

namespace brevatto {

namespace {

constexpr const char* kWindowClass = "Brevatto.WithoutScripting";
constexpr DWORD kSupportedSafety = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
const OLECHAR kPostHeaders[] = u"Content-Type: application/x-www-form-urlencoded\r\n";

// The persisted names of the property map, in its order.
struct PropertyEntry {
  const OLECHAR* name;
  DISPID dispid;
  VARTYPE vt;
};
const PropertyEntry kPropertyMap[] = {
    {u"HWND", DISPID_HWND, VT_I4},
    {u"xml_request", kDispidRequest, VT_BSTR},
    {u"post_url", kDispidUrl, VT_BSTR},
    {u"timeout", kDispidTimeout, VT_BSTR},
};

// The entries a stream keeps, in the order of PersistedState's texts.
const DISPID kPersistedDispids[kPersistedTexts] = {kDispidRequest, kDispidUrl, kDispidTimeout};

// The names GetIDsOfNames knows.
struct NamedMember {
  const OLECHAR* name;
  DISPID dispid;
};
const NamedMember kMembers[] = {
    {u"Window", DISPID_HWND},
    {u"getParamRequest", kDispidRequest},
    {u"getParamURL", kDispidUrl},
    {u"getParamTimeout", kDispidTimeout},
    {u"OnClick", kDispidOnClick},
};

bool sameNameIgnoringCase(const OLECHAR* a, const OLECHAR* b) {
  auto fold = [](OLECHAR c) { return c >= u'A' && c <= u'Z' ? static_cast<OLECHAR>(c - u'A' + u'a') : c; };
  for (; *a && *b; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

// A property's UTF-16 text as UTF-8; absent stays absent.
class Utf8Text {
 public:
  explicit Utf8Text(BSTR text) {
    if (!text) return;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    bytes_.resize(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes_.data(), size, nullptr, nullptr) <= 0) bytes_.clear();
  }
  const char* get() const { return bytes_.empty() ? nullptr : bytes_.data(); }

 private:
  std::vector<char> bytes_;
};

LRESULT CALLBACK controlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

bool registerWindowClass() {
  WNDCLASSA existing{};
  if (GetClassInfoA(g_module.instance(), kWindowClass, &existing)) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = controlWindowProc;
  wc.hInstance = g_module.instance();
  wc.lpszClassName = kWindowClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  return RegisterClassA(&wc) != 0;
}

class WithoutScripting final : public IWithoutScripting,
                               public IWithoutScriptingUI,
                               public IViewObjectEx,
                               public IOleInPlaceObjectWindowless,
                               public IOleInPlaceActiveObject,
                               public IOleControl,
                               public IOleObject,
                               public IPersistStreamInit,
                               public IPersistPropertyBag,
                               public IObjectSafety,
                               public IObjectWithSite {
 public:
  WithoutScripting() { g_module.lock(); }
  WithoutScripting(const WithoutScripting&) = delete;
  WithoutScripting& operator=(const WithoutScripting&) = delete;

  // IUnknown, in the order the interfaces are looked up.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWithoutScripting || riid == IID_IDispatch) {
      *object = static_cast<IWithoutScripting*>(this);
    } else if (riid == IID_IWithoutScriptingUI) {
      *object = static_cast<IWithoutScriptingUI*>(this);
    } else if (riid == IID_IViewObjectEx || riid == IID_IViewObject2 || riid == IID_IViewObject) {
      *object = static_cast<IViewObjectEx*>(this);
    } else if (riid == IID_IOleInPlaceObjectWindowless || riid == IID_IOleInPlaceObject ||
               riid == IID_IOleWindow) {
      *object = static_cast<IOleInPlaceObjectWindowless*>(this);
    } else if (riid == IID_IOleInPlaceActiveObject) {
      *object = static_cast<IOleInPlaceActiveObject*>(this);
    } else if (riid == IID_IOleControl) {
      *object = static_cast<IOleControl*>(this);
    } else if (riid == IID_IOleObject) {
      *object = static_cast<IOleObject*>(this);
    } else if (riid == IID_IPersistStreamInit || riid == IID_IPersist) {
      *object = static_cast<IPersistStreamInit*>(this);
    } else if (riid == IID_IPersistPropertyBag) {
      *object = static_cast<IPersistPropertyBag*>(this);
    } else if (riid == IID_IObjectSafety) {
      *object = static_cast<IObjectSafety*>(this);
    } else if (riid == IID_IObjectWithSite) {
      *object = static_cast<IObjectWithSite*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: written out for the four properties and OnClick; no type information.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const NamedMember& member : kMembers) {
      if (names[0] && sameNameIgnoringCase(names[0], member.name)) ids[0] = member.dispid;
    }
    if (ids[0] == DISPID_UNKNOWN || count > 1) result = DISP_E_UNKNOWNNAME;  // no member has named arguments
    return result;
  }
  STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT* argError) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    static DISPPARAMS noParams = {nullptr, nullptr, 0, 0};
    if (!params) params = &noParams;
    if (member == kDispidOnClick) {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      if (params->cArgs != 2 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
      // Arguments arrive last first.
      const VARIANT& body = params->rgvarg[1];
      if (body.vt != VT_DISPATCH) {
        if (argError) *argError = 1;
        return DISP_E_TYPEMISMATCH;
      }
      return OnClick(body.pdispVal, params->rgvarg[0]);
    }
    BSTR* field = fieldOf(member);
    if (member == DISPID_HWND) {
      if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;  // read-only
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      if (result) {
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window_));
      }
      return S_OK;
    }
    if (!field) return DISP_E_MEMBERNOTFOUND;
    if (flags & DISPATCH_PROPERTYPUT) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      const VARIANT* value = &params->rgvarg[0];
      if (value->vt == (VT_VARIANT | VT_BYREF) && value->pvarVal) value = value->pvarVal;
      BSTR text = nullptr;
      if (value->vt == VT_BSTR) {
        text = value->bstrVal;
      } else if (value->vt == (VT_BSTR | VT_BYREF) && value->byref) {
        text = *static_cast<BSTR*>(value->byref);
      } else {
        if (argError) *argError = 0;
        return DISP_E_TYPEMISMATCH;
      }
      return putField(field, text);
    }
    if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      BSTR copy = nullptr;
      const HRESULT hr = getField(*field, &copy);
      if (FAILED(hr)) return hr;
      if (result) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = copy;
      } else {
        SysFreeString(copy);
      }
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  // IWithoutScripting
  STDMETHODIMP get_Window(LONG_PTR* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = reinterpret_cast<LONG_PTR>(window_);
    return S_OK;
  }
  STDMETHODIMP get_getParamRequest(BSTR* pVal) override { return getField(request_, pVal); }
  STDMETHODIMP put_getParamRequest(BSTR newVal) override { return putField(&request_, newVal); }
  STDMETHODIMP get_getParamURL(BSTR* pVal) override { return getField(url_, pVal); }
  STDMETHODIMP put_getParamURL(BSTR newVal) override { return putField(&url_, newVal); }
  STDMETHODIMP get_getParamTimeout(BSTR* pVal) override { return getField(timeout_, pVal); }
  STDMETHODIMP put_getParamTimeout(BSTR newVal) override { return putField(&timeout_, newVal); }

  // IWithoutScriptingUI's one method.
  HRESULT OnClick(IDispatch* pdispBody, VARIANT varColor) {
    IHTMLBodyElement* body = nullptr;
    if (pdispBody && SUCCEEDED(pdispBody->QueryInterface(IID_IHTMLBodyElement, reinterpret_cast<void**>(&body))) &&
        body) {
      body->put_bgColor(varColor);
      body->Release();
    }
    return S_OK;
  }

  // IViewObjectEx: the control draws nothing of its own.
  STDMETHODIMP Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
    return S_OK;
  }
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** set) override {
    if (set) *set = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }
  STDMETHODIMP GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL) override { return E_NOTIMPL; }
  STDMETHODIMP GetRect(DWORD, LPRECTL) override { return E_NOTIMPL; }
  STDMETHODIMP GetViewStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryHitPoint(DWORD, LPCRECT, POINT, LONG, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryHitRect(DWORD, LPCRECT, LPCRECT, LONG, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override {
    return E_NOTIMPL;
  }

  // IOleWindow, IOleInPlaceObject(Windowless), IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = window_;
    return window_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override {
    if (!window_ && !inPlaceSite_) return S_OK;
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    if (inPlaceSite_) {
      inPlaceSite_->OnInPlaceDeactivate();
      inPlaceSite_->Release();
      inPlaceSite_ = nullptr;
    }
    return S_OK;
  }
  STDMETHODIMP UIDeactivate() override { return S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
    if (window_ && position) {
      MoveWindow(window_, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
    }
    return S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDropTarget(IDropTarget**) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG) override { return S_FALSE; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
  STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    if (browser_) {  // a new site brings its own browser
      browser_->Release();
      browser_ = nullptr;
    }
    if (site) {
      IServiceProvider* services = nullptr;
      if (SUCCEEDED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))) && services) {
        IWebBrowser2* browser = nullptr;
        if (SUCCEEDED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser))))
          browser_ = browser;
        services->Release();
      }
      site->AddRef();
    }
    if (clientSite_) clientSite_->Release();
    clientSite_ = site;
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** site) override {
    if (!site) return E_POINTER;
    *site = clientSite_;
    if (clientSite_) clientSite_->AddRef();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override {
    InPlaceDeactivate();
    return S_OK;
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override {
    if (data) *data = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent, LPCRECT position) override {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_UIACTIVATE:
      case OLEIVERB_INPLACEACTIVATE:
        return activateInPlace(activeSite ? activeSite : clientSite_, parent, position);
      case OLEIVERB_HIDE:
        if (window_) ShowWindow(window_, SW_HIDE);
        return S_OK;
      case OLEIVERB_OPEN:
      case OLEIVERB_DISCARDUNDOSTATE:
        return E_NOTIMPL;
      default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override {
    if (verbs) *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;
  }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_WithoutScripting;
    return S_OK;
  }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR* type) override {
    if (type) *type = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    if (size->cx != extent_.cx || size->cy != extent_.cy) dirty_ = true;
    extent_ = *size;
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    *size = extent_;
    return S_OK;
  }
  STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IPersist, IPersistStreamInit: the extent and the property map's texts in the
  // control's stream format. Load takes all of a state or nothing of it.
  STDMETHODIMP GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(IStream* stream) override {
    if (!stream) return E_POINTER;
    PersistedState state;
    HRESULT hr = readState(stream, &state);
    if (FAILED(hr)) return hr;
    // Every entry goes through IDispatch like a page's parameter; an absent one is put
    // as a NULL text, which leaves the property without one.
    for (size_t i = 0; i < kPersistedTexts; ++i) {
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_BSTR;
      const auto& text = state.texts[i];
      if (text) {
        value.bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
        if (!value.bstrVal) return E_OUTOFMEMORY;
      }
      hr = putProperty(kPersistedDispids[i], &value);
      VariantClear(&value);
      if (FAILED(hr)) return hr;
    }
    extent_ = state.extent;
    dirty_ = false;
    return S_OK;
  }
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override {
    if (!stream) return E_POINTER;
    const std::vector<BYTE> bytes = encodeState(persistedState());
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr)) return hr;
    if (written != bytes.size()) return STG_E_MEDIUMFULL;
    if (clearDirty) dirty_ = false;
    return S_OK;
  }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = encodeState(persistedState()).size();
    return S_OK;
  }
  // A new control starts without texts: there is nothing to set up.
  STDMETHODIMP InitNew() override {
    dirty_ = false;
    return S_OK;
  }

  // IPersistPropertyBag: each entry of the property map read by its name and put
  // through IDispatch; a name the page did not give is skipped. The stock Window
  // property is read-only: no page sets the control's window handle, and a page that
  // names it does not keep the other parameters from loading.
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override {
    if (!bag) return E_POINTER;
    for (const PropertyEntry& entry : kPropertyMap) {
      if (entry.dispid == DISPID_HWND) continue;
      VARIANT value;
      VariantInit(&value);
      value.vt = entry.vt;  // the type the property wants
      if (FAILED(bag->Read(entry.name, &value, log))) {
        VariantClear(&value);
        continue;
      }
      HRESULT hr = putProperty(entry.dispid, &value);
      VariantClear(&value);
      if (FAILED(hr)) return hr;
    }
    dirty_ = false;
    return S_OK;
  }
  // Writes the texts the control has; one the page never gave stays unwritten, so that
  // loading the bag again leaves it absent rather than empty.
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL) override {
    if (!bag) return E_POINTER;
    for (const PropertyEntry& entry : kPropertyMap) {
      if (entry.dispid == DISPID_HWND) continue;  // a window handle means nothing on another page
      const BSTR field = *fieldOf(entry.dispid);
      if (!field) continue;
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_BSTR;
      HRESULT hr = getField(field, &value.bstrVal);
      if (SUCCEEDED(hr)) hr = bag->Write(entry.name, &value);
      VariantClear(&value);
      if (FAILED(hr)) return hr;
    }
    if (clearDirty) dirty_ = false;
    return S_OK;
  }

  // IObjectSafety: safe for untrusted callers and data on every interface the object has.
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override {
    if (!supported || !enabled) return E_POINTER;
    IUnknown* probe = nullptr;
    const HRESULT hr = QueryInterface(riid, reinterpret_cast<void**>(&probe));
    if (FAILED(hr)) {
      *supported = 0;
      *enabled = 0;
      return hr;
    }
    probe->Release();
    *supported = kSupportedSafety;
    *enabled = safety_;
    return S_OK;
  }
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override {
    IUnknown* probe = nullptr;
    if (FAILED(QueryInterface(riid, reinterpret_cast<void**>(&probe)))) return E_NOINTERFACE;
    probe->Release();
    if (mask & ~kSupportedSafety) return E_FAIL;
    safety_ = (safety_ & ~mask) | (enabled & mask);
    return S_OK;
  }

  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override {
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
  }
  STDMETHODIMP GetSite(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!site_) return E_FAIL;
    return site_->QueryInterface(riid, object);
  }

  // The window's messages: WM_CREATE runs the request.
  LRESULT onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_CREATE:
        window_ = hwnd;
        return OnCreate();
      case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
      }
      case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (window_ == hwnd) window_ = nullptr;
        break;
      default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

 private:
  ~WithoutScripting() {
    InPlaceDeactivate();
    SysFreeString(request_);
    SysFreeString(url_);
    SysFreeString(timeout_);
    if (browser_) browser_->Release();
    if (clientSite_) clientSite_->Release();
    if (site_) site_->Release();
    g_module.unlock();
  }

  // Makes the browser post the form body to the page's URL: the body is written
  // straight into the byte array that Navigate takes as its POST data.
  class BrowserPoster : public slforward::RequestPoster {
   public:
    BrowserPoster(WithoutScripting& control, BSTR postUrl) : control_(control), url_(postUrl) {
      VariantInit(&postData_);
    }
    BrowserPoster(const BrowserPoster&) = delete;
    BrowserPoster& operator=(const BrowserPoster&) = delete;
    ~BrowserPoster() override {
      if (accessed_) SafeArrayUnaccessData(postData_.parray);
      VariantClear(&postData_);
    }
    char* formBuffer(size_t length) override {
      // Without a browser object nothing can carry the posting: say so rather than call
      // through nothing.
      if (!control_.browser_ || FAILED(createPostData(&postData_, length))) return nullptr;
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(postData_.parray, &data))) return nullptr;
      accessed_ = true;
      return static_cast<char*>(data);
    }
    void post(const char*) override {
      SafeArrayUnaccessData(postData_.parray);
      accessed_ = false;
      control_.postURL(&postData_, url_);
    }

   private:
    WithoutScripting& control_;
    BSTR url_;
    VARIANT postData_;
    bool accessed_ = false;
  };

  // A copy of a property's text for the length of one request.
  class TextCopy {
   public:
    explicit TextCopy(BSTR text) : text_(text ? SysAllocString(text) : nullptr) {}
    TextCopy(const TextCopy&) = delete;
    TextCopy& operator=(const TextCopy&) = delete;
    ~TextCopy() { SysFreeString(text_); }
    BSTR get() const { return text_; }

   private:
    BSTR text_;
  };

  LRESULT OnCreate() {
    // The page's script may set the URL again while the request runs (its message boxes
    // let the page run): the reply goes to the URL the request started with.
    const TextCopy postUrl(url_);
    const Utf8Text request(request_);
    const Utf8Text url(postUrl.get());
    const Utf8Text timeout(timeout_);
    BrowserPoster poster(*this, postUrl.get());
    slforward::forwardRequest(request.get(), url.get(), timeout.get(), window_, poster);
    return 0;
  }

  void postURL(VARIANT* postData, BSTR postUrl) {
    VARIANT flags, target, headers;
    VariantInit(&flags);
    VariantInit(&target);
    VariantInit(&headers);
    headers.vt = VT_BSTR;
    headers.bstrVal = SysAllocString(kPostHeaders);
    // The text handed to the browser is the one checked.
    if (!browser_ || !headers.bstrVal || !slforward::isPostableUrl(postUrl)) {
      MessageBoxA(window_, slforward::kMsgForwarding, slforward::kCaptionError, MB_OK);
    } else {
      browser_->Navigate(postUrl, &flags, &target, postData, &headers);
    }
    VariantClear(&headers);
  }

  // An array of `length` bytes for the POST data.
  static HRESULT createPostData(VARIANT* out, size_t length) {
    if (!out) return E_POINTER;
    VariantInit(out);
    if (length > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(length));
    if (!array) return E_OUTOFMEMORY;
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
  }

  // Holds a reference to the control while it lives: the request's message boxes let
  // the browser run, and the browser may release the control meanwhile.
  class KeepAlive {
   public:
    explicit KeepAlive(IUnknown* object) : object_(object) { object_->AddRef(); }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;
    ~KeepAlive() { object_->Release(); }

   private:
    IUnknown* object_;
  };

  HRESULT activateInPlace(IOleClientSite* site, HWND parent, LPCRECT position) {
    // Declared first, so that it goes last: nothing of the control is touched after it.
    const KeepAlive alive(static_cast<IWithoutScripting*>(this));
    if (window_) {
      ShowWindow(window_, SW_SHOW);
      return S_OK;
    }
    if (!site) return E_UNEXPECTED;
    IOleInPlaceSite* inPlace = nullptr;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace))) || !inPlace)
      return E_NOINTERFACE;
    if (inPlace->CanInPlaceActivate() != S_OK) {
      inPlace->Release();
      return E_FAIL;
    }
    inPlace->OnInPlaceActivate();
    RECT rect{0, 0, 0, 0};
    if (position) rect = *position;
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT clip{0, 0, 0, 0};
    if (SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &rect, &clip, nullptr))) {
      if (frame) reinterpret_cast<IUnknown*>(frame)->Release();
      if (document) reinterpret_cast<IUnknown*>(document)->Release();
    }
    if (!parent) inPlace->GetWindow(&parent);
    inPlaceSite_ = inPlace;
    if (!registerWindowClass()) return E_FAIL;
    // WM_CREATE, and with it the whole request, runs inside this call.
    const HWND hwnd = CreateWindowExA(0, kWindowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left,
                                      rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                      g_module.instance(), this);
    // The browser may have closed the control while the request ran.
    if (!hwnd || !IsWindow(hwnd)) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    window_ = hwnd;
    return S_OK;
  }

  BSTR* fieldOf(DISPID member) {
    switch (member) {
      case kDispidRequest:
        return &request_;
      case kDispidUrl:
        return &url_;
      case kDispidTimeout:
        return &timeout_;
      default:
        return nullptr;
    }
  }

  HRESULT putProperty(DISPID member, VARIANT* value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value, &named, 1, 1};
    return Invoke(member, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  }

  static HRESULT getField(BSTR field, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocString(field ? field : u"");
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT putField(BSTR* field, BSTR value) {
    BSTR copy = nullptr;
    if (value) {
      copy = SysAllocString(value);  // up to the first NUL
      if (!copy) return E_OUTOFMEMORY;
    }
    SysFreeString(*field);
    *field = copy;
    dirty_ = true;
    if (window_) InvalidateRect(window_, nullptr, TRUE);
    return S_OK;
  }

  PersistedState persistedState() {
    PersistedState state;
    state.extent = extent_;
    for (size_t i = 0; i < kPersistedTexts; ++i) {
      const BSTR field = *fieldOf(kPersistedDispids[i]);
      if (field) state.texts[i] = std::u16string(field, SysStringLen(field));
    }
    return state;
  }

  volatile LONG refs_ = 1;
  BSTR request_ = nullptr;
  BSTR url_ = nullptr;
  BSTR timeout_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
  IOleClientSite* clientSite_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IUnknown* site_ = nullptr;
  DWORD safety_ = 0;
  HWND window_ = nullptr;
  SIZEL extent_{2540, 2540};  // 1 inch in HIMETRIC
  bool dirty_ = false;  // changed since it was loaded, saved or set up new
};

LRESULT CALLBACK controlWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* control = reinterpret_cast<WithoutScripting*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!control) return DefWindowProcA(hwnd, message, wParam, lParam);
  return control->onMessage(hwnd, message, wParam, lParam);
}

}  // namespace

HRESULT createWithoutScripting(REFIID riid, void** object) {
  auto* control = new WithoutScripting();
  const HRESULT hr = control->QueryInterface(riid, object);
  control->Release();
  return hr;
}

void unregisterWindowClass() { UnregisterClassA(kWindowClass, g_module.instance()); }

}  // namespace brevatto
