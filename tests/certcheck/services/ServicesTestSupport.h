// Helpers of the checking library's service tests: registry values written the way
// the installer or a user would, files read back whole.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace servicestest {

constexpr const char* kCompany = "VOQ. VUV-Oredaridez GmbH";
constexpr const char* kProduct = "Tolmira";
constexpr const char* kProductKey = "SOFTWARE\\VOQ. VUV-Oredaridez GmbH\\Tolmira";

// Writes one value below root\path (the key is created); false on failure.
inline bool putValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
                     DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

inline bool putString(HKEY root, const std::string& path, const char* name, const std::string& text) {
  return putValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

inline bool putDword(HKEY root, const std::string& path, const char* name, DWORD value) {
  return putValue(root, path, name, REG_DWORD, &value, sizeof value);
}

// The raw bytes of a value, or "<missing>".
inline std::string readValue(HKEY root, const std::string& path, const char* name, DWORD* type = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "<missing>";
  DWORD size = 0;
  std::string bytes = "<missing>";
  if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
    bytes.assign(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&bytes[0]), &size) != ERROR_SUCCESS)
      bytes = "<missing>";
  }
  RegCloseKey(key);
  return bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline bool fileExists(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace servicestest
