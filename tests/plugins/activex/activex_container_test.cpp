// The ActiveX test container plays the browser for Brevatto.dll: it registers the
// module, creates the control from the registry through its class factory, gives it a
// client site with a service provider and a browser object whose Navigate records its
// arguments, loads the page's parameters from a property bag and activates it in place,
// against the Security Layer test server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include <exdisp.h>
#include <mshtml.h>
#include <objbase.h>
#include <objsafe.h>
#include <ocidl.h>
#include <oleidl.h>
#include <servprov.h>

#include "Brevatto.h"
#include "ScriptedHttpServer.h"
#include "SecurityLayerForwarding.h"
#include "platform/window_test.h"
#include "platform/wininet_test.h"
#include "quarvel_test.h"


namespace {

// The control's dual interface, as the module declares it for its pages.
using brevatto::IWithoutScripting;

const CLSID kClsid = {0x02181BA8, 0x5BF3, 0x4A52, {0x80, 0xAB, 0xD1, 0x54, 0xBD, 0xDC, 0x7E, 0xC7}};
const IID kIWithoutScripting = {0xF52815E1, 0x7A75, 0x49FA, {0x82, 0xEB, 0xBE, 0x3E, 0x89, 0x62, 0xA8, 0xA5}};
const IID kIWithoutScriptingUI = {0xA767AEC5, 0x0940, 0x4ECF, {0xA3, 0x7A, 0x8B, 0x1F, 0x58, 0xD8, 0xA9, 0xC7}};
const char kClsidText[] = "{02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}";
const char kLibidText[] = "{9DC1F2D7-3AE6-44BE-AF6E-546F376A744C}";
const char kDualText[] = "{F52815E1-7A75-49FA-82EB-BE3E8962A8A5}";
const char kUiText[] = "{A767AEC5-0940-4ECF-A37A-8B1F58D8A9C7}";
// An interface another library (or another version of ours) registered.
const char kNeighbourInterface[] = "Interface\\{00000000-1111-2222-3333-555555555555}";

std::string utf8(const std::u16string& text) {
  std::string out;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  out.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

std::u16string text(BSTR s) { return s ? std::u16string(s, SysStringLen(s)) : std::u16string(); }

// Reference counting for the container's own objects, which live on the stack.
#define CONTAINER_REFCOUNT                                     \
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }    \
  STDMETHODIMP_(ULONG) Release() override { return --refs; }   \
  ULONG refs = 1;

#define NOT_IMPLEMENTED(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }

// The browser object: Navigate records what it is given.
struct NavigateCall {
  std::u16string url;
  VARTYPE flags = 0, target = 0, postDataType = 0, headersType = 0;
  std::string postData;
  std::u16string headers;
};

struct FakeBrowser : public IWebBrowser2 {
  std::vector<NavigateCall> calls;
  std::function<void()> whileNavigating;  // what the browser does before Navigate returns
  CONTAINER_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IWebBrowser && riid != IID_IWebBrowserApp &&
        riid != IID_IWebBrowser2)
      return E_NOINTERFACE;
    *object = static_cast<IWebBrowser2*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Navigate(BSTR url, VARIANT* flags, VARIANT* target, VARIANT* postData, VARIANT* headers) override {
    NavigateCall call;
    call.url = text(url);
    call.flags = flags ? flags->vt : 0xFFFF;
    call.target = target ? target->vt : 0xFFFF;
    call.postDataType = postData ? postData->vt : 0xFFFF;
    call.headersType = headers ? headers->vt : 0xFFFF;
    if (headers && headers->vt == VT_BSTR) call.headers = text(headers->bstrVal);
    if (postData && postData->vt == (VT_ARRAY | VT_UI1)) {
      void* data = nullptr;
      LONG low = 0, high = -1;
      SafeArrayGetLBound(postData->parray, 1, &low);
      SafeArrayGetUBound(postData->parray, 1, &high);
      SafeArrayAccessData(postData->parray, &data);
      call.postData.assign(static_cast<const char*>(data), static_cast<size_t>(high - low + 1));
      SafeArrayUnaccessData(postData->parray);
    }
    calls.push_back(call);
    if (whileNavigating) whileNavigating();
    return S_OK;
  }
  NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
  NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
  NOT_IMPLEMENTED(GoBack)
  NOT_IMPLEMENTED(GoForward)
  NOT_IMPLEMENTED(GoHome)
  NOT_IMPLEMENTED(GoSearch)
  NOT_IMPLEMENTED(Refresh)
  NOT_IMPLEMENTED(Refresh2, VARIANT*)
  NOT_IMPLEMENTED(Stop)
  NOT_IMPLEMENTED(get_Application, IDispatch**)
  NOT_IMPLEMENTED(get_Parent, IDispatch**)
  NOT_IMPLEMENTED(get_Container, IDispatch**)
  NOT_IMPLEMENTED(get_Document, IDispatch**)
  NOT_IMPLEMENTED(get_TopLevelContainer, VARIANT_BOOL*)
  NOT_IMPLEMENTED(get_Type, BSTR*)
  NOT_IMPLEMENTED(get_Left, LONG*)
  NOT_IMPLEMENTED(put_Left, LONG)
  NOT_IMPLEMENTED(get_Top, LONG*)
  NOT_IMPLEMENTED(put_Top, LONG)
  NOT_IMPLEMENTED(get_Width, LONG*)
  NOT_IMPLEMENTED(put_Width, LONG)
  NOT_IMPLEMENTED(get_Height, LONG*)
  NOT_IMPLEMENTED(put_Height, LONG)
  NOT_IMPLEMENTED(get_LocationName, BSTR*)
  NOT_IMPLEMENTED(get_LocationURL, BSTR*)
  NOT_IMPLEMENTED(get_Busy, VARIANT_BOOL*)
  NOT_IMPLEMENTED(Quit)
  NOT_IMPLEMENTED(ClientToWindow, int*, int*)
  NOT_IMPLEMENTED(PutProperty, BSTR, VARIANT)
  NOT_IMPLEMENTED(GetProperty, BSTR, VARIANT*)
  NOT_IMPLEMENTED(get_Name, BSTR*)
  NOT_IMPLEMENTED(get_HWND, SHANDLE_PTR*)
  NOT_IMPLEMENTED(get_FullName, BSTR*)
  NOT_IMPLEMENTED(get_Path, BSTR*)
  NOT_IMPLEMENTED(get_Visible, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_Visible, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_StatusBar, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_StatusBar, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_StatusText, BSTR*)
  NOT_IMPLEMENTED(put_StatusText, BSTR)
  NOT_IMPLEMENTED(get_ToolBar, int*)
  NOT_IMPLEMENTED(put_ToolBar, int)
  NOT_IMPLEMENTED(get_MenuBar, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_MenuBar, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_FullScreen, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_FullScreen, VARIANT_BOOL)
  NOT_IMPLEMENTED(Navigate2, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
  NOT_IMPLEMENTED(QueryStatusWB, OLECMDID, OLECMDF*)
  NOT_IMPLEMENTED(ExecWB, OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*)
  NOT_IMPLEMENTED(ShowBrowserBar, VARIANT*, VARIANT*, VARIANT*)
  NOT_IMPLEMENTED(get_ReadyState, READYSTATE*)
  NOT_IMPLEMENTED(get_Offline, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_Offline, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_Silent, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_Silent, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_RegisterAsBrowser, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_RegisterAsBrowser, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_RegisterAsDropTarget, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_RegisterAsDropTarget, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_TheaterMode, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_TheaterMode, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_AddressBar, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_AddressBar, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_Resizable, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_Resizable, VARIANT_BOOL)
};

// The page's client site: the in-place site with the page's window, and (unless the
// test takes them away) the service provider that finds the browser.
struct FakeSite : public IOleClientSite, public IOleInPlaceSite, public IServiceProvider {
  HWND page = nullptr;
  bool offerServices = true;
  IWebBrowser2* browser = nullptr;  // NULL: the browser service is missing
  int deactivated = 0;
  CONTAINER_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      *object = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
      *object = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IServiceProvider && offerServices) {
      *object = static_cast<IServiceProvider*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override {
    *object = nullptr;
    if (service != SID_SWebBrowserApp || !browser) return E_NOINTERFACE;
    return browser->QueryInterface(riid, object);
  }
  NOT_IMPLEMENTED(SaveObject)
  NOT_IMPLEMENTED(GetMoniker, DWORD, DWORD, IMoniker**)
  NOT_IMPLEMENTED(GetContainer, IOleContainer**)
  NOT_IMPLEMENTED(ShowObject)
  NOT_IMPLEMENTED(OnShowWindow, BOOL)
  NOT_IMPLEMENTED(RequestNewObjectLayout)
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    *hwnd = page;
    return S_OK;
  }
  NOT_IMPLEMENTED(ContextSensitiveHelp, BOOL)
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT position, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *doc = nullptr;
    *position = RECT{10, 10, 110, 40};
    *clip = *position;
    return S_OK;
  }
  NOT_IMPLEMENTED(Scroll, SIZE)
  NOT_IMPLEMENTED(OnUIDeactivate, BOOL)
  STDMETHODIMP OnInPlaceDeactivate() override {
    ++deactivated;
    return S_OK;
  }
  NOT_IMPLEMENTED(DiscardUndoState)
  NOT_IMPLEMENTED(DeactivateAndUndo)
  NOT_IMPLEMENTED(OnPosRectChange, LPCRECT)
};

