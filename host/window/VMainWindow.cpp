#include "host/window/VMainWindow.h"

#include "host/app/VApplication.h"

namespace {
VMainWindow* g_mainWindow = nullptr;
}

VMainWindow* VMainWindow::getMainWindow() { return g_mainWindow; }

VMainWindow::VMainWindow() : VWindow(10) { g_mainWindow = this; }

VMainWindow::~VMainWindow() {
  if (g_mainWindow == this) g_mainWindow = nullptr;
  m_menu.destroy();
  // The window goes while the main window's own operations still answer.
  destroyWindowNow();
}

bool VMainWindow::close(int) {
  WinHelpA(m_hwnd, nullptr, HELP_QUIT, 0);
  if (isWindow() == nullptr || !DestroyWindow(m_hwnd)) return false;
  PostQuitMessage(0);  // touches nothing of the object, which may be gone
  return true;
}

LRESULT VMainWindow::defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return VWindow::defaultProc(hwnd, msg, wParam, lParam);
}

LRESULT VMainWindow::onSize(UINT, int, int) {
  layout(nullptr);
  return 0;
}

void VMainWindow::updateMenus() {
  if (isWindow() == nullptr) return;
  HMENU bar = GetMenu(m_hwnd);
  if (bar == nullptr) return;
  int count = GetMenuItemCount(bar);
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i) {
    HMENU sub = GetSubMenu(bar, i);
    if (sub == nullptr || !IsMenu(sub)) continue;
    VMenu wrapper(sub, false);
    updateMenu(wrapper);
  }
}

void VMainWindow::updateMenu(VMenu& menu) {
  HMENU h = menu.getHandle();
  int count = GetMenuItemCount(h);
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i) {
    const UINT id = GetMenuItemID(h, i);
    if (id == 0) continue;  // separator
    if (id == static_cast<UINT>(-1)) {
      HMENU sub = GetSubMenu(h, i);
      if (sub != nullptr) {
        VMenu wrapper(sub, false);
        updateMenu(wrapper);
      }
      continue;
    }
    bool enable = true;
    bool check = false;
    updateMenuItem(menu, id, enable, check);
    EnableMenuItem(h, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(h, id, MF_BYCOMMAND | (check ? MF_CHECKED : MF_UNCHECKED));
  }
}

bool VMainWindow::onMenuRequest(WPARAM, LPARAM) { return false; }

void VMainWindow::getClientRect(VRect& rect) { GetClientRect(m_hwnd, rect.get()); }

void VMainWindow::updateMenuItem(VMenu&, UINT, bool&, bool&) {}

void VMainWindow::layoutChildren(VRect) {}

void VMainWindow::layout(const VRect* area) {
  VRect r;
  if (area != nullptr) {
    r = *area;
  } else {
    getClientRect(r);
  }
  layoutChildren(r);
}

int VMainWindow::create(UINT menuId, const VRect& rect, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR, DWORD style,
                        bool run) {
  if (menuId != 0) m_menu.load(menuId, nullptr);
  m_savedFlags = m_flags.getValue();
  m_flags.set(kCreating);
  bool created;
  {
    VWindow parent(0);  // unbound: the window has no parent
    created = VWindow::create(parent, rect, style, nullptr, getAppName(), m_menu.getHandle());
  }
  // The flags come back on failure too, so that a later attempt runs onCreate.
  m_flags.setValue(m_savedFlags);
  if (!created) return -1;
  if (!(m_savedFlags & kCreating) && !onCreate()) {
    close(1);
    return -1;
  }
  return run ? showAndRun() : 1;
}
