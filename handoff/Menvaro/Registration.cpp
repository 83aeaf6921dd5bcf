// The module's entries under HKEY_CLASSES_ROOT, as a table of keys. A ForceRemove key is
// deleted with its subtree before it is written and at unregistration; a NoRemove key
// is never removed; any other key loses the values written here at unregistration and
// goes when nothing else is left in it.
#include <string>
#include <vector>

#include "Menvaro.h"

namespace menvaro {
namespace {

using Text = std::basic_string<TCHAR>;

enum class Removal { kNormal, kForceRemove, kNoRemove };

struct Value {
  Text name;  // empty: the key's default value
  Text data;
};

struct Key {
  Text name;
  Removal removal = Removal::kNormal;
  std::vector<Value> values;
  std::vector<Key> children;
};

Text moduleName() {
  TCHAR name[64] = {};
  LoadString(g_module.instance(), kModuleNameString, name, 64);
  return name;
}

Text modulePath() {
  TCHAR path[MAX_PATH] = {};
  GetModuleFileName(g_module.instance(), path, MAX_PATH);
  return path;
}

// The module's script (AppID) and the object's script (CLSID and the handler).
std::vector<Key> entries() {
  const Text name = moduleName();
  const Text clsid = kClsidText;
  const Text appId = kAppIdText;
  Key appIdRoot{TEXT("AppID"), Removal::kNoRemove, {}, {}};
  appIdRoot.children.push_back(Key{appId, Removal::kNormal, {{Text(), name}}, {}});
  appIdRoot.children.push_back(Key{name + TEXT(".DLL"), Removal::kNormal, {{TEXT("AppID"), appId}}, {}});

  Key server{TEXT("InprocServer32"), Removal::kNormal,
             {{Text(), modulePath()}, {TEXT("ThreadingModel"), TEXT("Apartment")}}, {}};
  Key object{clsid, Removal::kForceRemove, {{Text(), kClassDescription}}, {server}};
  Key clsidRoot{TEXT("CLSID"), Removal::kNoRemove, {}, {object}};

  Key handler{kHandlerName, Removal::kForceRemove, {{Text(), clsid}}, {}};
  Key handlers{TEXT("ContextMenuHandlers"), Removal::kNoRemove, {}, {handler}};
  Key shellex{TEXT("shellex"), Removal::kNoRemove, {}, {handlers}};
  Key allFiles{TEXT("*"), Removal::kNoRemove, {}, {shellex}};
  return {appIdRoot, clsidRoot, allFiles};
}

const TCHAR* valueName(const Value& v) { return v.name.empty() ? nullptr : v.name.c_str(); }

LONG write(HKEY parent, const Key& key) {
  if (key.removal == Removal::kForceRemove) RegDeleteTree(parent, key.name.c_str());
  HKEY handle = nullptr;
  LONG status =
      RegCreateKeyEx(parent, key.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  for (const Value& v : key.values) {
    status = RegSetValueEx(handle, valueName(v), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                           static_cast<DWORD>((v.data.size() + 1) * sizeof(TCHAR)));
    if (status != ERROR_SUCCESS) break;
  }
  for (const Key& child : key.children) {
    if (status != ERROR_SUCCESS) break;
    status = write(handle, child);
  }
  RegCloseKey(handle);
  return status;
}

LONG remove(HKEY parent, const Key& key) {
  if (key.removal == Removal::kForceRemove) {
    const LONG status = RegDeleteTree(parent, key.name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  }
  HKEY handle = nullptr;
  LONG status = RegOpenKeyEx(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  for (const Key& child : key.children) {
    const LONG childStatus = remove(handle, child);
    if (status == ERROR_SUCCESS) status = childStatus;
  }
  bool empty = false;
  if (key.removal == Removal::kNormal) {
    for (const Value& v : key.values) RegDeleteValue(handle, valueName(v));
    DWORD subKeys = 0;
    DWORD values = 0;
    empty = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            subKeys == 0 && values == 0;
  }
  RegCloseKey(handle);
  if (empty) {
    const LONG deleted = RegDeleteKey(parent, key.name.c_str());
    if (status == ERROR_SUCCESS) status = deleted;
  }
  return status;
}

}  // namespace

HRESULT updateRegistry(bool registering) {
  for (const Key& key : entries()) {
    const LONG status = registering ? write(HKEY_CLASSES_ROOT, key) : remove(HKEY_CLASSES_ROOT, key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

}  // namespace menvaro