// The page's <param> elements.
struct FakeBag : public IPropertyBag {
  std::map<std::u16string, std::u16string> params;
  std::vector<std::u16string> asked;
  CONTAINER_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IPropertyBag) return E_NOINTERFACE;
    *object = static_cast<IPropertyBag*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    asked.emplace_back(name);
    auto found = params.find(name);
    if (found == params.end()) return E_INVALIDARG;
    VariantInit(value);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(found->second.data(), static_cast<UINT>(found->second.size()));
    return S_OK;
  }
  // What a control saves into the page.
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
    if (value->vt != VT_BSTR) return E_INVALIDARG;
    params[name] = text(value->bstrVal);
    return S_OK;
  }
};

// The page's body element: its background colour is what OnClick sets.
struct FakeBody : public IHTMLBodyElement {
  VARIANT bgColor{};
  FakeBody() { VariantInit(&bgColor); }
  ~FakeBody() { VariantClear(&bgColor); }
  CONTAINER_REFCOUNT
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IHTMLBodyElement) return E_NOINTERFACE;
    *object = static_cast<IHTMLBodyElement*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP put_bgColor(VARIANT v) override {
    VARIANT copy;
    VariantInit(&copy);
    copy.vt = v.vt;
    if (v.vt == VT_BSTR) {
      copy.bstrVal = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
    } else if (v.vt == VT_I4) {
      copy.lVal = v.lVal;
    } else {
      return E_INVALIDARG;  // the page knows colours as names, "#rrggbb" texts or numbers
    }
    VariantClear(&bgColor);
    bgColor = copy;
    return S_OK;
  }
  STDMETHODIMP get_bgColor(VARIANT* p) override {
    VariantInit(p);
    p->vt = bgColor.vt;
    if (bgColor.vt == VT_BSTR) p->bstrVal = SysAllocStringLen(bgColor.bstrVal, SysStringLen(bgColor.bstrVal));
    if (bgColor.vt == VT_I4) p->lVal = bgColor.lVal;
    return S_OK;
  }
  NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
  NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
  NOT_IMPLEMENTED(put_background, BSTR)
  NOT_IMPLEMENTED(get_background, BSTR*)
  NOT_IMPLEMENTED(put_bgProperties, BSTR)
  NOT_IMPLEMENTED(get_bgProperties, BSTR*)
  NOT_IMPLEMENTED(put_leftMargin, VARIANT)
  NOT_IMPLEMENTED(get_leftMargin, VARIANT*)
  NOT_IMPLEMENTED(put_topMargin, VARIANT)
  NOT_IMPLEMENTED(get_topMargin, VARIANT*)
  NOT_IMPLEMENTED(put_rightMargin, VARIANT)
  NOT_IMPLEMENTED(get_rightMargin, VARIANT*)
  NOT_IMPLEMENTED(put_bottomMargin, VARIANT)
  NOT_IMPLEMENTED(get_bottomMargin, VARIANT*)
  NOT_IMPLEMENTED(put_noWrap, VARIANT_BOOL)
  NOT_IMPLEMENTED(get_noWrap, VARIANT_BOOL*)
  NOT_IMPLEMENTED(put_text, VARIANT)
  NOT_IMPLEMENTED(get_text, VARIANT*)
  NOT_IMPLEMENTED(put_link, VARIANT)
  NOT_IMPLEMENTED(get_link, VARIANT*)
  NOT_IMPLEMENTED(put_vLink, VARIANT)
  NOT_IMPLEMENTED(get_vLink, VARIANT*)
  NOT_IMPLEMENTED(put_aLink, VARIANT)
  NOT_IMPLEMENTED(get_aLink, VARIANT*)
  NOT_IMPLEMENTED(put_onload, VARIANT)
  NOT_IMPLEMENTED(get_onload, VARIANT*)
  NOT_IMPLEMENTED(put_onunload, VARIANT)
  NOT_IMPLEMENTED(get_onunload, VARIANT*)
  NOT_IMPLEMENTED(put_scroll, BSTR)
  NOT_IMPLEMENTED(get_scroll, BSTR*)
  NOT_IMPLEMENTED(put_onselect, VARIANT)
  NOT_IMPLEMENTED(get_onselect, VARIANT*)
  NOT_IMPLEMENTED(put_onbeforeunload, VARIANT)
  NOT_IMPLEMENTED(get_onbeforeunload, VARIANT*)
  NOT_IMPLEMENTED(createTextRange, IHTMLTxtRange**)
};

using DllMainFunction = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

