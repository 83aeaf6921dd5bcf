// Icons and cursors: records without pixels, enough for window classes, the tray
// icon and the resource checks of the system's code.
#include <map>
#include <sys/stat.h>

#include "platform/machine.h"
#include "platform/resources.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

struct IconRecord {
  int width = 32;
  int height = 32;
  bool shared = false;
  bool cursor = false;
  std::string source;  // "resource #id", "resource name" or "file <path>"
};

std::map<uintptr_t, IconRecord>& iconTable() {
  static auto* t = new std::map<uintptr_t, IconRecord>();
  return *t;
}
std::map<std::string, uintptr_t>& sharedIcons() {
  static auto* s = new std::map<std::string, uintptr_t>();
  return *s;
}
uintptr_t g_nextIcon = 0x3000;

uintptr_t newIcon(const IconRecord& r) {
  while (iconTable().count(g_nextIcon)) ++g_nextIcon;
  const uintptr_t h = g_nextIcon++;
  iconTable()[h] = r;
  return h;
}

std::string key(HINSTANCE module, LPCSTR name, bool cursor, int cx, int cy) {
  std::string k = std::to_string(reinterpret_cast<uintptr_t>(module)) + (cursor ? "/c/" : "/i/");
  k += IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name)) : std::string(name);
  return k + "/" + std::to_string(cx) + "x" + std::to_string(cy);
}

HANDLE loadIcon(HINSTANCE module, LPCSTR name, bool cursor, int cx, int cy, bool shared) {
  if (name == nullptr) return nullptr;
  if (module != nullptr || !IS_INTRESOURCE(name) || reinterpret_cast<uintptr_t>(name) < 32512) {
    // A resource of the module: the group must exist.
    DWORD error = 0;
    if (findResourceEntry(module, cursor ? RT_GROUP_CURSOR : RT_GROUP_ICON, name, &error) == nullptr) {
      SetLastError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
  }
  auto lock = lockWindows();
  IconRecord r;
  r.cursor = cursor;
  r.width = cx > 0 ? cx : 32;
  r.height = cy > 0 ? cy : 32;
  r.shared = shared;
  r.source = IS_INTRESOURCE(name) ? "resource #" + std::to_string(reinterpret_cast<uintptr_t>(name))
                                  : "resource " + std::string(name);
  if (shared) {
    const std::string k = key(module, name, cursor, r.width, r.height);
    auto it = sharedIcons().find(k);
    if (it != sharedIcons().end()) return reinterpret_cast<HANDLE>(it->second);
    const uintptr_t h = newIcon(r);
    sharedIcons()[k] = h;
    return reinterpret_cast<HANDLE>(h);
  }
  return reinterpret_cast<HANDLE>(newIcon(r));
}

}  // namespace

std::string iconSource(HICON icon) {
  auto lock = lockWindows();
  auto it = iconTable().find(reinterpret_cast<uintptr_t>(icon));
  return it == iconTable().end() ? std::string() : it->second.source;
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

HICON WINAPI LoadIconA(HINSTANCE module, LPCSTR name) {
  return static_cast<HICON>(loadIcon(module, name, false, 32, 32, true));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name) {
  return static_cast<HCURSOR>(loadIcon(module, name, true, 32, 32, true));
}

HANDLE WINAPI LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  if (type == IMAGE_BITMAP) {
    if (flags & LR_LOADFROMFILE) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return nullptr;
    }
    return LoadBitmapA(module, name);
  }
  if (type != IMAGE_ICON && type != IMAGE_CURSOR) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (flags & LR_LOADFROMFILE) {
    struct stat st;
    if (name == nullptr || IS_INTRESOURCE(name) || stat(platform::mapPath(name).c_str(), &st) != 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    auto lock = lockWindows();
    IconRecord r;
    r.cursor = type == IMAGE_CURSOR;
    r.width = cx > 0 ? cx : 32;
    r.height = cy > 0 ? cy : 32;
    r.source = std::string("file ") + name;
    return reinterpret_cast<HANDLE>(newIcon(r));
  }
  return loadIcon(module, name, type == IMAGE_CURSOR, cx, cy, (flags & LR_SHARED) != 0);
}

BOOL WINAPI DestroyIcon(HICON icon) {
  auto lock = lockWindows();
  auto it = iconTable().find(reinterpret_cast<uintptr_t>(icon));
  if (it == iconTable().end()) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  if (!it->second.shared) iconTable().erase(it);  // shared icons live with the process
  return TRUE;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  static HCURSOR current = nullptr;
  HCURSOR old = current;
  current = cursor;
  return old;
}

}  // extern "C"

namespace platform {
namespace wintest {

int iconCount() {
  auto lock = win::lockWindows();
  int n = 0;
  for (auto& [h, r] : win::iconTable()) {
    if (!r.shared) ++n;
  }
  return n;
}

}  // namespace wintest
}  // namespace platform
