// The COM library: GUID texts, task memory, and the entry points of an in-process
// server. (Creation by class identifier grows here as a host needs it.)
#pragma once

#include "objidl.h"
#include "oleauto.h"
#include "unknwn.h"

// The exports of an in-process server, as its host finds them with GetProcAddress:
// DllGetClassObject hands out the class factory of a class the module serves
// (CLASS_E_CLASSNOTAVAILABLE for any other); DllCanUnloadNow answers S_OK when no
// object and no server lock is alive, else S_FALSE; DllRegisterServer and
// DllUnregisterServer write and remove the module's registry entries.
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)(void);
typedef HRESULT(STDAPICALLTYPE* LPFNREGISTERSERVER)(void);

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

// A stream over a block of global memory (hGlobal NULL: a new moveable block). The
// stream starts at the block's size and grows it as it is written; a block that cannot
// grow (fixed, or locked) gives STG_E_MEDIUMFULL. The block may hold more than the
// stream (Stat tells the stream's size). Clones share the block, each with its own seek
// pointer; with fDeleteOnRelease the last of them frees the block.
HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm);
// The block under a stream CreateStreamOnHGlobal made (E_INVALIDARG for any other).
HRESULT WINAPI GetHGlobalFromStream(LPSTREAM pstm, HGLOBAL* phglobal);

#ifdef __cplusplus
}
#endif