// An in-process server loaded as the system's loader would: DllMain told of the attach
// and of the detach.
class InprocServer {
 public:
  explicit InprocServer(const std::string& path) {
    module = LoadLibraryA(path.c_str());
    if (!module) return;
    dllMain = reinterpret_cast<DllMainFunction>(GetProcAddress(module, "DllMain"));
    if (dllMain) dllMain(module, DLL_PROCESS_ATTACH, nullptr);
  }
  InprocServer(const InprocServer&) = delete;
  InprocServer& operator=(const InprocServer&) = delete;
  ~InprocServer() {
    if (!module) return;
    if (dllMain) dllMain(module, DLL_PROCESS_DETACH, nullptr);
    FreeLibrary(module);
  }
  template <typename F>
  F entry(const char* name) const {
    return reinterpret_cast<F>(GetProcAddress(module, name));
  }
  HRESULT call(const char* name) const {
    auto f = entry<HRESULT(STDAPICALLTYPE*)()>(name);
    return f ? f() : E_FAIL;
  }

  HMODULE module = nullptr;
  DllMainFunction dllMain = nullptr;
};

std::string readDefault(const std::string& keyPath, const char* valueName = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  char data[1024] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return "<no value>";
  return type == REG_SZ ? std::string(data) : "<not a string>";
}

// Every key and value below a key of HKEY_CLASSES_ROOT, one line each, in order.
void dump(HKEY parent, const std::string& path, std::vector<std::string>& lines) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  lines.push_back(path);
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    BYTE data[1024];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    lines.push_back(path + " [" + std::string(name, nameSize) + "] = " +
                    (type == REG_SZ ? std::string(reinterpret_cast<char*>(data)) : "?"));
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, nameSize);
  }
  RegCloseKey(key);
  for (const std::string& child : children) dump(parent, path + "\\" + child, lines);
}

// The second process: what the registry holds of the class, into the file args[0].
QUARVEL_CHILD(activex_read_registration) {
  std::vector<std::string> lines;
  for (const std::string& key : {std::string("Brevatto.WithoutScripting.1"), std::string("Brevatto.WithoutScripting"),
                                std::string("CLSID\\") + kClsidText, std::string("TypeLib\\") + kLibidText,
                                std::string("Interface\\") + kDualText, std::string("Interface\\") + kUiText}) {
    dump(HKEY_CLASSES_ROOT, key, lines);
  }
  lines.push_back("CLSID kept: " + std::string(readDefault("CLSID\\{00000000-1111-2222-3333-444444444444}")));
  lines.push_back("Interface kept: " + readDefault(std::string(kNeighbourInterface) + "\\TypeLib", "Version"));
  std::ofstream out(args.at(0));
  for (const std::string& line : lines) out << line << "\n";
  return out ? 0 : 2;
}

std::vector<std::string> registrationSeenByAnotherProcess() {
  const std::string file = quarveltest::machineRoot() + "/registration.txt";
  EXPECT_EQ(0, quarveltest::runChild("activex_read_registration", {file}));
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the page's window does with the message the test posts it (kPageAction): the
// page's script or the browser running while the control waits in a message box.
constexpr UINT kPageAction = WM_APP + 1;
std::function<void()> g_pageAction;

LRESULT CALLBACK pageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPageAction) {
    if (g_pageAction) std::exchange(g_pageAction, nullptr)();
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

class ActiveXContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::wintest::clearMessageBoxes();
    {
      InprocServer installer(BREVATTO_PATH);
      ASSERT_NE(installer.module, nullptr);
      ASSERT_EQ(installer.call("DllRegisterServer"), S_OK);
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = pageProc;
    wc.lpszClassName = "ActiveXContainerPage";
    RegisterClassA(&wc);
    site.page = CreateWindowExA(0, "ActiveXContainerPage", "page", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                nullptr, nullptr, nullptr);
    site.browser = &browser;
  }
  void TearDown() override {
    g_pageAction = nullptr;
    browser.whileNavigating = nullptr;
    releaseControl();
    server_.reset();
    DestroyWindow(site.page);
    EXPECT_EQ(site.refs, 1u) << "site references left";
    EXPECT_EQ(browser.refs, 1u) << "browser references left";
  }

  // Finds the server through the registry, as the browser does for the page's CLSID.
  void create() {
    const std::string path = readDefault(std::string("CLSID\\") + kClsidText + "\\InprocServer32");
    server_ = std::make_unique<InprocServer>(path);
    ASSERT_NE(server_->module, nullptr) << path;
    control = newControl();
    ASSERT_NE(control, nullptr);
  }

  // Another object of the class, from the module create() loaded.
  IUnknown* newControl() {
    auto getClassObject = server_->entry<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    EXPECT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    if (!getClassObject || getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK)
      return nullptr;
    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    factory->Release();
    return object;
  }

  template <typename I>
  I* as(REFIID riid) {
    I* out = nullptr;
    EXPECT_EQ(control->QueryInterface(riid, reinterpret_cast<void**>(&out)), S_OK);
    return out;
  }

  // The browser's steps for an <object> element: site first, safety, parameters, activation.
  void embed(const std::map<std::u16string, std::u16string>& params) {
    if (!control) create();
    IOleObject* object = as<IOleObject>(IID_IOleObject);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    IObjectSafety* safety = as<IObjectSafety>(IID_IObjectSafety);
    const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, both, both), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, both, both), S_OK);
    safety->Release();
    IPersistPropertyBag* persist = as<IPersistPropertyBag>(IID_IPersistPropertyBag);
    bag.params = params;
    EXPECT_EQ(persist->Load(&bag, nullptr), S_OK);
    persist->Release();
    RECT position{10, 10, 110, 40};
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.page, &position), S_OK);
    object->Release();
  }

  HWND controlWindow() {
    IOleWindow* window = as<IOleWindow>(IID_IOleWindow);
    HWND hwnd = nullptr;
    window->GetWindow(&hwnd);
    window->Release();
    return hwnd;
  }

  void releaseControl() {
    if (!control) return;
    IOleObject* object = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)))) {
      object->Close(OLECLOSE_NOSAVE);
      object->SetClientSite(nullptr);
      object->Release();
    }
    control->Release();
    control = nullptr;
  }

  slserver::SecurityLayerServer& slServer() {
    if (!sl_) sl_ = std::make_unique<slserver::SecurityLayerServer>();
    return *sl_;
  }

  FakeBrowser browser;
  FakeSite site;
  FakeBag bag;
  IUnknown* control = nullptr;
  std::unique_ptr<slserver::SecurityLayerServer> sl_;
  std::unique_ptr<InprocServer> server_;
};

const std::u16string kRequest = u"<sl:GetStatusRequest>Gr\u00fc\u00dfe \u20ac</sl:GetStatusRequest>";
const std::u16string kPostUrl = u"http://127.0.0.1/empfang?\u00e4=1";

