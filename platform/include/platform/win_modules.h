// Modules and resources of the Windows API (included by winbase.h).
//
// Modules are shared objects loaded with dlopen. A module handle is a small number
// from the layer's module table; the program is GetModuleHandleA(NULL). Paths are
// Windows paths (mapped through platform::mapPath) or host paths. A name without an
// extension gets ".dll", as on Windows; a trailing '.' means "no extension". A bare
// name is searched among the loaded modules, then in the program's directory, the
// directory of SetDllDirectoryA, the current directory (unless SetDllDirectoryA gave
// ""), then by the host's own library search. File names that differ only in case
// are found too. "kernel32.dll" and the other system modules stand for this layer:
// GetProcAddress on them finds the layer's exported functions.
//
// A module's resources come from its generated resource table (platform/resources.h).
// LOAD_LIBRARY_AS_DATAFILE loads the module for its resources only (GetProcAddress
// refuses it), though the host still runs the module's initialisers.
// Errors: ERROR_MOD_NOT_FOUND (missing module, stale handle), ERROR_PROC_NOT_FOUND
// (missing export or unresolved symbol), ERROR_BAD_EXE_FORMAT (not a loadable object),
// ERROR_RESOURCE_*_NOT_FOUND.
#pragma once

#include "windef.h"

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001u
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_IGNORE_CODE_AUTHZ_LEVEL 0x00000010u
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020u
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040u
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100u
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200u
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000u

// DllMain's reasons. The loader here does not call DllMain: a host that loads a module
// whose code needs it (an in-process server) calls the export itself, as the module's
// loader would, after loading and before freeing it.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

// Resource names and types: a number below 0x10000 carried in a pointer, or a text.
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#ifndef UNICODE
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#else
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#endif

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_FONTDIR MAKEINTRESOURCEA(7)
#define RT_FONT MAKEINTRESOURCEA(8)
#define RT_ACCELERATOR MAKEINTRESOURCEA(9)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEA(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEA(12)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define RT_VERSION MAKEINTRESOURCEA(16)
#define RT_MANIFEST MAKEINTRESOURCEA(24)

#ifdef __cplusplus
extern "C" {
#endif

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
// hFile must be NULL. LOAD_WITH_ALTERED_SEARCH_PATH is accepted: the host resolves a
// module's dependencies from the module's own run path anyway.
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
// The loader here sends a module no thread notifications: nothing to turn off.
BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
// The module's file as a host path. A short buffer receives nSize - 1 characters and
// the NUL; the result is then nSize with ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// As GetModuleFileNameA in UTF-16 units.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
// One extra directory for bare names; NULL restores the default order, "" also drops
// the current directory from it.
BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName);
DWORD WINAPI GetDllDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage);
HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
LPVOID WINAPI LockResource(HGLOBAL hResData);
BOOL WINAPI FreeResource(HGLOBAL hResData);

// The text of string resource uID as UTF-8: the number of bytes copied, at most
// cchBufferMax - 1 and never half a character, then a NUL; 0 when it is missing.
int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
// As LoadStringA in UTF-16 units; cchBufferMax 0 stores a read-only pointer to the
// (not terminated) text in *lpBuffer and returns its length.
int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define LoadLibrary LoadLibraryA
#define LoadLibraryEx LoadLibraryExA
#define GetModuleHandle GetModuleHandleA
#define GetModuleHandleEx GetModuleHandleExA
#define GetModuleFileName GetModuleFileNameA
#define SetDllDirectory SetDllDirectoryA
#define GetDllDirectory GetDllDirectoryA
#define FindResource FindResourceA
#define FindResourceEx FindResourceExA
#define LoadString LoadStringA
#else
#define GetModuleFileName GetModuleFileNameW
#define LoadString LoadStringW
#endif

#ifdef __cplusplus
namespace platform {

// The module that holds `address` (code or data), or NULL; a plugin finds its own
// instance handle with the address of one of its functions.
HMODULE moduleOf(const void* address);

}  // namespace platform
#endif
