// The class's entries under HKEY_CLASSES_ROOT: both ProgIDs and the class's key.
// Keys marked "recreated" are deleted with everything below them before they are
// written; unregistration removes the ProgIDs and the class's key, never "CLSID".
#include <string>
#include <vector>

#include "Brevatto.h"

namespace brevatto {
namespace {

struct Entry {
  std::string key;        // below HKEY_CLASSES_ROOT
  bool recreated;         // deleted with its subtree before it is written
  std::string valueName;  // empty: the default value
  std::string data;
  bool hasValue;
};

std::string modulePath() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(g_module.instance(), path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

std::vector<Entry> entries(const std::string& path) {
  const std::string progId = kProgId;
  const std::string independent = kVersionIndependentProgId;
  const std::string cls = std::string("CLSID\\") + kClsidText;
  return {
      {progId, false, "", kClassDescription, true},
      {progId + "\\CLSID", false, "", kClsidText, true},
      {independent, false, "", kClassDescription, true},
      {independent + "\\CLSID", false, "", kClsidText, true},
      {independent + "\\CurVer", false, "", progId, true},
      {cls, true, "", kClassDescription, true},
      {cls + "\\ProgID", false, "", progId, true},
      {cls + "\\VersionIndependentProgID", false, "", independent, true},
      {cls + "\\Programmable", true, "", "", false},
      {cls + "\\InprocServer32", false, "", path, true},
      {cls + "\\InprocServer32", false, "ThreadingModel", "Apartment", true},
      {cls + "\\Control", true, "", "", false},
      {cls + "\\ToolboxBitmap32", true, "", path + ", " + std::to_string(kToolboxBitmap), true},
      {cls + "\\MiscStatus", false, "", "0", true},
      {cls + "\\MiscStatus\\1", false, "", std::to_string(kMiscStatus), true},
      {cls + "\\TypeLib", false, "", kLibidText, true},
      {cls + "\\Version", false, "", "1.0", true},
  };
}

LONG write(const Entry& entry) {
  if (entry.recreated) {
    const LONG deleted = RegDeleteTreeA(HKEY_CLASSES_ROOT, entry.key.c_str());
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return deleted;
  }
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (entry.hasValue) {
    status = RegSetValueExA(key, entry.valueName.empty() ? nullptr : entry.valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(entry.data.c_str()),
                            static_cast<DWORD>(entry.data.size() + 1));
  }
  RegCloseKey(key);
  return status;
}

}  // namespace

HRESULT updateRegistry(bool registering) {
  if (registering) {
    const std::string path = modulePath();
    if (path.empty()) return E_FAIL;
    for (const Entry& entry : entries(path)) {
      const LONG status = write(entry);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
  }
  HRESULT result = S_OK;
  for (const std::string& key :
       {std::string(kProgId), std::string(kVersionIndependentProgId), std::string("CLSID\\") + kClsidText}) {
    const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
      result = HRESULT_FROM_WIN32(status);
  }
  return result;
}

}  // namespace brevatto
