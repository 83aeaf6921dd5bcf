// The host object helpers: name comparison and case folding, the trusted-certificates
// cabinet as an OpenSSL stack, the dictionary name getter, and the diagnostics (the
// dumps of objects and cabinets, the value-kind walker, the simple panel text) line by
// line in the trace log.
#include "HostHelpers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "HostCalls.h"
#include "TestFiles.h"
#include "certcheck/VOQ_TraceLog.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace {

// The log is this process's own file, named before anything asks for the log; a child
// process runs with a log that has none.
class TraceLogFile : public ::testing::Environment {
 public:
  void SetUp() override { VOQ_TraceLog::getInstance(path().c_str()); }
  static std::string path() { return pdftest::scratch("hosthelpers-trace.log"); }
};
[[maybe_unused]] ::testing::Environment* const g_traceLog =
    ::testing::AddGlobalTestEnvironment(new TraceLogFile);

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

// ---- the diagnostics ----

// A document whose objects show every Cos kind: an array whose elements are names as
// well, a string with a zero byte, fixed numbers, a stream, and references.
const char kDumpDocument[] =
    "%PDF-1.4\n"
    "1 0 obj << /Type /Catalog /Pages 2 0 R /Extra 3 0 R /Data 5 0 R >> endobj\n"
    "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
    "3 0 obj << /Int -7 /Real 1.5 /Yes true /No false /Str (a\\000b) /Names [/DeviceRGB 4 /Pattern null -0.25]"
    " /Ref 4 0 R /Nested << /A [1 [2]] >> >> endobj\n"
    "4 0 obj (text) endobj\n"
    "5 0 obj << /Length 3 >> stream\nabc\nendstream endobj\n"
    "trailer << /Root 1 0 R /Size 6 >>\n";

// Lines of the log, each given without its line end.
std::string lines(const std::vector<std::string>& list) {
  std::string text;
  for (const std::string& line : list) text += line + "\n";
  return text;
}

