// Dialogs from resource templates (DLGTEMPLATE and DLGTEMPLATEEX), modal and modeless,
// and the dialog item helpers.
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>

#include "platform/resources.h"
#include "platform/window_test.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

// Dialog units to pixels, with the base units of the dialog font (6 x 13 pixels).
constexpr int kBaseX = 6;
constexpr int kBaseY = 13;

class Reader {
 public:
  Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  uint16_t word() {
    if (at_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    uint16_t v = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
    at_ += 2;
    return v;
  }
  uint32_t dword() {
    uint32_t lo = word();
    return lo | (static_cast<uint32_t>(word()) << 16);
  }
  uint8_t byte() {
    if (at_ + 1 > size_) {
      ok_ = false;
      return 0;
    }
    return data_[at_++];
  }
  // A UTF-16 text ending in 0, as UTF-8.
  std::string text() {
    std::u16string s;
    for (;;) {
      uint16_t c = word();
      if (!ok_ || c == 0) break;
      s.push_back(static_cast<char16_t>(c));
    }
    return platform::toUtf8(s);
  }
  // A number (0xFFFF then the number) or a text; `number` is 0 for a text or none.
  std::string textOrNumber(uint16_t* number) {
    *number = 0;
    if (at_ + 2 <= size_ && data_[at_] == 0xFF && data_[at_ + 1] == 0xFF) {
      word();
      *number = word();
      return std::string();
    }
    return text();
  }
  void skip(size_t n) {
    if (at_ + n > size_) ok_ = false;
    at_ = std::min(size_, at_ + n);
  }
  void alignDword() { at_ = std::min(size_, (at_ + 3) & ~static_cast<size_t>(3)); }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

struct ItemTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::string className;
  std::string title;
  uint16_t titleNumber = 0;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string className;
  std::string title;
  std::vector<ItemTemplate> items;
};

std::string atomClass(uint16_t atom) {
  switch (atom) {
    case 0x80:
      return "Button";
    case 0x81:
      return "Edit";
    case 0x82:
      return "Static";
    case 0x83:
      return "ListBox";
    case 0x84:
      return "ScrollBar";
    case 0x85:
      return "ComboBox";
    default:
      return std::string();
  }
}

bool parseTemplate(const unsigned char* data, size_t size, DialogTemplate* t) {
  Reader r(data, size);
  const uint16_t version = r.word();
  const uint16_t signature = r.word();
  const bool extended = version == 1 && signature == 0xFFFF;
  uint16_t count = 0;
  if (extended) {
    r.dword();  // help id
    t->exStyle = r.dword();
    t->style = r.dword();
  } else {
    t->style = static_cast<DWORD>(version) | (static_cast<DWORD>(signature) << 16);
    t->exStyle = r.dword();
  }
  count = r.word();
  t->x = static_cast<int16_t>(r.word());
  t->y = static_cast<int16_t>(r.word());
  t->cx = static_cast<int16_t>(r.word());
  t->cy = static_cast<int16_t>(r.word());
  uint16_t number = 0;
  r.textOrNumber(&number);  // menu
  t->className = r.textOrNumber(&number);
  if (number != 0) t->className = atomClass(number);
  t->title = r.text();
  if (t->style & DS_SETFONT) {
    r.word();  // point size
    if (extended) {
      r.word();
      r.byte();
      r.byte();
    }
    r.text();
  }
  for (uint16_t i = 0; i < count && r.ok(); ++i) {
    r.alignDword();
    ItemTemplate item;
    if (extended) {
      r.dword();  // help id
      item.exStyle = r.dword();
      item.style = r.dword();
    } else {
      item.style = r.dword();
      item.exStyle = r.dword();
    }
    item.x = static_cast<int16_t>(r.word());
    item.y = static_cast<int16_t>(r.word());
    item.cx = static_cast<int16_t>(r.word());
    item.cy = static_cast<int16_t>(r.word());
    item.id = extended ? r.dword() : r.word();
    item.className = r.textOrNumber(&number);
    if (number != 0) item.className = atomClass(number);
    item.title = r.textOrNumber(&item.titleNumber);
    const uint16_t extra = r.word();
    r.skip(extra);
    t->items.push_back(std::move(item));
  }
  return r.ok();
}

int pixelsX(int du) { return du * kBaseX / 4; }
int pixelsY(int du) { return du * kBaseY / 8; }

// The scripted user of modal dialogs of this thread: each runs at the thread's next
// message wait, so that it also reaches a dialog that runs its own loop inside
// WM_INITDIALOG.
thread_local std::deque<std::pair<HWND, std::function<void(HWND)>>> t_pendingDialogs;

void cancelAsEscape(HWND dlg) {
  // Nobody at the screen: the dialog is cancelled, as a press of Escape would.
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  INT_PTR ignored = 0;
  auto lock = lockWindows();
  Window* w = findLocal(dlg);
  if (w != nullptr && !w->dialogEnded && w->dialog) {
    lock.unlock();
    EndDialog(dlg, IDCANCEL);
  }
  (void)ignored;
}

void scheduleDialogUser(HWND dlg) {
  std::function<void(HWND)> action = takeDialogScript();
  t_pendingDialogs.emplace_back(dlg, action ? std::move(action) : std::function<void(HWND)>(cancelAsEscape));
}

HWND createFromTemplate(HINSTANCE instance, const unsigned char* data, size_t size, HWND parent, DLGPROC proc,
                        LPARAM param, bool modal) {
  DialogTemplate t;
  if (!parseTemplate(data, size, &t)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  const std::string cls = t.className.empty() ? "#32770" : t.className;
  // The template gives the client size; the frame comes around it.
  Window probe;
  probe.style = t.style;
  RECT in = clientInsets(probe);
  const int width = pixelsX(t.cx) + in.left + in.right;
  const int height = pixelsY(t.cy) + in.top + in.bottom;
  int x = pixelsX(t.x);
  int y = pixelsY(t.y);
  if (t.style & DS_CENTER) {
    x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  } else if (parent != nullptr) {
    POINT origin{0, 0};
    ClientToScreen(parent, &origin);
    x += origin.x;
    y += origin.y;
  }
  HWND dlg = CreateWindowExA(t.exStyle, cls.c_str(), t.title.c_str(), t.style & ~WS_VISIBLE, x, y, width, height,
                             parent, nullptr, instance, nullptr);
  if (dlg == nullptr) return nullptr;
  SetWindowLongPtrA(dlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
  {
    auto lock = lockWindows();
    if (Window* w = findLocal(dlg)) w->dialog = true;
  }
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND firstTab = nullptr;
  for (const ItemTemplate& item : t.items) {
    std::string title = item.title;
    HWND control = CreateWindowExA(item.exStyle, item.className.c_str(), title.c_str(), item.style | WS_CHILD,
                                   pixelsX(item.x), pixelsY(item.y), pixelsX(item.cx), pixelsY(item.cy), dlg,
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), instance, nullptr);
    if (control == nullptr) {
      DestroyWindow(dlg);
      return nullptr;
    }
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    // A picture control names its bitmap by number; the control owns what it loads.
    if (item.className == "Static" && (item.style & 0x1F) == SS_BITMAP && item.titleNumber != 0) {
      HBITMAP picture = LoadBitmapA(instance, MAKEINTRESOURCEA(item.titleNumber));
      if (picture != nullptr) SendMessageA(control, STM_SETIMAGE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(picture));
    }
    if (firstTab == nullptr && (item.style & WS_TABSTOP)) firstTab = control;
  }
  SendMessageA(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  if (modal) scheduleDialogUser(dlg);
  if (SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param) && firstTab) SetFocus(firstTab);
  if (!IsWindow(dlg)) return nullptr;
  if (t.style & WS_VISIBLE) ShowWindow(dlg, SW_SHOWNORMAL);
  return dlg;
}

bool dialogEnded(HWND dlg, INT_PTR* result) {
  auto lock = lockWindows();
  Window* w = findLocal(dlg);
  if (w == nullptr) return true;
  *result = w->dialogResult;
  return w->dialogEnded;
}

INT_PTR runModal(HWND dlg, HWND owner) {
  const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
  if (owner != nullptr) EnableWindow(owner, FALSE);
  ShowWindow(dlg, SW_SHOWNORMAL);
  UpdateWindow(dlg);
  INT_PTR result = 0;
  MSG msg;
  while (!dialogEnded(dlg, &result)) {
    const BOOL r = GetMessageA(&msg, nullptr, 0, 0);
    if (r == -1) break;
    if (r == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
      break;
    }
    if (!IsDialogMessageA(dlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  dialogEnded(dlg, &result);
  if (owner != nullptr && ownerWasEnabled) EnableWindow(owner, TRUE);
  if (IsWindow(dlg)) DestroyWindow(dlg);
  return result;
}

}  // namespace

void runPendingUiActions() {
  // Nobody reaches a disabled dialog (a message box of it is open): its user waits
  // until it is enabled again, or goes with it.
  std::deque<std::pair<HWND, std::function<void(HWND)>>> waiting;
  while (!t_pendingDialogs.empty()) {
    auto pending = std::move(t_pendingDialogs.front());
    t_pendingDialogs.pop_front();
    if (!IsWindow(pending.first)) continue;
    if (!IsWindowEnabled(pending.first)) {
      waiting.push_back(std::move(pending));
      continue;
    }
    pending.second(pending.first);
  }
  for (auto it = waiting.rbegin(); it != waiting.rend(); ++it) t_pendingDialogs.push_front(std::move(*it));
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA tmpl, HWND owner, DLGPROC proc,
                                       LPARAM param) {
  if (tmpl == nullptr) return -1;
  // The size of an in-memory template is not known; it is read as far as it goes.
  HWND dlg = createFromTemplate(instance, reinterpret_cast<const unsigned char*>(tmpl), 1u << 20, owner, proc, param, true);
  return dlg ? runModal(dlg, owner) : -1;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  DWORD error = 0;
  const platform::ResourceEntry* e = platform::findResourceEntry(instance, RT_DIALOG, name, &error);
  if (e == nullptr) {
    SetLastError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  HWND dlg = createFromTemplate(instance, e->data, e->size, owner, proc, param, true);
  return dlg ? runModal(dlg, owner) : -1;
}

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param) {
  if (tmpl == nullptr) return nullptr;
  HWND dlg = createFromTemplate(instance, reinterpret_cast<const unsigned char*>(tmpl), 1u << 20, parent, proc, param, false);
  if (dlg) runDialogScript(dlg);
  return dlg;
}

HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  DWORD error = 0;
  const platform::ResourceEntry* e = platform::findResourceEntry(instance, RT_DIALOG, name, &error);
  if (e == nullptr) {
    SetLastError(error ? error : ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  HWND dlg = createFromTemplate(instance, e->data, e->size, parent, proc, param, false);
  if (dlg) runDialogScript(dlg);
  return dlg;
}

BOOL WINAPI EndDialog(HWND dlg, INT_PTR result) {
  {
    auto lock = lockWindows();
    Window* w = requireWindow(dlg);
    if (w == nullptr) return FALSE;
    w->dialogEnded = true;
    w->dialogResult = result;
  }
  ShowWindow(dlg, SW_HIDE);
  PostMessageA(dlg, WM_NULL, 0, 0);  // wakes the modal loop
  return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dlg, LPMSG msg) {
  if (msg == nullptr || dlg == nullptr) return FALSE;
  if (msg->hwnd != dlg && !IsChild(dlg, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(msg->wParam == VK_RETURN ? IDOK : IDCANCEL, BN_CLICKED), 0);
    return TRUE;
  }
  DispatchMessageA(msg);
  return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dlg, int id, LPCSTR text) {
  HWND item = GetDlgItem(dlg, id);
  return item ? SetWindowTextA(item, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR buffer, int max) {
  HWND item = GetDlgItem(dlg, id);
  if (item == nullptr) {
    if (buffer && max > 0) buffer[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, buffer, max));
}

BOOL WINAPI SetDlgItemInt(HWND dlg, int id, UINT value, BOOL isSigned) {
  char text[32];
  if (isSigned) {
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
  } else {
    snprintf(text, sizeof text, "%u", value);
  }
  return SetDlgItemTextA(dlg, id, text);
}

UINT WINAPI GetDlgItemInt(HWND dlg, int id, BOOL* translated, BOOL isSigned) {
  char text[64] = {0};
  GetDlgItemTextA(dlg, id, text, sizeof text);
  char* end = nullptr;
  const long long v = isSigned ? strtoll(text, &end, 10) : static_cast<long long>(strtoull(text, &end, 10));
  const bool ok = end != text && *end == '\0';
  if (translated) *translated = ok ? TRUE : FALSE;
  return ok ? static_cast<UINT>(v) : 0;
}

BOOL WINAPI CheckDlgButton(HWND dlg, int id, UINT check) {
  HWND item = GetDlgItem(dlg, id);
  if (item == nullptr) return FALSE;
  SendMessageA(item, BM_SETCHECK, check, 0);
  return TRUE;
}

BOOL WINAPI CheckRadioButton(HWND dlg, int first, int last, int check) {
  if (GetDlgItem(dlg, check) == nullptr) return FALSE;
  for (int id = first; id <= last; ++id) {
    if (HWND item = GetDlgItem(dlg, id)) SendMessageA(item, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  return item ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI MapDialogRect(HWND, LPRECT rect) {
  if (rect == nullptr) return FALSE;
  rect->left = pixelsX(rect->left);
  rect->right = pixelsX(rect->right);
  rect->top = pixelsY(rect->top);
  rect->bottom = pixelsY(rect->bottom);
  return TRUE;
}

LONG WINAPI GetDialogBaseUnits(void) { return MAKELONG(kBaseX, kBaseY); }

}  // extern "C"
