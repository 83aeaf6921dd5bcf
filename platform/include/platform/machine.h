// The emulated machine: one directory (the machine root) holds the registry hives,
// the drive folders, the system directory and the per-user runtime folder.
#pragma once

#include <string>

namespace platform {

// Environment variable naming the machine root. Each test process sets its own.
constexpr const char* kMachineRootVariable = "QUARVEL_MACHINE_ROOT";

// The machine root, created when missing: $QUARVEL_MACHINE_ROOT, else ~/.quarvel/machine.
std::string machineRoot();

// Maps a Windows path to this host: '\' becomes '/', a drive path "X:\..." (or
// "X:...", relative to the drive) lies under <machine root>/x/..., a rooted path
// "\..." under drive C, a share "\\server\share\..." under <machine root>/unc/
// server/share/...; "." and ".." are resolved as Windows does, never above the
// drive's or the share's root. "\\?\" and "\\.\" before a drive path (or "\\?\UNC\"
// before a share) name the same file; other device paths give "" (no file).
// An absolute POSIX path and a relative path keep their place. NULL gives "".
std::string mapPath(const char* path);

// The per-user runtime folder of the machine (named objects, window registry), created when missing.
std::string runtimeDirectory();

// Creates a directory and its missing parents; true when it exists afterwards.
bool makeDirectories(const std::string& path);

}  // namespace platform
