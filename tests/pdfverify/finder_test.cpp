// The signature finder over signed documents of the fixture kit in the test viewer: which
// field holds a value, the byte-range checks, the signing time and the signer metadata.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "HostCalls.h"
#include "SignatureFinder.h"
#include "TestFiles.h"
#include "certcheck/VOQ_TraceLog.h"

namespace {

std::string str(const VOQ_String& s) { return s.getLength() ? std::string(s.getData(), s.getLength()) : ""; }

bool find(PDDoc doc, const std::string& value) {
  return findSignature(doc, reinterpret_cast<const uint8_t*>(value.data()), static_cast<uint32_t>(value.size()));
}

class Finder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The first creation of the log in this process names its file.
    VOQ_TraceLog::getInstance(pdftest::scratch("finder-trace.txt").c_str());
  }
  void SetUp() override { logStart = logged().size(); }
  void TearDown() override {
    EXPECT_EQ(viewer.frameDepth(), 0);
    EXPECT_EQ(viewer.liveCallbacks(), liveAtOpen);
  }

  // The field's plan with a placeholder for a value.
  static pdffixtures::SignatureFieldPlan field(const std::string& name) {
    pdffixtures::SignatureFieldPlan f;
    f.name = name;
    return f;
  }
  // Writes the document and signs every field with a value; the values by field.
  std::vector<std::string> write(const std::string& name, const pdffixtures::DocumentPlan& plan) {
    path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    std::vector<std::string> values;
    for (const auto& f : plan.signatures) {
      values.push_back(f.withValue ? pdffixtures::sign(path, f.name, {}) : "");
    }
    return values;
  }
  void open(const std::string& file) {
    ASSERT_TRUE(viewer.openDocument(file)) << viewer.error();
    pdftest::bindHFTs(viewer);
    doc = viewer.activePDDoc();
    liveAtOpen = viewer.liveCallbacks();
  }
  std::string logged() const {
    std::string all = pdffixtures::readFile(pdftest::scratch("finder-trace.txt"));
    return all.substr(std::min(logStart, all.size()));
  }
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  // The year of the found field's signing time, or 0 when it has none.
  static int signingYear() {
    VOQ_Time time(1999);
    return readSigningTime(time) ? time.getYear() : 0;
  }

  vhost::Viewer viewer;
  std::string path;
  PDDoc doc = nullptr;
  int liveAtOpen = 0;
  size_t logStart = 0;
};

TEST_F(Finder, EachValueFindsItsOwnFieldAmongSignedAndUnsignedOnes) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {field("Signature1"), field("Unsigned")};
  plan.signatures[1].withValue = false;
  std::vector<std::string> values = write("two.pdf", plan);
  open(path);
  EXPECT_EQ(countSignatureFields(viewer.activeAVDoc()), 2u);
  EXPECT_TRUE(hasSignatureFields(viewer.activeAVDoc()));

  // The second signature, in an incremental update, with its own signing time and
  // its contents written in upper-case hexadecimal.
  auto second = field("Second");
  second.signingTimeObject = "(D:20250301120000Z)";
  pdffixtures::appendSignatureField(path, second);
  pdffixtures::SignOptions upper;
  upper.upperCaseHex = true;
  const std::string first = values[0], last = pdffixtures::sign(path, "Second", upper);
  open(path);
  EXPECT_EQ(countSignatureFields(viewer.activeAVDoc()), 3u);

  const int opened = viewer.callCount("ASFileSysOpenFile");
  logStart = logged().size();
  EXPECT_TRUE(find(doc, last));
  EXPECT_TRUE(signatureFound);
  EXPECT_EQ(signingYear(), 2025);
  // The first field was read and is not it; the unsigned one was not read at all.
  EXPECT_EQ(viewer.callCount("ASFileSysOpenFile") - opened, 2);
  const std::string log = logged();
  EXPECT_EQ(count(log, "findSignatue(...) signatures not equal"), 1) << log;
  EXPECT_EQ(count(log, "signatures equal\n"), 1);
  EXPECT_EQ(count(log, "findSignature sig        : (...)"), 2);
  EXPECT_EQ(count(log, "findSignature search sig1: (...)"), 2);
  EXPECT_NE(log.find("Signature field found."), std::string::npos);

  // The first value stops the walk at the first field.
  EXPECT_TRUE(find(doc, first));
  EXPECT_EQ(signingYear(), 2024);

  // Values that agree only in part, and no value at all.
  std::string laterHalf = last, lastByte = last;
  laterHalf[laterHalf.size() * 3 / 4] ^= 0x10;
  lastByte.back() ^= 0x01;
  const int before = viewer.callCount("ASFileSysOpenFile");
  for (const std::string& value : {laterHalf, lastByte, last.substr(0, 0)}) {
    EXPECT_FALSE(find(doc, value));
    EXPECT_FALSE(signatureFound);
  }
  EXPECT_EQ(viewer.callCount("ASFileSysOpenFile") - before, 4);  // the empty value reads nothing
  EXPECT_NE(logged().find("ERROR: Signature field not found!"), std::string::npos);
  // A failed search keeps the field of the last match.
  EXPECT_EQ(signingYear(), 2024);
  // Only the value's own digits are compared, so a start that both contents share (the
  // certificate in both) finds the first field.
  EXPECT_EQ(first.substr(0, 64), last.substr(0, 64));
  EXPECT_TRUE(find(doc, last.substr(0, 64)));
  EXPECT_EQ(signingYear(), 2024);
}

