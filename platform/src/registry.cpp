// The registry functions over the hive files.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <strings.h>
#include <string_view>

#include "platform/registry_test.h"
#include "registry_handles.h"
#include "platform/machine.h"
#include "registry_hive.h"
#include "registry_journal.h"
#include "registry_mounts.h"
#include "registry_store.h"
#include "platform/win_security.h"
#include "security.h"
#include "winreg.h"

namespace platform::registry {

namespace {

constexpr DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// Generic rights and MAXIMUM_ALLOWED become key rights; the WOW64 view bits are
// accepted and ignored, since there is only one view.
DWORD keyRights(DWORD desired, bool machineReadOnly) {
  DWORD rights = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED |
                             KEY_WOW64_RES);
  if (desired & GENERIC_READ) rights |= KEY_READ;
  if (desired & GENERIC_WRITE) rights |= KEY_WRITE;
  if (desired & GENERIC_EXECUTE) rights |= KEY_EXECUTE;
  if (desired & GENERIC_ALL) rights |= KEY_ALL_ACCESS;
  if (desired & MAXIMUM_ALLOWED) rights |= machineReadOnly ? KEY_READ : KEY_ALL_ACCESS;
  return rights;
}

bool readOnly(const HiveLocation& location) { return location.shared && isStandardUser(); }

// Splits "a\b\c" into its names. A trailing backslash is tolerated; a leading one or
// an empty name in between is a bad path, as on Windows.
LONG splitSubKey(const char* subKey, std::vector<std::string>& parts) {
  if (!subKey) return ERROR_SUCCESS;
  std::string_view rest(subKey);
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  if (rest.empty()) return ERROR_SUCCESS;
  for (;;) {
    size_t slash = rest.find('\\');
    std::string_view name = rest.substr(0, slash);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts.emplace_back(name);
    if (slash == std::string_view::npos) return ERROR_SUCCESS;
    rest.remove_prefix(slash + 1);
  }
}

const Key* walk(const Key& root, const std::vector<std::string>& parts, size_t count) {
  const Key* key = &root;
  for (size_t i = 0; i < count && key; ++i) key = key->findSubkey(parts[i]);
  return key;
}

// Never destroyed: a module's exit handlers still read settings after the static objects
// made after they were registered are gone.
const Key& emptyKey() {
  static const auto* empty = new Key();
  return *empty;
}

// The key a handle names, read from its hive. The levels of a predefined root
// (HKEY_CLASSES_ROOT's Software\Classes) count as present and empty when missing.
class KeyView {
 public:
  LONG read(const OpenKey& handle) {
    location_ = locate(handle.path);
    if (LONG status = HiveFile(location_.file).read(hive_); status != ERROR_SUCCESS) return status;
    key_ = walk(*hive_, location_.parts, location_.parts.size());
    if (!key_) {
      if (location_.parts.size() > location_.rootDepth) return ERROR_KEY_DELETED;
      key_ = &emptyKey();
    }
    // The hives loaded below a root are among its subkeys.
    if (handle.path.parts.empty() && (handle.path.root == Root::Users || handle.path.root == Root::LocalMachine)) {
      const std::vector<Mount> mounts = mountsBelow(handle.path.root);
      if (!mounts.empty()) {
        auto merged = std::make_shared<Key>(*key_);
        for (const Mount& mount : mounts) merged->addSubkey(mount.name);
        key_ = merged.get();
        hive_ = std::move(merged);
      }
    }
    return ERROR_SUCCESS;
  }
  const Key& key() const { return *key_; }

