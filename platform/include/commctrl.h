// Common controls: the list view and the progress bar, as the system's dialogs use them.
#pragma once

#include "windef.h"
#include "winuser.h"

#define WC_LISTVIEWA "SysListView32"
#define WC_LISTVIEW WC_LISTVIEWA
#define PROGRESS_CLASSA "msctls_progress32"
#define PROGRESS_CLASS PROGRESS_CLASSA

typedef struct tagINITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;
#define ICC_LISTVIEW_CLASSES 0x00000001
#define ICC_PROGRESS_CLASS 0x00000020
#define ICC_WIN95_CLASSES 0x000000FF

#define CLR_NONE 0xFFFFFFFFL
#define CLR_DEFAULT 0xFF000000L

// List view styles.
#define LVS_ICON 0x0000
#define LVS_REPORT 0x0001
#define LVS_SINGLESEL 0x0004
#define LVS_SHOWSELALWAYS 0x0008
#define LVS_EDITLABELS 0x0200
#define LVS_EX_GRIDLINES 0x00000001
#define LVS_EX_CHECKBOXES 0x00000004
#define LVS_EX_FULLROWSELECT 0x00000020

// List view messages.
#define LVM_FIRST 0x1000
#define LVM_SETBKCOLOR (LVM_FIRST + 1)
#define LVM_GETITEMCOUNT (LVM_FIRST + 4)
#define LVM_GETITEMA (LVM_FIRST + 5)
#define LVM_SETITEMA (LVM_FIRST + 6)
#define LVM_INSERTITEMA (LVM_FIRST + 7)
#define LVM_DELETEITEM (LVM_FIRST + 8)
#define LVM_DELETEALLITEMS (LVM_FIRST + 9)
#define LVM_GETNEXTITEM (LVM_FIRST + 12)
#define LVM_SETCOLUMNWIDTH (LVM_FIRST + 30)
#define LVM_GETCOLUMNWIDTH (LVM_FIRST + 29)
#define LVM_INSERTCOLUMNA (LVM_FIRST + 27)
#define LVM_SETTEXTCOLOR (LVM_FIRST + 36)
#define LVM_SETTEXTBKCOLOR (LVM_FIRST + 38)
#define LVM_SETITEMSTATE (LVM_FIRST + 43)
#define LVM_GETITEMSTATE (LVM_FIRST + 44)
#define LVM_GETITEMTEXTA (LVM_FIRST + 45)
#define LVM_SETITEMTEXTA (LVM_FIRST + 46)
#define LVM_GETSELECTEDCOUNT (LVM_FIRST + 50)
#define LVM_SETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 54)
#define LVM_GETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 55)
#ifndef UNICODE
#define LVM_GETITEM LVM_GETITEMA
#define LVM_SETITEM LVM_SETITEMA
#define LVM_INSERTITEM LVM_INSERTITEMA
#define LVM_INSERTCOLUMN LVM_INSERTCOLUMNA
#define LVM_GETITEMTEXT LVM_GETITEMTEXTA
#define LVM_SETITEMTEXT LVM_SETITEMTEXTA
#endif

#define LVIF_TEXT 0x0001
#define LVIF_IMAGE 0x0002
#define LVIF_PARAM 0x0004
#define LVIF_STATE 0x0008
#define LVIS_FOCUSED 0x0001
#define LVIS_SELECTED 0x0002
#define LVIS_STATEIMAGEMASK 0xF000
#define INDEXTOSTATEIMAGEMASK(i) ((i) << 12)
#define LVNI_ALL 0x0000
#define LVNI_SELECTED 0x0002
#define LVCF_FMT 0x0001
#define LVCF_WIDTH 0x0002
#define LVCF_TEXT 0x0004
#define LVCF_SUBITEM 0x0008
#define LVCFMT_LEFT 0x0000

#define LVN_FIRST (0U - 100U)
#define LVN_ITEMCHANGED (LVN_FIRST - 1)
#define NM_FIRST (0U - 0U)
#define NM_CLICK (NM_FIRST - 2)
#define NM_DBLCLK (NM_FIRST - 3)

typedef struct tagLVITEMA {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  LPSTR pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
  int iIndent;
} LVITEMA, *LPLVITEMA;

typedef struct tagLVCOLUMNA {
  UINT mask;
  int fmt;
  int cx;
  LPSTR pszText;
  int cchTextMax;
  int iSubItem;
} LVCOLUMNA, *LPLVCOLUMNA;

typedef struct tagNMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
} NMLISTVIEW, *LPNMLISTVIEW;

#ifndef UNICODE
#define LVITEM LVITEMA
#define LVCOLUMN LVCOLUMNA
#endif

// A property-sheet page; the window library finds its object in lParam.
typedef struct _PROPSHEETPAGEA {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  LPCSTR pszTemplate;
  HICON hIcon;
  LPCSTR pszTitle;
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  void* pfnCallback;
  UINT* pcRefParent;
} PROPSHEETPAGEA, *LPPROPSHEETPAGEA;

#define ListView_GetCheckState(hwnd, i) \
  ((((UINT)(SendMessageA((hwnd), LVM_GETITEMSTATE, (WPARAM)(i), LVIS_STATEIMAGEMASK))) >> 12) - 1)

// Progress bar.
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)  // wParam TRUE: the low limit, FALSE: the high one; lParam a PBRANGE or NULL
#define PBM_GETPOS (WM_USER + 8)

typedef struct {
  int iLow;
  int iHigh;
} PBRANGE, *PPBRANGE;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);
void WINAPI InitCommonControls(void);

#ifdef __cplusplus
}
#endif
