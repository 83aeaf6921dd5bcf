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
#include "winver.h"

// The shell functions, as the system's own windows.h brings them.
#if __has_include("shellapi.h")
#include "shellapi.h"
#endif
