// OLE initialisation: a per-thread count, nothing else to set up.
#include "ole2.h"

#include <windows.h>

namespace {
thread_local int t_oleInitialised = 0;
}

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID) { return t_oleInitialised++ == 0 ? S_OK : S_FALSE; }

void WINAPI OleUninitialize(void) {
  if (t_oleInitialised > 0) --t_oleInitialised;
}

}  // extern "C"

extern "C" {

void WINAPI ReleaseStgMedium(LPSTGMEDIUM medium) {
  if (medium == nullptr) return;
  if (medium->pUnkForRelease != nullptr) {
    medium->pUnkForRelease->Release();
  } else if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal != nullptr) {
    GlobalFree(medium->hGlobal);
  } else if (medium->tymed == TYMED_FILE && medium->lpszFileName != nullptr) {
    CoTaskMemFree(medium->lpszFileName);
  }
  medium->tymed = TYMED_NULL;
  medium->hGlobal = nullptr;
  medium->pUnkForRelease = nullptr;
}

}  // extern "C"
