// Kernel services: errors, threads and synchronisation, files and paths, modules, text.
#pragma once

#include "windef.h"
#include "winerror.h"

#if __has_include("platform/win_threads.h")
#include "platform/win_threads.h"
#endif
#if __has_include("platform/win_time.h")
#include "platform/win_time.h"
#endif
#if __has_include("platform/win_files.h")
#include "platform/win_files.h"
#endif
#if __has_include("platform/win_modules.h")
#include "platform/win_modules.h"
#endif
#if __has_include("platform/win_scard_beep.h")
#include "platform/win_scard_beep.h"
#endif
#if __has_include("platform/win_system.h")
#include "platform/win_system.h"
#endif
#if __has_include("platform/win_process.h")
#include "platform/win_process.h"
#endif
#if __has_include("platform/win_security.h")
#include "platform/win_security.h"
#endif
#if __has_include("platform/win_text.h")
#include "platform/win_text.h"
#endif
// The Windows C runtime's formatting (_snprintf, sprintf_s, _scprintf, ...), which that
// runtime declares in <stdio.h>.
#if __has_include("platform/format.h")
#include "platform/format.h"
#endif
