// The document check over the corpus of the fixture kit: the test viewer's consultant
// reports by its rule table (docs/viewer.md), the validator's counts, and the
// independent peers of poppler-utils (pdfinfo, pdfdetach, pdffonts) where they see the
// same things.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>

#include "Corpus.h"
#include "HostCalls.h"
#include "PluginState.h"
#include "TestFiles.h"
#include "VOQ_ConfigurationHelper.h"
#include "VOQ_DocumentValidator.h"
#include "VOQ_FontEnumerator.h"
#include "platform/window_test.h"

namespace {

std::string fixturePath(const std::string& name) {
  std::string path = pdftest::scratch("corpus-" + name + ".pdf");
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    pdffixtures::writeCorpusFixture(name, path);
  }
  return path;
}

// The objects the consultant reports to an agent that requests every type.
std::map<PDFObjType, std::vector<CosObj>> g_reports;
ASInt32 collect(Consultant, CosObj found, const PDFObjType* hierarchy, ASUns32 length, void*) {
  if (length > 0) g_reports[hierarchy[0]].push_back(found);
  return AC_NOCHANGE;
}

// The reports as "NAME" or "NAME*n" (without "PT_"), in type order; "raised" first when
// the traversal raised.
std::string classify(PDDoc doc) {
  g_reports.clear();
  std::vector<PDFObjType> all;
  for (PDFObjType t = 0; t < PT_NUM_OBJECT_TYPES; ++t) all.push_back(t);
  ASCallback found = ASCallbackCreateProto(ConsultantObjFoundProc, &collect);
  Consultant consultant = ConsultantCreate(nullptr);
  ConsultantAgentRec agent{};
  agent.size = sizeof agent;
  agent.requestedTypes = all.data();
  agent.numRequestedTypes = static_cast<ASUns32>(all.size());
  agent.objFound = found;
  ASErrorCode code = pdftest::raisedBy([&] {
    ConsultantRegisterAgent(consultant, &agent, 1);
    ConsultantTraverseFrom(consultant, CosDocGetRoot(PDDocGetCosDoc(doc)), PT_CATALOG);
  });
  ConsultantDestroy(consultant);
  ASCallbackDestroy(found);
  std::string text = code != 0 ? "raised" : "";
  for (auto& [type, objects] : g_reports) {
    if (!text.empty()) text += " ";
    text += std::string(objectTypeName(type)).substr(3);
    if (objects.size() > 1) text += "*" + std::to_string(objects.size());
  }
  return text;
}

std::string countsText() {
  std::map<int, int> counts;
  categoryCounts.forEach([&](const int32_t& key, int32_t* value) { counts[key] = value ? *value : 0; });
  std::string text;
  for (auto& [category, n] : counts) {
    if (!text.empty()) text += " ";
    text += std::string(categoryNames[category] + 4) + "=" + std::to_string(n);
  }
  return text;
}

class Corpus : public ::testing::Test {
 protected:
  PDDoc open(const std::string& name) {
    viewer.closeDocuments();
    path = fixturePath(name);
    EXPECT_TRUE(viewer.openDocument(path)) << viewer.error();
    pdftest::bindHFTs(viewer);
    return viewer.activePDDoc();
  }
  vhost::Viewer viewer;
  std::string path;
};

// Every fixture of the corpus is in the tables below, so a new fixture needs its rows.
std::set<std::string> corpusNames() {
  std::set<std::string> names;
  for (const auto& f : pdffixtures::corpus()) names.insert(f.name);
  return names;
}

