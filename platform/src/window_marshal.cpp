// What of a window message may cross from one process to another (see window_marshal.h).
#include "window_marshal.h"

#include <strings.h>

#include "commctrl.h"

#include "window_internal.h"

namespace platform {
namespace win {

namespace {

// Messages below WM_USER whose parameters are numbers or handles. Left out on purpose,
// although some carry no pointer: the notifications of a window's own life (WM_CREATE,
// WM_DESTROY, WM_NCDESTROY, WM_INITDIALOG ...), which a window library answers by
// making or freeing its own objects, and every message with a pointer the layer does
// not copy (WM_NOTIFY, WM_GETMINMAXINFO, WM_WINDOWPOSCHANGING, WM_DRAWITEM,
// WM_GETDLGCODE, WM_SETTINGCHANGE, LB_GETTEXT, CB_GETLBTEXT, LB_ADDSTRING, ...).
constexpr UINT kValueMessages[] = {
    WM_NULL,
    0x0003,  // WM_MOVE
    0x0005,  // WM_SIZE
    0x0006,  // WM_ACTIVATE
    0x0007,  // WM_SETFOCUS
    0x0008,  // WM_KILLFOCUS
    0x000A,  // WM_ENABLE
    0x000B,  // WM_SETREDRAW
    0x000E,  // WM_GETTEXTLENGTH
    0x000F,  // WM_PAINT
    0x0010,  // WM_CLOSE
    0x0011,  // WM_QUERYENDSESSION
    0x0012,  // WM_QUIT
    0x0013,  // WM_QUERYOPEN
    0x0014,  // WM_ERASEBKGND
    0x0015,  // WM_SYSCOLORCHANGE
    0x0016,  // WM_ENDSESSION
    0x0018,  // WM_SHOWWINDOW
    0x001C,  // WM_ACTIVATEAPP
    0x001D,  // WM_FONTCHANGE
    0x001E,  // WM_TIMECHANGE
    0x001F,  // WM_CANCELMODE
    0x0020,  // WM_SETCURSOR
    0x0021,  // WM_MOUSEACTIVATE
    0x0022,  // WM_CHILDACTIVATE
    0x0030,  // WM_SETFONT
    0x0031,  // WM_GETFONT
    0x007B,  // WM_CONTEXTMENU
    0x007E,  // WM_DISPLAYCHANGE
    0x007F,  // WM_GETICON
    0x0080,  // WM_SETICON
    0x0084,  // WM_NCHITTEST
    0x0086,  // WM_NCACTIVATE
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9,  // WM_NCMOUSEMOVE ...
    // Edit controls.
    0x00C5,  // EM_SETLIMITTEXT
    0x00CC,  // EM_SETPASSWORDCHAR
    0x00D2,  // EM_GETPASSWORDCHAR
    0x00D5,  // EM_GETLIMITTEXT
    // Buttons.
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // BM_GETCHECK ... BM_SETIMAGE
    0x0100, 0x0101, 0x0102, 0x0103, 0x0104, 0x0105, 0x0106, 0x0107,  // WM_KEYDOWN ... WM_SYSDEADCHAR
    0x0111,  // WM_COMMAND
    0x0112,  // WM_SYSCOMMAND
    0x0113,  // WM_TIMER (crossesToWindow looks at its lParam)
    0x0114,  // WM_HSCROLL
    0x0115,  // WM_VSCROLL
    0x0116,  // WM_INITMENU
    0x0117,  // WM_INITMENUPOPUP
    0x011F,  // WM_MENUSELECT
    0x0120,  // WM_MENUCHAR
    0x0121,  // WM_ENTERIDLE
    0x0132, 0x0133, 0x0134, 0x0135, 0x0136, 0x0137, 0x0138,  // WM_CTLCOLORMSGBOX ... WM_CTLCOLORSTATIC
    // Combo boxes.
    0x0144,  // CB_DELETESTRING
    0x0146,  // CB_GETCOUNT
    0x0147,  // CB_GETCURSEL
    0x0149,  // CB_GETLBTEXTLEN
    0x014B,  // CB_RESETCONTENT
    0x014E,  // CB_SETCURSEL
    // Static controls.
    0x0170, 0x0171, 0x0172, 0x0173,  // STM_SETICON ... STM_GETIMAGE
    // List boxes.
    0x0182,  // LB_DELETESTRING
    0x0184,  // LB_RESETCONTENT
    0x0186,  // LB_SETCURSEL
    0x0188,  // LB_GETCURSEL
    0x018A,  // LB_GETTEXTLEN
    0x018B,  // LB_GETCOUNT
    0x0193,  // LB_GETHORIZONTALEXTENT
    0x0194,  // LB_SETHORIZONTALEXTENT
    0x0199,  // LB_GETITEMDATA
    0x019A,  // LB_SETITEMDATA
    0x0200, 0x0201, 0x0202, 0x0203, 0x0204, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209, 0x020A,  // mouse
    0x0210,  // WM_PARENTNOTIFY
    0x0211,  // WM_ENTERMENULOOP
    0x0212,  // WM_EXITMENULOOP
    0x0215,  // WM_CAPTURECHANGED
    0x0218,  // WM_POWERBROADCAST
    0x0312,  // WM_HOTKEY
};

bool listedValueMessage(UINT msg) {
  for (UINT m : kValueMessages) {
    if (m == msg) return true;
  }
  return false;
}

// The built-in controls' messages at or above WM_USER whose lParam points at a record.
bool listViewPointerMessage(UINT msg) {
  switch (msg) {
    case LVM_GETITEMA:
    case LVM_SETITEMA:
    case LVM_INSERTITEMA:
    case LVM_INSERTCOLUMNA:
    case LVM_SETITEMSTATE:
    case LVM_GETITEMTEXTA:
    case LVM_SETITEMTEXTA:
      return true;
    default:
      return false;
  }
}

bool progressPointerMessage(UINT msg, LPARAM lParam) {
  // PBM_GETRANGE fills a PBRANGE when given one; without one it answers a number.
  return msg == PBM_GETRANGE && lParam != 0;
}

bool belowUserCrosses(UINT msg, bool posted, LPARAM lParam) {
  switch (carriageOf(msg)) {
    case Carriage::Values:
      // A WM_TIMER's lParam is the timer procedure DispatchMessage would call. This
      // layer registers no timer procedures (it offers no SetTimer), so any lParam
      // there is an address of the sender's choosing.
      return msg != WM_TIMER || lParam == 0;
    case Carriage::CopyData:
    case Carriage::TextIn:
    case Carriage::TextOut:
      return !posted;  // the copy lives only as long as the call
    case Carriage::Refused:
      break;
  }
  return false;
}

}  // namespace

Carriage carriageOf(UINT msg) {
  if (msg >= WM_USER) return Carriage::Refused;
  switch (msg) {
    case WM_COPYDATA:
      return Carriage::CopyData;
    case WM_SETTEXT:
      return Carriage::TextIn;
    case WM_GETTEXT:
      return Carriage::TextOut;
    default:
      return listedValueMessage(msg) ? Carriage::Values : Carriage::Refused;
  }
}

bool crossesToWindow(WNDPROC classProc, UINT msg, bool posted, LPARAM lParam) {
  if (msg < WM_USER) return belowUserCrosses(msg, posted, lParam);
  if (classProc == listViewProc) return !listViewPointerMessage(msg);
  if (classProc == progressProc) return !progressPointerMessage(msg, lParam);
  return true;
}

bool crossesToClass(const std::string& className, UINT msg, bool posted, LPARAM lParam) {
  if (msg < WM_USER) return belowUserCrosses(msg, posted, lParam);
  if (strcasecmp(className.c_str(), "SysListView32") == 0) return !listViewPointerMessage(msg);
  if (strcasecmp(className.c_str(), "msctls_progress32") == 0) return !progressPointerMessage(msg, lParam);
  return true;
}

}  // namespace win
}  // namespace platform
