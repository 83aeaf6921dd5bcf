// Menus: menu bars and popup menus built in code or from RT_MENU resources, item
// state, and TrackPopupMenuEx answered by the test script.
#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "desktop_records.h"
#include "platform/resources.h"
#include "platform/window_test.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

struct MenuItem {
  UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR
  UINT_PTR id = 0;
  std::string text;
  uintptr_t submenu = 0;
  HBITMAP unchecked = nullptr;  // beside the item in either state (SetMenuItemBitmaps)
  HBITMAP checked = nullptr;
};

struct Menu {
  std::vector<MenuItem> items;
};

std::map<uintptr_t, Menu>& menus() {
  static auto* m = new std::map<uintptr_t, Menu>();
  return *m;
}
uintptr_t g_nextMenu = 0x2000;

Menu* findMenu(HMENU h) {
  auto it = menus().find(reinterpret_cast<uintptr_t>(h));
  return it == menus().end() ? nullptr : &it->second;
}

HMENU newMenu() {
  while (menus().count(g_nextMenu)) ++g_nextMenu;
  const uintptr_t h = g_nextMenu++;
  if (g_nextMenu >= 0x3FFFFFF0u) g_nextMenu = 0x2000;
  menus()[h];
  return reinterpret_cast<HMENU>(h);
}

void destroyTree(uintptr_t h) {
  auto it = menus().find(h);
  if (it == menus().end()) return;
  std::vector<uintptr_t> subs;
  for (const MenuItem& item : it->second.items) {
    if (item.submenu) subs.push_back(item.submenu);
  }
  menus().erase(it);
  for (uintptr_t s : subs) destroyTree(s);
}

// The item named by command (searched through submenus) or position.
MenuItem* findItem(HMENU h, UINT which, UINT flags) {
  Menu* m = findMenu(h);
  if (m == nullptr) return nullptr;
  if (flags & MF_BYPOSITION) return which < m->items.size() ? &m->items[which] : nullptr;
  for (MenuItem& item : m->items) {
    if (!(item.flags & MF_POPUP) && !(item.flags & MF_SEPARATOR) && item.id == which) return &item;
  }
  for (MenuItem& item : m->items) {
    if (item.submenu) {
      if (MenuItem* found = findItem(reinterpret_cast<HMENU>(item.submenu), which, flags)) return found;
    }
  }
  return nullptr;
}

// The items of one level of a menu template, up to the item marked MF_END.
bool parseLevel(const unsigned char* data, size_t size, size_t& at, HMENU menu, int depth) {
  if (depth > 16) return false;
  for (;;) {
    if (at + 2 > size) return false;
    const uint16_t flags = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
    at += 2;
    MenuItem item;
    if (!(flags & MF_POPUP)) {
      if (at + 2 > size) return false;
      item.id = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
      at += 2;
    }
    std::u16string text;
    for (;;) {
      if (at + 2 > size) return false;
      const char16_t c = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
      at += 2;
      if (c == 0) break;
      text.push_back(c);
    }
    item.text = platform::toUtf8(text);
    item.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
    if (!(flags & MF_POPUP) && item.id == 0 && item.text.empty()) item.flags |= MF_SEPARATOR;
    if (flags & MF_POPUP) {
      HMENU sub = newMenu();
      item.submenu = reinterpret_cast<uintptr_t>(sub);
      findMenu(menu)->items.push_back(item);
      if (!parseLevel(data, size, at, sub, depth + 1)) return false;
    } else {
      findMenu(menu)->items.push_back(item);
    }
    if (flags & MF_END) return true;
  }
}

std::vector<wintest::PopupMenuRecord>& popupRecords() {
  static auto* r = new std::vector<wintest::PopupMenuRecord>();
  return *r;
}

}  // namespace

void destroyMenusOfWindow(HMENU menu) { destroyTree(reinterpret_cast<uintptr_t>(menu)); }

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

HMENU WINAPI CreateMenu(void) {
  auto lock = lockWindows();
  return newMenu();
}

HMENU WINAPI CreatePopupMenu(void) { return CreateMenu(); }

