// The notification-area icons of the process, with their callback messages, and the
// shell's journal of them for the whole desktop.
#include <algorithm>
#include <cstring>

#include "desktop_records.h"
#include "platform/window_test.h"
#include "shellapi.h"
#include "window_internal.h"

#include <unistd.h>

namespace platform {
namespace win {
namespace {

std::vector<wintest::TrayIcon>& icons() {
  static auto* i = new std::vector<wintest::TrayIcon>();
  return *i;
}

constexpr const char* kJournal = "tray";

std::string number(uint64_t value) { return std::to_string(value); }
std::string handle(const void* h) { return number(reinterpret_cast<uintptr_t>(h)); }

BOOL notify(DWORD message, PNOTIFYICONDATAA data) {
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

}  // namespace
}  // namespace win
}  // namespace platform

using namespace platform::win;

// The shell keeps the icons of every process; each call is entered in the desktop's
// journal as the shell took it.
extern "C" BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  const BOOL ok = notify(message, data);
  if (data != nullptr && data->cbSize >= sizeof(NOTIFYICONDATAA)) {
    const std::string tip = (data->uFlags & NIF_TIP) ? std::string(data->szTip, strnlen(data->szTip, sizeof(data->szTip) - 1))
                                                     : std::string();
    const std::string icon = (data->uFlags & NIF_ICON) ? iconSource(data->hIcon) : std::string();
    platform::desktop::append(kJournal, {number(static_cast<uint64_t>(getpid())), number(message), number(data->cbSize),
                                         handle(data->hWnd), number(data->uID), number(data->uFlags),
                                         number(data->uCallbackMessage), icon, tip, ok ? "1" : "0"});
  }
  return ok;
}

namespace platform {
namespace wintest {

std::vector<ShellIconCall> shellIconCalls() {
  std::vector<ShellIconCall> calls;
  for (const std::vector<std::string>& f : desktop::read(win::kJournal)) {
    if (f.size() < 10) continue;
    ShellIconCall call;
    call.processId = static_cast<DWORD>(std::stoul(f[0]));
    call.message = static_cast<DWORD>(std::stoul(f[1]));
    call.cbSize = static_cast<DWORD>(std::stoul(f[2]));
    call.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(f[3])));
    call.id = static_cast<UINT>(std::stoul(f[4]));
    call.flags = static_cast<UINT>(std::stoul(f[5]));
    call.callbackMessage = static_cast<UINT>(std::stoul(f[6]));
    call.icon = f[7];
    call.tip = f[8];
    call.succeeded = f[9] == "1";
    calls.push_back(call);
  }
  return calls;
}

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
  if (callback == 0) {
    // An icon of another process: the shell's journal knows its callback message.
    bool shown = false;
    for (const ShellIconCall& call : shellIconCalls()) {
      if (call.hwnd != hwnd || call.id != id || !call.succeeded) continue;
      if (call.message == NIM_DELETE) {
        shown = false;
        callback = 0;
        continue;
      }
      shown = true;
      if (call.flags & NIF_MESSAGE) callback = call.callbackMessage;
    }
    if (!shown) return false;
  }
  if (callback == 0) return false;
  SendMessageA(hwnd, callback, id, static_cast<LPARAM>(mouseMessage));
  return true;
}

}  // namespace wintest
}  // namespace platform
