// The module: its entry points, the class factory of ContxtMenu and the registration.
#include "ContxtMenu.h"
#include "Menvaro.h"

namespace menvaro {

CMenvaroModule g_module;

namespace {

// A class factory counts as a live object while it exists, so that the module is not
// unloaded under a shell that still holds it.
class CContxtMenuFactory final : public IClassFactory {
 public:
  CContxtMenuFactory() { g_module.objectCreated(); }
  CContxtMenuFactory(const CContxtMenuFactory&) = delete;
  CContxtMenuFactory& operator=(const CContxtMenuFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    CContxtMenu* menu = new CContxtMenu();
    const HRESULT result = menu->QueryInterface(riid, object);
    menu->Release();
    return result;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      g_module.lock();
    else
      g_module.unlock();
    return S_OK;
  }

 private:
  ~CContxtMenuFactory() { g_module.objectDestroyed(); }
  volatile LONG m_refs = 1;
};

const TCHAR* const kApprovedKey = TEXT("Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved");

// The Windows NT family (the top bit of the version clear) keeps a list of approved
// shell extensions; the other family has none.
bool ntFamily() { return (GetVersion() & 0x80000000u) == 0; }

HRESULT registerTypeLibrary() {
  WCHAR path[MAX_PATH];
  if (GetModuleFileNameW(g_module.instance(), path, MAX_PATH) == 0) return HRESULT_FROM_WIN32(GetLastError());
  ITypeLib* library = nullptr;
  HRESULT result = LoadTypeLib(path, &library);
  if (FAILED(result)) return result;
  result = RegisterTypeLib(library, path, nullptr);
  library->Release();
  return result;
}

}  // namespace
}  // namespace menvaro

using menvaro::g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module.setInstance(instance);
  return TRUE;
}

STDAPI DllCanUnloadNow(void) { return g_module.canUnload() ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(rclsid, menvaro::CLSID_ContxtMenu)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new menvaro::CContxtMenuFactory();
  const HRESULT result = factory->QueryInterface(riid, object);
  factory->Release();
  return result;
}

STDAPI DllRegisterServer(void) {
  HKEY approved = nullptr;
  if (menvaro::ntFamily()) {
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, menvaro::kApprovedKey, 0, KEY_SET_VALUE, &approved) != ERROR_SUCCESS)
      return E_ACCESSDENIED;
    TCHAR name[64] = {};
    LoadString(g_module.instance(), menvaro::kModuleNameString, name, 64);
    const LONG status = RegSetValueEx(approved, menvaro::kClsidText, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                                      static_cast<DWORD>((lstrlen(name) + 1) * sizeof(TCHAR)));
    if (status != ERROR_SUCCESS) {
      RegCloseKey(approved);
      return HRESULT_FROM_WIN32(status);
    }
  }
  HRESULT result = menvaro::registerTypeLibrary();
  if (SUCCEEDED(result)) result = menvaro::updateRegistry(true);
  if (approved != nullptr) RegCloseKey(approved);
  return result;
}

STDAPI DllUnregisterServer(void) {
  if (menvaro::ntFamily()) {
    HKEY approved = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, menvaro::kApprovedKey, 0, KEY_SET_VALUE, &approved) == ERROR_SUCCESS) {
      RegDeleteValue(approved, menvaro::kClsidText);
      RegCloseKey(approved);
    }
  }
  UnRegisterTypeLib(menvaro::LIBID_MenvaroLib, 1, 0, 0, menvaro::kSysKind);
  return menvaro::updateRegistry(false);
}
