// How a host raise travels: as a C++ exception of this one type, which the plug-in and
// the host both throw and catch. Unwinding runs every destructor on the way, where the
// jump buffers of older hosts would have skipped them.
#pragma once

#include "pisdk/PITypes.h"

namespace pisdk {

// Default visibility, so that a raise thrown in one module is caught in another.
struct __attribute__((visibility("default"))) HostRaise {
  ASErrorCode code;
};

}  // namespace pisdk