BOOL WINAPI DestroyMenu(HMENU menu) {
  auto lock = lockWindows();
  if (findMenu(menu) == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  destroyTree(reinterpret_cast<uintptr_t>(menu));
  return TRUE;
}

BOOL WINAPI IsMenu(HMENU menu) {
  auto lock = lockWindows();
  return findMenu(menu) != nullptr ? TRUE : FALSE;
}

HMENU WINAPI LoadMenuIndirectA(const void* tmpl) {
  if (tmpl == nullptr) return nullptr;
  // An in-memory template of unknown size: read as far as its end marks go.
  auto lock = lockWindows();
  const auto* data = static_cast<const unsigned char*>(tmpl);
  size_t at = 4;
  HMENU menu = newMenu();
  if (!parseLevel(data, 1u << 20, at, menu, 0)) {
    destroyTree(reinterpret_cast<uintptr_t>(menu));
    return nullptr;
  }
  return menu;
}

HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name) {
  DWORD error = 0;
  const platform::ResourceEntry* e = platform::findResourceEntry(instance, RT_MENU, name, &error);
  if (e == nullptr) {
    SetLastError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto lock = lockWindows();
  if (e->size < 4) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  const uint16_t headerSize = static_cast<uint16_t>(e->data[2] | (e->data[3] << 8));
  size_t at = 4 + headerSize;
  HMENU menu = newMenu();
  if (e->size > at && !parseLevel(e->data, e->size, at, menu, 0)) {
    destroyTree(reinterpret_cast<uintptr_t>(menu));
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  return menu;
}

BOOL WINAPI InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
  auto lock = lockWindows();
  Menu* m = findMenu(menu);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  MenuItem item;
  item.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
  if (flags & MF_POPUP) {
    item.submenu = id;
  } else {
    item.id = id;
  }
  if (!(flags & MF_SEPARATOR) && text != nullptr) item.text = text;
  size_t at = m->items.size();
  if (position != static_cast<UINT>(-1)) {
    if (flags & MF_BYPOSITION) {
      at = std::min<size_t>(position, m->items.size());
    } else {
      for (size_t i = 0; i < m->items.size(); ++i) {
        if (m->items[i].id == position) at = i;
      }
    }
  }
  m->items.insert(m->items.begin() + static_cast<ptrdiff_t>(at), item);
  return TRUE;
}

BOOL WINAPI InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  const std::string narrow = text != nullptr && !(flags & (MF_SEPARATOR | MF_POPUP)) ? platform::toUtf8(text) : "";
  return InsertMenuA(menu, position, flags, id, text != nullptr ? narrow.c_str() : nullptr);
}

BOOL WINAPI SetMenuItemBitmaps(HMENU menu, UINT position, UINT flags, HBITMAP unchecked, HBITMAP checked) {
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, position, flags);
  if (item == nullptr) {
    SetLastError(findMenu(menu) ? ERROR_MENU_ITEM_NOT_FOUND : ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  item->unchecked = unchecked;
  item->checked = checked;
  return TRUE;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
  return InsertMenuA(menu, static_cast<UINT>(-1), flags | MF_BYPOSITION, id, text);
}

static BOOL removeItem(HMENU menu, UINT which, UINT flags, bool destroy) {
  auto lock = lockWindows();
  Menu* m = findMenu(menu);
  if (m == nullptr) return FALSE;
  for (size_t i = 0; i < m->items.size(); ++i) {
    const bool match = (flags & MF_BYPOSITION) ? i == which : m->items[i].id == which;
    if (!match) continue;
    const uintptr_t sub = m->items[i].submenu;
    m->items.erase(m->items.begin() + static_cast<ptrdiff_t>(i));
    if (destroy && sub) destroyTree(sub);
    return TRUE;
  }
  return FALSE;
}

BOOL WINAPI RemoveMenu(HMENU menu, UINT which, UINT flags) { return removeItem(menu, which, flags, false); }
BOOL WINAPI DeleteMenu(HMENU menu, UINT which, UINT flags) { return removeItem(menu, which, flags, true); }

HMENU WINAPI GetMenu(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr || (w->style & WS_CHILD)) return nullptr;
  HMENU m = reinterpret_cast<HMENU>(w->idOrMenu);
  return findMenu(m) ? m : nullptr;
}

BOOL WINAPI SetMenu(HWND hwnd, HMENU menu) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr || (w->style & WS_CHILD)) return FALSE;
  w->idOrMenu = reinterpret_cast<LONG_PTR>(menu);
  return TRUE;
}

BOOL WINAPI DrawMenuBar(HWND hwnd) { return IsWindow(hwnd); }

HMENU WINAPI GetSubMenu(HMENU menu, int position) {
  auto lock = lockWindows();
  Menu* m = findMenu(menu);
  if (m == nullptr || position < 0 || static_cast<size_t>(position) >= m->items.size()) return nullptr;
  return reinterpret_cast<HMENU>(m->items[static_cast<size_t>(position)].submenu);
}

int WINAPI GetMenuItemCount(HMENU menu) {
  auto lock = lockWindows();
  Menu* m = findMenu(menu);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return -1;
  }
  return static_cast<int>(m->items.size());
}

