// Where a key lives and which handle names it.
//
// A handle records the predefined root, the key's path below it and the access it
// was opened with, never a copy of the key, so each call sees the hive as it is now.
// Resolving a path to a hive file happens per call; that is where HKEY_CLASSES_ROOT
// maps into HKEY_LOCAL_MACHINE and where hives loaded under HKEY_USERS or
// HKEY_LOCAL_MACHINE take over their mount point's subtree.
#pragma once

#include <string>
#include <vector>

#include "windef.h"

namespace platform::registry {

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users };

struct KeyPath {
  Root root = Root::LocalMachine;
  std::vector<std::string> parts;  // key names below the root
};

// The hive file holding a key, and the key's path inside that hive.
struct HiveLocation {
  std::string file;
  std::vector<std::string> parts;
  size_t rootDepth = 0;    // leading parts that belong to the predefined root itself
  // HKEY_LOCAL_MACHINE and the hives under HKEY_USERS belong to the machine and to
  // other users: read-only for a standard user, whose own hive is HKEY_CURRENT_USER.
  bool shared = false;
  // For a hive loaded under HKEY_USERS or HKEY_LOCAL_MACHINE: the mount point's
  // identity (see registry_mounts.h). Empty for the machine's own hives.
  std::string mount;
};

HiveLocation locate(const KeyPath& path);
std::string hiveFileOf(Root root);

struct OpenKey {
  KeyPath path;
  DWORD access = 0;
  bool predefined = false;
  // The record that this process holds a key inside a loaded hive; removed with the handle.
  std::string mountRecord;
};

// Looks up a predefined root or an open handle; false for anything else.
bool lookupHandle(HKEY handle, OpenKey& key);
HKEY addHandle(OpenKey key);
// False when the handle was not open. Removes the handle's mount record.
bool removeHandle(HKEY handle);
size_t handleCount();

}  // namespace platform::registry
