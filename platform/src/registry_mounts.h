// Hive files loaded into the registry (RegLoadKeyA) and the machine-wide table of
// them.
//
// A loaded hive is a registry hive file of the registry's own format, mounted as a
// key directly below HKEY_USERS or HKEY_LOCAL_MACHINE. The mount table is a file of
// the machine root (registry/mounts), replaced atomically under an flock of
// registry/mounts.lock, so every process sees a load or an unload at its next call.
// While a process holds a key handle inside a loaded hive, a record file under
// registry/mounts.open/<mount>/ names the process (pid and start time, so that a
// dead process's records are recognised); an unload is refused while any live
// process holds one.
#pragma once

#include <string>
#include <vector>

#include "registry_handles.h"
#include "windef.h"

namespace platform::registry {

struct Mount {
  Root root = Root::Users;
  std::string name;  // the key below the root, as loaded
  std::string file;  // the hive file's canonical host path
};

// The mount of that name below the root (names compare case-insensitively).
bool findMount(Root root, const std::string& name, Mount& mount);
// The mounts below a root, for enumerating it.
std::vector<Mount> mountsBelow(Root root);
// The identity of a mount point (for HiveLocation::mount).
std::string mountId(const Mount& mount);

// RegLoadKeyA and RegUnLoadKeyA below a root, after the caller's privilege check.
LONG loadHive(Root root, const std::string& name, const std::string& file);
LONG unloadHive(Root root, const std::string& name);

// Records that this process holds a handle inside the mount that `location` names:
// the record's path, or "" with ERROR_KEY_DELETED when the hive was unloaded meanwhile.
LONG recordMountHandle(const HiveLocation& location, std::string& record);
void dropMountHandle(const std::string& record);

}  // namespace platform::registry
