// Shell services of the Windows API that the window layer provides: the notification
// area ("tray") icon. The icons are kept per process; tests read them and inject the
// icon's callback message through platform/window_test.h.
#pragma once

#include "windef.h"
#include "winuser.h"

#if __has_include("platform/win_shell.h")
#include "platform/win_shell.h"
#endif

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

// The record in its first form: what the system's code fills (cbSize = its sizeof).
typedef struct _NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[64];
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;
#define NOTIFYICONDATAA_V1_SIZE sizeof(NOTIFYICONDATAA)

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI Shell_NotifyIconA(DWORD dwMessage, PNOTIFYICONDATAA lpData);

// The program that opens a document: the file must exist (lpDirectory, when given, is
// the folder of a relative name); its extension names a class (HKCR\<.ext>, default
// value), whose command (HKCR\<class>\shell\open\command, default value) starts with
// the program, quoted or up to the first blank. The program's path goes into lpResult
// (MAX_PATH characters) and the result is a value above 32; else lpResult is emptied and
// the result is SE_ERR_FNF (no such document) or SE_ERR_NOASSOC (no program for it).
HINSTANCE WINAPI FindExecutableA(LPCSTR lpFile, LPCSTR lpDirectory, LPSTR lpResult);

// Files dropped or selected in the shell: an HDROP is global memory (GlobalAlloc)
// holding a DROPFILES header and, at pFiles bytes from its start, the NUL-terminated
// names (UTF-16 when fWide, else ANSI) followed by one more NUL.
QUARVEL_DECLARE_HANDLE(HDROP);
typedef struct _DROPFILES {
  DWORD pFiles;
  POINT pt;
  BOOL fNC;
  BOOL fWide;
} DROPFILES, *LPDROPFILES;

// iFile 0xFFFFFFFF: the number of files. Otherwise name iFile (converted when the list
// has the other width; to ANSI a character without a mapping becomes '?') into
// lpszFile, at most cch - 1 characters and a NUL, and the number of characters copied;
// with lpszFile NULL the length the name needs without its NUL. 0 for a missing file,
// a list that is not terminated within its memory, or an invalid handle.
UINT WINAPI DragQueryFileA(HDROP hDrop, UINT iFile, LPSTR lpszFile, UINT cch);
UINT WINAPI DragQueryFileW(HDROP hDrop, UINT iFile, LPWSTR lpszFile, UINT cch);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define NOTIFYICONDATA NOTIFYICONDATAA
#define Shell_NotifyIcon Shell_NotifyIconA
#define DragQueryFile DragQueryFileA
#else
#define DragQueryFile DragQueryFileW
#endif