 private:
  HiveLocation location_;
  std::shared_ptr<const Key> hive_;
  const Key* key_ = nullptr;
};

// Whether a change can reach the key at location.parts[0, depth): it is there, or
// what is missing are levels of the predefined root, which the change makes.
bool reachable(const Key& hive, const HiveLocation& location, size_t depth) {
  return depth <= location.rootDepth || walk(hive, location.parts, depth) != nullptr;
}

LONG copyOut(const std::string& text, LPSTR buffer, DWORD capacity) {
  if (text.size() + 1 > capacity) return ERROR_MORE_DATA;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return ERROR_SUCCESS;
}

LONG copyData(const std::vector<uint8_t>& data, LPBYTE buffer, LPDWORD size) {
  if (!size) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(data.size());
  if (!buffer) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed) std::memcpy(buffer, data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG openKey(HKEY parent, LPCSTR subKey, DWORD desired, bool create, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey base;
  if (!lookupHandle(parent, base)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (LONG status = splitSubKey(subKey, parts); status != ERROR_SUCCESS) return status;

  OpenKey opened{base.path, 0, false, {}};
  opened.path.parts.insert(opened.path.parts.end(), parts.begin(), parts.end());
  const HiveLocation location = locate(opened.path);
  if (location.parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  const bool machineReadOnly = readOnly(location);
  opened.access = keyRights(desired, machineReadOnly);

  KeyView view;
  LONG status = view.read(opened);
  if (status == ERROR_KEY_DELETED) {
    // Either the key or the parent handle's own key is missing.
    KeyView parentView;
    if (LONG parentStatus = parentView.read(base); parentStatus != ERROR_SUCCESS) return parentStatus;
    if (!create) return ERROR_FILE_NOT_FOUND;
    if (machineReadOnly || !(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    bool createdLast = false;
    // The parent handle's key in the hive that holds the new key; a path that enters
    // a loaded hive starts at that hive's root, its mount point.
    const size_t parentDepth = location.parts.size() - std::min(parts.size(), location.parts.size());
    status = HiveFile(location.file).update([&](const Key& hive, std::vector<Edit>& edits) -> LONG {
      if (!reachable(hive, location, parentDepth)) return ERROR_KEY_DELETED;
      createdLast = walk(hive, location.parts, location.parts.size()) == nullptr;
      if (createdLast) edits.push_back(Edit{Edit::CreateKey, location.parts, {}, 0, {}});
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = createdLast ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  } else if (status != ERROR_SUCCESS) {
    return status;
  } else {
    // A standard user may read HKLM and HKU but not open them for writing.
    if (machineReadOnly && (opened.access & kWriteRights)) return ERROR_ACCESS_DENIED;
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
  }
  // A key inside a loaded hive keeps the hive loaded while the handle is open.
  if (!location.mount.empty()) {
    if (LONG recorded = recordMountHandle(location, opened.mountRecord); recorded != ERROR_SUCCESS) return recorded;
  }
  *result = addHandle(opened);
  return ERROR_SUCCESS;
}

// The root and the single key name of a mount point; ERROR_INVALID_PARAMETER otherwise.
LONG mountPoint(HKEY hKey, LPCSTR lpSubKey, Root& root, std::string& name) {
  OpenKey key;
  if (!lookupHandle(hKey, key) || !key.predefined ||
      (key.path.root != Root::Users && key.path.root != Root::LocalMachine))
    return ERROR_INVALID_PARAMETER;
  if (!lpSubKey || !*lpSubKey || std::strchr(lpSubKey, '\\') || std::strlen(lpSubKey) > kMaxKeyNameLength)
    return ERROR_INVALID_PARAMETER;
  root = key.path.root;
  name = lpSubKey;
  return ERROR_SUCCESS;
}

// Looks up a handle for a call that needs `right` on it.
LONG handleWith(HKEY handle, DWORD right, OpenKey& key) {
  if (!lookupHandle(handle, key)) return ERROR_INVALID_HANDLE;
  return (key.access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Changes the key a handle names, under the hive's writer lock: `change` looks at the
// key and lists its edits for the key's path in the hive.
using KeyChange = std::function<LONG(const Key& key, const std::vector<std::string>& path, std::vector<Edit>& edits)>;

LONG changeKey(const OpenKey& handle, const KeyChange& change) {
  const HiveLocation location = locate(handle.path);
  const bool machineReadOnly = readOnly(location);
  return HiveFile(location.file).update([&](const Key& hive, std::vector<Edit>& edits) -> LONG {
    if (!reachable(hive, location, location.parts.size())) return ERROR_KEY_DELETED;
    if (machineReadOnly) return ERROR_ACCESS_DENIED;
    const Key* key = walk(hive, location.parts, location.parts.size());
    if (!key) {
      edits.push_back(Edit{Edit::CreateKey, location.parts, {}, 0, {}});
      key = &emptyKey();
    }
    return change(*key, location.parts, edits);
  });
}

// Removes the key at `path` (with its subtree when `tree`) from its parent.
LONG removeKey(const KeyPath& path, bool tree) {
  const HiveLocation location = locate(path);
  if (location.parts.size() <= location.rootDepth) return ERROR_ACCESS_DENIED;
  const bool machineReadOnly = readOnly(location);
  return HiveFile(location.file).update([&](const Key& hive, std::vector<Edit>& edits) -> LONG {
    const Key* key = walk(hive, location.parts, location.parts.size());
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (machineReadOnly) return ERROR_ACCESS_DENIED;
    // Windows refuses to delete a key that still has subkeys.
    if (!tree && !key->subkeys().empty()) return ERROR_ACCESS_DENIED;
    edits.push_back(Edit{Edit::DeleteKey, location.parts, {}, 0, {}});
    return ERROR_SUCCESS;
  });
}

}  // namespace

void setStandardUser(bool on) {
  if (on)
    setenv(kStandardUserVariable, "1", 1);
  else
    unsetenv(kStandardUserVariable);
}

bool isStandardUser() {
  const char* value = std::getenv(kStandardUserVariable);
  if (!value) return false;
  return !std::strcmp(value, "1") || !strcasecmp(value, "true") || !strcasecmp(value, "yes");
}

std::string hiveFilePath(HKEY root) {
  OpenKey key;
  if (!lookupHandle(root, key)) return std::string();
  return locate(key.path).file;
}

size_t openKeyHandleCount() { return handleCount(); }

}  // namespace platform::registry

using namespace platform::registry;

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return openKey(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return openKey(hKey, lpSubKey, MAXIMUM_ALLOWED, false, phkResult, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return openKey(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return openKey(hKey, lpSubKey, MAXIMUM_ALLOWED, true, phkResult, nullptr);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  OpenKey key;
  if (!lookupHandle(hKey, key)) return ERROR_INVALID_HANDLE;
  if (key.predefined) return ERROR_SUCCESS;
  return removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  // Every change is already on disk when its call returns.
  OpenKey key;
  return lookupHandle(hKey, key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_QUERY_VALUE, handle); status != ERROR_SUCCESS) return status;
  KeyView view;
  if (LONG status = view.read(handle); status != ERROR_SUCCESS) return status;
  const Value* value = view.key().findValue(lpValueName ? lpValueName : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (lpType) *lpType = value->type;
  return copyData(value->data, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  const std::string name = lpValueName ? lpValueName : "";
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_SET_VALUE, handle); status != ERROR_SUCCESS) return status;
  const std::vector<uint8_t> data(lpData, lpData + cbData);
  return changeKey(handle, [&](const Key&, const std::vector<std::string>& path, std::vector<Edit>& edits) -> LONG {
    edits.push_back(Edit{Edit::SetValue, path, name, dwType, data});
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_SET_VALUE, handle); status != ERROR_SUCCESS) return status;
  const std::string name = lpValueName ? lpValueName : "";
  return changeKey(handle, [&](const Key& key, const std::vector<std::string>& path, std::vector<Edit>& edits) -> LONG {
    if (!key.findValue(name)) return ERROR_FILE_NOT_FOUND;
    edits.push_back(Edit{Edit::DeleteValue, path, name, 0, {}});
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (!lookupHandle(hKey, handle)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (LONG status = splitSubKey(lpSubKey, parts); status != ERROR_SUCCESS) return status;
  // As on Windows, the parent's access does not matter; deleting the handle's own key needs DELETE.
  if (parts.empty() && !(handle.access & DELETE)) return ERROR_ACCESS_DENIED;
  handle.path.parts.insert(handle.path.parts.end(), parts.begin(), parts.end());
  return removeKey(handle.path, false);
}

LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  OpenKey handle;
  if (LONG status = handleWith(hKey, DELETE, handle); status != ERROR_SUCCESS) return status;
  std::vector<std::string> parts;
  if (LONG status = splitSubKey(lpSubKey, parts); status != ERROR_SUCCESS) return status;
  if (!lpSubKey) {
    return changeKey(handle, [](const Key&, const std::vector<std::string>& path, std::vector<Edit>& edits) -> LONG {
      edits.push_back(Edit{Edit::ClearKey, path, {}, 0, {}});
      return ERROR_SUCCESS;
    });
  }
  handle.path.parts.insert(handle.path.parts.end(), parts.begin(), parts.end());
  return removeKey(handle.path, true);
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_ENUMERATE_SUB_KEYS, handle); status != ERROR_SUCCESS) return status;
  KeyView view;
  if (LONG status = view.read(handle); status != ERROR_SUCCESS) return status;
  const auto& subkeys = view.key().subkeys();
  if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = subkeys.begin();
  std::advance(it, dwIndex);
  const Key& subkey = *it->second;
  if (LONG status = copyOut(subkey.name(), lpName, *lpcchName); status != ERROR_SUCCESS) return status;
  *lpcchName = static_cast<DWORD>(subkey.name().size());
  if (lpClass) {
    if (*lpcchClass < 1) return ERROR_MORE_DATA;
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(subkey.lastWriteTime());
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(subkey.lastWriteTime() >> 32);
  }
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  return RegEnumKeyExA(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_QUERY_VALUE, handle); status != ERROR_SUCCESS) return status;
  KeyView view;
  if (LONG status = view.read(handle); status != ERROR_SUCCESS) return status;
  const auto& values = view.key().values();
  if (dwIndex >= values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = values[dwIndex];
  if (LONG status = copyOut(value.name, lpValueName, *lpcchValueName); status != ERROR_SUCCESS) return status;
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  if (lpType) *lpType = value.type;
  return copyData(value.data, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (LONG status = handleWith(hKey, KEY_QUERY_VALUE, handle); status != ERROR_SUCCESS) return status;
  KeyView view;
  if (LONG status = view.read(handle); status != ERROR_SUCCESS) return status;
  const Key& key = view.key();
  if (lpClass) {
    if (*lpcchClass < 1) return ERROR_MORE_DATA;
    lpClass[0] = '\0';
  }
  if (lpcchClass) *lpcchClass = 0;
  DWORD maxSubKey = 0, maxValueName = 0, maxValue = 0;
  for (const auto& entry : key.subkeys())
    maxSubKey = std::max(maxSubKey, static_cast<DWORD>(entry.second->name().size()));
  for (const Value& value : key.values()) {
    maxValueName = std::max(maxValueName, static_cast<DWORD>(value.name.size()));
    maxValue = std::max(maxValue, static_cast<DWORD>(value.data.size()));
  }
  if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key.subkeys().size());
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSubKey;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = static_cast<DWORD>(key.values().size());
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxValueName;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = maxValue;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(key.lastWriteTime());
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(key.lastWriteTime() >> 32);
  }
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
  Root root;
  std::string name;
  if (LONG status = mountPoint(hKey, lpSubKey, root, name); status != ERROR_SUCCESS) return status;
  if (!lpFile || !*lpFile) return ERROR_INVALID_PARAMETER;
  if (!platform::privilegeEnabled(SE_RESTORE_NAME)) return ERROR_PRIVILEGE_NOT_HELD;
  return loadHive(root, name, platform::mapPath(lpFile));
}

LSTATUS WINAPI RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey) {
  Root root;
  std::string name;
  if (LONG status = mountPoint(hKey, lpSubKey, root, name); status != ERROR_SUCCESS) return status;
  if (!platform::privilegeEnabled(SE_RESTORE_NAME)) return ERROR_PRIVILEGE_NOT_HELD;
  return unloadHive(root, name);
}

LSTATUS WINAPI RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const LPSECURITY_ATTRIBUTES) {
  if (!lpFile || !*lpFile) return ERROR_INVALID_PARAMETER;
  OpenKey handle;
  if (!lookupHandle(hKey, handle)) return ERROR_INVALID_HANDLE;
  if (!platform::privilegeEnabled(SE_BACKUP_NAME)) return ERROR_PRIVILEGE_NOT_HELD;
  KeyView view;
  if (LONG status = view.read(handle); status != ERROR_SUCCESS) return status;
  Key root(view.key());
  root.setName(std::string());
  const std::vector<uint8_t> bytes = serializeHive(root);
  const std::string path = platform::mapPath(lpFile);
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  FILE* out = nullptr;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? ERROR_ALREADY_EXISTS : errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
  out = ::fdopen(fd, "wb");
  bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  ok = (out ? std::fclose(out) == 0 : ::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(path.c_str());
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

}  // extern "C"
