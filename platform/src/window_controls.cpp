// The system window classes: the dialog class "#32770" with the dialog manager's
// default procedure, and the controls the system's dialogs use (button, static, edit,
// list box, list view, progress bar).
#include <algorithm>
#include <cstring>

#include "commctrl.h"
#include "window_internal.h"

namespace platform {
namespace win {
namespace {

void notifyParent(HWND hwnd, WORD code) {
  HWND parent = GetParent(hwnd);
  if (parent == nullptr) return;
  SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
}

// The control's state, kept alive by the caller even if a notification destroys the window.
template <class T>
std::shared_ptr<T> stateOf(HWND hwnd) {
  auto lock = lockWindows();
  Window* w = findLocal(hwnd);
  if (w == nullptr) return nullptr;
  if (!w->control) w->control = std::make_shared<T>();
  return std::dynamic_pointer_cast<T>(w->control);
}

struct ButtonState : ControlState {
  UINT check = BST_UNCHECKED;
};

struct ListBoxState : ControlState {
  std::vector<std::pair<std::string, LPARAM>> items;
  int selection = LB_ERR;
};

struct ListViewItem {
  std::vector<std::string> texts;
  UINT state = 0;
  LPARAM param = 0;
};

struct ListViewState : ControlState {
  std::vector<std::string> columns;
  std::vector<ListViewItem> items;
  DWORD extendedStyle = 0;
};

struct ProgressState : ControlState {
  int low = 0;
  int high = 100;
  int pos = 0;
  int step = 10;
};

LRESULT copyText(const std::string& text, LPSTR out, int max) {
  if (out == nullptr || max <= 0) return static_cast<LRESULT>(text.size());
  return static_cast<LRESULT>(copyToBuffer(text, out, static_cast<size_t>(max)));
}

}  // namespace

LRESULT CALLBACK buttonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case BM_GETCHECK: {
      auto s = stateOf<ButtonState>(hwnd);
      return s ? s->check : 0;
    }
    case BM_SETCHECK: {
      if (auto s = stateOf<ButtonState>(hwnd)) s->check = static_cast<UINT>(wParam);
      return 0;
    }
    case BM_CLICK: {
      if (!IsWindowEnabled(hwnd)) return 0;
      const DWORD type = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & 0xF;
      if (type == BS_AUTOCHECKBOX) {
        if (auto s = stateOf<ButtonState>(hwnd)) s->check = s->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      } else if (type == BS_AUTORADIOBUTTON) {
        if (auto s = stateOf<ButtonState>(hwnd)) s->check = BST_CHECKED;
      }
      notifyParent(hwnd, BN_CLICKED);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

LRESULT CALLBACK staticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == STM_SETIMAGE) return 0;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK editProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SETTEXT) {
    LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
    notifyParent(hwnd, EN_CHANGE);
    return r;
  }
  if (msg == EM_SETLIMITTEXT) return 0;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK listBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto s = stateOf<ListBoxState>(hwnd);
  if (s == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
  const int count = static_cast<int>(s->items.size());
  const int index = static_cast<int>(wParam);
  switch (msg) {
    case LB_ADDSTRING:
      s->items.emplace_back(lParam ? reinterpret_cast<const char*>(lParam) : "", 0);
      return count;
    case LB_INSERTSTRING: {
      const int at = index < 0 || index > count ? count : index;
      s->items.insert(s->items.begin() + at, {lParam ? reinterpret_cast<const char*>(lParam) : "", 0});
      return at;
    }
    case LB_DELETESTRING:
      if (index < 0 || index >= count) return LB_ERR;
      s->items.erase(s->items.begin() + index);
      if (s->selection >= count - 1) s->selection = LB_ERR;
      return count - 1;
    case LB_RESETCONTENT:
      s->items.clear();
      s->selection = LB_ERR;
      return 0;
    case LB_GETCOUNT:
      return count;
    case LB_SETCURSEL:
      s->selection = index >= 0 && index < count ? index : LB_ERR;
      return index >= 0 && index < count ? index : LB_ERR;
    case LB_GETCURSEL:
      return s->selection;
    case LB_GETTEXT:
      if (index < 0 || index >= count) return LB_ERR;
      return copyText(s->items[static_cast<size_t>(index)].first, reinterpret_cast<LPSTR>(lParam), 1 << 20);
    case LB_GETTEXTLEN:
      if (index < 0 || index >= count) return LB_ERR;
      return static_cast<LRESULT>(s->items[static_cast<size_t>(index)].first.size());
    case LB_SETITEMDATA:
      if (index < 0 || index >= count) return LB_ERR;
      s->items[static_cast<size_t>(index)].second = lParam;
      return 0;
    case LB_GETITEMDATA:
      if (index < 0 || index >= count) return LB_ERR;
      return s->items[static_cast<size_t>(index)].second;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

namespace {

struct StateChange {
  int item;
  UINT oldState;
  UINT newState;
};

// LVN_ITEMCHANGED to the parent for every item whose state changed, after the change.
void notifyStateChanges(HWND hwnd, const std::vector<StateChange>& changes) {
  HWND parent = GetParent(hwnd);
  if (parent == nullptr) return;
  for (const StateChange& c : changes) {
    if (c.oldState == c.newState) continue;
    NMLISTVIEW nm{};
    nm.hdr.hwndFrom = hwnd;
    nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
    nm.hdr.code = LVN_ITEMCHANGED;
    nm.iItem = c.item;
    nm.uNewState = c.newState;
    nm.uOldState = c.oldState;
    nm.uChanged = LVIF_STATE;
    SendMessageA(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
    if (!IsWindow(hwnd)) return;
  }
}

}  // namespace

LRESULT CALLBACK listViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto s = stateOf<ListViewState>(hwnd);
  if (s == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
  const int count = static_cast<int>(s->items.size());
  const int index = static_cast<int>(wParam);
  auto* item = reinterpret_cast<LVITEMA*>(lParam);
  switch (msg) {
    case LVM_SETBKCOLOR:
    case LVM_SETTEXTCOLOR:
    case LVM_SETTEXTBKCOLOR:
    case LVM_SETCOLUMNWIDTH:
      return TRUE;
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      const DWORD old = s->extendedStyle;
      const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
      s->extendedStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
      return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return s->extendedStyle;
    case LVM_INSERTCOLUMNA: {
      auto* col = reinterpret_cast<LVCOLUMNA*>(lParam);
      const int at = std::min(std::max(0, index), static_cast<int>(s->columns.size()));
      s->columns.insert(s->columns.begin() + at, col && col->pszText && (col->mask & LVCF_TEXT) ? col->pszText : "");
      return at;
    }
    case LVM_GETITEMCOUNT:
      return count;
    case LVM_INSERTITEMA: {
      if (item == nullptr) return -1;
      const int at = item->iItem < 0 || item->iItem > count ? count : item->iItem;
      ListViewItem it;
      it.texts.push_back((item->mask & LVIF_TEXT) && item->pszText ? item->pszText : "");
      if (item->mask & LVIF_PARAM) it.param = item->lParam;
      if (item->mask & LVIF_STATE) it.state = item->state & item->stateMask;
      // With check boxes, a new item starts unchecked (state image 1), which the
      // parent hears of as a state change.
      if ((s->extendedStyle & LVS_EX_CHECKBOXES) && !(it.state & LVIS_STATEIMAGEMASK)) {
        it.state |= INDEXTOSTATEIMAGEMASK(1);
      }
      const UINT newState = it.state;
      s->items.insert(s->items.begin() + at, std::move(it));
      if (newState != 0) notifyStateChanges(hwnd, {{at, 0, newState}});
      return at;
    }
    case LVM_SETITEMA:
    case LVM_SETITEMTEXTA: {
      if (item == nullptr) return FALSE;
      const int i = msg == LVM_SETITEMA ? item->iItem : index;
      if (i < 0 || i >= count || item->iSubItem < 0) return FALSE;
      ListViewItem& it = s->items[static_cast<size_t>(i)];
      if (msg == LVM_SETITEMTEXTA || (item->mask & LVIF_TEXT)) {
        if (it.texts.size() <= static_cast<size_t>(item->iSubItem)) it.texts.resize(static_cast<size_t>(item->iSubItem) + 1);
        it.texts[static_cast<size_t>(item->iSubItem)] = item->pszText ? item->pszText : "";
      }
      const UINT oldState = it.state;
      if (msg == LVM_SETITEMA && (item->mask & LVIF_STATE)) {
        it.state = (it.state & ~item->stateMask) | (item->state & item->stateMask);
      }
      if (msg == LVM_SETITEMA && (item->mask & LVIF_PARAM)) it.param = item->lParam;
      notifyStateChanges(hwnd, {{i, oldState, it.state}});
      return TRUE;
    }
    case LVM_GETITEMA: {
      if (item == nullptr || item->iItem < 0 || item->iItem >= count) return FALSE;
      ListViewItem& it = s->items[static_cast<size_t>(item->iItem)];
      if (item->mask & LVIF_TEXT) {
        const std::string text =
            static_cast<size_t>(item->iSubItem) < it.texts.size() ? it.texts[static_cast<size_t>(item->iSubItem)] : "";
        copyText(text, item->pszText, item->cchTextMax);
      }
      if (item->mask & LVIF_STATE) item->state = it.state & item->stateMask;
      if (item->mask & LVIF_PARAM) item->lParam = it.param;
      return TRUE;
    }
    case LVM_GETITEMTEXTA: {
      if (item == nullptr || index < 0 || index >= count) return 0;
      ListViewItem& it = s->items[static_cast<size_t>(index)];
      const std::string text =
          static_cast<size_t>(item->iSubItem) < it.texts.size() ? it.texts[static_cast<size_t>(item->iSubItem)] : "";
      return copyText(text, item->pszText, item->cchTextMax);
    }
    case LVM_SETITEMSTATE: {
      if (item == nullptr) return FALSE;
      std::vector<StateChange> changes;
      auto apply = [&](int i) {
        ListViewItem& it = s->items[static_cast<size_t>(i)];
        const UINT old = it.state;
        it.state = (it.state & ~item->stateMask) | (item->state & item->stateMask);
        changes.push_back({i, old, it.state});
      };
      if (index == -1) {
        for (int i = 0; i < count; ++i) apply(i);
      } else if (index >= 0 && index < count) {
        apply(index);
      } else {
        return FALSE;
      }
      notifyStateChanges(hwnd, changes);
      return TRUE;
    }
    case LVM_GETITEMSTATE:
      if (index < 0 || index >= count) return 0;
      return s->items[static_cast<size_t>(index)].state & static_cast<UINT>(lParam);
    case LVM_GETNEXTITEM: {
      for (int i = index + 1; i < count; ++i) {
        if (!(lParam & LVNI_SELECTED) || (s->items[static_cast<size_t>(i)].state & LVIS_SELECTED)) return i;
      }
      return -1;
    }
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(s->items.begin(), s->items.end(),
                           [](const ListViewItem& it) { return (it.state & LVIS_SELECTED) != 0; });
    case LVM_DELETEITEM:
      if (index < 0 || index >= count) return FALSE;
      s->items.erase(s->items.begin() + index);
      return TRUE;
    case LVM_DELETEALLITEMS:
      s->items.clear();
      return TRUE;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

LRESULT CALLBACK progressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto s = stateOf<ProgressState>(hwnd);
  if (s == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
  const int old = s->pos;
  switch (msg) {
    case PBM_SETRANGE:
      s->low = LOWORD(lParam);
      s->high = HIWORD(lParam);
      return MAKELONG(0, 100);
    case PBM_SETRANGE32:
      s->low = static_cast<int>(wParam);
      s->high = static_cast<int>(lParam);
      return 0;
    case PBM_SETPOS:
      s->pos = std::min(std::max(static_cast<int>(wParam), s->low), s->high);
      return old;
    case PBM_DELTAPOS:
      s->pos = std::min(std::max(s->pos + static_cast<int>(wParam), s->low), s->high);
      return old;
    case PBM_SETSTEP: {
      const int oldStep = s->step;
      s->step = static_cast<int>(wParam);
      return oldStep;
    }
    case PBM_STEPIT:
      s->pos += s->step;
      if (s->pos > s->high) s->pos = s->low + (s->pos - s->high);  // wraps, as the control does
      return old;
    case PBM_GETPOS:
      return s->pos;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

}  // namespace win
}  // namespace platform

using namespace platform::win;

extern "C" {

LRESULT WINAPI DefDlgProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto dlgProc = reinterpret_cast<DLGPROC>(GetWindowLongPtrA(hwnd, DWLP_DLGPROC));
  if (dlgProc != nullptr) {
    const INT_PTR r = dlgProc(hwnd, msg, wParam, lParam);
    switch (msg) {
      case WM_INITDIALOG:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
        if (r != 0 || msg == WM_INITDIALOG) return r;
        break;
      default:
        if (r != 0) return IsWindow(hwnd) ? GetWindowLongPtrA(hwnd, DWLP_MSGRESULT) : 0;
        break;
    }
    if (!IsWindow(hwnd)) return 0;
  }
  // The dialog manager's own handling.
  switch (msg) {
    case WM_CLOSE:
      PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return 0;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_3DFACE));
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_3DFACE));
      return 1;
    }
    case WM_INITDIALOG:
    case WM_COMMAND:
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) { return icc != nullptr ? TRUE : FALSE; }

void WINAPI InitCommonControls(void) {}

}  // extern "C"

namespace platform {
namespace win {

void registerSystemClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  struct Def {
    const char* name;
    WNDPROC proc;
    int extra;
    HBRUSH background;
  };
  const Def defs[] = {
      {"#32770", DefDlgProcA, DLGWINDOWEXTRA + 32, nullptr},
      {"Button", buttonProc, 0, nullptr},
      {"Static", staticProc, 0, nullptr},
      {"Edit", editProc, 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
      {"ListBox", listBoxProc, 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
      {"SysListView32", listViewProc, 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
      {"msctls_progress32", progressProc, 0, nullptr},
  };
  WNDCLASSEXA wc{};
  for (const Def& d : defs) {
    wc = WNDCLASSEXA{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = d.proc;
    wc.cbWndExtra = d.extra;
    wc.hbrBackground = d.background;
    wc.lpszClassName = d.name;
    RegisterClassExA(&wc);
  }
  markSystemClasses();
}

}  // namespace win
}  // namespace platform
