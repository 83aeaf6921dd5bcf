#include "VerificationResultMap.h"

#include <string.h>

#include "certcheck/ReaderUtils.h"

namespace {

// Every bit of the mask set in the value.
bool maskSet(uint32_t value, uint32_t mask) { return isMaskSet(value, 0, mask, 0); }

bool unknownTrust(uint32_t c) {
  return c == 0x8003000C || c == 0x8003000E || c == 0x8004000C || maskSet(c, 0x80090000) || maskSet(c, 0x800A0001);
}

// Only the responder's own answers revoke: "revoked" and "unknown" (which fails closed).
// Every other code of the OCSP family is a fault on the way to it, a proxy's
// included, and leaves the trust unknown; a bit test would read 0x80070016,
// 0x80070017 and 0x8007001C to 0x8007001F as revocations.
bool ocspRevocation(uint32_t c) { return c == 0x80070014 || c == 0x80070015; }

bool ocspFamily(uint32_t c) { return (c & 0xFFFF0000u) == 0x80070000u; }

}  // namespace

VerificationMapping mapVerificationResult(uint32_t s, uint32_t c) {
  const bool ocsp = ocspFamily(c);
  const bool ocspRevoked = ocspRevocation(c);
  if (s != 0) {
    if (c == 0) return {0xFFFF, 2, {"Signature is INVALID and certificate trust is TRUSTED."}};
    if (unknownTrust(c)) return {0xFFFF, 2, {"Signature is INVALID and certificate trust is UNKNOWN."}};
    if (ocspRevoked) return {0, 2, {"OCSP Fehler (revoked)", "Signature is INVALID and certificate trust UNTRUSTED."}};
    if (ocsp) {
      return {0xFFFF, 2, {"OCSP Fehler (not revoked)", "Signature is INVALID and certificate trust is UNKNOWN."}};
    }
    return {0, 2, {"Signature is INVALID and certificate trust UNTRUSTED."}};
  }
  if (c == 0) return {0xFFFF, 4, {"Signature is VALID and certificate is TRUSTED."}};
  if (unknownTrust(c)) return {0xFFFF, 3, {"Signature is VALID and certificate trust is UNKNOWN."}};
  if (c == 0x8004000B) {
    return {0, 2, {"Certificate date exception", "Signature is VALID and certificate validity date wrong."}};
  }
  if (c == 0x80040003) {
    return {0, 2, {"Certificate sig invalid", "Signature is VALID and certificate signature is wrong."}};
  }
  if (ocspRevoked) return {0, 2, {"OCSP Fehler (revoked)", "Signature is VALID and certificate is ocsp REVOKED."}};
  if (ocsp) return {0xFFFF, 3, {"OCSP Fehler (not revoked)", "Signature is VALID and certificate trust is UNKNOWN."}};
  if (maskSet(c, 0x8003000B)) {
    return {0, 2, {"CRL Fehler (revoked)", "Signature is VALID and certificate is crl REVOKED."}};
  }
  return {0, 3, {"Signature is VALID and certificate trust is UNTRUSTED."}};
}

bool isNewerSigner(const char* metadataVersion, unsigned int metadataLength, const char* own, unsigned int ownLength) {
  if (metadataVersion == nullptr || metadataLength == 0) return false;
  const bool differs = metadataLength != ownLength || (own != nullptr && memcmp(metadataVersion, own, ownLength) != 0);
  const signed char first = static_cast<signed char>(metadataVersion[0]);
  const signed char ownFirst = ownLength > 0 && own != nullptr ? static_cast<signed char>(own[0]) : 0;
  return differs && first > ownFirst;
}
