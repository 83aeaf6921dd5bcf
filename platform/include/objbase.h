// The COM library: GUID texts and task memory. (Class registration and creation by
// class identifier grow here as the in-process servers need them.)
#pragma once

#include "oleauto.h"
#include "unknwn.h"

#ifdef __cplusplus
extern "C" {
#endif

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal in either case.
HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
// Writes the braced form (upper case) and its NUL: 39, or 0 when cchMax is too small.
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
void WINAPI CoTaskMemFree(LPVOID pv);

#ifdef __cplusplus
}
#endif
