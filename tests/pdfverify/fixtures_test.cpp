// The fixture kit, cross-checked by independent peers: qpdf --check, openssl smime and
// poppler's pdfsig.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/sha.h>

#include "Fixtures.h"
#include "testpki.h"
#include "TestFiles.h"

namespace {

struct SignedCase {
  const char* what;
  pdffixtures::SignatureFieldPlan field;
  pdffixtures::SignOptions options;
};

void PrintTo(const SignedCase& c, std::ostream* os) { *os << c.what; }

class SignedFixtures : public ::testing::TestWithParam<SignedCase> {};

TEST_P(SignedFixtures, PeersAgreeIntactAndTampered) {
  const SignedCase& c = GetParam();
  pdffixtures::DocumentPlan plan;
  plan.signatures = {c.field};
  std::string path = pdftest::scratch("signed.pdf");
  pdffixtures::writeDocument(plan, path);
  std::string der = pdffixtures::sign(path, c.field.name, c.options);

  pdftest::Run check = pdftest::run("qpdf --check " + path);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("No syntax or stream encoding errors"), std::string::npos) << check.output;

  std::string sigFile = pdftest::scratch("sig.der"), rangesFile = pdftest::scratch("ranges.bin");
  pdffixtures::writeFile(sigFile, der);
  pdffixtures::writeFile(rangesFile, pdffixtures::signedRanges(path, c.field.name));
  bool detached = c.field.subFilter == "adbe.pkcs7.detached";
  std::string verify = "openssl smime -verify -binary -inform DER -noverify -in " + sigFile +
                       (detached ? " -content " + rangesFile : std::string()) + " -out /dev/null";
  pdftest::Run smime = pdftest::run(verify);
  EXPECT_EQ(smime.status, 0) << smime.output;

  pdftest::Run sig = pdftest::run("pdfsig " + path);
  if (detached) {
    EXPECT_NE(sig.output.find("Signature Validation: Signature is Valid."), std::string::npos) << sig.output;
  }
  // A tampered byte inside the signed ranges: both peers see it.
  pdffixtures::flipByte(path, 10);
  pdffixtures::writeFile(rangesFile, pdffixtures::signedRanges(path, c.field.name));
  if (detached) {
    EXPECT_NE(pdftest::run(verify).status, 0);
    sig = pdftest::run("pdfsig " + path);
    EXPECT_EQ(sig.output.find("Signature is Valid."), std::string::npos) << sig.output;
  }
}

pdffixtures::SignatureFieldPlan field(const char* subFilter, bool withTime = true, const char* meta = "2.21.0000") {
  pdffixtures::SignatureFieldPlan f;
  f.subFilter = subFilter;
  f.withSigningTime = withTime;
  f.metadataVersion = meta;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SignedFixtures,
    ::testing::Values(SignedCase{"sha256 with attributes", field("adbe.pkcs7.detached"), {}},
                      SignedCase{"sha1 without attributes", field("adbe.pkcs7.detached"), {"rsa2048", "sha1", false, false}},
                      SignedCase{"upper-case hex, no time, newer metadata", field("adbe.pkcs7.detached", false, "3.0"),
                                 {"rsa2048", "sha256", true, true}},
                      SignedCase{"ECDSA P-256", field("adbe.pkcs7.detached"), {"p256", "sha256", true, false}},
                      SignedCase{"embedded SHA-1 digest", field("adbe.pkcs7.sha1"), {"p256", "sha1", true, false}}));

TEST(Fixtures, UnsignedShapesPassQpdfCheck) {
  std::vector<pdffixtures::DocumentPlan> plans(4);
  plans[0].signatures = {{"Unsigned", false}};
  plans[1].fonts = {{"Helvetica"}, {"Arimo", "TrueType", true}};
  plans[2].javaScriptOpenAction = true;
  plans[2].linkAnnotation = true;
  plans[3].headerVersion = "2.0";
  for (size_t i = 0; i < plans.size(); ++i) {
    std::string path = pdftest::scratch("unsigned" + std::to_string(i) + ".pdf");
    pdffixtures::writeDocument(plans[i], path);
    pdftest::Run check = pdftest::run("qpdf --check " + path);
    EXPECT_EQ(check.status, 0) << i << check.output;
  }
}

