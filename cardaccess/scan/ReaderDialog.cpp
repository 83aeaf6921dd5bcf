#include "cardaccess/scan/ReaderDialog.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <commctrl.h>
#include <ole2.h>

#include "cardaccess/scan/CwxReaderScan.h"
#include "host/app/VApplication.h"

namespace {

struct ReaderFamily {
  const char* maker;  // the 15 characters of the maker text, or their beginning
  const char* displayName;
  const char* driver;
  unsigned char useGUI;
};

// Terminals are recognised by their maker text; the last entry by its first ten characters.
const ReaderFamily kFamilies[] = {
    {"DExxxCT399V2.08", "Kobil Kaan Professional", "CT-API KOBIL Systems", 1},
    {"DExxxCT C2V1.02", "Kobil Kaan Professional", "CT-API KOBIL Systems", 1},
    {"DExxxCT198V1.61", "Kobil Kaan Standard Plus", "CT-API KOBIL Systems", 1},
    {"DExxxCT101V1.70", "Kobil Kaan Standard Plus", "CT-API KOBIL Systems", 1},
    {"DESCTECUSB V2.0", "Reiner cyberJack e-com", "CT-API REINER SCT", 0},
    {"DESCTECLPT V2.0", "Reiner cyberJack e-com", "CT-API REINER SCT", 0},
    {"DESCTCJECA V3.0", "Reiner cyberJack e-com", "CT-API REINER SCT", 0},
    {"DESCTCJECP V3.0", "Reiner cyberJack e-com", "CT-API REINER SCT", 0},
    {"DESCTPPUSB V2.0", "Reiner cyberJack PinPad", "CT-API REINER SCT", 0},
    {"DESCTPPLPT V2.0", "Reiner cyberJack PinPad", "CT-API REINER SCT", 0},
    {"DESCTCJPPA V3.0", "Reiner cyberJack PinPad", "CT-API REINER SCT", 0},
    {"DESCTCJPPA V4.0", "Reiner cyberJack PinPad", "CT-API REINER SCT", 0},
    {"DESCT     V3.5 ", "Reiner cyberJack KB", "CT-API REINER SCT", 0},
    {"DESCMSPRx3F4.15", "Towitoko SCM SPR532", "CT-API SCM", 0},
    {"DESCMSPRx3F5.08", "Towitoko SCM SPR532", "CT-API SCM", 0},
    {"DESCMSPRx3F5.10", "Towitoko SCM SPR532", "CT-API SCM", 0},
    {"DESCMSPRx3F5.09", "Towitoko SCM SPR532", "CT-API SCM", 0},
    {"DEUTICM   04.00", "Omnikey Cardman", "CT-API Cardman", 0},
    {"DECYMPC/SC", "Cherry Keyboard", "CT-API Cherry", 0},
};

const ReaderFamily* findFamily(const std::string& maker) {
  for (const ReaderFamily& family : kFamilies) {
    const size_t length = std::strlen(family.maker);
    if (length == 15 ? maker == family.maker : maker.compare(0, length, family.maker) == 0) return &family;
  }
  return nullptr;
}

// The dialog's state: one set for the process, as only one reader selection is open at a time.
struct DialogState {
  HWND list = nullptr;
  CwxReaderScan* scan = nullptr;
  int result = IDCANCEL;
  std::vector<std::unique_ptr<ReaderChoice>> rows;
  ReaderChoice* selection = nullptr;
  ReaderChoice* current = nullptr;
  bool closing = false;  // WM_CLOSE posted the quit message that ends the dialog's loop
};
DialogState g_state;

std::atomic<bool> g_open{false};

HINSTANCE applicationInstance() { return getApplication()->getInstanceHandle(); }

bool isChecked(HWND list, int item) {
  return ((static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK)) >>
           12) - 1) != 0;
}

void setChecked(HWND list, int item, bool checked) {
  LVITEMA state{};
  state.stateMask = LVIS_STATEIMAGEMASK;
  state.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
}

