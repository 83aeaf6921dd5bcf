// The test viewer's Cos and PDModel layer, called the way a plug-in calls it, against
// poppler's tools and hostile documents.
#include <gtest/gtest.h>

#include <functional>

#include "Fixtures.h"
#include "HostCalls.h"
#include "TestFiles.h"

namespace {

using pdftest::raisedBy;

class CosLayer : public ::testing::Test {
 protected:
  void open(const pdffixtures::DocumentPlan& plan, const std::string& name) {
    path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
    pdftest::bindHFTs(viewer);
    doc = viewer.activePDDoc();
  }
  vhost::Viewer viewer;
  std::string path;
  PDDoc doc = nullptr;
};

TEST_F(CosLayer, AtomsAreInternedAndTheNullAtomHasAnEmptyText) {
  pdftest::bindHFTs(viewer);
  ASAtom a = ASAtomFromString("Dor:valin");
  EXPECT_EQ(ASAtomFromString("Dor:valin"), a);
  EXPECT_NE(ASAtomFromString("Dor:valim"), a);
  EXPECT_STREQ(ASAtomGetString(a), "Dor:valin");
  EXPECT_STREQ(ASAtomGetString(ASAtomNull), "");
  EXPECT_FALSE(ASAtomExistsForString("never made"));
}

TEST_F(CosLayer, GettersOfTheWrongTypeRaise) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"Signature1"}};
  open(plan, "types.pdf");
  CosObj root = CosDocGetRoot(PDDocGetCosDoc(doc));
  CosObj pages = CosDictGet(root, ASAtomFromString("Pages"));
  CosObj count = CosDictGet(pages, ASAtomFromString("Count"));
  CosObj type = CosDictGet(root, ASAtomFromString("Type"));
  CosObj missing = CosDictGet(root, ASAtomFromString("NoSuchKey"));
  EXPECT_EQ(CosObjGetType(missing), CosNull);
  EXPECT_EQ(CosObjGetType(root), CosDict);
  EXPECT_EQ(CosIntegerValue(count), 1);
  EXPECT_STREQ(ASAtomGetString(CosNameValue(type)), "Catalog");

  struct Case {
    const char* what;
    std::function<void()> call;
    ASErrorCode code;
  };
  std::vector<Case> cases = {
      {"integer of a dictionary", [&] { CosIntegerValue(root); }, cosErrExpectedNumber},
      {"name of an integer", [&] { CosNameValue(count); }, cosErrExpectedName},
      {"string of a name", [&] { CosStringValue(type, nullptr); }, cosErrExpectedString},
      {"boolean of null", [&] { CosBooleanValue(missing); }, cosErrExpectedBoolean},
      {"length of a dictionary", [&] { CosArrayLength(root); }, cosErrExpectedArray},
      {"dictionary get on an integer", [&] { CosDictGet(count, ASAtomFromString("X")); }, cosErrExpectedDict},
      {"a made-up object", [&] { CosObjGetType(CosObj{root.doc, 999999}); }, cosErrBadObject},
      {"a page past the end", [&] { PDDocAcquirePage(doc, 1); }, pdErrBadPageIndex},
      {"a stale document", [&] { PDDocGetNumPages(reinterpret_cast<PDDoc>(&cases)); }, pdErrBadDocument},
  };
  for (auto& c : cases) EXPECT_EQ(raisedBy(c.call), c.code) << c.what;
  EXPECT_EQ(viewer.frameDepth(), 0);
}

TEST_F(CosLayer, SameIndirectObjectsAreEqual) {
  pdffixtures::DocumentPlan plan;
  open(plan, "equal.pdf");
  CosObj root = CosDocGetRoot(PDDocGetCosDoc(doc));
  PDPage page = PDDocAcquirePage(doc, 0);
  CosObj parent = CosDictGet(PDPageGetCosObj(page), ASAtomFromString("Parent"));
  EXPECT_TRUE(CosObjEqual(parent, CosDictGet(root, ASAtomFromString("Pages"))));
  EXPECT_FALSE(CosObjEqual(parent, root));
  EXPECT_TRUE(CosObjIsIndirect(parent));
  EXPECT_EQ(PDPageGetDuration(page), fixedNegativeOne);
  EXPECT_EQ(PDPageGetNumAnnots(page), 0);
  PDPageRelease(page);
}

