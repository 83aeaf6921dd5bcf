// Beep of the Windows API. There is no loudspeaker to drive: each call is recorded
// (frequency, duration) so that tests can assert the tones a PIN pad entry sounds.
// The call returns at once instead of lasting dwDuration milliseconds.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// FALSE with ERROR_INVALID_PARAMETER for a frequency outside 37..32767 Hz.
BOOL WINAPI Beep(DWORD dwFreq, DWORD dwDuration);

#ifdef __cplusplus
}

#include <vector>

namespace platform {

struct BeepCall {
  DWORD frequency;
  DWORD duration;
};

// The tones of this process since the last clearBeeps, oldest first.
std::vector<BeepCall> recordedBeeps();
void clearBeeps();

}  // namespace platform
#endif
