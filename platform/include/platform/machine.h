// The emulated machine: one directory (the machine root) holds the registry hives,
// the drive folders, the system directory and the per-user runtime folder.
#pragma once

#include <string>

namespace platform {

// Environment variable naming the machine root. Each test process sets its own.
constexpr const char* kMachineRootVariable = "QUARVEL_MACHINE_ROOT";

// The machine root, created (mode 0700) when missing: $QUARVEL_MACHINE_ROOT, else
// ~/.quarvel/machine (HOME, else the account's home directory; never a shared folder).
// The root holds the user's hives and the desktop's channels, so it must be the user's
// alone: a root that belongs to another user, or that others may write to, or that lies
// where others could replace it, is refused; then every path in it fails (the result
// names no directory) and the reason is told on standard error. A root the user owns
// loses the access rights of others.
std::string machineRoot();

// Why the machine root (or its run directory) is refused; "" when it is used.
std::string machineRootRefusal();

// The process's current directory, a Windows path in the machine root: the host
// working directory mapped back ("C:\...", "\\server\share\...") when it lies in a
// drive folder or share of the root, else "C:\". A child started with a current
// directory (CreateProcessA) works in it, so it is the child's.
std::string currentDirectory();

// Maps a Windows path to this host: '\' becomes '/', a drive path "X:\..." lies under
// <machine root>/x/..., a share "\\server\share\..." under <machine root>/unc/
// server/share/...; a relative path ("a\b", "..\x"), a drive-relative one ("X:a",
// against the current directory on its drive, else the drive's root) and a rooted one
// ("\a", on the current directory's drive or share) are taken against the current
// directory. "." and ".." are resolved as Windows does, never above the drive's or the
// share's root. "\\?\" and "\\.\" before a drive path (or "\\?\UNC\" before a share)
// name the same file; other device paths give "" (no file). An absolute POSIX path
// keeps its place. NULL and "" give "".
std::string mapPath(const char* path);

// The per-user runtime folder of the machine (named objects, window registry), created
// (mode 0700) when missing; refused as the root is when it belongs to another user or
// others may write to it.
std::string runtimeDirectory();

// Creates a directory and its missing parents; true when it exists afterwards.
bool makeDirectories(const std::string& path);

}  // namespace platform
