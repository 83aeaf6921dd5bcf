#include "foundation/core/InstallEnv.h"

#include <shellapi.h>

#include <string>

HICON loadIconFile(const char* name) {
  if (name == nullptr) return nullptr;
  char installDir[512];
  if (readInstallDir(installDir, sizeof installDir) != 1) return nullptr;
  const std::string path = std::string(installDir) + "\\" + name + ".ico";
  struct _stat status;
  if (_stat(path.c_str(), &status) != 0) return nullptr;
  HICON largeIcon = nullptr;
  HICON smallIcon = nullptr;
  const UINT count = ExtractIconExA(path.c_str(), 0, &largeIcon, &smallIcon, 1);
  if (largeIcon != nullptr) DestroyIcon(largeIcon);
  if (count != 1) {
    if (smallIcon != nullptr) DestroyIcon(smallIcon);
    return nullptr;
  }
  return smallIcon;
}