TEST_F(Corpus, TheClassifierReportsByItsRuleTable) {
  struct Row {
    const char* fixture;
    const char* reports;
  };
  const std::vector<Row> rows = {
      {"clean",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT"},
      {"js-open-action",
       "CATALOG FONTRESOURCELIST JAVASCRIPTACTION PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT JAVASCRIPT"},
      {"js-name-tree",
       "CATALOG FONTRESOURCELIST JAVASCRIPTACTION*2 NAMEDJAVASCRIPTTREE NAMEDJSCHILDREN*2 NAMEDJSINTNODE NAMEDJSLEAFNODE*2 NAMEDJSNAMEDCHILDREN*2 NAMESDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT JAVASCRIPT*2"},
      {"js-page-actions",
       "AADICTIONARY ACTIONSARRAY CATALOG FONTRESOURCELIST JAVASCRIPTACTION*3 PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT JAVASCRIPT*3"},
      {"js-annotation",
       "AADICTIONARY*2 ANNOTSARRAY CATALOG FONTRESOURCELIST FORMSDICT JAVASCRIPTACTION*3 LINKANNOTATION PAGE PAGESARRAY PAGESNODE RESOURCEDICT ROOTFIELDSLIST TYPE1FONT WIDGETANNOTATION JAVASCRIPT*3 TEXTFIELD"},
      {"form-fields",
       "ANNOTSARRAY CATALOG CHOICEFIELD FIELDCHILDREN FONTRESOURCELIST FORMSDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT ROOTFIELDSLIST TYPE1FONT WIDGETANNOTATION*6 BUTTONFIELD*5 FORMIMPORTACTION*2 FORMRESETACTION*2 FORMSUBMITACTION*2 TEXTFIELD"},
      {"form-signature-merged",
       "ANNOTSARRAY CATALOG FONTRESOURCELIST FORMSDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT ROOTFIELDSLIST TYPE1FONT WIDGETANNOTATION SIGNATUREFIELD"},
      {"form-signature-widget",
       "ANNOTSARRAY CATALOG FIELDCHILDREN FONTRESOURCELIST FORMSDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT ROOTFIELDSLIST TYPE1FONT WIDGETANNOTATION SIGNATUREFIELD*2"},
      {"annotations-markup",
       "ANNOTSARRAY CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT CIRCLEANNOTATION FREETEXTANNOTATION HIGHLIGHTANNOTATION INKANNOTATION LINEANNOTATION POPUPANNOTATION SQUAREANNOTATION STAMPANNOTATION STRIKEOUTANNOTATION TEXTANNOTATION UNDERLINEANNOTATION"},
      {"annotations-unknown",
       "ANNOTATION*7 ANNOTSARRAY CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT"},
      {"duration-carets",
       "ANNOTATION*2 ANNOTSARRAY CATALOG FONTRESOURCELIST*2 PAGE*2 PAGESARRAY PAGESNODE RESOURCEDICT*2 TYPE1FONT"},
      {"annotations-printer",
       "ANNOTSARRAY CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE PRINTERMARKANNOTATION RESOURCEDICT TYPE1FONT TRAPNETANNOTATION"},
      {"links-outlines",
       "ANNOTSARRAY CATALOG DESTINATION*7 FONTRESOURCELIST*2 GOTOACTION*2 LINKANNOTATION*6 NAMEDDESTDICT NAMEDDESTSNAMEDCHILDREN NAMEDDESTSTREE NAMESDICT OUTLINEENTRY*2 OUTLINETREE PAGE*2 PAGESARRAY PAGESNODE RESOURCEDICT*2 TYPE1FONT GOTORACTION LAUNCHACTION THREADACTION URIACTION URIDICT URL FILESPEC*2"},
      {"files-embedded",
       "ANNOTSARRAY CATALOG EMBEDOBJNAMEDCHILDREN EMBEDOBJTREE FONTRESOURCELIST NAMESDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT FILEATTACHANNOTATION FILESPEC*2 FILESPECID FILESPECEMBEDDEDFILEDICT*2 EMBEDDEFILESTRMPARAMSDICT EMBEDDEDFILESTRMRESFORK EMBEDDEFILESTRMMACPARAMS EMBEDDEFILESTREAM*2"},
      {"multimedia",
       "ANNOTSARRAY CATALOG FONTRESOURCELIST LINKANNOTATION PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT MOVIEACTION MOVIEANNOTATION SOUNDACTION SOUNDANNOTATION FILESPEC SOUNDSTREAM SCREENANNOT RENDITIONACTION MEDIARENDITION*2 SELECTORRENDITION RENDITIONSLIST MEDIACRITERIA MEDIACLIPDATA*2 MEDIAPERMSDICT MEDIAPLAYERS*2 MEDIAPLAYPARAMS MEDIASCREENPARAMS MEDIACLIPSECTION MEDIAPLAYINFOARRAY*3 MEDIAPLAYINFO*3"},
      {"transitions",
       "CATALOG FONTRESOURCELIST NAMESDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT TRANSITION ALTERNATEPRESNAMEDCHILDREN SLIDESHOW ALTERNATEPRESTREE"},
      {"optional-content",
       "ANNOTSARRAY CATALOG FONTRESOURCELIST LINKANNOTATION PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT MARKEDCONTENTLIST OCGSARRAY OCPROPERTIES OCCONFIGSARRAY OCGUSAGE OCG*2 OCCONFIGDICT*2 OCASARRAY OCUSAGEAPPLICATION OCMD SETOCGSTATEACTION"},
      {"postscript-functions",
       "CATALOG COLORSPACELIST EXTGSTATE*2 EXTGSTATELIST FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE POSTSCRIPT RESOURCEDICT SOFTMASKDICT TRANSPARENCYGROUP TYPE1FONT XOBJECTLIST HALFTONE*2 LEVEL1POSTSCRIPT TRFUNCTION UCRFUNCTION PATTERNLIST SHADINGPATTERN TYPE2SHADING TYPE3SHADING TYPE4SHADING TYPE5SHADING SHADINGLIST"},
      {"structure",
       "CATALOG FONTRESOURCELIST IMAGE PAGE PAGESARRAY PAGESNODE RESOURCEDICT STRUCTELEMATTRARRAY STRUCTELEMENT*3 STRUCTELEMLIST*2 STRUCTTREEROOT TYPE1FONT XOBJECTLIST ACTUALTEXT ALTERNATETEXT STRUCTCLASSMAP STRUCTELEMATTR*3 STRUCTROLEMAP ALTERNATEIMAGESARRAY ALTERNATEIMAGEDICT"},
      {"additional-actions",
       "AADICTIONARY*2 ANNOTSARRAY CATALOG FONTRESOURCELIST LINKANNOTATION PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT HIDEACTION*2 NAMEDACTION"},
      {"fonts-each-type",
       "CATALOG FONT FONTRESOURCELIST*2 MMTYPE1FONT PAGE PAGESARRAY PAGESNODE RESOURCEDICT*2 TRUETYPEFONT*2 TYPE1FONT*3 TYPE3FONT TYPE0FONT*2"},
      {"text-content",
       "CATALOG FONTRESOURCELIST*5 PAGE*5 PAGESARRAY PAGESNODE RESOURCEDICT*5 TYPE1FONT"},
      {"version-1-3",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT"},
      {"version-2-0",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT"},
      {"hostile-kids-cycle",
       "CATALOG PAGE PAGESARRAY PAGESNODE"},
      {"hostile-parent-loop",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE1FONT"},
      {"hostile-deep-nesting",
       "AADICTIONARY ANNOTSARRAY CATALOG JAVASCRIPTACTION*249 LINKANNOTATION OUTLINEENTRY*3000 OUTLINETREE PAGE PAGESARRAY PAGESNODE RESOURCEDICT JAVASCRIPT*248 NAMEDACTION*250 URIACTION*3000 URL*3000"},
      {"hostile-outline-cycle",
       "CATALOG DESTINATION GOTOACTION OUTLINEENTRY*2 OUTLINETREE PAGE PAGESARRAY PAGESNODE RESOURCEDICT"},
      {"hostile-name-tree-cycle",
       "CATALOG JAVASCRIPTACTION NAMEDJAVASCRIPTTREE NAMEDJSCHILDREN*2 NAMEDJSINTNODE NAMEDJSLEAFNODE NAMEDJSNAMEDCHILDREN NAMESDICT PAGE PAGESARRAY PAGESNODE RESOURCEDICT JAVASCRIPT"},
      {"hostile-type0-self",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE0FONT"},
      {"hostile-type0-cycle",
       "CATALOG FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT TYPE0FONT*2"},
      {"hostile-font-damaged",
       "CATALOG FONT FONTRESOURCELIST PAGE PAGESARRAY PAGESNODE RESOURCEDICT"},
      {"hostile-owner-string",
       "CATALOG PAGE PAGESARRAY PAGESNODE RESOURCEDICT STRUCTELEMENT STRUCTTREEROOT STRUCTELEMATTR"},
      {"hostile-annotation-entries",
       "ANNOTSARRAY CATALOG PAGE PAGESARRAY PAGESNODE RESOURCEDICT TEXTANNOTATION"},
  };
  std::set<std::string> seen;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fixture);
    seen.insert(row.fixture);
    PDDoc doc = open(row.fixture);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(classify(doc), row.reports);
    EXPECT_EQ(viewer.liveCallbacks(), 0);
  }
  EXPECT_EQ(seen, corpusNames());
}

TEST_F(Corpus, TheValidatorCountsCategoriesAndMissingFonts) {
  struct Row {
    const char* fixture;
    const char* counts;
    uint32_t missingFonts;
    int32_t result;
  };
  const std::vector<Row> rows = {
      {"clean", "", 0, 0},
      {"js-open-action", "JAVASCRIPT=2", 0, 0},
      {"js-name-tree", "JAVASCRIPT=12", 0, 0},
      {"js-page-actions", "JAVASCRIPT=6 ADDITIONALACTION=1", 0, 0},
      {"js-annotation", "FORM=2 JAVASCRIPT=6 LINK=1 ADDITIONALACTION=2", 0, 0},
      {"form-fields", "FORM=19", 0, 0},
      {"form-signature-merged", "", 0, 0},
      {"form-signature-widget", "FORM=1", 0, 0},
      {"annotations-markup", "NONE=1 TEXTCHANGEANNOT=3 NORMALANNOT=7", 0, 0},
      {"annotations-unknown", "NORMALANNOT=6", 0, 0},
      {"duration-carets", "NORMALANNOT=2 TRANSITION=1", 0, 0},
      {"annotations-printer", "PRINTER=2", 0, 0},
      {"links-outlines", "LINK=27", 0, 0},
      {"files-embedded", "LINK=13", 0, 0},
      {"multimedia", "LINK=2 MULTIMEDIA=26", 0, 0},
      {"transitions", "TRANSITION=4", 0, 0},
      {"optional-content", "LINK=1 OPTIONALCONTENT=10", 0, 0},
      {"postscript-functions", "POSTSCRIPT=12", 0, 0},
      {"structure", "LINK=2 ALTERNATETEXT=2", 0, 0},
      {"additional-actions", "LINK=1 ADDITIONALACTION=4", 0, 0},
      {"fonts-each-type", "", 7, 0},
      {"text-content", "", 0, 0},
      {"version-1-3", "", 0, 0},
      {"version-2-0", "", 0, 0},
      {"hostile-kids-cycle", "", 0, 3},
      {"hostile-parent-loop", "", 0, 0},
      {"hostile-deep-nesting", "JAVASCRIPT=497 LINK=6002 ADDITIONALACTION=1", 0, 0},
      {"hostile-outline-cycle", "LINK=3", 0, 0},
      {"hostile-name-tree-cycle", "JAVASCRIPT=8", 0, 0},
      {"hostile-type0-self", "", 1, 0},
      {"hostile-type0-cycle", "", 2, 0},
      {"hostile-font-damaged", "", 0, 3},
      {"hostile-owner-string", "", 0, 3},
      {"hostile-annotation-entries", "NORMALANNOT=1", 0, 3},
  };
  std::set<std::string> seen;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fixture);
    seen.insert(row.fixture);
    PDDoc doc = open(row.fixture);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(VOQ_DocumentValidator::validate(doc, false), row.result);
    EXPECT_EQ(countsText(), row.counts);
    EXPECT_EQ(missingFontCount, row.missingFonts);
    EXPECT_EQ(fontStatistics.total - fontStatistics.totalEmbedded, row.missingFonts);
    EXPECT_EQ(viewer.frameDepth(), 0);
    EXPECT_EQ(viewer.liveCallbacks(), 0);
  }
  EXPECT_EQ(seen, corpusNames());
}

// The Info command's road: a progress dialog that ends on every way out.
TEST_F(Corpus, HostileFixturesLeaveNoProgressDialogBehind) {
  pluginInstance = GetModuleHandleA(nullptr);
  size_t windows = platform::wintest::topLevelWindows().size();
  int threads = pdftest::threadCount();
  for (const auto& f : pdffixtures::corpus()) {
    if (f.name.rfind("hostile-", 0) != 0) continue;
    SCOPED_TRACE(f.name);
    PDDoc doc = open(f.name);
    ASSERT_NE(doc, nullptr);
    VOQ_DocumentValidator::validate(doc, true);
    EXPECT_EQ(validatorProgress, nullptr);
    EXPECT_EQ(platform::wintest::topLevelWindows().size(), windows);
    // The window layer reaps a dialog thread's own helper shortly after the thread.
    EXPECT_TRUE(platform::wintest::pumpMessagesUntil([&] { return pdftest::threadCount() <= threads; }, 10000))
        << pdftest::threadCount() << " threads";
    EXPECT_EQ(viewer.frameDepth(), 0);
  }
  pluginInstance = nullptr;
}

// The scripts pdfinfo shows, one text per block (a header line, the script, a blank line).
std::vector<std::string> pdfinfoScripts(const std::string& file) {
  pdftest::Run r = pdftest::run("{ pdfinfo -js '" + file + "' 2>/dev/null; }");
  std::vector<std::string> scripts;
  std::istringstream in(r.output);
  std::string line, script;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty()) {
      if (!script.empty()) scripts.push_back(script);
      script.clear();
      header = true;
    } else if (header) {
      header = false;
    } else {
      script += (script.empty() ? "" : "\n") + line;
    }
  }
  if (!script.empty()) scripts.push_back(script);
  return scripts;
}

