// The scripted user of the test API: popup-menu choices, dialog actions, clicks.
#include <deque>
#include <unistd.h>

#include "desktop_records.h"
#include "platform/window_test.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

std::deque<UINT>& menuChoices() {
  static auto* c = new std::deque<UINT>();
  return *c;
}

std::deque<std::function<void(HWND)>>& dialogActions() {
  static auto* a = new std::deque<std::function<void(HWND)>>();
  return *a;
}

}  // namespace

int popupMenuChoice(HMENU, HWND, int, int) {
  {
    auto lock = lockWindows();
    if (!menuChoices().empty()) {
      const UINT id = menuChoices().front();
      menuChoices().pop_front();
      return static_cast<int>(id);
    }
  }
  // A choice that a test in another process queued for the desktop.
  std::vector<std::string> fields;
  if (desktop::take("popup-choices", &fields) && !fields.empty()) return std::stoi(fields[0]);
  return 0;
}

std::function<void(HWND)> takeDialogScript() {
  auto lock = lockWindows();
  if (dialogActions().empty()) return nullptr;
  std::function<void(HWND)> action = std::move(dialogActions().front());
  dialogActions().pop_front();
  return action;
}

bool runDialogScript(HWND dialog) {
  std::function<void(HWND)> action;
  {
    auto lock = lockWindows();
    if (dialogActions().empty()) return false;
    action = std::move(dialogActions().front());
    dialogActions().pop_front();
  }
  action(dialog);
  return true;
}

}  // namespace win

namespace wintest {

void queuePopupMenuChoice(UINT commandId) {
  auto lock = win::lockWindows();
  win::menuChoices().push_back(commandId);
}

void onNextDialog(std::function<void(HWND dialog)> action) {
  auto lock = win::lockWindows();
  win::dialogActions().push_back(std::move(action));
}

void click(HWND hwnd, int x, int y) {
  SendMessageA(hwnd, WM_LBUTTONDOWN, 1, MAKELPARAM(x, y));
  if (IsWindow(hwnd)) SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

bool pressButton(HWND dialog, int controlId) {
  HWND button = GetDlgItem(dialog, controlId);
  if (button == nullptr || !IsWindowEnabled(button)) return false;
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

void sendCommand(HWND hwnd, int id) { SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

bool typeText(HWND dialog, int controlId, const std::string& text) {
  HWND edit = GetDlgItem(dialog, controlId);
  if (edit == nullptr || !IsWindowEnabled(edit)) return false;
  SetFocus(edit);
  SetWindowTextA(edit, "");  // what was there is selected and typed over
  for (char c : text) {
    if (!IsWindow(edit)) return false;
    SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  return true;
}

bool pickListRow(HWND dialog, int controlId, int row) {
  HWND list = GetDlgItem(dialog, controlId);
  if (list == nullptr || !IsWindowEnabled(list)) return false;
  char cls[16] = {0};
  GetClassNameA(list, cls, sizeof cls);
  const bool combo = std::string(cls) == "ComboBox";
  const LRESULT count = SendMessageA(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  if (row < 0 || row >= count) return false;
  SendMessageA(list, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(row), 0);
  // A list box tells only when it was made to; a combo box always does.
  if (combo || (GetWindowLongA(list, GWL_STYLE) & LBS_NOTIFY)) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  }
  return true;
}

void pressKey(HWND window, UINT virtualKey) {
  PostMessageA(window, WM_KEYDOWN, virtualKey, 1);
}

std::vector<WindowInfo> topLevelWindows() {
  std::vector<WindowInfo> out;
  std::vector<win::RegistryEntry> list;
  {
    auto lock = win::lockWindows();
    list = win::listWindows();
  }
  for (const win::RegistryEntry& e : list) {
    WindowInfo i;
    i.hwnd = win::toHandle(e.id);
    i.processId = e.pid;
    i.threadId = e.tid;
    i.className = e.className;
    i.title = e.title;
    i.visible = (e.style & WS_VISIBLE) != 0;
    i.topmost = e.topmost;
    out.push_back(i);
  }
  return out;
}

}  // namespace wintest
}  // namespace platform
