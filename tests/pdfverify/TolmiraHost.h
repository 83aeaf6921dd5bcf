// Helpers of the tests that load the real Tolmira.api into the test viewer: the installed
// version value start-up compares, the handler's callbacks, the host texts.
#pragma once

#include <string>

#include <windows.h>

#include "Viewer.h"
#include "pisdk/PITypes.h"

namespace pdftest {

inline const char* const kTolmiraKey = "SOFTWARE\\VOQ. VUV-Oredaridez GmbH\\Tolmira";

// The host's sub-key of the installed version.
inline std::string hostSubKey(const std::string& product, int major) {
  return (product == "Reader" ? "Acrobat Reader\\" : "Adobe Acrobat\\") + std::to_string(major) + ".0";
}

// Writes HKLM <product key>\<sub-key> "Version" as REG_SZ text, or as REG_DWORD 2.
inline void writeInstalledVersion(const std::string& subKey, const std::string& text, bool asDword = false) {
  HKEY key = nullptr;
  const std::string path = std::string(kTolmiraKey) + "\\" + subKey;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (asDword) {
    DWORD value = 2;
    RegSetValueExA(key, "Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  } else {
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  }
  RegCloseKey(key);
}

// The version this build's module carries.
inline const char* ownVersion() { return "2.21.0000"; }

// A viewer for `config` with the matching installed version written first.
inline vhost::Config installedFor(vhost::Config config) {
  writeInstalledVersion(hostSubKey(config.product, config.major), ownVersion());
  return config;
}


}  // namespace pdftest
