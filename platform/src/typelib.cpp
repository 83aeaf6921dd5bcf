// Type libraries: a module's library read from its "TYPELIB" resource, and its
// registration under HKEY_CLASSES_ROOT\TypeLib.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <objbase.h>
#include <windows.h>

#include "com_object.h"

namespace {

struct Declared {
  GUID guid{};
  std::u16string name;
  WORD flags = 0;  // TYPEFLAG_ values
};

class TypeLibrary;

// One interface of a library: its identity, flags and name, and the library it is in.
class TypeInformation final : public platform::ComObject<ITypeInfo, IID_ITypeInfo> {
 public:
  TypeInformation(TypeLibrary* library, UINT index);

  STDMETHODIMP GetTypeAttr(TYPEATTR** out) override;
  STDMETHODIMP GetTypeComp(ITypeComp** comp) override {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetFuncDesc(UINT, FUNCDESC** desc) override {
    if (desc) *desc = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetVarDesc(UINT, VARDESC** desc) override {
    if (desc) *desc = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetNames(MEMBERID, BSTR*, UINT, UINT* count) override {
    if (count) *count = 0;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* context, BSTR* helpFile) override;
  STDMETHODIMP GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetRefTypeInfo(HREFTYPE, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP AddressOfMember(MEMBERID, INVOKEKIND, PVOID* address) override {
    if (address) *address = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, PVOID* object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetMops(MEMBERID, BSTR* mops) override {
    if (mops) *mops = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainingTypeLib(ITypeLib** library, UINT* index) override;
  STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC*) override {}
  STDMETHODIMP_(void) ReleaseVarDesc(VARDESC*) override {}

 private:
  ~TypeInformation() override;
  TypeLibrary* library_;
  UINT index_;
};

class TypeLibrary final : public platform::ComObject<ITypeLib, IID_ITypeLib> {
 public:
  TLIBATTR attributes{};
  std::u16string name;
  std::u16string help;
  std::vector<Declared> interfaces;

  STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(interfaces.size()); }
  STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (index >= interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = new TypeInformation(this, index);
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (kind == nullptr) return E_INVALIDARG;
    if (index >= interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = TKIND_INTERFACE;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    for (size_t i = 0; i < interfaces.size(); ++i) {
      if (IsEqualGUID(interfaces[i].guid, guid)) return GetTypeInfo(static_cast<UINT>(i), info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
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
  ~TypeLibrary() override = default;
};

TypeInformation::TypeInformation(TypeLibrary* library, UINT index) : library_(library), index_(index) {
  library_->AddRef();
}

TypeInformation::~TypeInformation() { library_->Release(); }

STDMETHODIMP TypeInformation::GetTypeAttr(TYPEATTR** out) {
  if (out == nullptr) return E_INVALIDARG;
  const Declared& declared = library_->interfaces[index_];
  auto* attr = new TYPEATTR{};
  attr->guid = declared.guid;
  attr->lcid = library_->attributes.lcid;
  attr->memidConstructor = MEMBERID_NIL;
  attr->memidDestructor = MEMBERID_NIL;
  attr->typekind = TKIND_INTERFACE;
  attr->cbAlignment = sizeof(void*);
  attr->wTypeFlags = declared.flags;
  *out = attr;
  return S_OK;
}

STDMETHODIMP TypeInformation::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* context,
                                               BSTR* helpFile) {
  if (member != MEMBERID_NIL) return TYPE_E_ELEMENTNOTFOUND;  // members are not described
  return library_->GetDocumentation(static_cast<INT>(index_), name, doc, context, helpFile);
}

STDMETHODIMP TypeInformation::GetContainingTypeLib(ITypeLib** library, UINT* index) {
  if (library == nullptr) return E_INVALIDARG;
  library_->AddRef();
  *library = library_;
  if (index) *index = index_;
  return S_OK;
}

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
      std::string attribute;
      if (words >> attribute) {
        if (attribute != "dual") return false;
        d.flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
      }
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


std::string versionText(WORD major, WORD minor) {
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", major, minor);
  return version;
}

std::string versionKey(REFGUID libId, WORD major, WORD minor) {
  return "TypeLib\\" + guidText(libId) + "\\" + versionText(major, minor);
}

// Writes a text value (nullptr: the default one) of a key below HKEY_CLASSES_ROOT.
bool setText(const std::string& keyPath, const char* valueName, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const LSTATUS status = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool setDefault(const std::string& keyPath, const std::string& value) { return setText(keyPath, nullptr, value); }

std::string readText(const std::string& keyPath, const char* valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
  char data[256] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : std::string();
}

// Calls through an automation interface are marshalled by the universal marshaler from
// the library's description, so its interfaces name that proxy and the library.
constexpr const char* kUniversalMarshaler = "{00020424-0000-0000-C000-000000000046}";

bool isAutomationInterface(const TYPEATTR& attr) {
  return attr.typekind == TKIND_DISPATCH || (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
}

bool registerInterfaces(ITypeLib* typeLib, const std::string& libId, const std::string& version) {
  const UINT count = typeLib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(typeLib->GetTypeInfo(i, &info)) || info == nullptr) return false;
    TYPEATTR* attr = nullptr;
    BSTR name = nullptr;
    bool ok = SUCCEEDED(info->GetTypeAttr(&attr)) &&
              SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    if (ok && isAutomationInterface(*attr)) {
      const std::string key = "Interface\\" + guidText(attr->guid);
      ok = setDefault(key, platform::toUtf8(name)) && setDefault(key + "\\ProxyStubClsid", kUniversalMarshaler) &&
           setDefault(key + "\\ProxyStubClsid32", kUniversalMarshaler) && setDefault(key + "\\TypeLib", libId) &&
           setText(key + "\\TypeLib", "Version", version);
    }
    SysFreeString(name);
    if (attr) info->ReleaseTypeAttr(attr);
    info->Release();
    if (!ok) return false;
  }
  return true;
}

// Removes the Interface entries that name this version of the library, whether or not
// its module is still there to say which they are.
bool unregisterInterfaces(const std::string& libId, const std::string& version) {
  HKEY interfaces = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "Interface", 0, KEY_READ, &interfaces) != ERROR_SUCCESS) return true;
  std::vector<std::string> ours;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(interfaces, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::string key = "Interface\\" + std::string(name, nameSize);
    if (lstrcmpiA(readText(key + "\\TypeLib", nullptr).c_str(), libId.c_str()) == 0 &&
        readText(key + "\\TypeLib", "Version") == version)
      ours.push_back(key);
  }
  RegCloseKey(interfaces);
  bool ok = true;
  for (const std::string& key : ours) ok = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str()) == ERROR_SUCCESS && ok;
  return ok;
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
                  setDefault(base + "\\FLAGS", std::to_string(a.wLibFlags)) && setDefault(base + "\\HELPDIR", folder) &&
                  registerInterfaces(typeLib, guidText(a.guid), versionText(a.wMajorVerNum, a.wMinorVerNum));
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT WINAPI UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID, SYSKIND) {
  const std::string base = versionKey(libId, major, minor);
  if (!unregisterInterfaces(guidText(libId), versionText(major, minor))) return TYPE_E_REGISTRYACCESS;
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
