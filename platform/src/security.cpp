// Access tokens, as far as privileges go: which privileges the process holds comes
// from the machine's configuration (see win_security.h); which of them are enabled is
// this process's state, changed by AdjustTokenPrivileges.
#include "security.h"

#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/handles.h"
#include "platform/registry_test.h"
#include "windows.h"

namespace {

struct Privilege {
  const char* name;
  DWORD luid;
};

// The privileges' locally unique identifiers, as the local system numbers them.
constexpr Privilege kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},        {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},         {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},     {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},           {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},        {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},        {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},   {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},           {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},             {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22}, {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},    {"SeUndockPrivilege", 25},
};
constexpr DWORD kChangeNotify = 23;

bool luidOf(const char* name, DWORD& luid) {
  for (const Privilege& p : kPrivileges) {
    if (strcasecmp(p.name, name) == 0) {
      luid = p.luid;
      return true;
    }
  }
  return false;
}

// The privileges the user holds, read at every call (tests change the variable).
std::set<DWORD> heldPrivileges() {
  std::set<DWORD> held;
  const char* configured = std::getenv("QUARVEL_PRIVILEGES");
  if (configured == nullptr) {
    held.insert(kChangeNotify);
    if (!platform::registry::isStandardUser()) held.insert({17, 18});
    return held;
  }
  std::string list(configured);
  size_t from = 0;
  while (from <= list.size()) {
    size_t end = list.find(',', from);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(from, end - from);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    DWORD luid = 0;
    if (!name.empty() && luidOf(name.c_str(), luid)) held.insert(luid);
    from = end + 1;
  }
  return held;
}

std::mutex g_lock;
std::set<DWORD>& enabledPrivileges() {
  static auto* enabled = new std::set<DWORD>{kChangeNotify};  // enabled by default, as on Windows
  return *enabled;
}

class Token : public platform::KernelObject {
 public:
  explicit Token(DWORD access) : access(access) {}
  const DWORD access;
};

constexpr DWORD kTokenRights = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY |
                               TOKEN_QUERY_SOURCE | TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_GROUPS |
                               TOKEN_ADJUST_DEFAULT;

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

namespace platform {

bool privilegeEnabled(const char* name) {
  DWORD luid = 0;
  if (!luidOf(name, luid)) return false;
  const std::set<DWORD> held = heldPrivileges();
  std::lock_guard<std::mutex> lock(g_lock);
  return held.count(luid) && enabledPrivileges().count(luid);
}

}  // namespace platform

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (!TokenHandle) return fail(ERROR_INVALID_PARAMETER);
  *TokenHandle = nullptr;
  if (ProcessHandle != GetCurrentProcess()) return fail(ERROR_INVALID_HANDLE);
  if (DesiredAccess & ~kTokenRights) return fail(ERROR_ACCESS_DENIED);
  HANDLE handle = platform::insertHandle(std::make_shared<Token>(DesiredAccess));
  if (!handle) return FALSE;
  *TokenHandle = handle;
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (!lpName || !lpLuid) return fail(ERROR_INVALID_PARAMETER);
  if (lpSystemName && *lpSystemName) return fail(ERROR_NOT_SUPPORTED);  // no remote systems
  DWORD luid = 0;
  if (!luidOf(lpName, luid)) return fail(ERROR_NO_SUCH_PRIVILEGE);
  lpLuid->LowPart = luid;
  lpLuid->HighPart = 0;
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  auto token = platform::objectOf<Token>(TokenHandle);
  if (!token) return FALSE;
  if (!(token->access & TOKEN_ADJUST_PRIVILEGES)) return fail(ERROR_ACCESS_DENIED);
  if (!DisableAllPrivileges && !NewState) return fail(ERROR_INVALID_PARAMETER);
  const std::set<DWORD> held = heldPrivileges();
  std::lock_guard<std::mutex> lock(g_lock);
  std::set<DWORD>& enabled = enabledPrivileges();
  const DWORD count = DisableAllPrivileges ? static_cast<DWORD>(enabled.size()) : NewState->PrivilegeCount;
  if (PreviousState) {
    const DWORD needed = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                                            std::max<DWORD>(count, 1) * sizeof(LUID_AND_ATTRIBUTES));
    if (ReturnLength) *ReturnLength = needed;
    if (BufferLength < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    PreviousState->PrivilegeCount = 0;
  }
  auto remember = [&](DWORD luid) {
    if (!PreviousState) return;
    LUID_AND_ATTRIBUTES& entry = PreviousState->Privileges[PreviousState->PrivilegeCount++];
    entry.Luid = {luid, 0};
    entry.Attributes = enabled.count(luid) ? SE_PRIVILEGE_ENABLED : 0;
  };
  if (DisableAllPrivileges) {
    for (DWORD luid : enabled) remember(luid);
    enabled.clear();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  bool allAssigned = true;
  for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = NewState->Privileges[i];
    const DWORD luid = entry.Luid.LowPart;
    if (entry.Luid.HighPart != 0 || !held.count(luid)) {
      allAssigned = false;
      continue;
    }
    const bool wasEnabled = enabled.count(luid) != 0;
    const bool enable = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (wasEnabled != enable) remember(luid);
    if (enable)
      enabled.insert(luid);
    else
      enabled.erase(luid);
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

}  // extern "C"
