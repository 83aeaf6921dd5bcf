// The test API of the WinINet layer: what the layer was told, and a shorter wait for
// tests of servers that never answer.
#pragma once

#include <vector>

#include "windef.h"

namespace platform {
namespace inettest {

// Every value handed to InternetSetOptionA(INTERNET_OPTION_RECEIVE_TIMEOUT) by this
// process, in order.
std::vector<DWORD> receiveTimeoutsSet();
void clearReceiveTimeoutsSet();

// Caps every receive wait of this process at `milliseconds` (a time-out of 0, "none",
// too), so that a test of a silent server need not wait the product's minutes. The
// value set, and so receiveTimeoutsSet, is unchanged. 0 removes the cap.
void capReceiveWait(DWORD milliseconds);

}  // namespace inettest
}  // namespace platform
