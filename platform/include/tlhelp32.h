// Tool Help: a snapshot of the processes of the machine (read from /proc).
#pragma once

#include "windef.h"

#define TH32CS_SNAPHEAPLIST 0x00000001u
#define TH32CS_SNAPPROCESS 0x00000002u
#define TH32CS_SNAPTHREAD 0x00000004u
#define TH32CS_SNAPMODULE 0x00000008u

typedef struct tagPROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  CHAR szExeFile[MAX_PATH];  // the program file's name without its folder
} PROCESSENTRY32, *PPROCESSENTRY32, *LPPROCESSENTRY32;

#ifdef __cplusplus
extern "C" {
#endif

// Only TH32CS_SNAPPROCESS is supported (else ERROR_NOT_SUPPORTED); th32ProcessID is
// ignored. INVALID_HANDLE_VALUE on failure. The handle is closed with CloseHandle.
HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);
// The first / next process of the snapshot; FALSE with ERROR_NO_MORE_FILES at the end,
// or ERROR_BAD_LENGTH when lppe->dwSize is too small.
BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);

#ifdef __cplusplus
}
#endif
