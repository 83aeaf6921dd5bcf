// The test API of the URL moniker: shorter waits for tests of servers that never
// answer or stop sending.
#pragma once

#include "windef.h"

namespace platform {
namespace urlmontest {

// How long URLDownloadToFileA of this process waits for a connection and for the next
// byte (default 60 000 ms each; the byte wait counts in whole seconds, at least one).
// 0 restores the default.
void setDownloadWaits(DWORD connectMilliseconds, DWORD receiveMilliseconds);

}  // namespace urlmontest
}  // namespace platform