// The text of every PT_JAVASCRIPT object the consultant reported (strings through the
// host, streams read with qpdf).
std::set<std::string> reportedScripts(const std::string& file) {
  std::set<std::string> texts;
  QPDF pdf;
  pdf.processFile(file.c_str());
  for (CosObj js : g_reports[PT_JAVASCRIPT]) {
    if (CosObjGetType(js) == CosString) {
      ASInt32 length = 0;
      const char* bytes = CosStringValue(js, &length);
      texts.insert(std::string(bytes, static_cast<size_t>(length)));
    } else if (CosObjGetType(js) == CosStream) {
      auto data = pdf.getObjectByID(CosObjGetID(js), CosObjGetGeneration(js)).getStreamData();
      texts.insert(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    }
  }
  return texts;
}

TEST_F(Corpus, EveryScriptPdfinfoShowsIsReportedAsJavaScript) {
  int shown = 0;
  for (const auto& f : pdffixtures::corpus()) {
    SCOPED_TRACE(f.name);
    PDDoc doc = open(f.name);
    ASSERT_NE(doc, nullptr);
    classify(doc);
    std::set<std::string> reported = reportedScripts(path);
    for (const std::string& script : pdfinfoScripts(path)) {
      ++shown;
      EXPECT_EQ(reported.count(script), 1u) << script;
    }
  }
  EXPECT_GE(shown, 6);  // the peer did see the corpus's scripts
}

TEST_F(Corpus, EmbeddedFilesAreThoseThatPdfdetachLists) {
  int listed = 0;
  for (const auto& f : pdffixtures::corpus()) {
    SCOPED_TRACE(f.name);
    PDDoc doc = open(f.name);
    ASSERT_NE(doc, nullptr);
    classify(doc);
    pdftest::Run r = pdftest::run("{ pdfdetach -list '" + path + "' 2>/dev/null; }");
    int files = -1;
    if (r.status != 0 || std::sscanf(r.output.c_str(), "%d embedded files", &files) != 1) continue;
    listed += files;
    EXPECT_EQ(g_reports[PT_EMBEDDEFILESTREAM].size(), static_cast<size_t>(files));
  }
  EXPECT_EQ(listed, 2);
}

// What pdffonts says of each font object: its name and whether it is embedded.
std::map<int, std::pair<std::string, bool>> pdffontsTable(const std::string& file) {
  std::map<int, std::pair<std::string, bool>> fonts;
  pdftest::Run r = pdftest::run("{ pdffonts '" + file + "' 2>/dev/null; }");
  std::istringstream in(r.output);
  std::string line;
  size_t embColumn = std::string::npos, idColumn = std::string::npos;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "name") == 0) {
      embColumn = line.find(" emb ") + 1;
      idColumn = line.find("object ID");
      continue;
    }
    if (embColumn == std::string::npos || line.size() < idColumn || line[0] == '-') continue;
    std::string name = line.substr(0, line.find(' '));
    fonts[std::atoi(line.substr(idColumn).c_str())] = {name, line.compare(embColumn, 3, "yes") == 0};
  }
  return fonts;
}

