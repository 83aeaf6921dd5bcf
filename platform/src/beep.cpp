// Beep without a sound device: recorded for tests.
#include "platform/win_scard_beep.h"

#include <mutex>

#include "winbase.h"

namespace {

std::mutex& beepMutex() {
  static std::mutex m;
  return m;
}

std::vector<platform::BeepCall>& beepLog() {
  static std::vector<platform::BeepCall> log;
  return log;
}

}  // namespace

extern "C" BOOL WINAPI Beep(DWORD dwFreq, DWORD dwDuration) {
  if (dwFreq < 37 || dwFreq > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(beepMutex());
  beepLog().push_back({dwFreq, dwDuration});
  return TRUE;
}

namespace platform {

std::vector<BeepCall> recordedBeeps() {
  std::lock_guard<std::mutex> lock(beepMutex());
  return beepLog();
}

void clearBeeps() {
  std::lock_guard<std::mutex> lock(beepMutex());
  beepLog().clear();
}

}  // namespace platform
