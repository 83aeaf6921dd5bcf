// Files, directories, paths and environment strings of the Windows API, and the
// C runtime's file calls that take Windows paths (included by winbase.h).
//
// Every path goes through platform::mapPath: "C:\WINDOWS\system32" is the folder
// <machine root>/c/WINDOWS/system32. The machine's Windows folders use the usual
// names: C:\WINDOWS, C:\WINDOWS\system32, C:\Program Files, C:\ProgramData and the
// profile C:\Users\<user name> with AppData\Roaming, AppData\Local and AppData\Local\Temp.
// The functions that name a folder create it when it is missing.
//
// C runtime: code written as on Windows calls `struct _stat st; _stat(path, &st)`,
// `_access(path, 0)`, `fopen_s(&f, path, "rb")` or `_fsopen(path, "rb", _SH_DENYNO)`
// with Windows paths; plain fopen is the host's and takes host paths, so the system's
// code opens files with fopen_s or _fsopen (this layer's own code may call
// platform::openFile). Mode letter "N" (not inherited) is honoured as close-on-exec.
#pragma once

#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "windef.h"

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u

#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Both return the length without the terminator, or the size needed (with it) when
// the buffer is too small, as on Windows.
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);

// The user's temporary folder with a trailing backslash: %TMP% or %TEMP% when one
// holds a drive path, else C:\Users\<user>\AppData\Local\Temp\. Same return values.
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

// Replaces each %NAME% by the variable's value; names compare case-insensitively,
// as on Windows. A variable missing from the process environment takes its Windows
// default (SystemDrive, SystemRoot, windir, ProgramFiles, ProgramData, ALLUSERSPROFILE,
// USERPROFILE, HOMEDRIVE, HOMEPATH, APPDATA, LOCALAPPDATA, TEMP, TMP, USERNAME);
// an unknown one stays as written. Returns the size of the result including the
// terminator; when that exceeds nSize the buffer receives as much as fits, terminated.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);

// The process environment with the same Windows defaults. Returns the length
// without the terminator, the size needed when the buffer is too small, or 0 with
// ERROR_ENVVAR_NOT_FOUND.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
// A NULL value removes the variable from the process environment.
BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);

// Makes "<path>\<first three characters of prefix><hex>.tmp". With uUnique 0 it
// picks a number whose file does not exist yet, creates the file empty and
// returns the number; otherwise it only forms the name with uUnique. The buffer
// must hold MAX_PATH characters. 0 on failure.
UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

// Local memory: fixed blocks only (the handle is the pointer); LPTR zero-fills.
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
typedef HANDLE HLOCAL;
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
// NULL on success, the block itself on failure, as on Windows.
HLOCAL WINAPI LocalFree(HLOCAL hMem);

// Global memory, the currency of clipboard and shell data. A fixed block's handle is
// its address; a moveable block's handle is a number of the layer's, and GlobalLock
// gives its address (counting locks; that address also stands for the handle, as
// code that passes a locked HDROP on expects). Every call checks the handle: a freed or unknown
// one fails with ERROR_INVALID_HANDLE (GlobalLock NULL, GlobalSize 0, GlobalFree gives
// the handle back). GlobalFree frees a block whatever its lock count.
#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID WINAPI GlobalLock(HGLOBAL hMem);
// TRUE while the block is still locked; FALSE with NO_ERROR when the last lock went.
BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
SIZE_T WINAPI GlobalSize(HGLOBAL hMem);
// Resizes a block (bytes beyond the old size zeroed with GMEM_ZEROINIT) and answers its
// handle, NULL on failure with the block unchanged. An unlocked moveable block may move;
// a fixed or locked one only with GMEM_MOVEABLE (a fixed block's handle, its address,
// then changes), else it fails to grow with ERROR_NOT_ENOUGH_MEMORY.
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags);
// NULL on success, the handle on failure.
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define GetSystemDirectory GetSystemDirectoryA
#define GetWindowsDirectory GetWindowsDirectoryA
#define GetTempPath GetTempPathA
#define ExpandEnvironmentStrings ExpandEnvironmentStringsA
#define GetEnvironmentVariable GetEnvironmentVariableA
#define SetEnvironmentVariable SetEnvironmentVariableA
#define GetFileAttributes GetFileAttributesA
#define CreateDirectory CreateDirectoryA
#define RemoveDirectory RemoveDirectoryA
#define DeleteFile DeleteFileA
#define GetTempFileName GetTempFileNameA
#endif

// ---- C runtime calls with Windows paths ----

#ifndef _S_IFMT
#define _S_IFMT S_IFMT
#define _S_IFDIR S_IFDIR
#define _S_IFREG S_IFREG
#define _S_IREAD S_IRUSR
#define _S_IWRITE S_IWUSR
#define _S_IEXEC S_IXUSR
#endif

// Share modes of _fsopen; the host has no share locks, so they are accepted and ignored.
#ifndef _SH_DENYRW
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40
#endif

#ifdef __cplusplus
typedef int errno_t;

// The host's record under the Windows name: st_mode, st_size, st_mtime and the rest
// read as on Windows, and the _S_IF* bits equal the host's.
struct _stat : public ::stat {};

extern "C" {
// 0, or -1 with errno set (ENOENT for a missing file).
int _stat(const char* path, struct _stat* buffer);
// Mode 0 tests existence, 2 writing, 4 reading, 6 both; 0 or -1 with errno.
int _access(const char* path, int mode);
// Opens with a Windows mode ("rb", "wt", "a+", "r, ccs=UTF-8"); 0 or an errno value.
errno_t fopen_s(FILE** file, const char* path, const char* mode);
FILE* _fsopen(const char* path, const char* mode, int shflag);
}

namespace platform {
// fopen for Windows paths and modes; NULL with errno set on failure.
FILE* openFile(const char* path, const char* mode);
}  // namespace platform
#endif