ASBool listFont(PDFont font, ASUns32, void* clientData) {
  static_cast<std::vector<PDFont>*>(clientData)->push_back(font);
  return true;
}

TEST_F(Corpus, TheViewersFontsAndTheirEmbeddingAgreeWithPdffonts) {
  int compared = 0;
  for (const auto& f : pdffixtures::corpus()) {
    SCOPED_TRACE(f.name);
    PDDoc doc = open(f.name);
    ASSERT_NE(doc, nullptr);
    std::vector<PDFont> fonts;
    ASCallback callback = ASCallbackCreateProto(PDFontEnumProc, &listFont);
    ASErrorCode code = pdftest::raisedBy([&] { PDDocEnumFonts(doc, 0, PDDocGetNumPages(doc) - 1, callback, &fonts, 0, 0); });
    ASCallbackDestroy(callback);
    if (code != 0) continue;  // a page tree the viewer refuses
    auto peer = pdffontsTable(path);
    for (PDFont font : fonts) {
      int id = CosObjGetID(PDFontGetCosObj(font));
      if (peer.count(id) == 0) continue;  // a font poppler cannot load
      ++compared;
      char name[256];
      PDFontGetName(font, name, sizeof name);
      if (peer[id].first != "[none]") {
        EXPECT_EQ(peer[id].first, name);
      }
      EXPECT_EQ(PDFontIsEmbedded(font) != 0, peer[id].second) << name;
    }
  }
  EXPECT_GE(compared, 15);
}

