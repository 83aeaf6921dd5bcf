// The signature finder over signed documents of the fixture kit in the test viewer: which
// field holds a value, the byte-range checks, the signing time and the signer metadata.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>

#include "Fixtures.h"
#include "HostCalls.h"
#include "SignatureFinder.h"
#include "SignedDictionary.h"
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
  // A start that both contents share (the certificate in both) is no value of either:
  // behind it their contents hold more than zero padding.
  EXPECT_EQ(first.substr(0, 64), last.substr(0, 64));
  EXPECT_FALSE(find(doc, last.substr(0, 64)));
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
      {"three integers", "/ByteRange", "[0 " + a + " " + b + "]"},
      {"five integers", "/ByteRange", "[0 " + a + " " + b + " " + c + " 0]"},
      {"three ranges", "/ByteRange", "[0 " + a + " " + b + " " + c + " 0 0]"},
      // The bytes before a range that starts later are open to change.
      {"the first range starts at 1", "/ByteRange", "[1 " + a + " " + b + " " + c + "]"},
      // A gap that holds more than the /Contents string hides whatever else is in it.
      {"the gap starts a byte early", "/ByteRange", "[0 " + std::to_string(br[1] - 1) + " " + b + " " + c + "]"},
      {"the gap ends a byte late", "/ByteRange", "[0 " + a + " " + std::to_string(br[2] + 1) + " " + c + "]"},
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


