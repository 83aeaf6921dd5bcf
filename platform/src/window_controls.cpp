// The system window classes: the dialog class "#32770" with the dialog manager's
// default procedure, and the controls the system's dialogs use (button, static, edit,
// list box, combo box, list view, progress bar).
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

// The rows of a list box or of a combo box's list.
struct ListBoxState : ControlState {
  std::vector<std::pair<std::string, LPARAM>> items;
  int selection = LB_ERR;
  int horizontalExtent = 0;
};

struct StaticState : ControlState {
  HANDLE image = nullptr;
  bool ownsImage = false;  // loaded from the dialog template: freed with the control
};

struct EditState : ControlState {
  char passwordChar = 0;
  bool passwordSet = false;  // EM_SETPASSWORDCHAR given; otherwise the style decides
  size_t limit = 30000;
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

// An automatic radio button that gets checked clears the other automatic radio buttons
// of its group: the siblings from the nearest WS_GROUP at or before it up to the next one.
void uncheckGroupSiblings(HWND button) {
  HWND parent = GetParent(button);
  if (parent == nullptr) return;
  std::vector<HWND> siblings;
  for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) siblings.push_back(c);
  const auto self = std::find(siblings.begin(), siblings.end(), button);
  if (self == siblings.end()) return;
  auto first = self;
  while (first != siblings.begin() && !(GetWindowLongA(*first, GWL_STYLE) & WS_GROUP)) --first;
  for (auto it = first; it != siblings.end(); ++it) {
    const DWORD style = static_cast<DWORD>(GetWindowLongA(*it, GWL_STYLE));
    if (it != first && (style & WS_GROUP)) break;
    if (*it == button || (style & 0xF) != BS_AUTORADIOBUTTON) continue;
    SendMessageA(*it, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

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
        uncheckGroupSiblings(hwnd);
      }
      notifyParent(hwnd, BN_CLICKED);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

LRESULT CALLBACK staticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case STM_SETIMAGE: {
      auto s = stateOf<StaticState>(hwnd);
      if (s == nullptr) return 0;
      HANDLE previous = s->image;
      // A template's own picture goes when replaced; a caller's picture stays the caller's.
      if (s->ownsImage && previous != nullptr) {
        DeleteObject(static_cast<HGDIOBJ>(previous));
        previous = nullptr;
      }
      s->image = reinterpret_cast<HANDLE>(lParam);
      s->ownsImage = wParam == static_cast<WPARAM>(-1);  // the dialog manager's own load
      return reinterpret_cast<LRESULT>(previous);
    }
    case STM_GETIMAGE: {
      auto s = stateOf<StaticState>(hwnd);
      return s ? reinterpret_cast<LRESULT>(s->image) : 0;
    }
    case WM_NCDESTROY: {
      auto s = stateOf<StaticState>(hwnd);
      if (s && s->ownsImage && s->image != nullptr) DeleteObject(static_cast<HGDIOBJ>(s->image));
      if (s) s->image = nullptr;
      return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

LRESULT CALLBACK editProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
      notifyParent(hwnd, EN_CHANGE);
      return r;
    }
    case EM_SETLIMITTEXT: {
      // 0 stands for the largest limit.
      if (auto s = stateOf<EditState>(hwnd)) s->limit = wParam == 0 ? 0x7FFFFFFE : static_cast<size_t>(wParam);
      return 0;
    }
    case EM_GETLIMITTEXT: {
      auto s = stateOf<EditState>(hwnd);
      return s ? static_cast<LRESULT>(s->limit) : 0;
    }
    case EM_SETPASSWORDCHAR: {
      if (auto s = stateOf<EditState>(hwnd)) {
        s->passwordChar = static_cast<char>(wParam);
        s->passwordSet = true;
      }
      return 0;
    }
    case EM_GETPASSWORDCHAR: {
      auto s = stateOf<EditState>(hwnd);
      if (s == nullptr) return 0;
      if (s->passwordSet) return static_cast<unsigned char>(s->passwordChar);
      return (GetWindowLongA(hwnd, GWL_STYLE) & ES_PASSWORD) ? '*' : 0;
    }
    case WM_CHAR: {
      // A key typed by the user: digits only in a number field, nothing in a read-only
      // one, nothing beyond the limit.
      const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
      const char c = static_cast<char>(wParam);
      auto s = stateOf<EditState>(hwnd);
      if (s == nullptr || (style & ES_READONLY) || !IsWindowEnabled(hwnd)) return 0;
      if ((style & ES_NUMBER) && (c < '0' || c > '9')) {
        MessageBeep(0);
        return 0;
      }
      std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
      text.resize(static_cast<size_t>(GetWindowTextA(hwnd, &text[0], static_cast<int>(text.size()))));
      if (text.size() >= s->limit) {
        MessageBeep(0);
        return 0;
      }
      text.push_back(c);
      DefWindowProcA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
      notifyParent(hwnd, EN_CHANGE);
      return 0;
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

// The order of a sorted list box or combo box: letters compare without case, and the
// accented Latin letters as their base letter (ä as a, ß as ss); texts that fold alike
// keep byte order, so the order is total and does not depend on insertion.
int compareListTexts(const std::string& a, const std::string& b) {
  auto fold = [](const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c < 0x80) {
        out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
        ++i;
        continue;
      }
      // Two-byte sequences of U+0080..U+07FF; the Latin-1 letters fold, others stay.
      if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
        const unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
        static const char* const latin1 =
            // U+00C0..U+00FF, upper and lower case alike
            "aaaaaaaceeeeiiiidnooooo*ouuuuyts"
            "aaaaaaaceeeeiiiidnooooo/ouuuuyty";
        if (cp >= 0xC0 && cp <= 0xFF && latin1[cp - 0xC0] != '*' && latin1[cp - 0xC0] != '/') {
          const char base = latin1[cp - 0xC0];
          if (cp == 0xDF) {
            out += "ss";
          } else if (cp == 0xDE || cp == 0xFE) {
            out += "th";
          } else if (cp == 0xC6 || cp == 0xE6) {
            out += "ae";
          } else {
            out.push_back(base);
          }
          i += 2;
          continue;
        }
      }
      out.push_back(static_cast<char>(c));
      ++i;
    }
    return out;
  };
  const std::string fa = fold(a), fb = fold(b);
  if (fa != fb) return fa < fb ? -1 : 1;
  return a == b ? 0 : (a < b ? -1 : 1);
}

