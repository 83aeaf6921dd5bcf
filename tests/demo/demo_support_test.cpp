// The PKCS#7 of a PDF signature whose value is made elsewhere, as `make demo` assembles it
// around the card's value. The kit's key stands in for the card and signs exactly what the
// card is given; OpenSSL and pdfsig, which know nothing of the assembly, must accept the
// document and refuse it when a signed byte changed or when the value covers the byte
// range itself instead of the signed attributes.
#include "DemoSupport.h"
#include "Fixtures.h"
#include "quarvel_test.h"
#include "testpki.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

std::string text(const testpki::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(PdfSignature, PeersAcceptTheAssembledValueAndRefuseItsFaults) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const std::string dir = quarveltest::makeTempDirectory("pdfsignature");

  enum class Fault { None, SignedByteChanged, RangeSignedNotAttributes };
  struct Row {
    const char* name;
    Fault fault;
    bool intact;
  };
  const Row rows[] = {
      {"as-the-card-signs", Fault::None, true},
      {"signed-byte-changed", Fault::SignedByteChanged, false},
      {"range-signed-not-attributes", Fault::RangeSignedNotAttributes, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir + "/" + row.name + ".pdf";
    pdffixtures::DocumentPlan plan;
    plan.signatures = {pdffixtures::SignatureFieldPlan{}};
    pdffixtures::writeDocument(plan, path);
    const std::string ranges = pdffixtures::prepareSignature(path, "Signature1");
    demokit::PdfSignature pkcs7(text(kit.certificate("rsa2048")), {text(kit.certificate("int"))}, ranges,
                                std::time(nullptr));
    const std::string toSign = row.fault == Fault::RangeSignedNotAttributes ? ranges : pkcs7.signedAttributes();
    // What the card makes: PKCS#1 v1.5 over the SHA-256 of what it is given.
    const std::string value = pkcs7.finish(
        text(kit.sign("pkcs1", "rsa2048", testpki::Bytes(toSign.begin(), toSign.end()), {"--md", "sha256"})));
    pdffixtures::writeSignatureValue(path, "Signature1", value);
    if (row.fault == Fault::SignedByteChanged) pdffixtures::flipByte(path, 11);  // the binary comment line

    std::string why;
    EXPECT_EQ(demokit::verifyDetachedPkcs7(value, pdffixtures::signedRanges(path, "Signature1"),
                                           text(kit.certificate("root")), why),
              row.intact)
        << why;
    const std::vector<std::string> peer = demokit::pdfsig(path);
    ASSERT_EQ(peer.size(), 1u);
    EXPECT_EQ(demokit::pdfsigIntact(peer[0]), row.intact) << peer[0];
    EXPECT_EQ(demokit::pdfsigCoverage(path), std::vector<std::string>{"Total document signed"});
    // Bytes after the signed range: no longer the whole document.
    pdffixtures::writeFile(path, pdffixtures::readFile(path) + "%\n");
    EXPECT_EQ(demokit::pdfsigCoverage(path), std::vector<std::string>{"Not total document signed"});
  }
}

}  // namespace
