// The pure parts of the engine's outcome: how a signature result and a certificate result
// become the viewer's "trustFlags" and "id", and whether the signer's plug-in was newer.
#pragma once

#include <stdint.h>

#include <vector>

struct VerificationMapping {
  int32_t trustFlags;
  int32_t id;
  std::vector<const char*> logLines;
};

// s: the signature result (0 or 0x80050001 here), c: the certificate result.
VerificationMapping mapVerificationResult(uint32_t s, uint32_t c);

// Whether the metadata's version names a newer signing plug-in than `own`: present, not
// empty, different, and its first character greater (bytes compared as signed values;
// only the first character counts, so "10.0" is not newer than "3.1").
bool isNewerSigner(const char* metadataVersion, unsigned int metadataLength, const char* own,
                   unsigned int ownLength);