// The signing time and the signer's version come only from the signature dictionary as
// signed: what an update, a decoy field or an unsigned object says is not read, and a
// field whose dictionary is not the one around the gap is no match.
TEST_F(Finder, WhatIsWrittenAfterSigningIsNotRead) {
  enum class Attack { None, Redefined, Decoy, RedirectedToDecoy, IndirectTimeChanged, IndirectTime };
  struct Case {
    const char* what;
    Attack attack;
    bool found;
    int year;             // of the signing time read, 0 none
    const char* version;  // of the metadata read, nullptr none
  };
  const Case cases[] = {
      {"nothing changed", Attack::None, true, 2024, "2.21.0000"},
      {"the dictionary redefined in an update", Attack::Redefined, true, 2024, "2.21.0000"},
      {"a decoy field copying it, placed first", Attack::Decoy, true, 2024, "2.21.0000"},
      {"the field pointed at the decoy's copy", Attack::RedirectedToDecoy, false, 0, nullptr},
      {"an indirect /M changed in an update", Attack::IndirectTimeChanged, true, 0, "2.21.0000"},
      {"an indirect /M", Attack::IndirectTime, true, 0, "2.21.0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pdffixtures::DocumentPlan plan;
    plan.signatures = {field("Signature1")};
    plan.signatures[0].indirectSigningTime = c.attack == Attack::IndirectTime || c.attack == Attack::IndirectTimeChanged;
    const std::string value = write("after.pdf", plan)[0];
    switch (c.attack) {
      case Attack::Redefined:
        pdffixtures::redefineSignatureDictionary(path, "Signature1", "D:20190101000000Z", "3.0");
        break;
      case Attack::Decoy:
        pdffixtures::appendDecoyField(path, "Signature1", "Decoy", "D:20190101000000Z", "3.0");
        break;
      case Attack::RedirectedToDecoy: {
        pdffixtures::appendDecoyField(path, "Signature1", "Decoy", "D:20190101000000Z", "3.0");
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle fields = pdf.getRoot().getKey("/AcroForm").getKey("/Fields");
        QPDFObjectHandle decoy = fields.getArrayItem(0), real = fields.getArrayItem(1);
        QPDFObjectHandle redirected = real.shallowCopy();
        redirected.replaceKey("/V", decoy.getKey("/V"));
        pdffixtures::appendObjects(path, {{real.getObjectID(), redirected.unparse()},
                                          {decoy.getObjectID(), "<< /FT /Sig /T (Unsigned) >>"}});
        break;
      }
      case Attack::IndirectTimeChanged: {
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle m = pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getKey("/V").getKey("/M");
        pdffixtures::appendObjects(path, {{m.getObjectID(), "(D:20190101000000Z)"}});
        break;
      }
      default:
        break;
    }
    open(path);
    logStart = logged().size();
    EXPECT_EQ(find(doc, value), c.found);
    if (!c.found) {
      EXPECT_NE(logged().find("not the field's"), std::string::npos) << logged();
      viewer.closeDocuments();
      continue;
    }
    EXPECT_EQ(signingYear(), c.year);
    VOQ_XML_Document metadata;
    VOQ_String text;
    const bool read = readSignerMetadata(metadata, text);
    EXPECT_EQ(read, c.version != nullptr);
    if (read && metadata.getRoot() != nullptr && metadata.getRoot()->getChild("Version", 0) != nullptr) {
      EXPECT_EQ(str(metadata.getRoot()->getChild("Version", 0)->getValue()), c.version);
    }
    viewer.closeDocuments();
  }
}

// The ranges and the gap are the signer's: ranges that an update gives anew, and a gap
// that holds more than the value and its zero padding, are no match.
TEST_F(Finder, TheRangesAndTheGapAreTheSigners) {
  enum class Attack { None, Wrapped, SecondShortened, ObjectsInThePadding, DigitsInThePadding };
  struct Case {
    const char* what;
    Attack attack;
    const char* logged;  // why it is no match; nullptr: found
  };
  const Case cases[] = {
      {"wrapped: the second range moved to a copy at the end, the gap over the original",
       Attack::Wrapped, "the gap holds more than the value and its zero padding"},
      {"an update shortens the second range", Attack::SecondShortened,
       "the byte range is not the one written in the signed dictionary"},
      {"objects written into the padding, the dictionary given anew around them",
       Attack::ObjectsInThePadding, "the gap holds more than the value and its zero padding"},
      {"other digits written into the padding", Attack::DigitsInThePadding,
       "the gap holds more than the value and its zero padding"},
      {"the padding as it was", Attack::None, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pdffixtures::DocumentPlan plan;
    plan.signatures = {field("Signature1")};
    const std::string value = write("ranges.pdf", plan)[0];
    const std::vector<long long> br = pdffixtures::byteRange(path, "Signature1");
    // A place in the zero padding behind the value's digits.
    const size_t padding = static_cast<size_t>(br[1]) + 1 + 2 * value.size() + 16;
    ASSERT_LT(padding + 8, static_cast<size_t>(br[2]));
    auto overwrite = [&](const std::string& text) {
      std::string bytes = pdffixtures::readFile(path);
      bytes.replace(padding, text.size(), text);
      pdffixtures::writeFile(path, bytes);
    };
    switch (c.attack) {
      case Attack::Wrapped:
        pdffixtures::wrapSignature(path, "Signature1", {});
        break;
      case Attack::SecondShortened: {
        QPDF pdf;
        pdf.processFile(path.c_str());
        QPDFObjectHandle v = pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getKey("/V");
        QPDFObjectHandle copy = v.shallowCopy();
        copy.replaceKey("/ByteRange", QPDFObjectHandle::parse("[0 " + std::to_string(br[1]) + " " +
                                                              std::to_string(br[2]) + " " +
                                                              std::to_string(br[3] - 1) + "]"));
        pdffixtures::appendObjects(path, {{v.getObjectID(), copy.unparse()}});
        break;
      }
      case Attack::ObjectsInThePadding:
        pdffixtures::redefineSignatureDictionary(path, "Signature1", "", "");
        overwrite("> (xy) <");
        break;
      case Attack::DigitsInThePadding:
        overwrite("DEADBEEF");
        break;
      case Attack::None:
        break;
    }
    open(path);
    logStart = logged().size();
    EXPECT_EQ(find(doc, value), c.logged == nullptr);
    if (c.logged != nullptr) {
      EXPECT_NE(logged().find(c.logged), std::string::npos) << logged();
    } else {
      EXPECT_EQ(signingYear(), 2024);
    }
    viewer.closeDocuments();
  }
}

// However many byte ranges of a document begin with the value, a search reads around a
// few of them only, so that a document cannot make it read its file once per field:
// decoy fields placed first, each with a range of its own over the signature's gap, leave
// the signature behind them unread once they are more than a few.
TEST_F(Finder, OnlyAFewRangesThatHoldTheValueAreRead) {
  for (const int decoys : {3, 6}) {
    SCOPED_TRACE(decoys);
    pdffixtures::DocumentPlan plan;
    plan.signatures = {field("Signature1")};
    const std::string value = write("decoys.pdf", plan)[0];
    const std::vector<long long> br = pdffixtures::byteRange(path, "Signature1");
    for (int i = 0; i < decoys; ++i) {
      const std::string name = "Decoy" + std::to_string(i);
      pdffixtures::appendDecoyField(path, "Signature1", name, "", "");
      QPDF pdf;
      pdf.processFile(path.c_str());
      QPDFObjectHandle v = pdf.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getKey("/V");
      QPDFObjectHandle copy = v.shallowCopy();
      copy.replaceKey("/ByteRange", QPDFObjectHandle::parse("[0 " + std::to_string(br[1]) + " " +
                                                            std::to_string(br[2]) + " " +
                                                            std::to_string(br[3] - 1 - i) + "]"));
      pdffixtures::appendObjects(path, {{v.getObjectID(), copy.unparse()}});
    }
    open(path);
    logStart = logged().size();
    const long long read = viewer.fileBytesRead();
    EXPECT_EQ(find(doc, value), decoys < 4);
    EXPECT_EQ(logged().find("too many gaps hold the value") != std::string::npos, decoys >= 4) << logged();
    // Four readings at most, each of the gap and the windows around it.
    EXPECT_LE(viewer.fileBytesRead() - read,
              (decoys + 1) * (2 * static_cast<long long>(value.size()) + 2) + 4 * (br[2] - br[1] + 2 * 4096));
    viewer.closeDocuments();
  }
}

// Fields whose gap cannot hold the value are not read at all, and of the others only the
// value's digits and the byte that ends the string are read: however large their
// contents, the search reads little more than the value's digits per field.
TEST_F(Finder, EachFieldIsReadOnlyAsFarAsTheValueGoes) {
  const int kFields = 20;
  pdffixtures::DocumentPlan plan;
  for (int i = 0; i < kFields; ++i) {
    plan.signatures.push_back(field("F" + std::to_string(i)));
    plan.signatures.back().placeholderBytes = 16384;
  }
  plan.signatures.push_back(field("Small"));
  plan.signatures.back().placeholderBytes = 64;  // too small for any value; left unsigned
  plan.signatures.push_back(field("Last"));
  plan.signatures.back().placeholderBytes = 16384;
  path = pdftest::scratch("many.pdf");
  pdffixtures::writeDocument(plan, path);
  for (int i = 0; i < kFields; ++i) pdffixtures::sign(path, "F" + std::to_string(i), {});
  pdffixtures::prepareSignature(path, "Small");
  const std::string value = pdffixtures::sign(path, "Last", {});
  open(path);
  const int opened = viewer.callCount("ASFileSysOpenFile");
  const long long read = viewer.fileBytesRead();
  EXPECT_TRUE(find(doc, value));
  EXPECT_EQ(viewer.callCount("ASFileSysOpenFile") - opened, kFields + 1) << "the small field is not opened";
  const long long perField = 2 * static_cast<long long>(value.size()) + 2;
  // The matching field's gap is read once whole, and the windows around it start at 4 KiB
  // each.
  const std::vector<long long> last = pdffixtures::byteRange(path, "Last");
  EXPECT_LE(viewer.fileBytesRead() - read, (kFields + 1) * perField + (last[2] - last[1]) + 2 * 4096);
}

// --- The signature dictionary as signed -------------------------------------------------

struct DictionaryCase {
  const char* what;
  std::string before;  // the bytes before the gap, from the file's start
  std::string after;   // the bytes after the gap, up to the end of the signed ranges
  SignedDictionaryRead read;
  int64_t id;
  const char* time;      // nullptr: no signing time
  const char* metadata;  // nullptr: no metadata
  const char* byteRange = nullptr;  // its four numbers; nullptr: none that counts
};

// The reader alone, over bytes around a gap: which object holds the gap, and which of its
// values are direct enough to count.
TEST(SignedDictionaryReader, Table) {
  const std::string head = "%PDF-1.7\n7 0 obj\n<< /Type /Sig ";
  const std::string tail = " >>\nendobj\n";
  const std::string meta = "/Prop_Build << /Filter << /Metadata (<V>3.0</V>) >> >>";
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  const DictionaryCase cases[] = {
      {"time and metadata before the gap", head + "/M (D:2024) " + meta + " /Contents ", tail,
       SignedDictionaryRead::Found, 7, "D:2024", "<V>3.0</V>"},
      {"time and metadata after the gap", head + "/Contents", "/M (D:2024) " + meta + tail,
       SignedDictionaryRead::Found, 7, "D:2024", "<V>3.0</V>"},
      {"a hexadecimal time, escapes and an end of line in strings", head + "/M <443a32303234> /Contents ",
       "/Prop_Build << /Filter << /Metadata (a\\)b\\\\c\\101\\\nd\r\ne) >> >>" + tail, SignedDictionaryRead::Found,
       7, "D:2024", "a)b\\cAd\ne"},
      {"names written with # escapes", head + "/#4D (D:2024) /Contents ", tail, SignedDictionaryRead::Found, 7,
       "D:2024", nullptr},
      {"comments between the entries", head + "% a comment\n/M (D:2024) %another\n/Contents ", tail,
       SignedDictionaryRead::Found, 7, "D:2024", nullptr},
      {"an indirect time counts as absent", head + "/M 12 0 R /Contents ", tail, SignedDictionaryRead::Found, 7,
       nullptr, nullptr},
      {"an indirect build dictionary counts as absent", head + "/Prop_Build 12 0 R /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr},
      {"an indirect filter counts as absent", head + "/Prop_Build << /Filter 3 0 R >> /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr},
      {"indirect metadata counts as absent", head + "/Prop_Build << /Filter << /Metadata 9 0 R >> >> /Contents ",
       tail, SignedDictionaryRead::Found, 7, nullptr, nullptr},
      {"a time given twice counts as absent", head + "/M (D:2024) /Contents ", " /M (D:2019)" + tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr},
      {"numbers and references around", head + "/Size 12 /R 3 0 R /Reals [-1.5 +2 .5] /M (D:2024) /Contents ",
       " /ByteRange [0 10 20 30] /B true /N null" + tail, SignedDictionaryRead::Found, 7, "D:2024", nullptr,
       "0 10 20 30"},
      // The byte range: four unsigned integers written in place, or none.
      {"the byte range before the gap, padded", head + "/ByteRange [0 1234 5678 90        ] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, "0 1234 5678 90"},
      {"a byte range given twice counts as absent", head + "/ByteRange [0 10 20 30] /Contents ",
       " /ByteRange [0 10 20 30]" + tail, SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"an indirect byte range counts as absent", head + "/ByteRange 12 0 R /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"a byte range of three ranges counts as absent", head + "/ByteRange [0 10 20 30 40 50] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"a byte range of three numbers counts as absent", head + "/ByteRange [0 10 20] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"a signed number in the byte range", head + "/ByteRange [0 +10 20 30] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"a real in the byte range", head + "/ByteRange [0 10 20.0 30] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"a reference in the byte range", head + "/ByteRange [0 10 0 R 20 30] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"eleven digits in the byte range", head + "/ByteRange [0 10 20 12345678901] /Contents ", tail,
       SignedDictionaryRead::Found, 7, nullptr, nullptr, nullptr},
      {"an object header inside a string before it", "%PDF\n5 0 obj << /Reason (see 6 0 obj <<) /Contents ",
       tail, SignedDictionaryRead::Found, 5, nullptr, nullptr},
      {"the nearest dictionary that holds the gap",
       "%PDF\n3 0 obj << /M (D:1999) >> endobj\n4 1 obj\n<< /M (D:2024) /Contents ", tail,
       SignedDictionaryRead::Found, 4, "D:2024", nullptr},
      {"the gap is not the /Contents value", head + "/M (D:2024) /Other ", tail, SignedDictionaryRead::NotFound, 0,
       nullptr, nullptr},
      {"something between /Contents and the gap", head + "/Contents (x) ", tail, SignedDictionaryRead::NotFound, 0,
       nullptr, nullptr},
      {"a second /Contents after the gap", head + "/Contents ", " /Contents <00>" + tail,
       SignedDictionaryRead::NotFound, 0, nullptr, nullptr},
      {"the gap inside a nested dictionary", head + "/X << /Contents ", " >>" + tail,
       SignedDictionaryRead::NotFound, 0, nullptr, nullptr},
      {"the dictionary not closed inside the signed ranges", head + "/Contents ", " /M (D:2024)",
       SignedDictionaryRead::NotFound, 0, nullptr, nullptr},
      {"no object header", "%PDF\n<< /M (D:2024) /Contents ", tail, SignedDictionaryRead::NotFound, 0, nullptr,
       nullptr},
      {"nested too deep", head + "/A " + deep + " /Contents ", tail, SignedDictionaryRead::NotFound, 0, nullptr,
       nullptr},
      {"an unknown word", head + "/A yes /Contents ", tail, SignedDictionaryRead::NotFound, 0, nullptr, nullptr},
      {"a string that never ends", head + "/A (open /Contents ", tail, SignedDictionaryRead::NotFound, 0, nullptr,
       nullptr},
  };
  for (const DictionaryCase& c : cases) {
    SCOPED_TRACE(c.what);
    SignedDictionary d;
    ASSERT_EQ(readSignedDictionary(c.before, true, c.after, true, d), c.read);
    if (c.read != SignedDictionaryRead::Found) continue;
    EXPECT_EQ(d.id, c.id);
    EXPECT_EQ(d.hasSigningTime, c.time != nullptr);
    if (c.time) {
      EXPECT_EQ(d.signingTime, c.time);
    }
    EXPECT_EQ(d.hasMetadata, c.metadata != nullptr);
    if (c.metadata) {
      EXPECT_EQ(d.metadata, c.metadata);
    }
    EXPECT_EQ(d.hasByteRange, c.byteRange != nullptr);
    if (c.byteRange) {
      EXPECT_EQ(std::to_string(d.byteRange[0]) + " " + std::to_string(d.byteRange[1]) + " " +
                    std::to_string(d.byteRange[2]) + " " + std::to_string(d.byteRange[3]),
                c.byteRange);
    }
  }
}

// Bytes cut from a larger file ask for more where the dictionary may go on.
TEST(SignedDictionaryReader, AsksForMoreWhereTheBytesMayGoOn) {
  const std::string before = "7 0 obj\n<< /M (D:2024) /Contents ";
  SignedDictionary d;
  // The header at the very start of bytes that do not start the file: the number may be longer.
  EXPECT_EQ(readSignedDictionary(before, false, " >>", true, d), SignedDictionaryRead::NeedMoreBefore);
  EXPECT_EQ(readSignedDictionary("\n" + before, false, " >>", true, d), SignedDictionaryRead::Found);
  EXPECT_EQ(readSignedDictionary("<< /M (D:2024) /Contents ", false, " >>", true, d),
            SignedDictionaryRead::NeedMoreBefore);
  // The dictionary, or a token of it, goes on behind the bytes after the gap.
  EXPECT_EQ(readSignedDictionary("\n" + before, true, " /Prop_Build << /Filter", false, d),
            SignedDictionaryRead::NeedMoreAfter);
  EXPECT_EQ(readSignedDictionary("\n" + before, true, " /N 12", false, d), SignedDictionaryRead::NeedMoreAfter);
  EXPECT_EQ(readSignedDictionary("\n" + before, true, " >", false, d), SignedDictionaryRead::NeedMoreAfter);
  EXPECT_EQ(readSignedDictionary("\n" + before, true, " >", true, d), SignedDictionaryRead::NotFound);
}

}  // namespace