// Page counts, versions and fonts as poppler's tools read them.
TEST_F(CosLayer, PagesVersionAndFontsAgreeWithPoppler) {
  pdffixtures::DocumentPlan plan;
  plan.pages = 3;
  plan.headerVersion = "1.6";
  plan.fonts = {{"Helvetica", "Type1", false}, {"Arimo", "TrueType", true}, {"Courier", "Type1", false}};
  open(plan, "fonts.pdf");
  pdftest::Run info = pdftest::run("pdfinfo " + path);
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("Pages:           " + std::to_string(PDDocGetNumPages(doc))), std::string::npos)
      << info.output;
  ASInt16 major = 0, minor = 0;
  PDDocGetVersion(doc, &major, &minor);
  EXPECT_NE(info.output.find("PDF version:     " + std::to_string(major) + "." + std::to_string(minor)),
            std::string::npos) << info.output;

  struct Seen {
    std::vector<std::string> lines;
  } seen;
  auto proc = [](PDFont font, ASUns32, void* data) -> ASBool {
    char name[256];
    PDFontGetName(font, name, sizeof name);
    static_cast<Seen*>(data)->lines.push_back(std::string(name) + " " + ASAtomGetString(PDFontGetSubtype(font)) +
                                              (PDFontIsEmbedded(font) ? " yes" : " no"));
    return true;
  };
  ASCallback cb = ASCallbackCreateProto(PDFontEnumProc, +proc);
  PDDocEnumFonts(doc, 0, PDDocGetNumPages(doc) - 1, cb, &seen, 0, 0);
  ASCallbackDestroy(cb);
  ASSERT_EQ(seen.lines.size(), 3u);
  pdftest::Run fonts = pdftest::run("pdffonts " + path);
  ASSERT_EQ(fonts.status, 0) << fonts.output;
  for (const std::string& line : seen.lines) {
    std::string name = line.substr(0, line.find(' '));
    size_t at = fonts.output.find(name);
    ASSERT_NE(at, std::string::npos) << name << "\n" << fonts.output;
    std::string row = fonts.output.substr(at, fonts.output.find('\n', at) - at);
    bool embedded = line.substr(line.size() - 3) == "yes";
    // pdffonts columns: name type encoding emb sub uni object ID
    EXPECT_NE(row.find(embedded ? " yes " : " no "), std::string::npos) << row;
  }
}

TEST_F(CosLayer, HeaderOrCatalogVersionWhicheverIsHigher) {
  struct Case {
    const char* header;
    const char* catalog;
    ASInt16 major, minor;
  };
  for (Case c : {Case{"1.7", "", 1, 7}, Case{"2.0", "", 2, 0}, Case{"1.4", "1.7", 1, 7}, Case{"1.7", "1.4", 1, 7}}) {
    pdffixtures::DocumentPlan plan;
    plan.headerVersion = c.header;
    plan.catalogVersion = c.catalog;
    std::string p = pdftest::scratch(std::string("v") + c.header + c.catalog + ".pdf");
    pdffixtures::writeDocument(plan, p);
    ASSERT_TRUE(viewer.openDocument(p));
    pdftest::bindHFTs(viewer);
    ASInt16 major = 0, minor = 0;
    PDDocGetVersion(viewer.activePDDoc(), &major, &minor);
    EXPECT_EQ(major, c.major) << c.header << " " << c.catalog;
    EXPECT_EQ(minor, c.minor) << c.header << " " << c.catalog;
  }
}

TEST_F(CosLayer, SignatureFieldsAreEnumeratedInOrderSignedOrNot) {
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"First"}, {"Second", false}, {"Third"}};
  open(plan, "fields.pdf");
  std::vector<std::string> names;
  auto proc = [](PDDoc, CosObj field, void* data) -> ASBool {
    ASInt32 n = 0;
    const char* t = CosStringValue(CosDictGet(field, ASAtomFromString("T")), &n);
    bool hasValue = CosDictKnown(field, ASAtomFromString("V"));
    static_cast<std::vector<std::string>*>(data)->push_back(std::string(t, static_cast<size_t>(n)) +
                                                           (hasValue ? "+" : "-"));
    return true;
  };
  ASCallback cb = ASCallbackCreateProto(DigSigEnumProc, +proc);
  DigSigEnumSignatures(doc, cb, &names);
  ASCallbackDestroy(cb);
  EXPECT_EQ(names, (std::vector<std::string>{"First+", "Second-", "Third+"}));
  pdftest::Run sig = pdftest::run("pdfsig " + path);
  EXPECT_NE(sig.output.find("Signature #1"), std::string::npos) << sig.output;
}

TEST_F(CosLayer, ACallbackTheHostDidNotMakeIsRefused) {
  pdffixtures::DocumentPlan plan;
  open(plan, "callback.pdf");
  auto proc = [](PDDoc, CosObj, void*) -> ASBool { return true; };
  EXPECT_EQ(raisedBy([&] { DigSigEnumSignatures(doc, reinterpret_cast<ASCallback>(+proc), nullptr); }),
            asErrBadCallback);
}

