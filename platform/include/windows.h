// The Windows API surface that the system's code calls, implemented by the
// platform layer over Linux services.
#pragma once

#include "windef.h"
#include "winerror.h"

#if __has_include("winbase.h")
#include "winbase.h"
#endif
#if __has_include("winreg.h")
#include "winreg.h"
#endif
#if __has_include("winuser.h")
#include "winuser.h"
#endif
#if __has_include("wingdi.h")
#include "wingdi.h"
#endif

// Messages and styles the reader selection dialog uses, where the window headers
// do not have them yet.
#ifndef WM_SETICON
#define WM_SETICON 0x0080
#endif
#ifndef ICON_SMALL
#define ICON_SMALL 0
#endif
#ifndef ICON_BIG
#define ICON_BIG 1
#endif
#ifndef SC_CLOSE
#define SC_CLOSE 0xF060
#endif
#ifndef SS_CENTER
#define SS_CENTER 0x00000001L
#endif
#if __has_include("platform/win_shell.h")
#include "platform/win_shell.h"
#endif
