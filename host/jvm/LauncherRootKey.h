// The root public key that the host hands to the Java launcher (VOQPublicKey).
#pragma once

#include "foundation/archive/SignedArchive.h"

#include <cstdint>

constexpr uint32_t kLauncherRootKeySize = 443;

// Copies the key into record (its length is the capacity on entry, the key's length
// on return): 1 when copied; 0 with length 0 when the capacity is below 443 bytes or
// there is no buffer; 1 without doing anything when there is no record.
int buildLauncherRootKey(Blob* record);