// The signing plug-in's own format: the raw PKCS#1 value or r||s inside, checked with
// openssl pkeyutl against the certificate in /Cert.
TEST(Fixtures, PluginFormatValuesVerifyWithPkeyutl) {
  struct Case {
    const char* signer;
    size_t total;
  };
  for (Case c : {Case{"rsa1024", 259}, Case{"rsa1536", 323}, Case{"p192", 179}}) {
    pdffixtures::DocumentPlan plan;
    pdffixtures::SignatureFieldPlan f;
    f.subFilter = "adbe.x509.rsa_sha1";
    f.certSigner = c.signer;
    plan.signatures = {f};
    std::string path = pdftest::scratch(std::string(c.signer) + ".pdf");
    pdffixtures::writeDocument(plan, path);
    pdffixtures::SignOptions options;
    options.signer = c.signer;
    std::string value = pdffixtures::sign(path, f.name, options);
    ASSERT_EQ(value.size(), c.total) << c.signer;
    EXPECT_EQ(pdftest::run("qpdf --check " + path).status, 0);

    std::string signature = pdffixtures::rawSignature(value);
    if (c.signer[0] == 'p') {
      // r||s to the DER that pkeyutl reads.
      ECDSA_SIG* sig = ECDSA_SIG_new();
      size_t half = signature.size() / 2;
      ECDSA_SIG_set0(sig, BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()), half, nullptr),
                     BN_bin2bn(reinterpret_cast<const unsigned char*>(signature.data()) + half, half, nullptr));
      unsigned char* der = nullptr;
      int n = i2d_ECDSA_SIG(sig, &der);
      signature.assign(reinterpret_cast<char*>(der), static_cast<size_t>(n));
      OPENSSL_free(der);
      ECDSA_SIG_free(sig);
    }
    std::string ranges = pdffixtures::signedRanges(path, f.name);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(ranges.data()), ranges.size(), digest);
    std::string digestFile = pdftest::scratch("digest.bin"), sigFile = pdftest::scratch("sig.bin");
    pdffixtures::writeFile(digestFile, std::string(reinterpret_cast<char*>(digest), sizeof digest));
    pdffixtures::writeFile(sigFile, signature);
    std::string cert = testpki::Kit::standard().path(std::string(c.signer) + ".pem");
    std::string verify = "openssl pkeyutl -verify -certin -inkey " + cert + " -sigfile " + sigFile +
                         " -in " + digestFile + " -pkeyopt digest:sha1";
    pdftest::Run r = pdftest::run(verify);
    EXPECT_EQ(r.status, 0) << c.signer << r.output;
    digest[0] ^= 1;
    pdffixtures::writeFile(digestFile, std::string(reinterpret_cast<char*>(digest), sizeof digest));
    EXPECT_NE(pdftest::run(verify).status, 0) << c.signer;
  }
}

// A second signature in an incremental update written by hand: the first covers its
// revision only, the second the whole file.
TEST(Fixtures, IncrementalSecondSignature) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"First"}};
  std::string path = pdftest::scratch("incremental.pdf");
  pdffixtures::writeDocument(plan, path);
  pdffixtures::sign(path, "First", {});
  size_t firstLength = pdffixtures::readFile(path).size();
  pdffixtures::appendSignatureField(path, {"Second"});
  pdffixtures::sign(path, "Second", {});

  pdftest::Run check = pdftest::run("qpdf --check " + path);
  EXPECT_EQ(check.status, 0) << check.output;
  pdftest::Run sig = pdftest::run("pdfsig " + path);
  EXPECT_NE(sig.output.find("Signature #2"), std::string::npos) << sig.output;
  EXPECT_NE(sig.output.find("Signature Field Name: Second"), std::string::npos) << sig.output;
  size_t valid = 0;
  for (size_t at = sig.output.find("Signature is Valid."); at != std::string::npos;
       at = sig.output.find("Signature is Valid.", at + 1)) {
    ++valid;
  }
  EXPECT_EQ(valid, 2u) << sig.output;
  EXPECT_LT(pdffixtures::signedRanges(path, "First").size(), firstLength);

  // A changed digit of the update's signing time breaks the second signature only.
  size_t time = pdffixtures::readFile(path).find("(D:2024", firstLength);
  ASSERT_NE(time, std::string::npos);
  pdffixtures::flipByte(path, static_cast<long>(time) + 3);
  sig = pdftest::run("pdfsig " + path);
  size_t at = sig.output.find("Signature #2");
  ASSERT_NE(at, std::string::npos) << sig.output;
  EXPECT_NE(sig.output.substr(0, at).find("Signature is Valid."), std::string::npos) << sig.output;
  EXPECT_EQ(sig.output.substr(at).find("Signature is Valid."), std::string::npos) << sig.output;
}

}  // namespace