TEST_F(Finder, ADocumentWithoutSignatureFields) {
  write("none.pdf", pdffixtures::DocumentPlan{});
  open(path);
  EXPECT_EQ(countSignatureFields(viewer.activeAVDoc()), 0u);
  EXPECT_FALSE(hasSignatureFields(viewer.activeAVDoc()));
  EXPECT_FALSE(find(doc, "\x30\x82"));
}

// A broken field is no match, however it is broken, and the walk goes on to the next
// field: the value of the intact one behind it is still found.
TEST_F(Finder, MalformedByteRangesAndContentsAreNoMatch) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {field("Broken"), field("Good")};
  std::vector<std::string> values = write("intact.pdf", plan);
  const std::string intact = pdffixtures::readFile(path);
  const std::vector<long long> br = pdffixtures::byteRange(path, "Broken");
  ASSERT_EQ(br.size(), 4u);
  const std::string a = std::to_string(br[1]), b = std::to_string(br[2]), c = std::to_string(br[3]);
  const std::string size = std::to_string(intact.size());
  auto range = [](const std::string& x, const std::string& y) { return "[0 " + x + " " + y + " 9]"; };
  struct Case {
    const char* what;
    const char* key;
    std::string text;
  };
  const Case cases[] = {
      {"missing", "/ByteRange", "null"},
      {"a name", "/ByteRange", "/ByteRange"},
      {"a number", "/ByteRange", "42"},
      {"a string", "/ByteRange", "(0 " + a + " " + b + ")"},
      {"a dictionary", "/ByteRange", "<< /A 1 >>"},
      {"two elements", "/ByteRange", "[0 " + a + "]"},
      {"empty", "/ByteRange", "[]"},
      {"a name among the numbers", "/ByteRange", "[0 /" + a + " " + b + " " + c + "]"},
      {"a real length", "/ByteRange", range(a + ".0", b)},
      {"a real offset", "/ByteRange", range(a, b + ".5")},
      {"first offset not a number", "/ByteRange", "[/x " + a + " " + b + " " + c + "]"},
      {"negative length", "/ByteRange", range("-1", b)},
      {"negative offset", "/ByteRange", range(a, "-5")},
      {"offset before length", "/ByteRange", range(b, a)},
      {"offset at length", "/ByteRange", range(a, a)},
      {"offset one past length", "/ByteRange", range(a, std::to_string(br[1] + 1))},
      {"offset at the file's end", "/ByteRange", range(a, size)},
      {"offset past the file's end", "/ByteRange", range(a, std::to_string(intact.size() + 1))},
      {"offset at 2^31-1", "/ByteRange", range(a, "2147483647")},
      {"length at 2^31-1", "/ByteRange", range("2147483647", b)},
      {"offset beyond 32 bits", "/ByteRange", range(a, "9999999999")},
      {"length beyond 32 bits", "/ByteRange", range("99999999999", b)},
      {"contents a number", "/Contents", "12345"},
      {"contents a literal string", "/Contents", "(" + std::string(40, 'a') + ")"},
      {"contents shorter than the value", "/Contents", "<3082>"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string broken = pdftest::scratch("broken.pdf");
    pdffixtures::writeFile(broken, intact);
    pdffixtures::replaceInPlace(broken, "Broken", k.key, k.text);
    open(broken);
    EXPECT_FALSE(find(doc, values[0]));
    EXPECT_TRUE(find(doc, values[1]));
    EXPECT_EQ(viewer.frameDepth(), 0);
    EXPECT_EQ(viewer.liveCallbacks(), liveAtOpen);
    viewer.closeDocuments();
  }
  // The intact document, for comparison.
  open(path);
  EXPECT_TRUE(find(doc, values[0]));
}

