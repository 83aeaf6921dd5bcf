// The module: its entry points and the class factory of WithoutScripting.
#include "Brevatto.h"

namespace brevatto {

const CLSID CLSID_WithoutScripting = {0x02181BA8, 0x5BF3, 0x4A52, {0x80, 0xAB, 0xD1, 0x54, 0xBD, 0xDC, 0x7E, 0xC7}};
const IID IID_IWithoutScripting = {0xF52815E1, 0x7A75, 0x49FA, {0x82, 0xEB, 0xBE, 0x3E, 0x89, 0x62, 0xA8, 0xA5}};
const IID IID_IWithoutScriptingUI = {0xA767AEC5, 0x0940, 0x4ECF, {0xA3, 0x7A, 0x8B, 0x1F, 0x58, 0xD8, 0xA9, 0xC7}};
const GUID LIBID_BREVATTOLib = {0x9DC1F2D7, 0x3AE6, 0x44BE, {0xAF, 0x6E, 0x54, 0x6F, 0x37, 0x6A, 0x74, 0x4C}};

BrevattoModule g_module;

void BrevattoModule::term() {
  unregisterWindowClass();
  instance_ = nullptr;
}

namespace {

// The class factory locks the module while a host holds it, so that the module is not
// unloaded under it.
class WithoutScriptingFactory final : public IClassFactory {
 public:
  WithoutScriptingFactory() { g_module.lock(); }
  WithoutScriptingFactory(const WithoutScriptingFactory&) = delete;
  WithoutScriptingFactory& operator=(const WithoutScriptingFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return createWithoutScripting(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      g_module.lock();
    else
      g_module.unlock();
    return S_OK;
  }

 private:
  ~WithoutScriptingFactory() { g_module.unlock(); }
  volatile LONG refs_ = 1;
};

}  // namespace
}  // namespace brevatto

using brevatto::g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.init(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    g_module.term();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow(void) { return g_module.lockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (rclsid != brevatto::CLSID_WithoutScripting) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new brevatto::WithoutScriptingFactory();
  const HRESULT hr = factory->QueryInterface(riid, object);
  factory->Release();
  return hr;
}

// The class's entries first, then the type library the module carries as TYPELIB 1.
STDAPI DllRegisterServer(void) {
  HRESULT hr = brevatto::updateRegistry(true);
  if (FAILED(hr)) return hr;
  WCHAR path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(g_module.instance(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  ITypeLib* library = nullptr;
  hr = LoadTypeLib(path, &library);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(library, path, nullptr);
  library->Release();
  return hr;
}

STDAPI DllUnregisterServer(void) {
  const HRESULT hr = brevatto::updateRegistry(false);
  const HRESULT typeLibrary = UnRegisterTypeLib(brevatto::LIBID_BREVATTOLib, 1, 0, 0,
                                                sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  return FAILED(hr) ? hr : typeLibrary;
}
