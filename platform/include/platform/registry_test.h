// Registry controls for tests and tools.
#pragma once

#include <cstddef>
#include <string>

#include "windef.h"

namespace platform::registry {

// When this environment variable is "1" (or "true"/"yes"), HKEY_LOCAL_MACHINE is
// read-only, as for a standard user on Windows. It is read at every call.
constexpr const char* kStandardUserVariable = "QUARVEL_STANDARD_USER";

// Sets or clears the variable; processes started afterwards inherit the setting.
// It changes the process environment, so call it while no other thread runs.
void setStandardUser(bool on);
bool isStandardUser();

// The hive file that holds a predefined root's keys (HKEY_CLASSES_ROOT shares
// HKEY_LOCAL_MACHINE's); "" for a handle that is not a supported root.
std::string hiveFilePath(HKEY root);

// Key handles of this process that are open now.
size_t openKeyHandleCount();

}  // namespace platform::registry
