// The shell's extension interfaces: a context-menu handler is initialised with the
// selection (IShellExtInit) and then asked for its items, their help texts and verbs,
// and to carry out the chosen one (IContextMenu). The selected files travel as an
// HDROP (a DROPFILES block in global memory, see shellapi.h).
#pragma once

#include "ole2.h"
#include "shellapi.h"
#include "windows.h"

// Item identifier lists are never looked at here: a folder is passed as NULL.
typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

// QueryContextMenu flags.
#define CMF_NORMAL 0x00000000
#define CMF_DEFAULTONLY 0x00000001
#define CMF_VERBSONLY 0x00000002
#define CMF_EXPLORE 0x00000004
#define CMF_NOVERBS 0x00000008
#define CMF_CANRENAME 0x00000010
#define CMF_EXTENDEDVERBS 0x00000100

// GetCommandString flags.
#define GCS_VERBA 0x00000000
#define GCS_HELPTEXTA 0x00000001
#define GCS_VALIDATEA 0x00000002
#define GCS_UNICODE 0x00000004
#define GCS_VERBW 0x00000004
#define GCS_HELPTEXTW 0x00000005
#define GCS_VALIDATEW 0x00000006
#define GCS_VERBICONW 0x00000014

typedef struct _CMINVOKECOMMANDINFO {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  LPCSTR lpVerb;  // a command offset in its low word (high word 0), or a verb text
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  DWORD dwHotKey;
  HANDLE hIcon;
} CMINVOKECOMMANDINFO, *LPCMINVOKECOMMANDINFO;
typedef const CMINVOKECOMMANDINFO* PCCMINVOKECOMMANDINFO;

#ifdef __cplusplus
struct IShellExtInit : public IUnknown {
  STDMETHOD(Initialize)(LPCITEMIDLIST pidlFolder, IDataObject* pdtobj, HKEY hkeyProgID) PURE;

 protected:
  ~IShellExtInit() = default;
};
typedef IShellExtInit* LPSHELLEXTINIT;

struct IContextMenu : public IUnknown {
  STDMETHOD(QueryContextMenu)(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) PURE;
  STDMETHOD(InvokeCommand)(CMINVOKECOMMANDINFO* pici) PURE;
  // pszName is a CHAR or, with GCS_UNICODE, a WCHAR buffer of cchMax characters.
  STDMETHOD(GetCommandString)(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) PURE;

 protected:
  ~IContextMenu() = default;
};
typedef IContextMenu* LPCONTEXTMENU;

extern "C" const IID IID_IShellExtInit;  // {000214E8-0000-0000-C000-000000000046}
extern "C" const IID IID_IContextMenu;   // {000214E4-0000-0000-C000-000000000046}
#endif
