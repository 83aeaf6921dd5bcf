// Basic types of the Windows API as the system's code expects them, on an LP64 host.
#pragma once

#include <cstddef>
#include <cstdint>

typedef unsigned char BYTE;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef unsigned short WORD;
typedef WORD* LPWORD;
typedef uint32_t DWORD;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int INT;
typedef unsigned int UINT;
typedef UINT* PUINT;
typedef int BOOL;
typedef BOOL* LPBOOL;
typedef BYTE BOOLEAN;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef char16_t WCHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
// 64-bit numbers as stream offsets and sizes are given: whole or in two halves.
typedef union _LARGE_INTEGER {
  struct {
    uint32_t LowPart;
    int32_t HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
typedef union _ULARGE_INTEGER {
  struct {
    uint32_t LowPart;
    uint32_t HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;
typedef uint64_t DWORD64;
typedef int32_t HRESULT;

// Generic text: UTF-16 when UNICODE is defined, else the ANSI code page.
#ifdef UNICODE
typedef WCHAR TCHAR;
#define __TEXT(quote) u##quote
#else
typedef char TCHAR;
#define __TEXT(quote) quote
#endif
#define TEXT(quote) __TEXT(quote)
typedef TCHAR* LPTSTR;
typedef const TCHAR* LPCTSTR;

// Pointer-sized integers.
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef LONG_PTR SSIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

// Handles are small positive numbers in per-kind tables, carried as pointers.
#define QUARVEL_DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;
QUARVEL_DECLARE_HANDLE(HKEY);
typedef HKEY* PHKEY;
QUARVEL_DECLARE_HANDLE(HINSTANCE);
typedef HINSTANCE HMODULE;
QUARVEL_DECLARE_HANDLE(HWND);
QUARVEL_DECLARE_HANDLE(HMENU);
QUARVEL_DECLARE_HANDLE(HDC);
QUARVEL_DECLARE_HANDLE(HICON);
typedef HICON HCURSOR;
QUARVEL_DECLARE_HANDLE(HBITMAP);
QUARVEL_DECLARE_HANDLE(HBRUSH);
QUARVEL_DECLARE_HANDLE(HFONT);
QUARVEL_DECLARE_HANDLE(HPEN);
QUARVEL_DECLARE_HANDLE(HACCEL);
QUARVEL_DECLARE_HANDLE(HRSRC);
typedef void* HGDIOBJ;
typedef HANDLE HGLOBAL;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

// An exported function of unknown type; callers cast it to the real type. It
// returns void (not INT_PTR) because that form converts to any function pointer
// type without a cast-function-type warning.
typedef void (*FARPROC)();

#define WINAPI
#define CALLBACK
#define APIENTRY
#define WINAPIV
#define __stdcall
#define __cdecl
#define CONST const
#define IN
#define OUT
#define OPTIONAL

#define MAKEWORD(a, b) ((WORD)(((BYTE)((DWORD_PTR)(a) & 0xff)) | ((WORD)((BYTE)((DWORD_PTR)(b) & 0xff))) << 8))
#define MAKELONG(a, b) ((LONG)(((WORD)((DWORD_PTR)(a) & 0xffff)) | ((DWORD)((WORD)((DWORD_PTR)(b) & 0xffff))) << 16))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w) & 0xff))
#define HIBYTE(w) ((BYTE)((DWORD_PTR)(w) >> 8))

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *PSIZE, *LPSIZE;
