// The notification-area icons of the process, with their callback messages.
#include <algorithm>
#include <cstring>

#include "platform/window_test.h"
#include "shellapi.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

std::vector<wintest::TrayIcon>& icons() {
  static auto* i = new std::vector<wintest::TrayIcon>();
  return *i;
}

}  // namespace
}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  if (data == nullptr || data->cbSize < sizeof(NOTIFYICONDATAA) || !IsWindow(data->hWnd)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto lock = lockWindows();
  auto& list = icons();
  auto it = std::find_if(list.begin(), list.end(), [&](const platform::wintest::TrayIcon& i) {
    return i.hwnd == data->hWnd && i.id == data->uID;
  });
  auto apply = [data](platform::wintest::TrayIcon& icon) {
    icon.flags |= data->uFlags;
    if (data->uFlags & NIF_MESSAGE) icon.callbackMessage = data->uCallbackMessage;
    if (data->uFlags & NIF_ICON) icon.icon = data->hIcon;
    // The tip need not be terminated: at most its 63 characters are taken.
    if (data->uFlags & NIF_TIP) icon.tip.assign(data->szTip, strnlen(data->szTip, sizeof(data->szTip) - 1));
  };
  switch (message) {
    case NIM_ADD: {
      if (it != list.end()) return FALSE;
      platform::wintest::TrayIcon icon;
      icon.hwnd = data->hWnd;
      icon.id = data->uID;
      apply(icon);
      list.push_back(icon);
      return TRUE;
    }
    case NIM_MODIFY:
      if (it == list.end()) return FALSE;
      apply(*it);
      return TRUE;
    case NIM_DELETE:
      if (it == list.end()) return FALSE;
      list.erase(it);
      return TRUE;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
}

namespace platform {
namespace wintest {

std::vector<TrayIcon> trayIcons() {
  auto lock = win::lockWindows();
  return win::icons();
}

bool injectTrayCallback(HWND hwnd, UINT id, UINT mouseMessage) {
  UINT callback = 0;
  {
    auto lock = win::lockWindows();
    for (const TrayIcon& icon : win::icons()) {
      if (icon.hwnd == hwnd && icon.id == id && (icon.flags & NIF_MESSAGE)) callback = icon.callbackMessage;
    }
  }
  if (callback == 0) return false;
  SendMessageA(hwnd, callback, id, static_cast<LPARAM>(mouseMessage));
  return true;
}

}  // namespace wintest
}  // namespace platform