TEST_F(ActiveXContainer, ThePageRequestReachesTheServerAsUtf8AndTheReplyIsNavigatedTo) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>Antwort \xC3\xA4 + & = %\r\n</GetPropertiesResponse>";
  slServer().setReply(reply);
  embed({{u"xml_request", kRequest}, {u"post_url", kPostUrl}, {u"timeout", u"1"}});

  ASSERT_TRUE(slServer().waitForRequests(1));
  EXPECT_EQ(slServer().requests()[0].body, utf8(kRequest));
  EXPECT_TRUE(platform::wintest::messageBoxes().empty());
  ASSERT_EQ(browser.calls.size(), 1u);
  const NavigateCall& call = browser.calls[0];
  EXPECT_EQ(call.url, kPostUrl);  // unconverted UTF-16
  EXPECT_EQ(call.flags, VT_EMPTY);
  EXPECT_EQ(call.target, VT_EMPTY);
  EXPECT_EQ(call.headersType, VT_BSTR);
  EXPECT_EQ(call.headers, u"Content-Type: application/x-www-form-urlencoded\r\n");
  EXPECT_EQ(call.postDataType, VT_ARRAY | VT_UI1);
  const auto form = slserver::decodeForm(call.postData);
  EXPECT_EQ(form.at("data"), reply.body);
  EXPECT_EQ(form.at("retValue"), "0");
  EXPECT_EQ(bag.asked, (std::vector<std::u16string>{u"xml_request", u"post_url", u"timeout"}));
}

// What any page may hand over: a parameter of a megabyte with every special character
// and a lone surrogate (which reaches the server as U+FFFD), and the stock HWND name.
TEST_F(ActiveXContainer, BadParametersArriveAsUtf8AndNoPageSetsTheWindow) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  slServer().setReply(reply);
  std::u16string request = u"<R a='&amp;\"'>";
  for (char16_t c = 1; c < 0x80; ++c) request += c;
  request += u"\u00e4\u20ac\U0001F600";
  request += static_cast<char16_t>(0xD800);  // unpaired
  request += u"x";
  request.append(1u << 20, u'q');
  embed({{u"xml_request", request}, {u"post_url", kPostUrl}, {u"HWND", u"12345"}, {u"timeout", u"abc"}});
  ASSERT_TRUE(slServer().waitForRequests(1));
  const std::string got = slServer().requests()[0].body;
  std::string expected = "<R a='&amp;\"'>";
  for (char c = 1; c > 0; ++c) expected += c;
  expected += "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx";
  expected.append(1u << 20, 'q');
  EXPECT_TRUE(got == expected) << "sizes " << got.size() << " and " << expected.size();
  EXPECT_EQ(browser.calls.size(), 1u);
  EXPECT_TRUE(platform::wintest::messageBoxes().empty());
  EXPECT_NE(controlWindow(), reinterpret_cast<HWND>(12345));
}

TEST_F(ActiveXContainer, ParameterTable) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  slServer().setReply(reply);
  struct Row {
    std::map<std::u16string, std::u16string> params;
    const char* box;  // NULL: posted
    std::vector<DWORD> timeouts;
  };
  const Row rows[] = {
      {{{u"xml_request", u"<R/>"}}, slforward::kMsgPostUrlMissing, {}},
      {{{u"post_url", kPostUrl}}, slforward::kMsgRequestMissing, {}},
      {{}, slforward::kMsgRequestMissing, {}},
      {{{u"xml_request", u""}, {u"post_url", u""}}, nullptr, {1200000}},
      {{{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}, {u"timeout", u"0"}}, nullptr, {1200000}},
      {{{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}, {u"timeout", u"5"}}, nullptr, {300000}},
  };
  size_t requests = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.box ? row.box : "posted");
    browser.calls.clear();
    platform::wintest::clearMessageBoxes();
    platform::inettest::clearReceiveTimeoutsSet();
    embed(row.params);
    const HWND window = controlWindow();
    EXPECT_NE(window, nullptr);
    const auto boxes = platform::wintest::messageBoxes();
    if (row.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, row.box);
      EXPECT_EQ(boxes[0].caption, "Error");
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
      EXPECT_EQ(boxes[0].owner, window);
      EXPECT_TRUE(browser.calls.empty());
    } else {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(browser.calls.size(), 1u);
      ASSERT_TRUE(slServer().waitForRequests(++requests));
      EXPECT_EQ(slServer().requests().back().body, utf8(row.params.at(u"xml_request")));
      EXPECT_EQ(browser.calls[0].url, row.params.at(u"post_url"));
    }
    // The page's whole time-out first (later waits only shorten it to what is left).
    std::vector<DWORD> set = platform::inettest::receiveTimeoutsSet();
    if (!set.empty()) set.resize(1);
    EXPECT_EQ(set, row.timeouts);
    releaseControl();
  }
  EXPECT_EQ(slServer().requests().size(), requests);
}

TEST_F(ActiveXContainer, WithoutABrowserThePostingCannotBePrepared) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  slServer().setReply(reply);
  for (const bool services : {false, true}) {
    SCOPED_TRACE(services ? "no browser service" : "no service provider");
    site.offerServices = services;
    site.browser = nullptr;
    platform::wintest::clearMessageBoxes();
    embed({{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}});
    const auto boxes = platform::wintest::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, slforward::kMsgForwarding);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes[0].owner, controlWindow());
    releaseControl();
  }
  EXPECT_TRUE(browser.calls.empty());
}

TEST_F(ActiveXContainer, ServerErrorsShowTheirBoxesOwnedByTheControl) {
  struct Row {
    std::string reply;
    std::string text, caption;
  } rows[] = {
      {"<ErrorResponse><Code>2000</Code><Info>Karte fehlt</Info></ErrorResponse>", "Karte fehlt", "Error: 2000"},
      {"<ErrorResponse><Code>2000</Code><Info>x</ErrorResponse>", slforward::kMsgTransfer, "Error"},
      {"", slforward::kMsgCommunication, "Error"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    slserver::Reply reply;
    reply.body = row.reply;
    slServer().setReply(reply);
    platform::wintest::clearMessageBoxes();
    embed({{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}});
    const auto boxes = platform::wintest::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, row.text);
    EXPECT_EQ(boxes[0].caption, row.caption);
    EXPECT_EQ(boxes[0].owner, controlWindow());
    releaseControl();
  }
  EXPECT_TRUE(browser.calls.empty());
  // Nothing listening: the communication error.
  sl_.reset();
  slserver::Port20000Turn turn;
  platform::wintest::clearMessageBoxes();
  embed({{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}});
  ASSERT_EQ(platform::wintest::messageBoxes().size(), 1u);
  EXPECT_EQ(platform::wintest::messageBoxes()[0].text, slforward::kMsgCommunication);
}

