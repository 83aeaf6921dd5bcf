// Privileges of the process's access token (advapi32), as far as a program enables one
// before a privileged call (RegLoadKeyA, RegUnLoadKeyA, RegSaveKeyA).
//
// Which privileges the token holds is the machine's configuration: the environment
// variable QUARVEL_PRIVILEGES lists them by name, separated by commas ("" for none);
// without it an administrator (the default user) holds SeBackupPrivilege and
// SeRestorePrivilege and a standard user (QUARVEL_STANDARD_USER=1) holds none. Held
// privileges start disabled; which are enabled is per process, as each process has a
// token of its own.
#pragma once

#include "windef.h"

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES, *PLUID_AND_ATTRIBUTES;

#define ANYSIZE_ARRAY 1
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001u
#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_PRIVILEGE_REMOVED 0x00000004u

#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define TOKEN_QUERY_SOURCE 0x0010u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define TOKEN_ADJUST_GROUPS 0x0040u
#define TOKEN_ADJUST_DEFAULT 0x0080u

#define SE_BACKUP_NAME "SeBackupPrivilege"
#define SE_RESTORE_NAME "SeRestorePrivilege"
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"
#define SE_DEBUG_NAME "SeDebugPrivilege"
#define SE_TAKE_OWNERSHIP_NAME "SeTakeOwnershipPrivilege"
#define SE_SECURITY_NAME "SeSecurityPrivilege"
#define SE_CHANGE_NOTIFY_NAME "SeChangeNotifyPrivilege"

#ifdef __cplusplus
extern "C" {
#endif

// Only the current process's token (GetCurrentProcess()); the handle is closed with
// CloseHandle. Access bits other than the TOKEN_ ones are refused (ERROR_ACCESS_DENIED).
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
// The local system only (lpSystemName NULL or ""); an unknown name fails with
// ERROR_NO_SUCH_PRIVILEGE.
BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
// Needs TOKEN_ADJUST_PRIVILEGES. Succeeds also when a privilege is not held: it stays
// disabled and GetLastError() is ERROR_NOT_ALL_ASSIGNED (ERROR_SUCCESS when all were).
// PreviousState receives the earlier state of the privileges named.
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define LookupPrivilegeValue LookupPrivilegeValueA
#endif
