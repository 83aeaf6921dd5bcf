// The per-thread last error, time and process identity.
#include <ctime>
#include <unistd.h>

#include "windows.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

// Milliseconds since boot, counting suspended time as the system the code was written for does.
ULONGLONG WINAPI GetTickCount64(void) {
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

// Wraps after 49.7 days; callers compare differences.
DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

}  // extern "C"
