// OLE initialisation: a per-thread count, nothing else to set up.
#include "ole2.h"

namespace {
thread_local int t_oleInitialised = 0;
}

extern "C" {

HRESULT WINAPI OleInitialize(LPVOID) { return t_oleInitialised++ == 0 ? S_OK : S_FALSE; }

void WINAPI OleUninitialize(void) {
  if (t_oleInitialised > 0) --t_oleInitialised;
}

}  // extern "C"