void insertColumn(HWND list, int index, int titleId, int width) {
  char title[255] = {};
  LoadStringA(applicationInstance(), static_cast<UINT>(titleId), title, sizeof title);
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  column.cx = width;
  column.pszText = title;
  column.iSubItem = index;
  SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void insertRow(HWND list, int row, const char* name, const char* type, const char* port) {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = const_cast<char*>(name);
  SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  LVITEMA sub{};
  sub.iSubItem = 1;
  sub.pszText = const_cast<char*>(type);
  SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
  if (port) {
    sub.iSubItem = 2;
    sub.pszText = const_cast<char*>(port);
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
  }
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

void fillRows(HWND list, CwxReaderScan* scan) {
  int row = 0;
  // The areas are the scan's: text up to the first zero, never past the area.
  const char* ctapiRows = scan->getCTAPIRows();
  const size_t ctapiLength = strnlen(ctapiRows, CwxReaderScan::kAreaSize);
  if (ctapiLength >= 2) {
    for (size_t at = 0; at < ctapiLength; at += CwxReaderScan::kCTAPIRowLength) {
      const std::string maker(ctapiRows + at + 2, std::min<size_t>(15, ctapiLength - std::min(ctapiLength, at + 2)));
      const ReaderFamily* family = findFamily(maker);
      if (!family) continue;
      const char port[2] = {ctapiRows[at], '\0'};
      insertRow(list, row, family->displayName, "CT-API", port);
      g_state.rows.push_back(
          std::make_unique<ReaderChoice>(family->displayName, port, family->driver, 1, family->useGUI));
      ++row;
    }
  }
  const char* pcscRows = scan->getPCSCRows();
  const size_t pcscLength = strnlen(pcscRows, CwxReaderScan::kAreaSize);
  if (pcscLength >= 2) {
    for (size_t at = 0; at < pcscLength; at += CwxReaderScan::kPCSCRowLength) {
      const std::string name =
          trimmed(std::string(pcscRows + at, std::min<size_t>(CwxReaderScan::kPCSCRowLength, pcscLength - at)));
      insertRow(list, row, name.c_str(), "PC/SC", nullptr);
      g_state.rows.push_back(std::make_unique<ReaderChoice>(name.c_str(), "", "PCSC", 1, 1));
      ++row;
    }
  }
}

// The dialog's own loop: every message of the thread, without dialog keyboard
// handling, until the quit message that WM_CLOSE posts. That quit message ends here.
void runLoop(HWND dialog) {
  int foreignQuit = -1;
  bool haveForeignQuit = false;
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) {
      // No more messages to be had: end the dialog without a quit message to take.
      g_state.closing = true;
      if (IsWindow(dialog)) SendMessageA(dialog, WM_CLOSE, 0, 0);
      break;
    }
    if (got == 0) {
      if (g_state.closing) break;
      // Someone else asked the thread to end: close the dialog as cancelled and
      // leave the request for the loop outside.
      haveForeignQuit = true;
      foreignQuit = static_cast<int>(msg.wParam);
      if (IsWindow(dialog)) SendMessageA(dialog, WM_CLOSE, 0, 0);
      if (!g_state.closing) break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (haveForeignQuit) PostQuitMessage(foreignQuit);
}

void onInitDialog(HWND dialog, CwxReaderScan* scan) {
  g_state.result = IDCANCEL;
  g_state.scan = scan;
  g_state.closing = false;
  g_state.selection = nullptr;
  g_state.current = nullptr;
  g_state.rows.clear();
  InitCommonControls();
  g_state.list = GetDlgItem(dialog, readerdialog::kList);
  OleInitialize(nullptr);

  SendMessageA(g_state.list, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
  SendMessageA(g_state.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  SendMessageA(dialog, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(applicationInstance(), MAKEINTRESOURCEA(readerdialog::kIcon))));

  g_state.current = scan ? scan->getChoice() : nullptr;
  if (g_state.current && g_state.current->getReaderName()[0] != '\0')
    SetDlgItemTextA(dialog, readerdialog::kCurrentReader, g_state.current->getReaderName());

  insertColumn(g_state.list, 0, readerdialog::kColumnReaders, 277);
  insertColumn(g_state.list, 1, readerdialog::kColumnType, 64);
  insertColumn(g_state.list, 2, readerdialog::kColumnPort, 32);
  if (scan) fillRows(g_state.list, scan);

  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  runLoop(dialog);
}

void onItemChanged(HWND dialog, const NMLISTVIEW& change) {
  if (change.uOldState == 0 && change.uNewState == 0) return;
  HWND list = change.hdr.hwndFrom;
  const int item = change.iItem;
  if (!isChecked(list, item)) {
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    bool any = false;
    for (int i = 0; i < count && !any; ++i) any = isChecked(list, i);
    if (!any) EnableWindow(GetDlgItem(dialog, readerdialog::kApply), FALSE);
    return;
  }
  if (item >= 0 && static_cast<size_t>(item) < g_state.rows.size()) g_state.selection = g_state.rows[item].get();
  EnableWindow(GetDlgItem(dialog, readerdialog::kApply), TRUE);
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i)
    if (i != item) setChecked(list, i, false);
}

void onClose(HWND dialog) {
  g_state.selection = nullptr;
  g_state.current = nullptr;
  g_state.rows.clear();
  // One quit message per dialog: it ends the dialog's own loop and nothing else.
  if (!g_state.closing) {
    g_state.closing = true;
    PostQuitMessage(0);
  }
  EndDialog(dialog, g_state.result);
}

}  // namespace

ReaderSelectionClaim::ReaderSelectionClaim() {
  bool expected = false;
  m_held = g_open.compare_exchange_strong(expected, true);
}

ReaderSelectionClaim::~ReaderSelectionClaim() {
  if (m_held) g_open.store(false);
}

int runReaderDialog(CwxReaderScan* scan) {
  ReaderSelectionClaim claim;
  if (!claim.held()) return IDCANCEL;
  return runReaderDialogClaimed(scan);
}

int runReaderDialogClaimed(CwxReaderScan* scan) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LISTVIEW_CLASSES;
  InitCommonControlsEx(&controls);
  const INT_PTR result = DialogBoxParamA(applicationInstance(), MAKEINTRESOURCEA(readerdialog::kDialog), nullptr,
                                         readerDialogProc, reinterpret_cast<LPARAM>(scan));
  g_state.rows.clear();
  g_state.selection = g_state.current = nullptr;
  g_state.scan = nullptr;
  return static_cast<int>(result);
}

INT_PTR CALLBACK readerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      onInitDialog(dialog, reinterpret_cast<CwxReaderScan*>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header && header->idFrom == static_cast<UINT_PTR>(readerdialog::kList) && header->code == LVN_ITEMCHANGED)
        onItemChanged(dialog, *reinterpret_cast<const NMLISTVIEW*>(lParam));
      return 0;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case readerdialog::kApply:
          if (g_state.selection) {
            SetDlgItemTextA(dialog, readerdialog::kCurrentReader, g_state.selection->getReaderName());
            g_state.current = g_state.selection;
            EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
          }
          break;
        case IDOK:
          g_state.result = IDOK;
          if (g_state.scan && g_state.current) g_state.scan->setChoice(*g_state.current);
          SendMessageA(dialog, WM_CLOSE, 0, 0);
          break;
        case IDCANCEL:
          g_state.result = IDCANCEL;
          SendMessageA(dialog, WM_CLOSE, 0, 0);
          break;
        default:
          break;
      }
      return TRUE;
    case WM_CLOSE:
      onClose(dialog);
      return TRUE;
    default:
      return 0;
  }
}