TEST_F(CosLayer, InjectedFaultsRaiseAtTheConfiguredCall) {
  viewer.config().faults = {{"CosDictGet", 2, genErrNoMemory}};
  pdffixtures::DocumentPlan plan;
  open(plan, "fault.pdf");
  CosObj root = CosDocGetRoot(PDDocGetCosDoc(doc));
  EXPECT_EQ(raisedBy([&] { CosDictGet(root, ASAtomFromString("Pages")); }), 0);
  EXPECT_EQ(raisedBy([&] { CosDictGet(root, ASAtomFromString("Pages")); }), genErrNoMemory);
  EXPECT_EQ(raisedBy([&] { CosDictGet(root, ASAtomFromString("Pages")); }), 0);
}

// Hostile documents: the viewer raises, never loops and never crashes.
TEST_F(CosLayer, HostileDocumentsRaiseOrAnswer) {
  struct Case {
    const char* what;
    const char* body;  // objects 1.. after the header; object 1 is the catalog
  };
  const Case cases[] = {
      {"kids cycle",
       "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
       "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
       "3 0 obj << /Type /Pages /Kids [2 0 R] /Count 1 /Parent 2 0 R >> endobj\n"},
      {"parent loop",
       "1 0 obj << /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] >> >> endobj\n"
       "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
       "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >> endobj\n"
       "4 0 obj << /FT /Sig /T (A) /Parent 5 0 R /Kids [5 0 R] >> endobj\n"
       "5 0 obj << /T (B) /Parent 4 0 R /Kids [4 0 R] >> endobj\n"},
      {"wrong types",
       "1 0 obj << /Type /Catalog /Pages 7 /AcroForm [1 2] >> endobj\n"},
      {"broken xref",
       "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
       "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
       "xref\n0 3\n0000000000 65535 f \n0000009999 00000 n \n0000000001 00000 n \n"},
  };
  for (const Case& c : cases) {
    std::string p = pdftest::scratch("hostile.pdf");
    pdffixtures::writeFile(p, std::string("%PDF-1.7\n") + c.body + "trailer << /Root 1 0 R >>\n%%EOF\n");
    if (!viewer.openDocument(p)) continue;  // refused at the door is fine too
    pdftest::bindHFTs(viewer);
    PDDoc d = viewer.activePDDoc();
    raisedBy([&] { PDDocGetNumPages(d); });
    auto proc = [](PDDoc, CosObj, void*) -> ASBool { return true; };
    ASCallback cb = ASCallbackCreateProto(DigSigEnumProc, +proc);
    raisedBy([&] { DigSigEnumSignatures(d, cb, nullptr); });
    ASCallbackDestroy(cb);
    EXPECT_EQ(viewer.frameDepth(), 0) << c.what;
  }
}

// Deep nesting: the consultant's walk and a plug-in's own recursion both end.
TEST_F(CosLayer, DeepNestingEnds) {
  std::string nested;
  for (int i = 0; i < 400; ++i) nested += "<< /Next ";
  nested += "<< /S /JavaScript /JS (x) >>";
  for (int i = 0; i < 400; ++i) nested += " >>";
  std::string p = pdftest::scratch("deep.pdf");
  pdffixtures::writeFile(p, "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R /OpenAction << /S /GoTo /Next " + nested +
                                " >> >> endobj\n2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
                                "trailer << /Root 1 0 R >>\n%%EOF\n");
  if (!viewer.openDocument(p)) return;  // refused at the door is fine too
  pdftest::bindHFTs(viewer);
  static int reports = 0;
  auto found = [](Consultant, CosObj, const PDFObjType*, ASUns32 n, void*) -> ASInt32 {
    EXPECT_LE(n, 256u);
    ++reports;
    return AC_NOCHANGE;
  };
  const PDFObjType requested[] = {58, 53, 3};
  ConsultantAgentRec agent{sizeof agent, requested, 3, nullptr, ASCallbackCreateProto(ConsultantObjFoundProc, +found),
                           0, 0};
  Consultant c = ConsultantCreate(nullptr);
  ConsultantRegisterAgent(c, &agent, 1);
  ASErrorCode code = raisedBy([&] {
    ConsultantTraverseFrom(c, CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc())), PT_CATALOG);
  });
  ConsultantDestroy(c);
  ASCallbackDestroy(agent.objFound);
  EXPECT_TRUE(code == 0 || code == cosErrRead) << code;
  EXPECT_LE(reports, 256);
  EXPECT_EQ(viewer.frameDepth(), 0);
}

}  // namespace
