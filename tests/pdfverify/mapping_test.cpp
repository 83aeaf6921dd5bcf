// The engine's pure outcome rules: signature and certificate results to "trustFlags" and
// "id", and the version test of the signer's plug-in.
#include "VerificationResultMap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct MapCase {
  uint32_t s, c;
  int32_t trustFlags, id;
  const char* lastLog;
};

TEST(ResultMapping, EveryRowInOrder) {
  const MapCase cases[] = {
      {0, 0, 0xFFFF, 4, "Signature is VALID and certificate is TRUSTED."},
      {0x80050001, 0, 0xFFFF, 2, "Signature is INVALID and certificate trust is TRUSTED."},
      {0x80050001, 0x8003000C, 0xFFFF, 2, "Signature is INVALID and certificate trust is UNKNOWN."},
      {0x80050001, 0x800B0001, 0xFFFF, 2, "Signature is INVALID and certificate trust is UNKNOWN."},
      {0x80050001, 0x80070014, 0, 2, "Signature is INVALID and certificate trust UNTRUSTED."},
      {0x80050001, 0x80070002, 0xFFFF, 2, "Signature is INVALID and certificate trust is UNKNOWN."},
      {0x80050001, 0x80040003, 0, 2, "Signature is INVALID and certificate trust UNTRUSTED."},
      {0, 0x8003000C, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8003000E, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8004000C, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x80090001, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      // 0x800B0001 has every bit of 0x80090000: unknown.
      {0, 0x800B0001, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x800A0001, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8004000B, 0, 2, "Signature is VALID and certificate validity date wrong."},
      {0, 0x80040003, 0, 2, "Signature is VALID and certificate signature is wrong."},
      {0, 0x80070014, 0, 2, "Signature is VALID and certificate is ocsp REVOKED."},
      // The responder's "unknown" fails closed: revoked.
      {0, 0x80070015, 0, 2, "Signature is VALID and certificate is ocsp REVOKED."},
      {0, 0x80070002, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      // Faults on the way to the responder carry every bit of 0x80070014, yet
      // revoke nothing: the proxies' codes and the chain without an issuer.
      {0, 0x80070016, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x80070017, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8007001C, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8007001D, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8007001E, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0, 0x8007001F, 0xFFFF, 3, "Signature is VALID and certificate trust is UNKNOWN."},
      {0x80050001, 0x80070015, 0, 2, "Signature is INVALID and certificate trust UNTRUSTED."},
      {0x80050001, 0x80070017, 0xFFFF, 2, "Signature is INVALID and certificate trust is UNKNOWN."},
      {0, 0x8003000B, 0, 2, "Signature is VALID and certificate is crl REVOKED."},
      {0, 0x8003000F, 0, 2, "Signature is VALID and certificate is crl REVOKED."},
      {0, 0x80030001, 0, 3, "Signature is VALID and certificate trust is UNTRUSTED."},
      {0, 0x80000001, 0, 3, "Signature is VALID and certificate trust is UNTRUSTED."},
  };
  for (const MapCase& c : cases) {
    VerificationMapping m = mapVerificationResult(c.s, c.c);
    EXPECT_EQ(m.trustFlags, c.trustFlags) << std::hex << c.s << " " << c.c;
    EXPECT_EQ(m.id, c.id) << std::hex << c.s << " " << c.c;
    ASSERT_FALSE(m.logLines.empty());
    EXPECT_STREQ(m.logLines.back(), c.lastLog) << std::hex << c.s << " " << c.c;
  }
  EXPECT_STREQ(mapVerificationResult(0, 0x80070014).logLines.front(), "OCSP Fehler (revoked)");
  EXPECT_STREQ(mapVerificationResult(0, 0x80070002).logLines.front(), "OCSP Fehler (not revoked)");
  EXPECT_STREQ(mapVerificationResult(0, 0x8003000B).logLines.front(), "CRL Fehler (revoked)");
}

struct VersionCase {
  const char* metadata;  // nullptr: no Version element
  const char* own;
  bool newer;
};

TEST(ResultMapping, OnlyTheFirstCharacterMakesASignerNewer) {
  const VersionCase cases[] = {
      {"3.0", "2.21.0000", true},        {"4.0", "3.1", true},       {"10.0", "3.1", false},  // first characters
      {"2.21.0000", "2.21.0000", false}, {"2.30", "2.21.0000", false}, {"", "2.21.0000", false},
      {nullptr, "2.21.0000", false},     {"1.0", "2.21.0000", false}, {"9", "", true},
      {"\xC3\x9C", "2.21.0000", false},  // a byte above 127 is negative as a signed char
  };
  for (const VersionCase& c : cases) {
    const unsigned length = c.metadata ? static_cast<unsigned>(std::strlen(c.metadata)) : 0;
    EXPECT_EQ(isNewerSigner(c.metadata, length, c.own, static_cast<unsigned>(std::strlen(c.own))), c.newer)
        << (c.metadata ? c.metadata : "(none)") << " vs " << c.own;
  }
}

}  // namespace