// The URL handed to the browser's Navigate is the page's own, and only one the reply may
// go to: http, https or relative (the browser resolves it against the page), and an
// empty one as the page gave it. Any other scheme gets the forwarding box, owned by the
// control, and the server hears nothing (the whole rule: tests/plugins/common).
TEST_F(ActiveXContainer, OnlyHttpHttpsAndRelativePostUrlsAreNavigatedTo) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>ok</GetPropertiesResponse>";
  slServer().setReply(reply);
  struct Row {
    std::u16string url;
    bool posted;
  } rows[] = {
      {u"http://127.0.0.1/empfang", true},
      {u"HTTPS://Page.Example/empfang?a=b:c", true},
      {u"empfang.php?weiter=javascript:x", true},
      {u"/empfang", true},
      {u"", true},
      {u"javascript:alert(document.cookie)", false},
      {u"JavaScript:alert(1)", false},
      {u"vbscript:MsgBox(1)", false},
      {u"file:///C:/Windows/win.ini", false},
      {u"data:text/html,<script>alert(1)</script>", false},
      {u"java\tscript:alert(1)", false},
      {u" javascript:alert(1)", false},
      {u"j\u00e4vascript:alert(1)", false},
  };
  size_t requests = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(utf8(row.url));
    browser.calls.clear();
    platform::wintest::clearMessageBoxes();
    embed({{u"xml_request", u"<R/>"}, {u"post_url", row.url}});
    const auto boxes = platform::wintest::messageBoxes();
    if (row.posted) {
      EXPECT_TRUE(boxes.empty());
      ASSERT_EQ(browser.calls.size(), 1u);
      EXPECT_EQ(browser.calls[0].url, row.url);
      EXPECT_EQ(slserver::decodeForm(browser.calls[0].postData).at("data"), reply.body);
      ASSERT_TRUE(slServer().waitForRequests(++requests));
    } else {
      EXPECT_TRUE(browser.calls.empty());
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, slforward::kMsgForwarding);
      EXPECT_EQ(boxes[0].caption, "Error");
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
      EXPECT_EQ(boxes[0].owner, controlWindow());
    }
    releaseControl();
  }
  EXPECT_EQ(slServer().requests().size(), requests);
}

// The browser may let go of the control while its request runs: while one of its
// message boxes is open (a box runs a message loop, in which the user leaves the page or
// the page's script drops the control) or inside Navigate. The control keeps itself
// alive until its request is done, touches nothing of itself after the last release,
// and then goes: the module may unload, the control's window is gone, and the site and
// the browser have every reference back. The boxes dispatch the thread's messages as
// real ones do (this target runs the platform's pumping message boxes).
TEST_F(ActiveXContainer, TheBrowserMayReleaseTheControlWhileItsRequestRuns) {
  const std::string cardMissing = "<ErrorResponse><Code>2000</Code><Info>Karte fehlt</Info></ErrorResponse>";
  const std::string success = "<GetPropertiesResponse>ok</GetPropertiesResponse>";
  enum class When { kInTheBox, kInNavigate };
  struct Row {
    const char* what;
    std::string reply;
    std::u16string url;
    bool browserService;
    When when;
    bool close;       // the browser closes the control first, as when the page is left
    const char* box;  // the box open while the control is released
  };
  const Row rows[] = {
      {"error reply, page left", cardMissing, kPostUrl, true, When::kInTheBox, true, "Karte fehlt"},
      {"error reply, released only", cardMissing, kPostUrl, true, When::kInTheBox, false, "Karte fehlt"},
      {"refused URL, page left", success, u"javascript:alert(1)", true, When::kInTheBox, true,
       slforward::kMsgForwarding},
      {"refused URL, released only", success, u"javascript:alert(1)", true, When::kInTheBox, false,
       slforward::kMsgForwarding},
      {"no browser, page left", success, kPostUrl, false, When::kInTheBox, true, slforward::kMsgForwarding},
      {"no browser, released only", success, kPostUrl, false, When::kInTheBox, false, slforward::kMsgForwarding},
      {"navigated, page left", success, kPostUrl, true, When::kInNavigate, true, nullptr},
      {"navigated, released only", success, kPostUrl, true, When::kInNavigate, false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    slserver::Reply reply;
    reply.body = row.reply;
    slServer().setReply(reply);
    site.browser = row.browserService ? &browser : nullptr;
    browser.calls.clear();
    platform::wintest::clearMessageBoxes();
    if (server_) {
      control = newControl();
    } else {
      create();
    }
    ASSERT_NE(control, nullptr);
    auto canUnloadNow = server_->entry<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    IOleObject* object = as<IOleObject>(IID_IOleObject);
    ASSERT_EQ(object->SetClientSite(&site), S_OK);
    IPersistPropertyBag* persist = as<IPersistPropertyBag>(IID_IPersistPropertyBag);
    bag.params = {{u"xml_request", u"<R/>"}, {u"post_url", row.url}};
    EXPECT_EQ(persist->Load(&bag, nullptr), S_OK);
    persist->Release();
    // From here on the browser's one reference is the one it activates the control with.
    control->Release();
    control = nullptr;

    HWND window = nullptr;
    bool boxOpen = false;
    HRESULT unloadWhileRunning = E_UNEXPECTED;
    auto letGo = [&] {
      IOleWindow* oleWindow = nullptr;
      if (SUCCEEDED(object->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&oleWindow)))) {
        oleWindow->GetWindow(&window);
        oleWindow->Release();
      }
      boxOpen = window != nullptr && !IsWindowEnabled(window);  // an open box disables its owner
      if (row.close) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
      }
      object->Release();  // the browser's last reference
      unloadWhileRunning = canUnloadNow();
    };
    if (row.when == When::kInNavigate) {
      browser.whileNavigating = letGo;
    } else {
      g_pageAction = letGo;
      ASSERT_TRUE(PostMessageA(site.page, kPageAction, 0, 0));
    }
    RECT position{10, 10, 110, 40};
    const HRESULT activated = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.page, &position);
    browser.whileNavigating = nullptr;
    if (g_pageAction) {
      ADD_FAILURE() << "no box dispatched the page's messages (pumping message boxes off?)";
      std::exchange(g_pageAction, nullptr)();
    }

    EXPECT_EQ(unloadWhileRunning, S_FALSE) << "the control went while its request ran";
    EXPECT_EQ(canUnloadNow(), S_OK) << "the control outlived its request";
    EXPECT_EQ(activated, row.close ? E_FAIL : S_OK);
    EXPECT_EQ(boxOpen, row.box != nullptr);
    const auto boxes = platform::wintest::messageBoxes();
    if (row.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, row.box);
      EXPECT_EQ(boxes[0].owner, window);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_NE(window, nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(browser.calls.size(), row.when == When::kInNavigate ? 1u : 0u);
    EXPECT_EQ(site.refs, 1u) << "site references left";
    EXPECT_EQ(browser.refs, 1u) << "browser references left";
  }
}

TEST_F(ActiveXContainer, EveryCreationOfTheWindowRunsTheRequestAgain) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse></GetPropertiesResponse>";
  slServer().setReply(reply);
  embed({{u"xml_request", u"<R/>"}, {u"post_url", kPostUrl}});
  IOleObject* object = as<IOleObject>(IID_IOleObject);
  RECT position{0, 0, 50, 20};
  EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.page, &position), S_OK);
  EXPECT_EQ(browser.calls.size(), 1u);  // the window stands: no second request
  const HWND first = controlWindow();
  EXPECT_EQ(GetParent(first), site.page);
  IOleInPlaceObject* inPlace = as<IOleInPlaceObject>(IID_IOleInPlaceObject);
  EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(site.deactivated, 1);
  EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.page, &position), S_OK);
  EXPECT_EQ(browser.calls.size(), 2u);
  EXPECT_TRUE(slServer().waitForRequests(2));
  DWORD misc = 0;
  EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 131473u);
  inPlace->Release();
  object->Release();
}

