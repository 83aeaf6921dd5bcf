#include "registry_handles.h"

#include <map>
#include <mutex>

#include "platform/machine.h"
#include "registry_mounts.h"
#include "winreg.h"

namespace platform::registry {

namespace {

std::mutex g_mutex;
std::map<uint32_t, OpenKey> g_handles;
uint32_t g_next = 1;

// Predefined roots are recognised by their low 32 bits, so a handle that went
// through a DWORD and lost its sign extension still works.
bool predefinedRoot(HKEY handle, Root& root) {
  const uint64_t value = reinterpret_cast<uintptr_t>(handle);
  const uint32_t high = static_cast<uint32_t>(value >> 32);
  if (high != 0 && high != 0xFFFFFFFFu) return false;
  switch (static_cast<uint32_t>(value)) {
    case 0x80000000u: root = Root::ClassesRoot; return true;
    case 0x80000001u: root = Root::CurrentUser; return true;
    case 0x80000002u: root = Root::LocalMachine; return true;
    case 0x80000003u: root = Root::Users; return true;
    default: return false;
  }
}

}  // namespace

std::string hiveFileOf(Root root) {
  const std::string dir = machineRoot() + "/registry/";
  switch (root) {
    case Root::CurrentUser: return dir + "HKCU.hive";
    case Root::Users: return dir + "HKU.hive";
    case Root::ClassesRoot:
    case Root::LocalMachine: break;
  }
  return dir + "HKLM.hive";
}

HiveLocation locate(const KeyPath& path) {
  HiveLocation location;
  Mount mount;
  if (!path.parts.empty() && findMount(path.root, path.parts[0], mount)) {
    // The mount point is the loaded hive's root key.
    location.file = mount.file;
    location.mount = mountId(mount);
    location.shared = true;
    location.parts.assign(path.parts.begin() + 1, path.parts.end());
    return location;
  }
  location.file = hiveFileOf(path.root);
  location.shared = path.root != Root::CurrentUser;
  if (path.root == Root::ClassesRoot) location.parts = {"Software", "Classes"};
  location.rootDepth = location.parts.size();
  location.parts.insert(location.parts.end(), path.parts.begin(), path.parts.end());
  return location;
}

bool lookupHandle(HKEY handle, OpenKey& key) {
  Root root;
  if (predefinedRoot(handle, root)) {
    key = OpenKey{KeyPath{root, {}}, KEY_ALL_ACCESS, true, {}};
    return true;
  }
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > 0x7FFFFFFFu) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_handles.find(static_cast<uint32_t>(value));
  if (it == g_handles.end()) return false;
  key = it->second;
  return true;
}

HKEY addHandle(OpenKey key) {
  std::lock_guard<std::mutex> lock(g_mutex);
  // Numbers are not reused until the counter wraps, so a stale handle stays invalid.
  while (g_handles.count(g_next)) g_next = g_next >= 0x7FFFFFFFu ? 1 : g_next + 1;
  const uint32_t id = g_next;
  g_next = g_next >= 0x7FFFFFFFu ? 1 : g_next + 1;
  key.predefined = false;
  g_handles.emplace(id, std::move(key));
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(id));
}

bool removeHandle(HKEY handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > 0x7FFFFFFFu) return false;
  std::string record;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_handles.find(static_cast<uint32_t>(value));
    if (it == g_handles.end()) return false;
    record = std::move(it->second.mountRecord);
    g_handles.erase(it);
  }
  dropMountHandle(record);
  return true;
}

size_t handleCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_handles.size();
}

}  // namespace platform::registry