UINT WINAPI GetMenuItemID(HMENU menu, int position) {
  auto lock = lockWindows();
  Menu* m = findMenu(menu);
  if (m == nullptr || position < 0 || static_cast<size_t>(position) >= m->items.size()) return static_cast<UINT>(-1);
  const MenuItem& item = m->items[static_cast<size_t>(position)];
  if (item.flags & MF_POPUP) return static_cast<UINT>(-1);
  if (item.flags & MF_SEPARATOR) return 0;
  return static_cast<UINT>(item.id);
}

UINT WINAPI GetMenuState(HMENU menu, UINT which, UINT flags) {
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, which, flags);
  if (item == nullptr) return static_cast<UINT>(-1);
  UINT state = item->flags;
  if (item->submenu) {
    Menu* sub = findMenu(reinterpret_cast<HMENU>(item->submenu));
    state = (state & 0xFF) | (static_cast<UINT>(sub ? sub->items.size() : 0) << 8);
  }
  return state;
}

int WINAPI GetMenuStringA(HMENU menu, UINT which, LPSTR buffer, int max, UINT flags) {
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, which, flags);
  if (item == nullptr) return 0;
  if (buffer == nullptr || max <= 0) return static_cast<int>(item->text.size());
  return static_cast<int>(copyToBuffer(item->text, buffer, static_cast<size_t>(max)));
}

int WINAPI GetMenuStringW(HMENU menu, UINT which, LPWSTR buffer, int max, UINT flags) {
  std::u16string text;
  {
    auto lock = lockWindows();
    MenuItem* item = findItem(menu, which, flags);
    if (item == nullptr) return 0;
    text = platform::toUtf16(item->text);
  }
  if (buffer == nullptr || max <= 0) return static_cast<int>(text.size());
  const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(max) - 1);
  std::copy(text.begin(), text.begin() + static_cast<ptrdiff_t>(n), buffer);
  buffer[n] = 0;
  return static_cast<int>(n);
}

}  // extern "C"