class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(VOQ_TraceLog::getInstance(nullptr)->getFile(), nullptr);
    trace = VOQ_TraceLog::getInstance(nullptr)->createContext("Dump");
    ASSERT_TRUE(viewer.openDocumentFromMemory("dump.pdf", kDumpDocument)) << viewer.error();
    pdftest::bindHFTs(viewer);
    root = CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc()));
    written();
  }
  void TearDown() override {
    EXPECT_EQ(VOQ_TraceLog::getDepth(), 0);
    EXPECT_EQ(viewer.liveCallbacks(), 0);
    EXPECT_EQ(viewer.frameDepth(), 0);
  }
  // What the log gained since the last call.
  std::string written() {
    std::ifstream in(TraceLogFile::path(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    std::string text = all.str().substr(start);
    start += text.size();
    return text;
  }
  CosObj get(CosObj dict, const char* key) { return CosDictGet(dict, ASAtomFromString(key)); }

  vhost::Viewer viewer;
  VOQ_TraceContext* trace = nullptr;
  CosObj root{};
  size_t start = 0;
};

TEST_F(Diagnostics, ObjectsAreDumpedOneValuePerLine) {
  // Keys in the viewer's (sorted) order; each level of depth indents by one blank.
  EXPECT_EQ(dumpObject(get(root, "Extra"), trace), CosDict);
  EXPECT_EQ(written(), lines({
                           "Dump::dumpObject(...) <<",
                           " Dump::dumpObject(...) /Int",
                           " Dump::dumpObject(...) -7",
                           " Dump::dumpObject(...) /Names",
                           " Dump::dumpObject(...) [",
                           "  Dump::dumpObject(...) DeviceRGB",
                           "  Dump::dumpObject(...) 4",
                           "  Dump::dumpObject(...) Pattern",
                           "  Dump::dumpObject(...) null",
                           "  Dump::dumpObject(...) -0.2500000000000000",
                           " Dump::dumpObject(...) ]",
                           " Dump::dumpObject(...) /Nested",
                           " Dump::dumpObject(...) <<",
                           "  Dump::dumpObject(...) /A",
                           "  Dump::dumpObject(...) [",
                           "   Dump::dumpObject(...) 1",
                           "   Dump::dumpObject(...) [",
                           "    Dump::dumpObject(...) 2",
                           "   Dump::dumpObject(...) ]",
                           "  Dump::dumpObject(...) ]",
                           " Dump::dumpObject(...) >>",
                           " Dump::dumpObject(...) /No",
                           " Dump::dumpObject(...) false",
                           " Dump::dumpObject(...) /Real",
                           " Dump::dumpObject(...) 1.5000000000000000",
                           " Dump::dumpObject(...) /Ref",
                           " Dump::dumpObject(...) 4 0 R",
                           " Dump::dumpObject(...) /Str",
                           std::string(" Dump::dumpObject(...) a\0b", 26),
                           " Dump::dumpObject(...) /Yes",
                           " Dump::dumpObject(...) true",
                           "Dump::dumpObject(...) >>",
                       }));
  // A stream shows its dictionary; scalars stand alone.
  EXPECT_EQ(dumpObject(get(root, "Data"), trace), CosStream);
  EXPECT_EQ(dumpObject(get(root, "Ref"), trace), CosNull);  // the catalog has no /Ref
  EXPECT_EQ(dumpObject(get(get(root, "Extra"), "Ref"), trace), CosString);
  EXPECT_EQ(written(), lines({
                           "Dump::dumpObject(...) <<",
                           " Dump::dumpObject(...) /Length",
                           " Dump::dumpObject(...) 3",
                           "Dump::dumpObject(...) >>",
                           "Dump::dumpObject(...) null",
                           "Dump::dumpObject(...) text",
                       }));
}

TEST_F(Diagnostics, IndirectObjectsAreDumpedWithTheirNumbers) {
  dumpIndirectObject(get(get(root, "Extra"), "Ref"), trace);
  dumpIndirectObject(get(get(root, "Extra"), "Int"), trace);
  EXPECT_EQ(written(), lines({
                           "Dump::dumpIndirectObject(...) ",
                           "",
                           "Dump::dumpIndirectObject(...) 4 0 R",
                           "Dump::dumpObject(...) text",
                           "Dump::dumpIndirectObject(...) The given Object is not a indirect value!",
                       }));
  // Every object of the document, each after its number, then an empty line.
  dumpIndirectObjects(viewer.activePDDoc(), trace);
  std::vector<std::string> heads;
  std::istringstream in(written());
  std::string line, last;
  while (std::getline(in, line)) {
    if (line.find(" R") == line.size() - 2 && line.rfind("Dump::dumpIndirectObject(...) ", 0) == 0) {
      heads.push_back(line.substr(30));
    }
    last = line;
  }
  EXPECT_EQ(heads, (std::vector<std::string>{"1 0 R", "2 0 R", "3 0 R", "4 0 R", "5 0 R"}));
  EXPECT_EQ(last, "");
}

// A cabinet with a value of every kind, in the order they were put.
ASCab everyKind() {
  ASCab cab = ASCabNew();
  ASCabPutBool(cab, "yes", true);
  ASCabPutBool(cab, "no", false);
  ASCabPutInt(cab, "int", -3);
  ASCabPutAtom(cab, "atom", ASAtomFromString("Foo"));
  ASCabPutDouble(cab, "double", 2.5);
  ASCabPutString(cab, "string", "plain");
  ASCabPutText(cab, "text", ASTextFromEncoded("J\xC3\xBCrgen", 0));
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += static_cast<char>(i * 7);
  ASCabPutBinary(cab, "bytes", bytes.data(), static_cast<ASInt32>(bytes.size()));
  ASCabPutBinary(cab, "empty", nullptr, 0);
  static int target;
  ASCabPutPointer(cab, "pointer", &target);
  ASCab inner = ASCabNew();
  ASCabPutInt(inner, "one", 1);
  ASCabPutCab(cab, "inner", inner);
  ASCabPutNull(cab, "null");
  ASCabPutUns(cab, "uns", 4000000000u);
  return cab;
}

TEST_F(Diagnostics, CabinetsAreDumpedByTheKindOfEachValue) {
  ASCab cab = everyKind();
  dumpCab(cab, trace);
  EXPECT_EQ(written(), lines({
                           "Dump::dumpCab(...) Key \"yes\" references a ASBool with value TRUE.",
                           "Dump::dumpCab(...) Key \"no\" references a ASBool with value FALSE.",
                           "Dump::dumpCab(...) Key \"int\" references a ASInt32: -3",
                           "Dump::dumpCab(...) Key \"atom\" references a ASAtom: Foo",
                           "Dump::dumpCab(...) Key \"double\" references a double: 2.500000",
                           "Dump::dumpCab(...) Key \"string\" references a C-string: plain",
                           "Dump::dumpCab(...) Key \"text\" references ASText: J\xC3\xBCrgen",
                           // 16 bytes a line, each line indented by the depth.
                           "Dump::dumpCab(...)bytes: ",
                           "00070e151c232a31383f464d545b626970777e858c939aa1a8afb6bdc4cbd2d9",
                           "e0e7eef5fc030a11",
                           "Dump::dumpCab(...)empty: ",
                           "Dump::dumpCab(...) Key \"pointer\" references a pointer.",
                           "Dump::dumpCab(...) Key \"inner\" references another cabinet:",
                           " Dump::dumpCab(...) Key \"one\" references a ASInt32: 1",
                           "Dump::dumpCab(...) ",
                           "",
                           "Dump::dumpCab(...) Key \"null\" references",
                           "Dump::dumpCab(...) Key \"uns\" references a ASInt: 4000000000",
                       }));
  logCabValueKinds(cab, trace);
  EXPECT_EQ(written(), lines({
                           "Dump::ValidityCabCB(...) The value of Key \"yes\" is of type Bool",
                           "Dump::ValidityCabCB(...) The value of Key \"no\" is of type Bool",
                           "Dump::ValidityCabCB(...) The value of Key \"int\" is of type Signed Integer",
                           "Dump::ValidityCabCB(...) The value of Key \"atom\" is of type Atom",
                           "Dump::ValidityCabCB(...) The value of Key \"double\" is of type Double",
                           "Dump::ValidityCabCB(...) The value of Key \"string\" is of type String",
                           "Dump::ValidityCabCB(...) The value of Key \"text\" is of type Text",
                           "Dump::ValidityCabCB(...) The value of Key \"bytes\" is of type Binary",
                           "Dump::ValidityCabCB(...) The value of Key \"empty\" is of type Binary",
                           "Dump::ValidityCabCB(...) The value of Key \"pointer\" is of type Pointer",
                           "Dump::ValidityCabCB(...) The value of Key \"inner\" is of type Cabinet",
                           "Dump::ValidityCabCB(...) The value of Key \"null\" is of type Null",
                           "Dump::ValidityCabCB(...) The value of Key \"uns\" is of type Unsigned Integer",
                       }));
  ASCabDestroy(cab);
  EXPECT_TRUE(isFlagClear());
}

TEST_F(Diagnostics, TheSimplePanelTextTellsValidityAndTrust) {
  struct Case {
    DSSigValText kind;
    int32_t id;         // -1: absent
    int32_t trustFlags;  // -1: absent
    const char* text;    // nullptr: no text
  };
  const Case cases[] = {
      {kDSSigValTextDSTop, 2, 5, "The signature is not valid.\nThe Certificate is trusted."},
      {kDSSigValTextDSDetail, 3, 0, "The signature is valid.\nThe Certificate is not trusted."},
      {kDSSigValTextDSTooltip, 4, 1, "The signature is valid.\nThe Certificate is trusted."},
      {kDSSigValTextProp, 1, 1, "The signature couldn\xC2\xB4t be checked!\nThe Certificate is trusted."},
      {kDSSigValTextAP, -1, 1, "The signature couldn\xC2\xB4t be checked!\nThe Certificate is trusted."},
      {kDSSigValTextPropIdValidity, 0, 0, "The signature couldn\xC2\xB4t be checked!\nThe Certificate is not trusted."},
      // Flags a verification never set trust nothing.
      {kDSSigValTextDSAVIdValidity, 3, -1, "The signature is valid.\nThe Certificate is not trusted."},
      {kDSSigValTextDSTTIdValidity, 5, 8, "The signature couldn\xC2\xB4t be checked!\nThe Certificate is trusted."},
      {kDSSigValTextNull, 3, 1, nullptr},
      {kDSSigValTextSigInfo, 3, 1, nullptr},
      {kDSSigValTextVal, 3, 1, nullptr},
      {11, 3, 1, nullptr},
      {-1, 3, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " id " + std::to_string(c.id) + " flags " + std::to_string(c.trustFlags));
    ASCab cab = ASCabNew();
    if (c.id != -1) ASCabPutInt(cab, "id", c.id);
    if (c.trustFlags != -1) ASCabPutInt(cab, "trustFlags", c.trustFlags);
    ASText text = getText(cab, c.kind, 7, trace);
    if (c.text == nullptr) {
      EXPECT_EQ(text, nullptr);
    } else {
      ASSERT_NE(text, nullptr);
      EXPECT_STREQ(ASTextGetEncoded(text, 0), c.text);
      ASTextDestroy(text);
    }
    ASCabDestroy(cab);
  }
  // The request and the cabinet in the log, whether or not a text follows.
  written();
  ASCab cab = ASCabNew();
  ASCabPutInt(cab, "id", 3);
  ASCabPutInt(cab, "trustFlags", 1);
  ASTextDestroy(getText(cab, kDSSigValTextDSTooltip, 2, trace));
  EXPECT_EQ(getText(cab, 12, 0, trace), nullptr);
  ASCabDestroy(cab);
  EXPECT_EQ(written(), lines({
                           "Dump::getText(...) Started to get number 2 of kDSSigValTextDSTooltip.",
                           "Dump::getText(...) content of the valCab:",
                           "Dump::dumpCab(...) Key \"id\" references a ASInt32: 3",
                           "Dump::dumpCab(...) Key \"trustFlags\" references a ASInt32: 1",
                           "Dump::getText(...) Started to get number 0 of unknown.",
                           "Dump::getText(...) content of the valCab:",
                           "Dump::dumpCab(...) Key \"id\" references a ASInt32: 3",
                           "Dump::dumpCab(...) Key \"trustFlags\" references a ASInt32: 1",
                       }));
}

// Without a log file the dumps do not even walk what they would dump.
QUARVEL_CHILD(dump_without_log) {
  VOQ_TraceLog::getInstance(nullptr);
  vhost::Viewer viewer;
  if (!viewer.openDocumentFromMemory("dump.pdf", kDumpDocument)) return 2;
  pdftest::bindHFTs(viewer);
  VOQ_TraceContext* trace = VOQ_TraceLog::getInstance(nullptr)->createContext("Dump");
  CosObj root = CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc()));
  if (dumpObject(root, trace) != CosDict) return 3;
  dumpIndirectObject(root, trace);
  dumpIndirectObjects(viewer.activePDDoc(), trace);
  ASCab cab = everyKind();
  dumpCab(cab, trace);
  logCabValueKinds(cab, trace);
  ASCabDestroy(cab);
  return viewer.callCount("CosObjEnum") + viewer.callCount("CosDocEnumIndirect") + viewer.callCount("ASCabEnum") == 0
             ? 0
             : 4;
}

TEST(DiagnosticsWithoutLog, WalkNothing) { EXPECT_EQ(quarveltest::runChild("dump_without_log"), 0); }

}  // namespace
