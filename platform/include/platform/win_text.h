// Text of the Windows API (included by winbase.h): code-page conversion, the lstr*
// string functions, ASCII case mapping and wsprintfA.
//
// The ANSI code page is UTF-8: CP_ACP, CP_OEMCP, CP_THREAD_ACP and CP_UTF8 all convert
// UTF-8, and 28591 (ISO 8859-1) maps bytes to U+0000..U+00FF. WCHAR is UTF-16.
#pragma once

#include <cstdarg>
#include <string>

#include "windef.h"
#include "platform/format.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define CP_ISO_8859_1 28591

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK 0x00000200
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#ifdef __cplusplus
extern "C" {
#endif

// Failures set GetLastError: ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS,
// ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION (with MB_ERR_INVALID_CHARS or
// WC_ERR_INVALID_CHARS); without those flags a bad sequence becomes U+FFFD (or, to
// CP_ACP, the default character). A length of -1 converts through the NUL and counts it.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);

// The ANSI code page: always CP_UTF8 (65001) here.
UINT WINAPI GetACP(void);

int WINAPI lstrlenA(LPCSTR lpString);
int WINAPI lstrlenW(LPCWSTR lpString);
LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
// Copies at most iMaxLength - 1 characters and always terminates (iMaxLength > 0).
LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2);
// Comparisons give -1, 0 or 1; a NULL text sorts before every other; case folding is ASCII.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);

// ASCII case mapping in place. A pointer whose high word is zero carries one character
// in its low word, which is mapped and returned the same way.
LPSTR WINAPI CharUpperA(LPSTR lpsz);
LPSTR WINAPI CharLowerA(LPSTR lpsz);
DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength);
DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength);
// The next / previous character of a UTF-8 text (never past its NUL / before its start).
LPSTR WINAPI CharNextA(LPCSTR lpsz);
LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent);

// At most 1024 characters with the NUL are written; the result is the length written.
// Conversions as platform/format.h describes.
int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args);
int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define lstrlen lstrlenA
#define lstrcpy lstrcpyA
#define lstrcpyn lstrcpynA
#define lstrcat lstrcatA
#define lstrcmp lstrcmpA
#define lstrcmpi lstrcmpiA
#define CharUpper CharUpperA
#define CharLower CharLowerA
#define CharNext CharNextA
#define CharPrev CharPrevA
#define wsprintf wsprintfA
#define wvsprintf wvsprintfA
#else
#define lstrlen lstrlenW
#define lstrcpy lstrcpyW
#define lstrcpyn lstrcpynW
#define lstrcmp lstrcmpW
#define lstrcmpi lstrcmpiW
#endif

namespace platform {

// UTF-16 to UTF-8 and back for the layer's own use; bad sequences become U+FFFD.
std::string toUtf8(const WCHAR* text, size_t length);
std::string toUtf8(const std::u16string& text);
// The same for a text ending in NUL; NULL gives an empty text.
std::string toUtf8(const WCHAR* text);
std::u16string toUtf16(const char* text, size_t length);
std::u16string toUtf16(const std::string& text);

}  // namespace platform
