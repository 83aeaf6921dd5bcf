// The test viewer's support services, called the way a plug-in calls them: texts,
// cabinets, files by path, menus, preferences, help, trusted certificates, appearances
// and the consultant.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "Fixtures.h"
#include "HostCalls.h"
#include "TestFiles.h"

namespace {

using pdftest::raisedBy;

TEST(Host, CabinetsKeepKindsOrderAndOwnership) {
  vhost::Viewer viewer;
  pdftest::bindHFTs(viewer);
  ASCab cab = ASCabNew();
  ASCabPutInt(cab, "digest", 7);
  ASCabPutBinary(cab, "0", "\x30\x82", 2);
  ASCabPutText(cab, "text", ASTextFromEncoded("Prüfung", 0));
  ASCab inner = ASCabNew();
  ASCabPutBool(inner, "b", true);
  ASCabPutCab(cab, "inner", inner);
  ASCabPutInt(cab, "digest", 8);  // replaces, keeps its place
  EXPECT_EQ(ASCabNumEntries(cab), 4);
  EXPECT_EQ(ASCabGetInt(cab, "digest", 0), 8);
  EXPECT_EQ(ASCabGetInt(cab, "missing", -5), -5);
  EXPECT_EQ(ASCabGetType(cab, "0"), kASValueBinary);
  ASInt32 size = 0;
  const void* bytes = ASCabGetBinary(cab, "0", &size);
  ASSERT_EQ(size, 2);
  EXPECT_EQ(std::memcmp(bytes, "\x30\x82", 2), 0);
  EXPECT_STREQ(ASTextGetEncoded(ASCabGetText(cab, "text"), 0), "Prüfung");
  EXPECT_TRUE(ASCabGetBool(ASCabGetCab(cab, "inner"), "b", false));
  EXPECT_EQ(raisedBy([&] { ASCabGetInt(cab, "0", 0); }), genErrBadParm) << "a binary value is no integer";

  std::vector<std::string> keys;
  auto proc = [](ASCab, const char* key, ASInt32, void* data) -> ASBool {
    static_cast<std::vector<std::string>*>(data)->push_back(key);
    return true;
  };
  ASCallback cb = ASCallbackCreateProto(ASCabEnumProc, +proc);
  ASCabEnum(cab, cb, &keys);
  ASCallbackDestroy(cb);
  EXPECT_EQ(keys, (std::vector<std::string>{"digest", "0", "text", "inner"}));
  ASCabDestroy(cab);  // with its text and inner cabinet
  EXPECT_EQ(raisedBy([&] { ASCabNumEntries(inner); }), asErrBadHandle);
  EXPECT_EQ(raisedBy([&] { ASCabNumEntries(cab); }), asErrBadHandle);
}

TEST(Host, TextsAndFixedNumbers) {
  vhost::Viewer viewer;
  pdftest::bindHFTs(viewer);
  ASText empty = ASTextNew();
  ASText text = ASTextFromEncoded("Dor:valin", 0);
  ASText copy = ASTextDup(text);
  EXPECT_TRUE(ASTextIsEmpty(empty));
  EXPECT_FALSE(ASTextIsEmpty(copy));
  ASTextDestroy(text);
  EXPECT_STREQ(ASTextGetEncoded(copy, 0), "Dor:valin");
  EXPECT_EQ(raisedBy([&] { ASTextGetEncoded(text, 0); }), asErrBadHandle);
  EXPECT_EQ(raisedBy([&] { ASTextFromEncoded("x", 3); }), genErrBadParm);
  ASTextDestroy(copy);
  ASTextDestroy(empty);
  char buffer[32];
  ASFixedToCString(fixedNegativeOne, buffer, sizeof buffer, 2);
  EXPECT_STREQ(buffer, "-1.00");
  ASGetErrorString(cosErrRead, buffer, sizeof buffer);
  EXPECT_NE(std::string(buffer).find("0x40010010"), std::string::npos) << buffer;
}

// The signature finder's road: reopen the document's own file by path and read its bytes.
TEST(Host, TheDocumentsFileIsReopenedByPath) {
  vhost::Viewer viewer;
  std::string path = pdftest::scratch("reopen.pdf");
  pdffixtures::writeDocument({}, path);
  ASSERT_TRUE(viewer.openDocument(path));
  pdftest::bindHFTs(viewer);
  ASFileSys fs = ASFileSysGetDefault();
  ASPathName name = ASFileAcquirePathName(PDDocGetFile(viewer.activePDDoc()));
  ASFile file = nullptr;
  ASSERT_EQ(ASFileSysOpenFile(fs, name, ASFILE_READ, &file), 0);
  std::string expected = pdffixtures::readFile(path);
  EXPECT_EQ(ASFileGetEOF(file), static_cast<ASFilePos>(expected.size()));
  ASFileSetPos(file, 1);
  char bytes[8] = {};
  EXPECT_EQ(ASFileRead(file, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), expected.substr(1, 4));
  ASFileClose(file);
  ASFileSysReleasePath(fs, name);

  ASText missingText = ASTextFromEncoded(pdftest::scratch("missing.pdf").c_str(), 0);
  ASPathName missing = ASFileSysCreatePathName(fs, ASAtomFromString("ASTextPath"), missingText, nullptr);
  EXPECT_EQ(ASFileSysOpenFile(fs, missing, ASFILE_READ, &file), asErrFileOpen);
  EXPECT_EQ(file, nullptr);
  ASFileSysReleasePath(fs, missing);
  ASTextDestroy(missingText);
}

TEST(Host, MenusPreferencesHelpAndLanguage) {
  vhost::Config config;
  config.menus[0].items[0].marked = true;  // View > Wireframe
  config.preferences[{"AVGeneral", "Overprint"}] = "1";
  config.preferences[{"AVGeneral", "Zoom"}] = "150";
  config.language = "DEU";
  vhost::Viewer viewer(config);
  pdftest::bindHFTs(viewer);

  struct Found {
    const char* name;
    AVMenuItem item = nullptr;
  } wanted{"Wireframe"};
  auto byName = [](AVMenuItem item, void* data) -> ASBool {
    return std::string(ASAtomGetString(AVMenuItemGetName(item))) == static_cast<Found*>(data)->name;
  };
  ASCallback predicate = ASCallbackCreateProto(AVMenuItemPredicate, +byName);
  AVMenuItem wireframe = AVMenubarAcquireMenuItemByPredicate(AVAppGetMenubar(), predicate, &wanted);
  ASSERT_NE(wireframe, nullptr);
  EXPECT_TRUE(AVMenuItemIsMarked(wireframe));
  EXPECT_STREQ(ASAtomGetString(AVMenuGetName(AVMenuItemGetParentMenu(wireframe))), "View");
  AVMenuItemRelease(wireframe);
  wanted.name = "NoSuchItem";
  EXPECT_EQ(AVMenubarAcquireMenuItemByPredicate(AVAppGetMenubar(), predicate, &wanted), nullptr);
  ASCallbackDestroy(predicate);

  // A plug-in's submenu with one command.
  static int executed = 0;
  AVMenu menu = AVMenuNew("Tolmira", "VOQ:Tolmira", extensionId);
  AVMenuItem item = AVMenuItemNew("Über ...", "VOQ:About", nullptr, extensionId);
  auto run = [](void* data) { *static_cast<int*>(data) += 1; };
  ASCallback runCb = ASCallbackCreateProto(AVExecuteProc, +run);
  AVMenuItemSetExecuteProc(item, runCb, &executed);
  AVMenuAddMenuItem(menu, item, -1);
  AVMenubarAddMenu(AVAppGetMenubar(), menu, -1);
  EXPECT_EQ(viewer.menuItemNames("VOQ:Tolmira"), (std::vector<std::string>{"VOQ:About"}));
  EXPECT_TRUE(viewer.executeMenuItem("VOQ:About"));
  EXPECT_EQ(executed, 1);
  AVMenuItemRemove(item);
  AVMenuRemove(menu);
  EXPECT_FALSE(viewer.executeMenuItem("VOQ:About"));
  ASCallbackDestroy(runCb);

  EXPECT_TRUE(AVAppGetPrefBool("AVGeneral", "Overprint", false));
  EXPECT_FALSE(AVAppGetPrefBool("AVGeneral", "Absent", false));
  EXPECT_EQ(AVAppGetPrefInt("AVGeneral", "Zoom", 100), 150);
  ASText fallback = AVAppGetPrefText("AVGeneral", "Absent", "none");
  EXPECT_STREQ(ASTextGetEncoded(fallback, 0), "none");
  ASTextDestroy(fallback);

  char language[32] = "";
  AVAppGetLanguage(language);
  EXPECT_STREQ(language, "DEU");
  ASInt16 major = 0, minor = 0;
  AVAppGetVersion(&major, &minor);
  EXPECT_EQ(major, 10);
  EXPECT_STREQ(static_cast<const char*>(ASGetConfiguration(ASAtomFromString("Product"))), "Exchange-Pro");
  EXPECT_EQ(WinAppGetModalParent(nullptr), viewer.mainWindow());

  EXPECT_FALSE(AVAppOpenHelpFile(pdftest::scratch("Tolmira.pdf").c_str(), "Preferences"));
  EXPECT_EQ(viewer.helpRequests().at(0).second, "Preferences");
}

TEST(Host, TrustedCertificatesAndAppearances) {
  vhost::Config config;
  config.trustedCerts = {{0x30, 0x01, 0x00}, {0x30, 0x00}};
  config.appearances = {"Standard", "Logo"};
  vhost::Viewer viewer(config);
  pdftest::bindHFTs(viewer);
  ASCab certs = ASCabNew();
  AABGetTrustedCerts(0xFFFF, certs);
  EXPECT_EQ(ASCabNumEntries(certs), 2);
  ASInt32 size = 0;
  ASCabGetBinary(certs, "1", &size);
  EXPECT_EQ(size, 2);
  ASCabDestroy(certs);
  ASSERT_TRUE(PSOpenAppearanceList(0, 1));
  ASSERT_EQ(PSGetNumAppearances(), 2);
  ASText name = PSGetAppearanceName(1);
  EXPECT_STREQ(ASTextGetEncoded(name, 0), "Logo");
  ASTextDestroy(name);
  EXPECT_EQ(raisedBy([] { PSGetAppearanceName(2); }), genErrBadParm);
  PSCloseAppearanceList();
}

// The consultant's reports over a document with dynamic content: each (object, type)
// once, with its hierarchy back to the catalog.
TEST(Host, ConsultantReportsRequestedTypesWithTheirHierarchy) {
  pdffixtures::DocumentPlan plan;
  plan.javaScriptOpenAction = true;
  plan.linkAnnotation = true;
  plan.signatures = {{"Signature1", false}};
  std::string path = pdftest::scratch("dynamic.pdf");
  pdffixtures::writeDocument(plan, path);
  vhost::Viewer viewer;
  ASSERT_TRUE(viewer.openDocument(path));
  pdftest::bindHFTs(viewer);

  struct Seen {
    std::map<std::string, int> counts;  // "type<-parent<-..." -> reports
    float lastProgress = 0;
    bool increasing = true;
    int postProcessed = 0;
  };
  static Seen seen;
  seen = Seen{};
  auto found = [](Consultant, CosObj, const PDFObjType* hierarchy, ASUns32 n, void*) -> ASInt32 {
    std::string key;
    for (ASUns32 i = 0; i < n; ++i) key += (i ? "<-" : "") + std::to_string(hierarchy[i]);
    seen.counts[key]++;
    return AC_NOCHANGE;
  };
  auto progress = [](float value) {
    seen.increasing = seen.increasing && value > seen.lastProgress;
    seen.lastProgress = value;
  };
  auto post = []() { seen.postProcessed++; };
  // JavaScript action 58, URI action 293, link 61, widget 151, page 91.
  const PDFObjType requested[] = {58, 293, 61, 151, 91};
  ConsultantAgentRec agent{sizeof agent, requested, 5, ASCallbackCreateProto(ConsultantPostProcessProc, +post),
                           ASCallbackCreateProto(ConsultantObjFoundProc, +found), 0, 0};
  ASCallback progressCb = ASCallbackCreateProto(ConsultantProgressProc, +progress);
  Consultant c = ConsultantCreate(progressCb);
  ConsultantRegisterAgent(c, &agent, 1);
  ConsultantTraverseFrom(c, CosDocGetRoot(PDDocGetCosDoc(viewer.activePDDoc())), PT_CATALOG);
  ConsultantDestroy(c);
  for (ASCallback cb : {agent.postProcess, agent.objFound, progressCb}) ASCallbackDestroy(cb);

  // The golden table of this fixture (see docs/viewer.md): the widget is reached both
  // as a field and as an annotation, each path reported under its own type.
  const std::map<std::string, int> golden = {
      {"58<-23", 1},               // /OpenAction JavaScript
      {"91<-92<-94<-23", 1},       // the page
      {"151<-14<-91<-92<-94<-23", 1},  // the signature widget in /Annots
      {"61<-14<-91<-92<-94<-23", 1},   // the link
      {"293<-61<-14<-91<-92<-94<-23", 1},  // the link's URI action (direct)
  };
  EXPECT_EQ(seen.counts, golden);
  EXPECT_EQ(seen.postProcessed, 1);
  EXPECT_TRUE(seen.increasing);
  EXPECT_GT(seen.lastProgress, 0.0f);
  EXPECT_LE(seen.lastProgress, 100.0f);
}

}  // namespace
