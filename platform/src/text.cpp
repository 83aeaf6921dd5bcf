// Code-page conversion and the small string functions of the Windows API.
#include "platform/win_text.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/win_threads.h"
#include "winerror.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t codePoint;
  size_t length;  // bytes taken; for a bad sequence its longest valid start, at least 1
  bool valid;
};

// One UTF-8 character; shortest form only, no surrogates, nothing above U+10FFFF.
Decoded decodeUtf8(const unsigned char* s, size_t n) {
  const unsigned char b = s[0];
  if (b < 0x80) return {b, 1, true};
  size_t need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;  // overlong
    if (b == 0xED) hi = 0x9F;  // surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;  // overlong
    if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return {kReplacement, 1, false};
  }
  for (size_t i = 1; i <= need; ++i) {
    if (i >= n || s[i] < lo || s[i] > hi) return {kReplacement, i, false};
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  return {cp, need + 1, true};
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 to UTF-8; a lone surrogate is written as `badSequence` (false when bad was met).
bool utf16ToUtf8(const char16_t* s, size_t n, std::string& out, const std::string& badSequence) {
  bool clean = true;
  for (size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += badSequence;
      clean = false;
    } else {
      appendUtf8(out, c);
    }
  }
  return clean;
}

bool utf8ToUtf16(const unsigned char* s, size_t n, std::u16string& out) {
  bool clean = true;
  for (size_t i = 0; i < n;) {
    Decoded d = decodeUtf8(s + i, n - i);
    appendUtf16(out, d.codePoint);
    clean = clean && d.valid;
    i += d.length;
  }
  return clean;
}

enum class Page { Utf8, Ansi, Latin1, Unknown };

Page codePageOf(UINT codePage) {
  switch (codePage) {
    case CP_UTF8: return Page::Utf8;
    case CP_ACP:
    case CP_OEMCP:
    case CP_MACCP:
    case CP_THREAD_ACP: return Page::Ansi;
    case CP_ISO_8859_1: return Page::Latin1;
    default: return Page::Unknown;
  }
}

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
template <typename C>
inline C foldCase(C c) { return c >= 'A' && c <= 'Z' ? static_cast<C>(c - 'A' + 'a') : c; }

template <typename C>
int compareTexts(const C* a, const C* b, bool ignoreCase) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  for (;; ++a, ++b) {
    using U = std::make_unsigned_t<C>;
    U x = static_cast<U>(ignoreCase ? foldCase(*a) : *a);
    U y = static_cast<U>(ignoreCase ? foldCase(*b) : *b);
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
}

template <typename C>
int textLength(const C* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return static_cast<int>(n);
}

template <typename C>
C* copyText(C* dst, const C* src, int max) {
  if (!dst || !src || max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

}  // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (!lpWideCharStr && cchWideChar != 0) ||
      static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const Page page = codePageOf(CodePage);
  if (page == Page::Unknown) return fail(ERROR_INVALID_PARAMETER);
  const DWORD allowed = page == Page::Utf8 ? MB_ERR_INVALID_CHARS
                                               : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if ((dwFlags & ~allowed) || ((dwFlags & MB_PRECOMPOSED) && (dwFlags & MB_COMPOSITE))) {
    return fail(ERROR_INVALID_FLAGS);
  }
  const size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  std::u16string wide;
  if (page == Page::Latin1) {
    wide.assign(bytes, bytes + n);
  } else if (!utf8ToUtf16(bytes, n, wide) && (dwFlags & MB_ERR_INVALID_CHARS)) {
    return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (wide.size() > static_cast<size_t>(INT32_MAX)) return fail(ERROR_ARITHMETIC_OVERFLOW);
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}

UINT WINAPI GetACP(void) { return CP_UTF8; }

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (!lpMultiByteStr && cbMultiByte != 0) ||
      static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const Page page = codePageOf(CodePage);
  if (page == Page::Unknown) return fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8) {
    if (dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) return fail(ERROR_INVALID_FLAGS);
    if (lpDefaultChar || lpUsedDefaultChar) return fail(ERROR_INVALID_PARAMETER);
  } else if (dwFlags & ~static_cast<DWORD>(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                           WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS)) {
    return fail(ERROR_INVALID_FLAGS);
  }
  size_t n = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[n]) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(cchWideChar);
  }
  // The ANSI page is UTF-8 and has every character; only a lone surrogate needs the
  // default character, which CP_UTF8 writes as U+FFFD.
  const std::string defaultChar = lpDefaultChar ? std::string(lpDefaultChar) : std::string("?");
  std::string out;
  bool clean = true;
  if (page == Page::Latin1) {
    for (size_t i = 0; i < n; ++i) {
      char16_t c = lpWideCharStr[i];
      if (c <= 0xFF) {
        out += static_cast<char>(c);
        continue;
      }
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF) {
        ++i;
      }
      out += defaultChar;
      clean = false;
    }
  } else {
    clean = utf16ToUtf8(lpWideCharStr, n, out, page == Page::Utf8 ? std::string("\xEF\xBF\xBD") : defaultChar);
  }
  if (!clean && (dwFlags & WC_ERR_INVALID_CHARS)) return fail(ERROR_NO_UNICODE_TRANSLATION);
  if (lpUsedDefaultChar) *lpUsedDefaultChar = clean ? FALSE : TRUE;
  if (out.size() > static_cast<size_t>(INT32_MAX)) return fail(ERROR_ARITHMETIC_OVERFLOW);
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpMultiByteStr, out.data(), out.size());
  return static_cast<int>(out.size());
}