namespace {

// Where a new row goes: at the end, or behind the rows that sort before or with it.
int insertionPoint(const ListBoxState& s, const std::string& text, bool sorted) {
  if (!sorted) return static_cast<int>(s.items.size());
  int at = 0;
  while (at < static_cast<int>(s.items.size()) && compareListTexts(s.items[static_cast<size_t>(at)].first, text) <= 0) {
    ++at;
  }
  return at;
}

// The list messages shared by list boxes and combo boxes, by the list box's names.
LRESULT listMessage(ListBoxState& s, UINT msg, WPARAM wParam, LPARAM lParam, bool sorted) {
  const int count = static_cast<int>(s.items.size());
  const int index = static_cast<int>(wParam);
  const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
  switch (msg) {
    case LB_ADDSTRING: {
      const int at = insertionPoint(s, text, sorted);
      s.items.insert(s.items.begin() + at, {text, 0});
      if (s.selection >= at) ++s.selection;
      return at;
    }
    case LB_INSERTSTRING: {
      const int at = index < 0 || index > count ? count : index;
      s.items.insert(s.items.begin() + at, {text, 0});
      if (s.selection >= at) ++s.selection;
      return at;
    }
    case LB_DELETESTRING:
      if (index < 0 || index >= count) return LB_ERR;
      s.items.erase(s.items.begin() + index);
      if (s.selection == index) {
        s.selection = LB_ERR;
      } else if (s.selection > index) {
        --s.selection;
      }
      return count - 1;
    case LB_RESETCONTENT:
      s.items.clear();
      s.selection = LB_ERR;
      return 0;
    case LB_GETCOUNT:
      return count;
    case LB_SETCURSEL:
      s.selection = index >= 0 && index < count ? index : LB_ERR;
      return index >= 0 && index < count ? index : LB_ERR;
    case LB_GETCURSEL:
      return s.selection;
    case LB_GETTEXT:
      if (index < 0 || index >= count) return LB_ERR;
      return copyText(s.items[static_cast<size_t>(index)].first, reinterpret_cast<LPSTR>(lParam), 1 << 20);
    case LB_GETTEXTLEN:
      if (index < 0 || index >= count) return LB_ERR;
      return static_cast<LRESULT>(s.items[static_cast<size_t>(index)].first.size());
    case LB_SETITEMDATA:
      if (index < 0 || index >= count) return LB_ERR;
      s.items[static_cast<size_t>(index)].second = lParam;
      return 0;
    case LB_GETITEMDATA:
      if (index < 0 || index >= count) return LB_ERR;
      return s.items[static_cast<size_t>(index)].second;
    case LB_SETHORIZONTALEXTENT:
      s.horizontalExtent = index;
      return 0;
    case LB_GETHORIZONTALEXTENT:
      return s.horizontalExtent;
    default:
      return 0;
  }
}

}  // namespace

