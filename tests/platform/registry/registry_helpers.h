// Small helpers shared by the registry tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace regtest {

// Owns one key handle.
class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() { reset(); }
  PHKEY out() {
    reset();
    return &key_;
  }
  HKEY get() const { return key_; }
  void reset() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

inline std::vector<BYTE> bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }
inline std::vector<BYTE> bytesWithNul(const std::string& s) {
  std::vector<BYTE> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

inline LONG createKey(HKEY root, const char* path, ScopedKey& key, REGSAM access = KEY_ALL_ACCESS,
                      DWORD* disposition = nullptr) {
  return RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.out(), disposition);
}

inline LONG setValue(HKEY key, const char* name, DWORD type, const std::vector<BYTE>& data) {
  return RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

inline LONG setDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Reads a value whole; the status of the read, and its type and bytes.
inline LONG getValue(HKEY key, const char* name, std::vector<BYTE>& data, DWORD* type = nullptr) {
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  data.assign(size + 1, 0xCC);
  status = RegQueryValueExA(key, name, nullptr, type, data.data(), &size);
  data.resize(size);
  return status;
}

inline std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

inline std::vector<std::string> valueNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace regtest
