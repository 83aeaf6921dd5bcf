// Shell light-weight utilities: path texts.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// When the whole text is enclosed in double quotes ('"' first and last, at least two
// characters), removes them in place and answers TRUE; else leaves it and answers FALSE.
BOOL WINAPI PathUnquoteSpacesA(LPSTR lpsz);
BOOL WINAPI PathUnquoteSpacesW(LPWSTR lpsz);

#ifdef __cplusplus
}
#endif

#ifdef UNICODE
#define PathUnquoteSpaces PathUnquoteSpacesW
#else
#define PathUnquoteSpaces PathUnquoteSpacesA
#endif
