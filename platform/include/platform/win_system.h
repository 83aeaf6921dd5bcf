// The system's version, and the window station and desktop of a process. The
// layer reports a fixed modern version (Windows NT 10.0). A process here has one
// window station and one desktop, "WinSta0" and "Default": opening them and
// attaching to them succeed, other names fail with ERROR_FILE_NOT_FOUND.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

// FALSE with ERROR_INVALID_PARAMETER unless dwOSVersionInfoSize is sizeof(OSVERSIONINFOA).
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
// The version in one value: major in the low byte, minor in the next, the build in the
// high word; the top bit is clear, as on every system of the NT family.
DWORD WINAPI GetVersion(void);

// A line for the debugger. There is none here: the text goes to the process's standard
// error and into the desktop's journal, where tests read it (window_test.h).
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);

QUARVEL_DECLARE_HANDLE(HWINSTA);
QUARVEL_DECLARE_HANDLE(HDESK);

#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000L
#endif

HWINSTA WINAPI OpenWindowStationA(LPCSTR lpszWinSta, BOOL fInherit, DWORD dwDesiredAccess);
BOOL WINAPI SetProcessWindowStation(HWINSTA hWinSta);
HDESK WINAPI OpenDesktopA(LPCSTR lpszDesktop, DWORD dwFlags, BOOL fInherit, DWORD dwDesiredAccess);
BOOL WINAPI SetThreadDesktop(HDESK hDesktop);

#ifdef __cplusplus
}
#endif

#define GetVersionEx GetVersionExA
#ifdef UNICODE
#define OutputDebugString OutputDebugStringW
#else
#define OutputDebugString OutputDebugStringA
#endif
#define OSVERSIONINFO OSVERSIONINFOA
#define OpenWindowStation OpenWindowStationA
#define OpenDesktop OpenDesktopA
