// The fixture kit, cross-checked by independent peers: qpdf --check, openssl smime and
// poppler's pdfsig.
#include <gtest/gtest.h>

#include "Fixtures.h"
#include "TestFiles.h"

namespace {

struct SignedCase {
  const char* what;
  pdffixtures::SignatureFieldSpec field;
  pdffixtures::SignOptions options;
};

void PrintTo(const SignedCase& c, std::ostream* os) { *os << c.what; }

class SignedFixtures : public ::testing::TestWithParam<SignedCase> {};

TEST_P(SignedFixtures, PeersAgreeIntactAndTampered) {
  const SignedCase& c = GetParam();
  pdffixtures::DocSpec spec;
  spec.signatures = {c.field};
  std::string path = pdftest::scratch("signed.pdf");
  pdffixtures::writeDocument(spec, path);
  std::string der = pdffixtures::sign(path, c.field.name, pdffixtures::testSigner(), c.options);

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

pdffixtures::SignatureFieldSpec field(const char* subFilter, bool withTime = true, const char* meta = "2.21.0000") {
  pdffixtures::SignatureFieldSpec f;
  f.subFilter = subFilter;
  f.withSigningTime = withTime;
  f.metadataVersion = meta;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SignedFixtures,
    ::testing::Values(SignedCase{"sha256 with attributes", field("adbe.pkcs7.detached"), {}},
                      SignedCase{"sha1 without attributes", field("adbe.pkcs7.detached"), {"sha1", false, false}},
                      SignedCase{"upper-case hex, no time, newer metadata", field("adbe.pkcs7.detached", false, "3.0"),
                                 {"sha256", true, true}},
                      SignedCase{"embedded SHA-1 digest", field("adbe.pkcs7.sha1"), {"sha1", true, false}}));

TEST(Fixtures, UnsignedShapesPassQpdfCheck) {
  std::vector<pdffixtures::DocSpec> specs(4);
  specs[0].signatures = {{"Unsigned", false}};
  specs[1].fonts = {{"Helvetica"}, {"Arimo", "TrueType", true}};
  specs[2].javaScriptOpenAction = true;
  specs[2].linkAnnotation = true;
  specs[3].headerVersion = "2.0";
  for (size_t i = 0; i < specs.size(); ++i) {
    std::string path = pdftest::scratch("unsigned" + std::to_string(i) + ".pdf");
    pdffixtures::writeDocument(specs[i], path);
    pdftest::Run check = pdftest::run("qpdf --check " + path);
    EXPECT_EQ(check.status, 0) << i << check.output;
  }
}

}  // namespace
