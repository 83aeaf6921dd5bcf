// Version information of modules (included by windows.h): the RT_VERSION resource that
// a module's resource description declares with `version` (platform/resgen).
#pragma once

#include "windef.h"

#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VS_FF_DEBUG 0x00000001L
#define VFT_APP 0x00000001L
#define VFT_DLL 0x00000002L
#define VOS_NT_WINDOWS32 0x00040004L

typedef struct tagVS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

#ifdef __cplusplus
extern "C" {
#endif

// The size of the module file's version information, room for the texts that
// VerQueryValueA converts included; 0 with the error set when the file has none. A
// bare name finds a loaded module first. *lpdwHandle is set to 0.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
// Copies the version information into lpData (dwLen bytes, from
// GetFileVersionInfoSizeA); dwHandle is ignored.
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// "\\" gives the VS_FIXEDFILEINFO; "\\StringFileInfo\\<table>\\<name>" the text as UTF-8
// (*puLen: its bytes with the NUL); "\\VarFileInfo\\Translation" the pairs. Names
// compare without regard to case; the pointer points into pBlock.
BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define GetFileVersionInfoSize GetFileVersionInfoSizeA
#define GetFileVersionInfo GetFileVersionInfoA
#define VerQueryValue VerQueryValueA
#endif
