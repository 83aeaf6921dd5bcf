// The process's privileges, for the layer's own checks before privileged calls.
#pragma once

namespace platform {

// True when the calling process holds the privilege and has enabled it.
bool privilegeEnabled(const char* name);

}  // namespace platform