int WINAPI lstrlenA(LPCSTR lpString) { return textLength(lpString); }
int WINAPI lstrlenW(LPCWSTR lpString) { return textLength(lpString); }

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  return std::strcpy(lpString1, lpString2);
}

LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  size_t i = 0;
  for (; lpString2[i]; ++i) lpString1[i] = lpString2[i];
  lpString1[i] = 0;
  return lpString1;
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  return copyText(lpString1, lpString2, iMaxLength);
}

LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
  return copyText(lpString1, lpString2, iMaxLength);
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return nullptr;
  return std::strcat(lpString1, lpString2);
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) { return compareTexts(lpString1, lpString2, false); }
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) { return compareTexts(lpString1, lpString2, true); }
int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) { return compareTexts(lpString1, lpString2, false); }
int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) { return compareTexts(lpString1, lpString2, true); }

LPSTR WINAPI CharUpperA(LPSTR lpsz) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(lpsz);
  if ((value >> 16) == 0) {
    return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<unsigned char>(asciiUpper(static_cast<char>(value & 0xFF)))));
  }
  for (char* p = lpsz; *p; ++p) *p = asciiUpper(*p);
  return lpsz;
}

LPSTR WINAPI CharLowerA(LPSTR lpsz) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(lpsz);
  if ((value >> 16) == 0) {
    return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<unsigned char>(asciiLower(static_cast<char>(value & 0xFF)))));
  }
  for (char* p = lpsz; *p; ++p) *p = asciiLower(*p);
  return lpsz;
}

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = asciiUpper(lpsz[i]);
  return cchLength;
}

DWORD WINAPI CharLowerBuffA(LPSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = asciiLower(lpsz[i]);
  return cchLength;
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  if (!lpsz) return nullptr;
  const char* p = lpsz;
  if (*p) {
    ++p;
    while (*p && (static_cast<unsigned char>(*p) & 0xC0) == 0x80) ++p;
  }
  return const_cast<LPSTR>(p);
}

LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
  if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart) return const_cast<LPSTR>(lpszStart);
  const char* p = lpszCurrent - 1;
  while (p > lpszStart && (static_cast<unsigned char>(*p) & 0xC0) == 0x80) --p;
  return const_cast<LPSTR>(p);
}

}  // extern "C"

namespace platform {

std::string toUtf8(const WCHAR* text, size_t length) {
  std::string out;
  if (text) utf16ToUtf8(text, length, out, "\xEF\xBF\xBD");
  return out;
}

std::string toUtf8(const std::u16string& text) { return toUtf8(text.data(), text.size()); }

std::string toUtf8(const WCHAR* text) {
  return text ? toUtf8(text, std::char_traits<char16_t>::length(text)) : std::string();
}

std::u16string toUtf16(const char* text, size_t length) {
  std::u16string out;
  if (text) utf8ToUtf16(reinterpret_cast<const unsigned char*>(text), length, out);
  return out;
}

std::u16string toUtf16(const std::string& text) { return toUtf16(text.data(), text.size()); }

}  // namespace platform