TEST_F(ActiveXContainer, PropertiesThroughIDispatch) {
  create();
  auto* dual = as<IWithoutScripting>(kIWithoutScripting);
  BSTR value = nullptr;
  ASSERT_EQ(dual->get_getParamRequest(&value), S_OK);  // nothing loaded yet
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(SysStringLen(value), 0u);
  SysFreeString(value);

  IDispatch* dispatch = as<IDispatch>(IID_IDispatch);
  struct Row {
    const char16_t* name;
    DISPID id;
  } rows[] = {{u"getParamRequest", 1}, {u"getParamURL", 2}, {u"getParamTimeout", 3}, {u"WINDOW", DISPID_HWND}};
  for (const Row& row : rows) {
    LPOLESTR name = const_cast<LPOLESTR>(reinterpret_cast<const OLECHAR*>(row.name));
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, row.id);
    if (row.id == DISPID_HWND) continue;
    // Put a text with a NUL inside: the property keeps what comes before it.
    const char16_t chars[] = u"Wert \u00e4\0Rest";
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocStringLen(chars, 10);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&arg, &named, 1, 1};
    EXPECT_EQ(dispatch->Invoke(row.id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&arg);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(dispatch->Invoke(row.id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(text(result.bstrVal), u"Wert \u00e4");
    VariantClear(&result);
    // A number is no text.
    arg.vt = VT_I4;
    arg.lVal = 7;
    UINT argError = 99;
    EXPECT_EQ(dispatch->Invoke(row.id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, &argError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);
  }
  ASSERT_EQ(dual->get_getParamTimeout(&value), S_OK);
  EXPECT_EQ(text(value), u"Wert \u00e4");
  SysFreeString(value);

  // The stock Window property is read-only; unknown members and names are refused.
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(dispatch->Invoke(DISPID_HWND, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(dispatch->Invoke(DISPID_HWND, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch->Invoke(42, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  LPOLESTR unknown = const_cast<LPOLESTR>(reinterpret_cast<const OLECHAR*>(u"xml_request"));
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  dispatch->Release();
  dual->Release();
}

template <typename I>
I* query(IUnknown* object, REFIID riid) {
  I* out = nullptr;
  EXPECT_EQ(object->QueryInterface(riid, reinterpret_cast<void**>(&out)), S_OK);
  return out;
}

LARGE_INTEGER streamOffset(LONGLONG value) {
  LARGE_INTEGER v;
  v.QuadPart = value;
  return v;
}

ULONGLONG streamPosition(IStream* stream) {
  ULARGE_INTEGER now{};
  EXPECT_EQ(stream->Seek(streamOffset(0), STREAM_SEEK_CUR, &now), S_OK);
  return now.QuadPart;
}

void streamWrite(IStream* stream, const std::string& bytes) {
  ULONG written = 0;
  EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
}

// What a control holds, as a page would keep it: the names and texts its property bag
// receives (a text never given is not written), and its extent.
struct ControlState {
  std::map<std::u16string, std::u16string> params;
  LONG cx = 0, cy = 0;
  bool operator==(const ControlState& other) const {
    return params == other.params && cx == other.cx && cy == other.cy;
  }
};

ControlState stateOf(IUnknown* object) {
  ControlState state;
  FakeBag saved;
  IPersistPropertyBag* bag = query<IPersistPropertyBag>(object, IID_IPersistPropertyBag);
  EXPECT_EQ(bag->Save(&saved, FALSE, TRUE), S_OK);
  bag->Release();
  state.params = saved.params;
  IOleObject* ole = query<IOleObject>(object, IID_IOleObject);
  SIZEL extent{};
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  ole->Release();
  state.cx = extent.cx;
  state.cy = extent.cy;
  return state;
}

// Gives a control the page's texts through its dual interface, and an extent.
void setState(IUnknown* object, const std::map<std::u16string, std::u16string>& params, SIZEL extent) {
  IWithoutScripting* dual = query<IWithoutScripting>(object, kIWithoutScripting);
  for (const auto& [name, value] : params) {
    BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    HRESULT hr = E_INVALIDARG;
    if (name == u"xml_request") hr = dual->put_getParamRequest(text);
    if (name == u"post_url") hr = dual->put_getParamURL(text);
    if (name == u"timeout") hr = dual->put_getParamTimeout(text);
    EXPECT_EQ(hr, S_OK);
    SysFreeString(text);
  }
  dual->Release();
  IOleObject* ole = query<IOleObject>(object, IID_IOleObject);
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  ole->Release();
}

// A container keeps its own bytes around the control's in one stream: Save writes the
// control's state at the pointer, and a new control's Load reads exactly that back.
TEST_F(ActiveXContainer, StreamPersistenceRoundTrip) {
  slserver::Reply reply;
  reply.body = "<GetPropertiesResponse>ok</GetPropertiesResponse>";
  slServer().setReply(reply);
  create();
  std::u16string big = u"\u00e4";
  big += static_cast<char16_t>(0xDC00);  // unpaired, kept as it is
  big.append(1u << 20, u'q');
  const std::map<std::u16string, std::u16string> rows[] = {
      {{u"xml_request", kRequest}, {u"post_url", kPostUrl}, {u"timeout", u"5"}},
      {{u"xml_request", big}, {u"post_url", u""}},  // an empty URL was given, no time-out
      {},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size());
    IUnknown* original = newControl();
    IPersistStreamInit* persist = query<IPersistStreamInit>(original, IID_IPersistStreamInit);
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    setState(original, row, SIZEL{5000, 1200});
    EXPECT_EQ(persist->IsDirty(), S_OK);

    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    streamWrite(stream, "before");
    ULARGE_INTEGER sizeMax{};
    EXPECT_EQ(persist->GetSizeMax(&sizeMax), S_OK);
    EXPECT_EQ(persist->Save(stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    const ULONGLONG end = streamPosition(stream);
    EXPECT_LE(end - 6, sizeMax.QuadPart);
    streamWrite(stream, "after");
    const ControlState saved = stateOf(original);
    persist->Release();
    original->Release();

    ASSERT_EQ(stream->Seek(streamOffset(6), STREAM_SEEK_SET, nullptr), S_OK);
    IUnknown* copy = newControl();
    IPersistStreamInit* loader = query<IPersistStreamInit>(copy, IID_IPersistStreamInit);
    EXPECT_EQ(loader->Load(stream), S_OK);
    EXPECT_EQ(streamPosition(stream), end);  // the container's bytes after it are left
    EXPECT_EQ(loader->IsDirty(), S_FALSE);
    loader->Release();
    stream->Release();
    const ControlState loaded = stateOf(copy);
    EXPECT_TRUE(loaded == saved);
    EXPECT_TRUE(loaded.params == row);
    EXPECT_EQ(loaded.cx, 5000);
    EXPECT_EQ(loaded.cy, 1200);
    if (row.size() == 3) {
      // The loaded control runs the page's request as the original would have.
      releaseControl();  // the one create() made
      control = copy;
      embed({});
      ASSERT_TRUE(slServer().waitForRequests(1));
      EXPECT_EQ(slServer().requests()[0].body, utf8(kRequest));
      ASSERT_EQ(browser.calls.size(), 1u);
      EXPECT_EQ(browser.calls[0].url, kPostUrl);
      releaseControl();
    } else {
      copy->Release();
    }
  }
}

// Whatever a stream holds, a control takes all of a state or nothing: its texts, its
// extent and the stream's pointer stay as they were.
TEST_F(ActiveXContainer, DamagedStreamsAreRefusedAndChangeNothing) {
  create();
  setState(control, {{u"xml_request", u"A"}, {u"timeout", u""}}, SIZEL{2, 3});
  IPersistStreamInit* persist = as<IPersistStreamInit>(IID_IPersistStreamInit);
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ASSERT_EQ(persist->Save(stream, FALSE), S_OK);
  std::string good(static_cast<size_t>(streamPosition(stream)), '\0');
  ASSERT_EQ(stream->Seek(streamOffset(0), STREAM_SEEK_SET, nullptr), S_OK);
  ULONG got = 0;
  stream->Read(good.data(), static_cast<ULONG>(good.size()), &got);
  stream->Release();
  // The format pages already hold: version 1.0, the extent, then per entry its type
  // (VT_EMPTY or VT_BSTR with a byte count and UTF-16), little-endian.
  const std::string format("\0\0\1\0" "\2\0\0\0" "\3\0\0\0"
                           "\x08\0" "\2\0\0\0" "A\0"
                           "\0\0"
                           "\x08\0" "\0\0\0\0",
                           28);
  EXPECT_EQ(good, format);
  EXPECT_EQ(persist->Load(nullptr), E_POINTER);
  EXPECT_EQ(persist->Save(nullptr, TRUE), E_POINTER);
  EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);

  struct Row {
    std::string what;
    std::string bytes;
    HRESULT result;
  };
  std::vector<Row> rows;
  for (size_t length = 0; length < good.size(); ++length)
    rows.push_back({"cut at " + std::to_string(length), good.substr(0, length), STG_E_READFAULT});
  auto changed = [&](size_t at, const std::string& with) {
    std::string bytes = good;
    bytes.replace(at, with.size(), with);
    return bytes;
  };
  rows.push_back({"version 2.0", changed(2, "\2"), STG_E_INVALIDHEADER});
  rows.push_back({"another format", "GIF89a" + std::string(40, '\x7f'), STG_E_INVALIDHEADER});
  rows.push_back({"a number for a text", changed(12, "\3"), STG_E_DOCFILECORRUPT});
  rows.push_back({"half a character", changed(14, "\3"), STG_E_DOCFILECORRUPT});
  rows.push_back({"a count of 4 GiB", changed(14, "\xfe\xff\xff\xff"), STG_E_READFAULT});
  rows.push_back({"the last count too large", changed(24, "\2"), STG_E_READFAULT});

  IUnknown* target = newControl();
  setState(target, {{u"xml_request", u"keep"}, {u"post_url", kPostUrl}}, SIZEL{7, 8});
  const ControlState before = stateOf(target);
  IPersistStreamInit* loader = query<IPersistStreamInit>(target, IID_IPersistStreamInit);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    streamWrite(stream, "xx" + row.bytes);
    ASSERT_EQ(stream->Seek(streamOffset(2), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(loader->Load(stream), row.result);
    EXPECT_EQ(streamPosition(stream), 2u);
    EXPECT_EQ(loader->IsDirty(), S_OK);  // still the changes of before
    stream->Release();
    EXPECT_TRUE(stateOf(target) == before);
  }

  // A medium that cannot take the state: the failure is told and the changes stay unsaved.
  HGLOBAL small = GlobalAlloc(GMEM_FIXED, 4);
  ASSERT_EQ(CreateStreamOnHGlobal(small, FALSE, &stream), S_OK);
  EXPECT_EQ(loader->Save(stream, TRUE), STG_E_MEDIUMFULL);
  EXPECT_EQ(loader->IsDirty(), S_OK);
  stream->Release();
  GlobalFree(small);
  loader->Release();
  target->Release();
  persist->Release();
}

// A page script calls OnClick(document.body, colour) through the UI interface's IDispatch.
TEST_F(ActiveXContainer, OnClickColoursThePageBody) {
  create();
  IDispatch* ui = as<IDispatch>(kIWithoutScriptingUI);
  LPOLESTR name = const_cast<LPOLESTR>(reinterpret_cast<const OLECHAR*>(u"onclick"));
  DISPID id = 0;
  EXPECT_EQ(ui->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 0x60020000);

  FakeBody body;
  auto onClick = [&](VARIANT element, VARIANT colour, WORD flags = DISPATCH_METHOD, UINT* argError = nullptr) {
    VARIANT args[2] = {colour, element};  // last first
    DISPPARAMS params = {args, nullptr, 2, 0};
    return ui->Invoke(0x60020000, GUID_NULL, 0, flags, &params, nullptr, nullptr, argError);
  };
  auto dispatchOf = [](IDispatch* object) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = object;
    return v;
  };
  auto colourText = [](const char16_t* colour) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(colour);
    return v;
  };
  VARIANT red = colourText(u"#ff0000");
  EXPECT_EQ(onClick(dispatchOf(&body), red), S_OK);
  ASSERT_EQ(body.bgColor.vt, VT_BSTR);
  EXPECT_EQ(text(body.bgColor.bstrVal), u"#ff0000");
  VARIANT green;
  VariantInit(&green);
  green.vt = VT_I4;
  green.lVal = 0x00FF00;
  EXPECT_EQ(onClick(dispatchOf(&body), green), S_OK);
  ASSERT_EQ(body.bgColor.vt, VT_I4);
  EXPECT_EQ(body.bgColor.lVal, 0x00FF00);

  // Anything that is no body element, and a colour the body refuses, change nothing and
  // still succeed.
  EXPECT_EQ(onClick(dispatchOf(&browser), red), S_OK);
  EXPECT_EQ(onClick(dispatchOf(nullptr), red), S_OK);
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_EQ(onClick(dispatchOf(&body), empty), S_OK);
  EXPECT_EQ(body.bgColor.vt, VT_I4);
  EXPECT_EQ(body.refs, 1u);
  EXPECT_EQ(browser.refs, 1u);

  // Calls that do not fit the method.
  UINT argError = 99;
  VARIANT notAnElement = colourText(u"body");
  EXPECT_EQ(onClick(notAnElement, red, DISPATCH_METHOD, &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 1u);  // its place in rgvarg, where the arguments stand last first
  EXPECT_EQ(onClick(dispatchOf(&body), red, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);
  DISPPARAMS one = {&red, nullptr, 1, 0};
  EXPECT_EQ(ui->Invoke(0x60020000, GUID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(body.bgColor.vt, VT_I4);
  VariantClear(&red);
  VariantClear(&notAnElement);
  ui->Release();
}

TEST_F(ActiveXContainer, InterfacesSafetyAndUnloading) {
  create();
  auto canUnloadNow = server_->entry<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_FALSE);  // the object lives

  for (const IID* iid : {&kIWithoutScripting, &kIWithoutScriptingUI, &IID_IDispatch, &IID_IViewObjectEx,
                         &IID_IViewObject2, &IID_IViewObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject,
                         &IID_IOleWindow, &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject,
                         &IID_IPersistStreamInit, &IID_IPersist, &IID_IPersistPropertyBag, &IID_IObjectSafety,
                         &IID_IObjectWithSite}) {
    IUnknown* probe = nullptr;
    EXPECT_EQ(control->QueryInterface(*iid, reinterpret_cast<void**>(&probe)), S_OK);
    if (probe) probe->Release();
  }
  IUnknown* none = nullptr;
  EXPECT_EQ(control->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);

  IObjectSafety* safety = as<IObjectSafety>(IID_IObjectSafety);
  DWORD supported = 9, enabled = 9;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 3u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), S_OK);  // only the masked option changes
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 2u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 3, 3), E_NOINTERFACE);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  safety->Release();

  releaseControl();
  EXPECT_EQ(canUnloadNow(), S_OK);

  // A class factory held, or the server locked, keeps the module.
  auto getClassObject = server_->entry<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
  IClassFactory* factory = nullptr;
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

// What a container's toolbox and the file's properties show of the module: the bitmap
// the registration's ToolboxBitmap32 names (16 x 16, 16 colours), the project name and
// the version block.
TEST_F(ActiveXContainer, ToolboxBitmapProjectNameAndVersionBlock) {
  const std::string toolbox = readDefault(std::string("CLSID\\") + kClsidText + "\\ToolboxBitmap32");
  const size_t comma = toolbox.rfind(", ");
  ASSERT_NE(comma, std::string::npos) << toolbox;
  EXPECT_EQ(toolbox.substr(comma + 2), "101");
  const std::string path = toolbox.substr(0, comma);
  InprocServer module(path);
  ASSERT_NE(module.module, nullptr) << path;

  HBITMAP bitmap = LoadBitmapA(module.module, MAKEINTRESOURCEA(101));
  ASSERT_NE(bitmap, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 16);
  EXPECT_EQ(info.bmHeight, 16);
  EXPECT_EQ(info.bmBitsPixel, 4);
  DeleteObject(bitmap);

  char name[64] = {};
  EXPECT_EQ(LoadStringA(module.module, 100, name, sizeof name), 8);
  EXPECT_STREQ(name, "Brevatto");

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(translation[0], 0x0407);  // German
  const std::pair<const char*, const char*> strings[] = {
      {"FileDescription", "Brevatto Module"}, {"ProductName", "Brevatto Module"},
      {"InternalName", "Brevatto"},           {"OriginalFilename", "Brevatto.DLL"},
  };
  for (const auto& [key, expected] : strings) {
    char query[96];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], key);
    char* value = nullptr;
    EXPECT_TRUE(VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&value), &length)) << key;
    EXPECT_STREQ(value ? value : "<none>", expected) << key;
  }
}

TEST_F(ActiveXContainer, RegistrationAndUnregistrationSeenFromASecondProcess) {
  HKEY neighbour = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &neighbour, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(neighbour, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("other"), 6);
  RegCloseKey(neighbour);
  // Version 2.0 of our library's interface: unregistering 1.0 leaves it.
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kNeighbourInterface) + "\\TypeLib").c_str(), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &neighbour, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(neighbour, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kLibidText), sizeof kLibidText);
  RegSetValueExA(neighbour, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("2.0"), 4);
  RegCloseKey(neighbour);
  InprocServer installer(BREVATTO_PATH);
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(installer.module, path, MAX_PATH), 0u);
  const std::string module = path;
  const std::string cls = std::string("CLSID\\") + kClsidText;
  const std::string lib = std::string("TypeLib\\") + kLibidText;
  const std::string dual = std::string("Interface\\") + kDualText;
  const std::vector<std::string> expected = {
      "Brevatto.WithoutScripting.1",
      "Brevatto.WithoutScripting.1 [] = WithoutScripting Class",
      "Brevatto.WithoutScripting.1\\CLSID",
      "Brevatto.WithoutScripting.1\\CLSID [] = {02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}",
      "Brevatto.WithoutScripting",
      "Brevatto.WithoutScripting [] = WithoutScripting Class",
      "Brevatto.WithoutScripting\\CLSID",
      "Brevatto.WithoutScripting\\CLSID [] = {02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}",
      "Brevatto.WithoutScripting\\CurVer",
      "Brevatto.WithoutScripting\\CurVer [] = Brevatto.WithoutScripting.1",
      cls,
      cls + " [] = WithoutScripting Class",
      cls + "\\ProgID",
      cls + "\\ProgID [] = Brevatto.WithoutScripting.1",
      cls + "\\VersionIndependentProgID",
      cls + "\\VersionIndependentProgID [] = Brevatto.WithoutScripting",
      cls + "\\Programmable",
      cls + "\\InprocServer32",
      cls + "\\InprocServer32 [] = " + module,
      cls + "\\InprocServer32 [ThreadingModel] = Apartment",
      cls + "\\Control",
      cls + "\\ToolboxBitmap32",
      cls + "\\ToolboxBitmap32 [] = " + module + ", 101",
      cls + "\\MiscStatus",
      cls + "\\MiscStatus [] = 0",
      cls + "\\MiscStatus\\1",
      cls + "\\MiscStatus\\1 [] = 131473",
      cls + "\\TypeLib",
      cls + "\\TypeLib [] = {9DC1F2D7-3AE6-44BE-AF6E-546F376A744C}",
      cls + "\\Version",
      cls + "\\Version [] = 1.0",
      lib,
      lib + "\\1.0",
      lib + "\\1.0 [] = Brevatto 1.0 Type Library",
      lib + "\\1.0\\0",
      lib + "\\1.0\\0\\win64",
      lib + "\\1.0\\0\\win64 [] = " + module,
      lib + "\\1.0\\FLAGS",
      lib + "\\1.0\\FLAGS [] = 0",
      lib + "\\1.0\\HELPDIR",
      lib + "\\1.0\\HELPDIR [] = " + module.substr(0, module.find_last_of('/')),
      // The dual interface, marshalled from the library's description; the dispatch-only
      // UI interface has no entry.
      dual,
      dual + " [] = IWithoutScripting",
      dual + "\\ProxyStubClsid",
      dual + "\\ProxyStubClsid [] = {00020424-0000-0000-C000-000000000046}",
      dual + "\\ProxyStubClsid32",
      dual + "\\ProxyStubClsid32 [] = {00020424-0000-0000-C000-000000000046}",
      dual + "\\TypeLib",
      dual + "\\TypeLib [] = {9DC1F2D7-3AE6-44BE-AF6E-546F376A744C}",
      dual + "\\TypeLib [Version] = 1.0",
      "CLSID kept: other",
      "Interface kept: 2.0",
  };
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(registrationSeenByAnotherProcess()), sorted(expected));

  // Registering again over a stale class key leaves no stale entry under it.
  HKEY stale = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (cls + "\\Control\\Stale").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &stale, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(stale);
  EXPECT_EQ(installer.call("DllRegisterServer"), S_OK);
  EXPECT_EQ(sorted(registrationSeenByAnotherProcess()), sorted(expected));

  EXPECT_EQ(installer.call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(registrationSeenByAnotherProcess(),
            (std::vector<std::string>{"CLSID kept: other", "Interface kept: 2.0"}));
  EXPECT_EQ(readDefault("CLSID"), "<no value>");  // the CLSID key itself stays
}

}  // namespace
