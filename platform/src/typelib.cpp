// Type libraries: a module's library read from its "TYPELIB" resource, and its
// registration under HKEY_CLASSES_ROOT\TypeLib.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <objbase.h>
#include <windows.h>

namespace {

struct Declared {
  GUID guid{};
  std::u16string name;
};

class TypeLibrary final : public ITypeLib {
 public:
  TLIBATTR attributes{};
  std::u16string name;
  std::u16string help;
  std::vector<Declared> interfaces;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // The layer's own type library: no interface identifier of its own is needed.
    if (!IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<ITypeLib*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(interfaces.size()); }
  STDMETHODIMP GetTypeInfo(UINT, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (kind == nullptr) return E_INVALIDARG;
    if (index >= interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = TKIND_INTERFACE;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetLibAttr(TLIBATTR** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = new TLIBATTR(attributes);
    return S_OK;
  }
  STDMETHODIMP GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetDocumentation(INT index, BSTR* nameOut, BSTR* docOut, DWORD* context, BSTR* helpFile) override {
    if (index < -1 || index >= static_cast<INT>(interfaces.size())) return TYPE_E_ELEMENTNOTFOUND;
    const std::u16string& n = index == -1 ? name : interfaces[static_cast<size_t>(index)].name;
    if (nameOut) *nameOut = SysAllocString(n.c_str());
    if (docOut) *docOut = index == -1 ? SysAllocString(help.c_str()) : nullptr;
    if (context) *context = 0;
    if (helpFile) *helpFile = nullptr;
    return S_OK;
  }
  STDMETHODIMP IsName(LPOLESTR text, ULONG, BOOL* found) override {
    if (text == nullptr || found == nullptr) return E_INVALIDARG;
    *found = lstrcmpiW(text, name.c_str()) == 0;
    for (const Declared& d : interfaces) *found = *found || lstrcmpiW(text, d.name.c_str()) == 0;
    return S_OK;
  }
  STDMETHODIMP FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* found) override {
    if (found) *found = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

 private:
  ~TypeLibrary() = default;
  std::atomic<ULONG> refs_{1};
};

bool parseGuid(const std::string& text, GUID* guid) {
  const std::u16string wide = platform::toUtf16(text);
  return SUCCEEDED(CLSIDFromString(wide.c_str(), guid));
}

// The library's statements; false on anything it does not know.
bool parse(const std::string& text, TypeLibrary* library) {
  std::istringstream lines(text);
  bool haveLibrary = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string keyword, guid, version, name;
    if (!(words >> keyword)) continue;
    if (keyword == "library") {
      unsigned major = 0, minor = 0;
      if (!(words >> guid >> version >> name) || std::sscanf(version.c_str(), "%u.%u", &major, &minor) != 2 ||
          !parseGuid(guid, &library->attributes.guid))
        return false;
      std::string rest;
      std::getline(words, rest);
      const size_t open = rest.find('"');
      const size_t close = rest.rfind('"');
      if (open == std::string::npos || close == open) return false;
      library->attributes.wMajorVerNum = static_cast<WORD>(major);
      library->attributes.wMinorVerNum = static_cast<WORD>(minor);
      library->attributes.syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
      library->name = platform::toUtf16(name);
      library->help = platform::toUtf16(rest.substr(open + 1, close - open - 1));
      haveLibrary = true;
    } else if (keyword == "interface") {
      Declared d;
      if (!(words >> guid >> name) || !parseGuid(guid, &d.guid)) return false;
      d.name = platform::toUtf16(name);
      library->interfaces.push_back(d);
    } else {
      return false;
    }
  }
  return haveLibrary;
}

std::string guidText(REFGUID guid) {
  OLECHAR text[39];
  StringFromGUID2(guid, text, 39);
  return platform::toUtf8(text);
}

std::string versionKey(REFGUID libId, WORD major, WORD minor) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", major, minor);
  return "TypeLib\\" + guidText(libId) + "\\" + version;
}

bool setDefault(const std::string& keyPath, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

HRESULT WINAPI LoadTypeLib(LPCOLESTR file, ITypeLib** out) {
  if (out == nullptr || file == nullptr) return E_INVALIDARG;
  *out = nullptr;
  const std::string path = platform::toUtf8(file);
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
  std::string text;
  if (HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB")) {
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    if (bytes) text.assign(bytes, SizeofResource(module, resource));
  }
  FreeLibrary(module);
  auto* library = new TypeLibrary();
  if (text.empty() || !parse(text, library)) {
    library->Release();
    return TYPE_E_CANTLOADLIBRARY;
  }
  *out = library;
  return S_OK;
}

HRESULT WINAPI RegisterTypeLib(ITypeLib* typeLib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (typeLib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  if (FAILED(typeLib->GetLibAttr(&attr))) return E_INVALIDARG;
  const TLIBATTR a = *attr;
  typeLib->ReleaseTLibAttr(attr);
  BSTR help = nullptr;
  typeLib->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
  const std::string helpText = platform::toUtf8(help);
  SysFreeString(help);
  const std::string path = platform::toUtf8(fullPath);
  std::string folder = helpDir ? platform::toUtf8(helpDir) : path.substr(0, path.find_last_of("/\\") + 1);
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  const std::string base = versionKey(a.guid, a.wMajorVerNum, a.wMinorVerNum);
  char lcid[16];
  std::snprintf(lcid, sizeof lcid, "%x", a.lcid);
  const bool ok = setDefault(base, helpText) &&
                  setDefault(base + "\\" + lcid + (a.syskind == SYS_WIN64 ? "\\win64" : "\\win32"), path) &&
                  setDefault(base + "\\FLAGS", std::to_string(a.wLibFlags)) && setDefault(base + "\\HELPDIR", folder);
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT WINAPI UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID, SYSKIND) {
  const std::string base = versionKey(libId, major, minor);
  if (RegDeleteTreeA(HKEY_CLASSES_ROOT, base.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  // The library's key goes with its last version.
  const std::string libraryKey = "TypeLib\\" + guidText(libId);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD subKeys = 0;
    const bool empty = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subKeys == 0;
    RegCloseKey(key);
    if (empty) RegDeleteKeyA(HKEY_CLASSES_ROOT, libraryKey.c_str());
  }
  return S_OK;
}

}  // extern "C"