TEST_F(Finder, AFileThatCannotBeReopenedIsNoMatch) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {field("Signature1")};
  std::vector<std::string> values = write("gone.pdf", plan);
  open(path);
  std::remove(path.c_str());
  logStart = logged().size();
  EXPECT_FALSE(find(doc, values[0]));
  EXPECT_NE(logged().find("Viewer error"), std::string::npos) << logged();
}

// A raise of the host while one field is read ends that field only.
TEST_F(Finder, AHostRaiseInsideAFieldIsNoMatchForThatField) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {field("First"), field("Second")};
  std::vector<std::string> values = write("raise.pdf", plan);
  for (const char* operation : {"CosDictGet", "CosArrayGet", "ASFileRead", "ASFileSetPos", "ASFileGetEOF"}) {
    SCOPED_TRACE(operation);
    open(path);
    viewer.config().faults = {{operation, viewer.callCount(operation) + 1, genErrNoMemory}};
    EXPECT_FALSE(find(doc, values[0]));
    EXPECT_TRUE(find(doc, values[1]));
    viewer.config().faults.clear();
    viewer.closeDocuments();
  }
}

struct TimeCase {
  const char* what;
  bool present;
  const char* object;  // "" the usual date
  bool read;
  int year, hour, biasHour;
  char biasOperator;
};

TEST_F(Finder, SigningTimes) {
  const TimeCase cases[] = {
      {"date with offset", true, "", true, 2024, 10, 1, '+'},
      {"UTC", true, "(D:20250301120000Z)", true, 2025, 12, 0, 'Z'},
      {"negative offset", true, "(D:20231231235959-05'30')", true, 2023, 23, 5, '-'},
      {"only a year", true, "(D:2022)", true, 2022, 0, 0, 'Z'},
      {"absent", false, "", false, 0, 0, 0, 0},
      {"a number", true, "20240115103000", false, 0, 0, 0, 0},
      {"a name", true, "/D:20240115103000Z", false, 0, 0, 0, 0},
      {"empty", true, "()", false, 0, 0, 0, 0},
      {"garbage", true, "(yesterday at noon)", false, 0, 0, 0, 0},
      {"month 13", true, "(D:20241315103000Z)", false, 0, 0, 0, 0},
      {"a zero byte inside", true, "<443a3230323400>", true, 2024, 0, 0, 'Z'},
  };
  pdffixtures::DocumentPlan plan;
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto f = field("T" + std::to_string(i));
    f.withSigningTime = cases[i].present;
    f.signingTimeObject = cases[i].object;
    plan.signatures.push_back(f);
  }
  std::vector<std::string> values = write("times.pdf", plan);
  open(path);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TimeCase& c = cases[i];
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(find(doc, values[i]));
    VOQ_Time time(1999);
    EXPECT_EQ(readSigningTime(time), c.read);
    if (c.read) {
      EXPECT_EQ(time.getYear(), c.year);
      EXPECT_EQ(time.getHour(), c.hour);
      EXPECT_EQ(time.getBiasHour(), c.biasHour);
      EXPECT_EQ(time.getBiasOperator(), c.biasOperator);
    } else {
      // A time that fails half-way leaves the caller's time as it was.
      EXPECT_EQ(time.getMilliseconds(), VOQ_Time(1999).getMilliseconds());
    }
  }
}

