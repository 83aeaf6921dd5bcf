// OLE initialisation and storage media. The layer has no OLE services of its own:
// initialising only counts per thread, so that code which asks for OLE before using
// common controls runs unchanged.
#pragma once

#include "objbase.h"
#include "windef.h"
#include "winerror.h"

#ifdef __cplusplus
extern "C" {
#endif

// S_OK on the thread's first call, S_FALSE when the thread already initialised.
HRESULT WINAPI OleInitialize(LPVOID pvReserved);
void WINAPI OleUninitialize(void);

// Frees what a medium holds: its global memory (TYMED_HGLOBAL) or file name, or, when
// pUnkForRelease is set, releases that object instead; the medium becomes TYMED_NULL.
void WINAPI ReleaseStgMedium(LPSTGMEDIUM pmedium);

#ifdef __cplusplus
}
#endif