LRESULT CALLBACK listBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_DELETESTRING:
    case LB_RESETCONTENT:
    case LB_GETCOUNT:
    case LB_SETCURSEL:
    case LB_GETCURSEL:
    case LB_GETTEXT:
    case LB_GETTEXTLEN:
    case LB_SETITEMDATA:
    case LB_GETITEMDATA:
    case LB_SETHORIZONTALEXTENT:
    case LB_GETHORIZONTALEXTENT: {
      auto s = stateOf<ListBoxState>(hwnd);
      if (s == nullptr) return LB_ERR;
      const bool sorted = (GetWindowLongA(hwnd, GWL_STYLE) & LBS_SORT) != 0;
      return listMessage(*s, msg, wParam, lParam, sorted);
    }
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

// A drop-down list: its rows answer as a list box's, and its text is the selected row.
LRESULT CALLBACK comboBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  UINT listMsg = 0;
  switch (msg) {
    case CB_ADDSTRING: listMsg = LB_ADDSTRING; break;
    case CB_INSERTSTRING: listMsg = LB_INSERTSTRING; break;
    case CB_DELETESTRING: listMsg = LB_DELETESTRING; break;
    case CB_RESETCONTENT: listMsg = LB_RESETCONTENT; break;
    case CB_GETCOUNT: listMsg = LB_GETCOUNT; break;
    case CB_SETCURSEL: listMsg = LB_SETCURSEL; break;
    case CB_GETCURSEL: listMsg = LB_GETCURSEL; break;
    case CB_GETLBTEXT: listMsg = LB_GETTEXT; break;
    case CB_GETLBTEXTLEN: listMsg = LB_GETTEXTLEN; break;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  auto s = stateOf<ListBoxState>(hwnd);
  if (s == nullptr) return CB_ERR;
  const bool sorted = (GetWindowLongA(hwnd, GWL_STYLE) & CBS_SORT) != 0;
  const LRESULT result = listMessage(*s, listMsg, wParam, lParam, sorted);
  // The box shows the selected row: its window text follows the selection.
  const std::string shown = s->selection >= 0 ? s->items[static_cast<size_t>(s->selection)].first : "";
  DefWindowProcA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown.c_str()));
  return result;
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
    case PBM_GETRANGE:
      if (auto* range = reinterpret_cast<PBRANGE*>(lParam)) {
        range->iLow = s->low;
        range->iHigh = s->high;
      }
      return wParam ? s->low : s->high;
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
      {"ComboBox", comboBoxProc, 0, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)},
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
