// Brevatto: the in-process server of the ActiveX control WithoutScripting, its
// identities, its interfaces and the module's lock count.
#pragma once

#include <windows.h>

#include <objbase.h>

namespace brevatto {

// {02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}
extern const CLSID CLSID_WithoutScripting;
// {F52815E1-7A75-49FA-82EB-BE3E8962A8A5}
extern const IID IID_IWithoutScripting;
// {A767AEC5-0940-4ECF-A37A-8B1F58D8A9C7}
extern const IID IID_IWithoutScriptingUI;
// {9DC1F2D7-3AE6-44BE-AF6E-546F376A744C}, version 1.0
extern const GUID LIBID_BREVATTOLib;

constexpr const char* kClsidText = "{02181BA8-5BF3-4A52-80AB-D154BDDC7EC7}";
constexpr const char* kLibidText = "{9DC1F2D7-3AE6-44BE-AF6E-546F376A744C}";
constexpr const char* kProgId = "Brevatto.WithoutScripting.1";
constexpr const char* kVersionIndependentProgId = "Brevatto.WithoutScripting";
constexpr const char* kClassDescription = "WithoutScripting Class";
constexpr int kToolboxBitmap = 101;
constexpr unsigned kProjectNameString = 100;
// OLEMISC_SETCLIENTSITEFIRST | _ACTIVATEWHENVISIBLE | _INSIDEOUT | _CANTLINKINSIDE |
// _RECOMPOSEONRESIZE
constexpr DWORD kMiscStatus = 131473;

// The dispatch identifiers of the control's properties and of OnClick.
constexpr DISPID kDispidRequest = 1;
constexpr DISPID kDispidUrl = 2;
constexpr DISPID kDispidTimeout = 3;
constexpr DISPID kDispidOnClick = 0x60020000;

// The control's dual interface: the stock Window property and the page's parameters.
struct IWithoutScripting : public IDispatch {
  STDMETHOD(get_Window)(LONG_PTR* phwnd) PURE;
  STDMETHOD(get_getParamRequest)(BSTR* pVal) PURE;
  STDMETHOD(put_getParamRequest)(BSTR newVal) PURE;
  STDMETHOD(get_getParamURL)(BSTR* pVal) PURE;
  STDMETHOD(put_getParamURL)(BSTR newVal) PURE;
  STDMETHOD(get_getParamTimeout)(BSTR* pVal) PURE;
  STDMETHOD(put_getParamTimeout)(BSTR newVal) PURE;

 protected:
  ~IWithoutScripting() = default;
};

// A dispatch interface: OnClick(pdispBody, varColor) is reached through Invoke.
struct IWithoutScriptingUI : public IDispatch {
 protected:
  ~IWithoutScriptingUI() = default;
};

// The module: its instance handle and its lock count (living objects, class factories
// held by a host, and LockServer).
class BrevattoModule {
 public:
  void init(HINSTANCE instance) { instance_ = instance; }
  void term();
  HINSTANCE instance() const { return instance_; }
  void lock() { InterlockedIncrement(&locks_); }
  void unlock() { InterlockedDecrement(&locks_); }
  LONG lockCount() const { return locks_; }

 private:
  HINSTANCE instance_ = nullptr;
  volatile LONG locks_ = 0;
};

extern BrevattoModule g_module;

// Creates a WithoutScripting object and answers riid of it.
HRESULT createWithoutScripting(REFIID riid, void** object);
// Writes (true) or removes (false) the class's registry entries under HKEY_CLASSES_ROOT.
HRESULT updateRegistry(bool registering);
// The control's window class goes with the module.
void unregisterWindowClass();

}  // namespace brevatto