struct MetadataCase {
  const char* what;
  std::string metadataText;    // "" the usual text naming `version`
  std::string version;         // "" no metadata at all
  std::string propBuild;       // "" the usual /Prop_Build
  bool read;
  std::string text;            // what the text holds afterwards
  const char* versionElement;  // nullptr: no "Version" child; "<no root>": no root
};

TEST_F(Finder, SignerMetadata) {
  const std::string deep = [] {
    std::string s;
    for (int i = 0; i < 350000; ++i) s += "<a>";  // about 1 MB
    return s;
  }();
  const std::string kept = "kept from before";
  const MetadataCase cases[] = {
      {"newer", "", "3.0", "", true, "<Dorvalin><Version>3.0</Version></Dorvalin>", "3.0"},
      {"the same", "", "2.21.0000", "", true, "<Dorvalin><Version>2.21.0000</Version></Dorvalin>", "2.21.0000"},
      {"older", "", "1.9", "", true, "<Dorvalin><Version>1.9</Version></Dorvalin>", "1.9"},
      {"without version", "<Dorvalin><Name>x</Name></Dorvalin>", "x", "", true,
       "<Dorvalin><Name>x</Name></Dorvalin>", nullptr},
      {"cut at a zero byte", std::string("<D><Version>3.1</Version></D>\0<junk", 35), "x", "", true,
       "<D><Version>3.1</Version></D>", "3.1"},
      {"absent", "", "", "", false, kept, "<kept>"},
      {"ill-formed", "<Dorvalin><Version>3.0", "x", "", false, "<Dorvalin><Version>3.0", "<no root>"},
      {"not XML", "version 3.0", "x", "", false, "version 3.0", "<no root>"},
      {"blank", "   ", "x", "", false, "   ", "<no root>"},
      {"nested 350000 deep", deep, "x", "", false, deep, "<no root>"},
      {"build properties a name", "", "x", "/Dor:valin", false, kept, "<kept>"},
      {"filter a name", "", "x", "<< /Filter /Dor:valin >>", false, kept, "<kept>"},
      {"filter an array", "", "x", "<< /Filter [ 1 2 ] >>", false, kept, "<kept>"},
      {"no filter", "", "x", "<< /App << /Name /Dorvalin >> >>", false, kept, "<kept>"},
      {"metadata a number", "", "x", "<< /Filter << /Metadata 3 >> >>", false, kept, "<kept>"},
      {"metadata a dictionary", "", "x", "<< /Filter << /Metadata << /Version (3.0) >> >> >>", false, kept,
       "<kept>"},
      {"metadata empty", "", "x", "<< /Filter << /Metadata () >> >>", false, "", "<no root>"},
  };
  pdffixtures::DocumentPlan plan;
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto f = field("M" + std::to_string(i));
    f.metadataVersion = cases[i].version;
    f.metadataText = cases[i].metadataText;
    f.propBuildObject = cases[i].propBuild;
    plan.signatures.push_back(f);
  }
  std::vector<std::string> values = write("metadata.pdf", plan);
  open(path);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const MetadataCase& c = cases[i];
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(find(doc, values[i]));
    VOQ_XML_Document metadata;
    metadata.parse(VOQ_String("<kept/>"));
    VOQ_String text(kept.c_str());
    EXPECT_EQ(readSignerMetadata(metadata, text), c.read);
    EXPECT_EQ(str(text), c.text);
    const VOQ_XML_Element* root = metadata.getRoot();
    if (std::string(c.versionElement ? c.versionElement : "") == "<no root>") {
      EXPECT_EQ(root, nullptr);
    } else if (std::string(c.versionElement ? c.versionElement : "") == "<kept>") {
      ASSERT_NE(root, nullptr);
      EXPECT_EQ(str(root->getName()), "kept");
    } else {
      ASSERT_NE(root, nullptr);
      const VOQ_XML_Element* version = root->getChild("Version", 0);
      if (c.versionElement == nullptr) {
        EXPECT_EQ(version, nullptr);
      } else {
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(str(version->getValue()), c.versionElement);
      }
    }
  }
}

}  // namespace
