// Sepwick.dll: mounts another user's registry hive file as HKEY_USERS\temp_user_hive so
// that an installer can write that user's settings, and unmounts it again.
#include <windows.h>

namespace {

const char kSubKey[] = "temp_user_hive";
const DWORD kPathSize = 1024;

// Closes the token however enablePrivilege leaves.
class TokenHandle {
 public:
  TokenHandle() = default;
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;
  ~TokenHandle() {
    if (handle) CloseHandle(handle);
  }
  // Closes now; false when the close failed.
  bool close() {
    HANDLE h = handle;
    handle = nullptr;
    return CloseHandle(h) != FALSE;
  }
  HANDLE handle = nullptr;
};

// Enables (or disables) a privilege of this process's token. 1 also when the account
// does not hold it: the registry call that needs it decides.
int enablePrivilege(const char* name, bool enable) {
  TokenHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token.handle)) return 0;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) return 0;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!AdjustTokenPrivileges(token.handle, FALSE, &privileges, 0, nullptr, nullptr)) return 0;
  return token.close() ? 1 : 0;
}

// The path with its environment variables expanded; false when the expansion fails or
// does not fit, so that a cut path is never used.
bool expandPath(const char* path, char (&expanded)[kPathSize]) {
  if (path == nullptr) return false;
  const DWORD needed = ExpandEnvironmentStringsA(path, expanded, kPathSize);
  return needed != 0 && needed <= kPathSize;
}

}  // namespace

extern "C" int WINAPI LoadHiveForUser(const char* path) {
  char expanded[kPathSize];
  if (!expandPath(path, expanded)) return 0;
  if (!enablePrivilege(SE_RESTORE_NAME, true)) return 0;
  return RegLoadKeyA(HKEY_USERS, kSubKey, expanded) == ERROR_SUCCESS ? 1 : 0;
}

// Unloads what LoadHiveForUser mounted. The path is checked as LoadHiveForUser checks
// it but not loaded again: a second load of the mounted name could only fail.
extern "C" int WINAPI UnLoadHiveForUser(const char* path) {
  char expanded[kPathSize];
  if (!expandPath(path, expanded)) return 0;
  if (!enablePrivilege(SE_RESTORE_NAME, true)) return 0;
  return RegUnLoadKeyA(HKEY_USERS, kSubKey) == ERROR_SUCCESS ? 1 : 0;
}