// The enumerator's list over the font fixture: newest first, a descendant before its
// Type0 font; the standard-14 rule, Type3 and MMType1 decide against the viewer.
TEST_F(Corpus, TheFontEnumeratorClassifiesEveryFontType) {
  PDDoc doc = open("fonts-each-type");
  VOQ_FontEnumerator enumerator(doc);
  const VOQ_FontStatistics* s = enumerator.enumerate();
  std::vector<std::string> entries;
  enumerator.getFonts().forEach([&](VOQ_FontEntry* e) {
    entries.push_back(std::string(e->getName().getData() ? e->getName().getData() : "") + "|" +
                      e->getSubtype().getData() + "|" + std::to_string(e->getTypeIndex()) + "|" +
                      (e->isEmbedded() ? "yes" : "no"));
  });
  const std::vector<std::string> expected = {
      "KozMinPro-Regular|CIDFontType0|5|no",
      "KozMinPro-Regular-UniJIS-UCS2-H|Type0|4|no",
      "MNOPQR+NotoSans|CIDFontType2|6|yes",
      "MNOPQR+NotoSans|Type0|4|yes",
      "MyriadMM_400_600_|MMType1|3|no",
      "T3|Type3|1|no",
      "GHIJKL+Gentium|TrueType|2|yes",
      "Arial,Bold|TrueType|2|no",
      "ABCDEF+Helvetica|Type1|0|no",
      "Helvetica-Bold|Type1|0|yes",
      "Future|Unknown|7|no",
      "Helvetica|Type1|0|yes",
  };
  EXPECT_EQ(entries, expected);
  const uint32_t count[8] = {3, 1, 2, 1, 2, 1, 1, 1}, embedded[8] = {2, 0, 1, 0, 1, 0, 1, 0};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(fontTypeStatisticsName(i));
    EXPECT_EQ(s->count[i], count[i]);
    EXPECT_EQ(s->embedded[i], embedded[i]);
    EXPECT_EQ(s->impossible[i], embedded[i] < count[i] ? 1 : 0);
  }
  EXPECT_EQ(s->total, 12u);
  EXPECT_EQ(s->totalEmbedded, 5u);
  EXPECT_STREQ(fontTypeStatisticsName(7), "UNKNOWN");
}

TEST_F(Corpus, ASelfDescendantOrACycleOfType0FontsEndsWithoutDescendants) {
  for (const char* name : {"hostile-type0-self", "hostile-type0-cycle"}) {
    SCOPED_TRACE(name);
    PDDoc doc = open(name);
    VOQ_FontEnumerator enumerator(doc);
    const VOQ_FontStatistics* s = enumerator.enumerate();
    EXPECT_EQ(s->count[4], s->total);
    EXPECT_EQ(s->totalEmbedded, 0u);
    enumerator.getFonts().forEach([](VOQ_FontEntry* e) { EXPECT_EQ(e->getDescendant(), nullptr); });
  }
}

}  // namespace