namespace {

// GetMenuItemInfo in either width: Info is MENUITEMINFOA or MENUITEMINFOW, Text the
// item's text in that width.
template <typename Info, typename Text>
BOOL menuItemInfo(HMENU menu, UINT which, BOOL byPosition, Info* info, Text (*convert)(const std::string&)) {
  if (info == nullptr || info->cbSize != sizeof(Info)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, which, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
  if (item == nullptr) {
    SetLastError(findMenu(menu) ? ERROR_MENU_ITEM_NOT_FOUND : ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = item->flags & MF_SEPARATOR;
  if (info->fMask & MIIM_STATE) info->fState = item->flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED);
  if (info->fMask & MIIM_ID) info->wID = static_cast<UINT>(item->id);
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = reinterpret_cast<HMENU>(item->submenu);
  if (info->fMask & MIIM_CHECKMARKS) {
    info->hbmpChecked = item->checked;
    info->hbmpUnchecked = item->unchecked;
  }
  if (info->fMask & MIIM_BITMAP) info->hbmpItem = nullptr;
  if (info->fMask & (MIIM_STRING | MIIM_TYPE)) {
    const Text text = convert(item->text);
    if (info->dwTypeData == nullptr || info->cch == 0) {
      info->cch = static_cast<UINT>(text.size());
    } else {
      const size_t n = std::min<size_t>(text.size(), info->cch - 1);
      std::copy(text.begin(), text.begin() + static_cast<ptrdiff_t>(n), info->dwTypeData);
      info->dwTypeData[n] = 0;
      info->cch = static_cast<UINT>(n);
    }
  }
  return TRUE;
}

std::string sameText(const std::string& text) { return text; }
std::u16string wideText(const std::string& text) { return platform::toUtf16(text); }

}  // namespace

extern "C" {

BOOL WINAPI GetMenuItemInfoA(HMENU menu, UINT which, BOOL byPosition, LPMENUITEMINFOA info) {
  return menuItemInfo(menu, which, byPosition, info, &sameText);
}

BOOL WINAPI GetMenuItemInfoW(HMENU menu, UINT which, BOOL byPosition, LPMENUITEMINFOW info) {
  return menuItemInfo(menu, which, byPosition, info, &wideText);
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT which, UINT enable) {
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, which, enable);
  if (item == nullptr) return -1;
  const UINT previous = item->flags & (MF_GRAYED | MF_DISABLED);
  item->flags = (item->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return static_cast<BOOL>(previous);
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT which, UINT check) {
  auto lock = lockWindows();
  MenuItem* item = findItem(menu, which, check);
  if (item == nullptr) return static_cast<DWORD>(-1);
  const DWORD previous = item->flags & MF_CHECKED;
  item->flags = (item->flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return previous;
}

}  // extern "C"

namespace {

// The items of a menu and of its sub-menus, depth first, for the desktop's record.
void describeItems(HMENU h, int depth, std::vector<std::string>* fields) {
  Menu* m = findMenu(h);
  if (m == nullptr || depth > 8) return;
  for (const MenuItem& item : m->items) {
    const bool command = !(item.flags & (MF_POPUP | MF_SEPARATOR));
    fields->push_back(std::to_string(depth) + ":" + std::to_string(command ? item.id : 0) + ":" +
                      std::to_string(item.flags) + ":" + item.text);
    if (item.flags & MF_POPUP) describeItems(reinterpret_cast<HMENU>(item.submenu), depth + 1, fields);
  }
}

}  // namespace

extern "C" {

BOOL WINAPI TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND hwnd, LPTPMPARAMS) {
  if (!IsMenu(menu) || !IsWindow(hwnd)) {
    SetLastError(IsMenu(menu) ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  if (!(flags & TPM_NONOTIFY)) SendMessageA(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  UINT chosen = static_cast<UINT>(popupMenuChoice(menu, hwnd, x, y));
  platform::wintest::PopupMenuRecord record;
  {
    auto lock = lockWindows();
    record.menu = menu;
    record.owner = hwnd;
    record.x = x;
    record.y = y;
    record.flags = flags;
    if (Menu* m = findMenu(menu)) {
      for (const MenuItem& item : m->items) record.items.push_back(item.text);
    }
    // A user cannot pick an item that is grayed, disabled, a separator or missing.
    MenuItem* item = chosen ? findItem(menu, chosen, MF_BYCOMMAND) : nullptr;
    if (item == nullptr || (item->flags & (MF_GRAYED | MF_DISABLED))) chosen = 0;
    record.chosen = chosen;
    popupRecords().push_back(record);
    std::vector<std::string> fields{std::to_string(getpid()), std::to_string(reinterpret_cast<uintptr_t>(hwnd)),
                                    std::to_string(x), std::to_string(y), std::to_string(flags), std::to_string(chosen)};
    describeItems(menu, 0, &fields);
    platform::desktop::append("popup", fields);
  }
  if (chosen == 0) return FALSE;
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  return TRUE;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND hwnd, const RECT*) {
  return TrackPopupMenuEx(menu, flags, x, y, hwnd, nullptr);
}

}  // extern "C"

namespace platform {
namespace wintest {

std::vector<PopupMenuRecord> popupMenus() {
  auto lock = win::lockWindows();
  return win::popupRecords();
}

std::vector<DesktopPopupMenu> desktopPopupMenus() {
  std::vector<DesktopPopupMenu> menus;
  for (const std::vector<std::string>& f : desktop::read("popup")) {
    if (f.size() < 6) continue;
    DesktopPopupMenu menu;
    menu.processId = static_cast<DWORD>(std::stoul(f[0]));
    menu.owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(f[1])));
    menu.x = std::stoi(f[2]);
    menu.y = std::stoi(f[3]);
    menu.flags = static_cast<UINT>(std::stoul(f[4]));
    menu.chosen = static_cast<UINT>(std::stoul(f[5]));
    for (size_t i = 6; i < f.size(); ++i) {
      // depth:id:flags:text
      const size_t a = f[i].find(':');
      const size_t b = f[i].find(':', a + 1);
      const size_t c = f[i].find(':', b + 1);
      if (c == std::string::npos) continue;
      MenuItemState item;
      item.depth = std::stoi(f[i].substr(0, a));
      item.id = static_cast<UINT>(std::stoul(f[i].substr(a + 1, b - a - 1)));
      item.flags = static_cast<UINT>(std::stoul(f[i].substr(b + 1, c - b - 1)));
      item.text = f[i].substr(c + 1);
      menu.items.push_back(item);
    }
    menus.push_back(menu);
  }
  return menus;
}

const MenuItemState* DesktopPopupMenu::item(UINT commandId) const {
  for (const MenuItemState& i : items)
    if (i.id == commandId) return &i;
  return nullptr;
}

void queueDesktopPopupMenuChoice(UINT commandId) { desktop::append("popup-choices", {std::to_string(commandId)}); }

void clearPopupMenus() {
  auto lock = win::lockWindows();
  win::popupRecords().clear();
}

}  // namespace wintest
}  // namespace platform
