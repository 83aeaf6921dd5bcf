// printf-style formatting with the conversions of the Windows C runtime.
//
// Every conversion behaves as in the C library except these, which follow the
// Windows runtime because the system's trace texts rely on them:
//   %p          upper-case hexadecimal, zero-padded to the pointer width (16 digits
//               here), no "0x": "0x%p" prints "0x00007FFC12345678".
//   %s          a NULL text prints "(null)" (cut by a precision like any text).
//   %S %ls %ws  a wide (UTF-16, WCHAR) text, written as UTF-8; %C %lc %wc a wide character.
//   %hs %hc     a narrow text or character.
//   %ld %lu %lx a 32-bit long, as on Windows (DWORD and LONG arguments print right).
//   %I64d %I64u %I64x %I64X  64-bit; %I32d 32-bit; %Id %Iu %Ix pointer-sized.
//   %lld %zu %jd as in C.
//   %n          never writes; its argument is skipped.
//   An unknown conversion is copied to the output as written.
//
// Return values follow the Windows names, which differ from C's snprintf:
//   _snprintf / _vsnprintf (buffer, count, ...): the length when it fits; when the text
//     has exactly count characters it is NOT terminated; when it is longer, count
//     characters are written, NOT terminated, and the result is -1. A NULL buffer with
//     count 0 asks for the length.
//   sprintf_s / vsprintf_s (buffer, size, ...): the length; when the text and its NUL do
//     not fit, buffer[0] becomes NUL and the result is -1 (errno ERANGE). The Windows
//     runtime would end the process there; we report instead.
//   _snprintf_s / _vsnprintf_s (buffer, size, count, ...): always terminated; at most
//     count characters (with count == _TRUNCATE: as many as fit); truncation gives -1.
//   _scprintf / _vscprintf: the length the text would have.
// A bad argument (NULL buffer with a non-zero size, NULL format) gives -1 with errno EINVAL.
//
// The Windows runtime declares these in <stdio.h>; here <windows.h> brings them too, so
// that the product's code needs no header of this layer.
#pragma once

#include <stdarg.h>
#include <stddef.h>

#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif

#ifdef __cplusplus
#include <string>

extern "C" {
#endif
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
int _snprintf(char* buffer, size_t count, const char* format, ...);
int vsprintf_s(char* buffer, size_t size, const char* format, va_list args);
int sprintf_s(char* buffer, size_t size, const char* format, ...);
int _vsnprintf_s(char* buffer, size_t size, size_t count, const char* format, va_list args);
int _snprintf_s(char* buffer, size_t size, size_t count, const char* format, ...);
int _vscprintf(const char* format, va_list args);
int _scprintf(const char* format, ...);
#ifdef __cplusplus
}

// The array forms the Windows runtime offers to C++ callers: the size is the array's.
template <size_t N>
inline int sprintf_s(char (&buffer)[N], const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsprintf_s(buffer, N, format, args);
  va_end(args);
  return result;
}

template <size_t N>
inline int _snprintf_s(char (&buffer)[N], size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = _vsnprintf_s(buffer, N, count, format, args);
  va_end(args);
  return result;
}

template <size_t N>
inline int vsprintf_s(char (&buffer)[N], const char* format, va_list args) {
  return vsprintf_s(buffer, N, format, args);
}

namespace platform {

// The whole formatted text; an empty text when the format is NULL.
std::string formatString(const char* format, ...);
std::string vformatString(const char* format, va_list args);

// The formatted text in `out`; false (out unspecified) when the format is NULL or the
// C library refused a conversion (a width beyond INT_MAX).
bool vformatTo(std::string& out, const char* format, va_list args);

}  // namespace platform
#endif
