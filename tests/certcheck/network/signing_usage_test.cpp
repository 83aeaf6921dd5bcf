// Which certificates are meant for signing documents: keyUsage, extendedKeyUsage
// and basicConstraints, each absent, allowing, refusing, unreadable or repeated,
// on certificates made from the test PKI kit's keys.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "certcheck/ReaderUtils.h"
#include "testbundle.h"

namespace {

using Extensions = std::vector<std::pair<std::string, std::string>>;

bool meantForSigning(const Extensions& extensions, bool ca = false) {
  static long serial = 500;
  const testpki::Kit& kit = testpki::Kit::standard();
  testpki::CertificatePlan plan{testpki::kitName("Usage"), testpki::kitName("Usage"), kit.path("p256.key"),
                                kit.path("p256.key"), ++serial, ca};
  plan.extensions = extensions;
  const testpki::Bytes der = testpki::makeCertificate(plan);
  const unsigned char* p = der.data();
  std::unique_ptr<X509, decltype(&X509_free)> x(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
  EXPECT_NE(nullptr, x);
  return isMeantForSigning(x.get());
}

TEST(SigningUsage, KeyUsageMustAllowSignatures) {
  const struct {
    const char* keyUsage;
    bool meant;
  } rows[] = {
      {"critical,digitalSignature", true},
      {"critical,nonRepudiation", true},
      {"digitalSignature,keyEncipherment", true},
      {"critical,keyEncipherment", false},
      {"keyAgreement", false},
      {"critical,keyCertSign,cRLSign", false},
      {"dataEncipherment,encipherOnly", false},
      // Present but not a bit string: unreadable counts against it.
      {"critical,DER:05:00", false},
  };
  for (const auto& row : rows) EXPECT_EQ(row.meant, meantForSigning({{"keyUsage", row.keyUsage}})) << row.keyUsage;
  EXPECT_TRUE(meantForSigning({})) << "no extension at all";
  // Twice, even if one of them would allow it.
  EXPECT_FALSE(meantForSigning({{"keyUsage", "digitalSignature"}, {"keyUsage", "digitalSignature"}}));
}

TEST(SigningUsage, ExtendedKeyUsageMustNameADocumentSigningUsage) {
  const struct {
    const char* usages;
    bool meant;
  } rows[] = {
      {"anyExtendedKeyUsage", true},
      {"emailProtection", true},
      {"1.3.6.1.5.5.7.3.36", true},       // documentSigning
      {"1.2.840.113583.1.1.5", true},     // the viewer maker's
      {"1.3.6.1.4.1.311.10.3.12", true},  // the platform's
      {"serverAuth,clientAuth,emailProtection", true},
      {"critical,1.3.6.1.5.5.7.3.36", true},
      {"serverAuth", false},
      {"clientAuth", false},
      {"codeSigning", false},
      {"timeStamping", false},
      {"OCSPSigning", false},
      {"serverAuth,clientAuth", false},
      // Listed usages are compared whole: neither below nor beside one counts.
      {"1.3.6.1.5.5.7.3.36.1", false},
      {"1.3.6.1.5.5.7.3.361", false},
      {"1.3.6.1.4.1.311.10.3.1", false},
      {"2.5.29.37", false},
      {"DER:05:00", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.meant, meantForSigning({{"extendedKeyUsage", row.usages}})) << row.usages;
  }
  // Each rule holds on its own: an allowed usage does not rescue a refused key usage.
  EXPECT_FALSE(meantForSigning({{"keyUsage", "keyEncipherment"}, {"extendedKeyUsage", "emailProtection"}}));
  EXPECT_FALSE(meantForSigning({{"keyUsage", "nonRepudiation"}, {"extendedKeyUsage", "serverAuth"}}));
  EXPECT_TRUE(meantForSigning({{"keyUsage", "nonRepudiation"}, {"extendedKeyUsage", "emailProtection"}}));
}

TEST(SigningUsage, NoCertificationAuthority) {
  EXPECT_FALSE(meantForSigning({}, true)) << "critical CA:TRUE";
  EXPECT_FALSE(meantForSigning({{"basicConstraints", "CA:TRUE,pathlen:0"}}));
  EXPECT_FALSE(meantForSigning({{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "nonRepudiation"}}));
  EXPECT_TRUE(meantForSigning({{"basicConstraints", "critical,CA:FALSE"}}));
  EXPECT_FALSE(meantForSigning({{"basicConstraints", "critical,DER:05:00"}}));
  EXPECT_FALSE(isMeantForSigning(nullptr));
}

}  // namespace
