// The installation environment: the installation directory (readInstallDir) and
// icon files in it.
#pragma once

#include "foundation/archive/InstallDir.h"

#include <windows.h>

// The small icon of the first icon in <InstallDir>\<name>.ico (name without
// extension); NULL when there is none. The caller destroys it with DestroyIcon.
HICON loadIconFile(const char* name);
