#include "foundation/archive/InstallDir.h"

#include "foundation/base/ApplicationIdentity.h"

#include <windows.h>

#include <cstring>
#include <string>

int readInstallDir(char* buffer, unsigned int capacity) {
  if (buffer == nullptr || capacity < 1) return 0;
  ApplicationIdentity& identity = applicationIdentity();
  const char* title = identity.titleText();
  if (title == nullptr || *title == '\0') return 0;
  const std::string key = std::string("Software\\") + identity.companyKey() + "\\" + title;
  if (key.size() > 255) return 0;
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return 0;
  // One byte more than the value may fill: a 256-byte value without its NUL is
  // still terminated at the size the registry returned.
  char value[257] = {};
  DWORD size = 256;
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExA(handle, "InstallDir", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return 0;
  value[size < 256 ? size : 256] = '\0';
  size_t length = std::strlen(value);
  if (length > 0 && value[length - 1] == '\\') value[--length] = '\0';
  if (capacity < length + 1) return 0;
  std::memcpy(buffer, value, length + 1);
  return 1;
}
