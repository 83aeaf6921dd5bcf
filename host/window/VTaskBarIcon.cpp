#include "host/window/VTaskBarIcon.h"

#include "host/app/VApplication.h"
#include "host/window/VWindow.h"

#include <cstring>

VTaskBarIcon::~VTaskBarIcon() {
  if (m_window != nullptr) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = m_window;
    data.uID = m_iconId;
    Shell_NotifyIconA(NIM_DELETE, &data);
  }
  if (m_icon != nullptr) DestroyIcon(m_icon);
}

NOTIFYICONDATAA VTaskBarIcon::record() const {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = m_window;
  data.uID = m_iconId;
  data.uFlags = NIF_ICON | NIF_TIP;
  data.hIcon = m_icon;
  // The shell takes at most 63 characters of the tip.
  if (!m_tooltip.isEmpty()) std::strncpy(data.szTip, m_tooltip.getBuffer(), sizeof data.szTip - 1);
  return data;
}

bool VTaskBarIcon::add(VWindow& owner, UINT iconId, const char* tip, HINSTANCE module) {
  m_window = owner.getHandle();
  if (iconId != 0) setIcon(iconId, false, module);
  if (tip != nullptr) {
    m_tooltip.assign(tip);
  } else if (m_tooltip.isEmpty()) {
    m_tooltip.assign(getAppName());
  }
  NOTIFYICONDATAA data = record();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = RegisterWindowMessageA("VTaskBarIcon");
  owner.attachFilter(this, true, false);
  if (!Shell_NotifyIconA(NIM_ADD, &data)) return false;
  m_callbackMessage = data.uCallbackMessage;
  return true;
}

bool VTaskBarIcon::setIcon(UINT iconId, bool update, HINSTANCE module) {
  if (iconId == 0) return false;
  HICON icon = static_cast<HICON>(LoadImageA(module != nullptr ? module : getResourceHandle(),
                                             MAKEINTRESOURCEA(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  setIcon(icon);
  return update ? modify() : true;
}

void VTaskBarIcon::setIcon(HICON icon) {
  if (m_icon != nullptr && m_icon != icon) DestroyIcon(m_icon);
  m_icon = icon;
}

bool VTaskBarIcon::modify() {
  NOTIFYICONDATAA data = record();
  return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool VTaskBarIcon::filterMessage(HWND, UINT msg, WPARAM, LPARAM lParam, LRESULT*, bool*) {
  if (m_callbackMessage == 0 || msg != m_callbackMessage) return true;
  POINT cursor{0, 0};
  GetCursorPos(&cursor);
  const VPoint point(cursor.x, cursor.y);
  switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDOWN: onLeftButtonDown(point); break;
    case WM_LBUTTONUP: onLeftButtonUp(point); break;
    case WM_LBUTTONDBLCLK: onLeftDoubleClick(point); break;
    case WM_RBUTTONDOWN: onRightButtonDown(point); break;
    case WM_RBUTTONUP: onRightButtonUp(point); break;
    case WM_RBUTTONDBLCLK: onRightDoubleClick(point); break;
    default: break;
  }
  return true;
}

void VTaskBarIcon::onLeftDoubleClick(const VPoint&) {
  if (IsIconic(m_window) || !IsWindowVisible(m_window)) {
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetForegroundWindow(m_window);
  }
}

void VTaskBarIcon::onLeftButtonDown(const VPoint&) {}
void VTaskBarIcon::onLeftButtonUp(const VPoint&) {}
void VTaskBarIcon::onRightDoubleClick(const VPoint&) {}
void VTaskBarIcon::onRightButtonDown(const VPoint&) {}
void VTaskBarIcon::onRightButtonUp(const VPoint&) {}
