// A module for the module tests: a few exports, its own resources and state.
#include <windows.h>

#define MODTEST_EXPORT extern "C" __attribute__((visibility("default")))

MODTEST_EXPORT int ModTest_Add(int a, int b) { return a + b; }

// Counts calls; a fresh load of the module starts again at 1.
MODTEST_EXPORT int ModTest_Counter() {
  static int calls = 0;
  return ++calls;
}

MODTEST_EXPORT HMODULE ModTest_Self() { return platform::moduleOf(reinterpret_cast<const void*>(&ModTest_Add)); }

// Reads a string of this module the way a plugin does: through its own handle.
MODTEST_EXPORT int ModTest_LoadOwnString(UINT id, char* buffer, int size) {
  return LoadStringA(ModTest_Self(), id, buffer, size);
}
