// The host object helpers: name comparison and case folding, the trusted-certificates
// cabinet as an OpenSSL stack, the dictionary name getter and the dumps.
#include "HostHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fixtures.h"
#include "HostCalls.h"
#include "TestFiles.h"
#include "testpki.h"

namespace {

TEST(HostHelpers, CompareNamesOrdersAbsentFirstAndFoldsCaseOnlyWhenAsked) {
  struct Case {
    const char* a;
    const char* b;
    bool caseSensitive;
    int expected;
  };
  const Case cases[] = {
      {"PolyLine", "polyline", false, 0}, {"PolyLine", "polyline", true, -1}, {"polyline", "PolyLine", true, 1},
      {"Caret", "Car", false, 1},         {"Car", "Caret", false, -1},        {nullptr, nullptr, false, 0},
      {nullptr, "", false, -1},           {"", nullptr, true, 1},             {"", "", true, 0},
      {"3D", "3d", false, 0},             {"Squiggly", "Squiggle", false, 1},
      // Bytes above 127 are negative and never folded.
      {"\xC4", "A", false, -1},           {"\xC4", "\xE4", false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(absent)") + " / " + (c.b ? c.b : "(absent)"));
    EXPECT_EQ(compareNames(c.a, c.b, c.caseSensitive), c.expected);
  }
}

TEST(HostHelpers, CaseFoldingTouchesOnlyAsciiLetters) {
  for (int i = 0; i < 256; ++i) {
    char c = static_cast<char>(i);
    char lower = (i >= 'A' && i <= 'Z') ? static_cast<char>(i + 32) : c;
    char upper = (i >= 'a' && i <= 'z') ? static_cast<char>(i - 32) : c;
    EXPECT_EQ(toLowerAscii(c), lower) << i;
    EXPECT_EQ(toUpperAscii(c), upper) << i;
  }
}

class Cabinets : public ::testing::Test {
 protected:
  void SetUp() override { pdftest::bindHFTs(viewer); }
  void putCertificate(ASCab cab, const char* key, const testpki::Bytes& der) {
    ASCabPutBinary(cab, key, der.data(), static_cast<ASInt32>(der.size()));
  }
  int stackSize(ASCab cab) {
    STACK_OF(X509)* stack = sk_X509_new_null();
    cabToX509Stack(cab, stack);
    int n = sk_X509_num(stack);
    sk_X509_pop_free(stack, X509_free);
    return n;
  }
  vhost::Viewer viewer;
};

TEST_F(Cabinets, CertificatesThatDecodeArePushedAndAValueOfAnotherKindEndsTheWalk) {
  const testpki::Kit& kit = testpki::Kit::standard();
  testpki::Bytes truncated = kit.certificate("rsa2048");
  truncated.resize(truncated.size() / 2);
  ASCab three = ASCabNew();
  putCertificate(three, "0", kit.certificate("rsa1024"));
  putCertificate(three, "1", truncated);
  putCertificate(three, "2", kit.certificate("p192"));
  EXPECT_EQ(stackSize(three), 2);

  ASCab stopped = ASCabNew();
  putCertificate(stopped, "0", kit.certificate("rsa1024"));
  ASCabPutInt(stopped, "1", 7);
  putCertificate(stopped, "2", kit.certificate("p192"));
  EXPECT_EQ(stackSize(stopped), 1);

  ASCab empty = ASCabNew();
  EXPECT_EQ(stackSize(empty), 0);
  for (ASCab cab : {three, stopped, empty}) ASCabDestroy(cab);
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

TEST_F(Cabinets, DictionaryNamesAreAppendedOrTheOutputEmptied) {
  pdffixtures::DocumentPlan plan;
  std::string path = pdftest::scratch("names.pdf");
  pdffixtures::writeDocument(plan, path);
  ASSERT_TRUE(viewer.openDocument(path));
  pdftest::bindHFTs(viewer);
  CosObj root = CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc()));
  VOQ_String out("x:");
  EXPECT_TRUE(getDictNameValue(root, "Type", out));
  EXPECT_STREQ(out.getData(), "x:Catalog");
  EXPECT_FALSE(getDictNameValue(root, "Pages", out));  // a dictionary, not a name
  EXPECT_EQ(out.getLength(), 0u);
  out.assign("y");
  EXPECT_FALSE(getDictNameValue(CosDictGet(CosDictGet(root, ASAtomFromString("Pages")), ASAtomFromString("Count")),
                                "Type", out));
  EXPECT_EQ(out.getLength(), 0u);
}

}  // namespace
