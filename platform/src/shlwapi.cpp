// Shell light-weight utilities: path texts.
#include <windows.h>
#include <shlwapi.h>

#include <cstring>

namespace {

template <class Char>
BOOL unquote(Char* text) {
  if (text == nullptr) return FALSE;
  size_t n = 0;
  while (text[n] != 0) ++n;
  if (n < 2 || text[0] != '"' || text[n - 1] != '"') return FALSE;
  std::memmove(text, text + 1, (n - 2) * sizeof(Char));
  text[n - 2] = 0;
  return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI PathUnquoteSpacesA(LPSTR lpsz) { return unquote(lpsz); }
BOOL WINAPI PathUnquoteSpacesW(LPWSTR lpsz) { return unquote(lpsz); }

}  // extern "C"
