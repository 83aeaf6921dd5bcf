// The document check: the validator's counting over a scripted consultant, and over the
// test viewer's own consultant on documents made by the fixture kit.
#include "VOQ_DocumentValidator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "HostCalls.h"
#include "PluginState.h"
#include "TestFiles.h"
#include "VOQ_ConfigurationHelper.h"
#include "ValidationResult.h"
#include "platform/window_test.h"

namespace {

using Counts = std::map<int, int>;

Counts published() {
  Counts counts;
  categoryCounts.forEach([&](const int32_t& key, int32_t* value) { counts[key] = value ? *value : 0; });
  return counts;
}

std::string show(const Counts& counts) {
  std::string text;
  for (auto& [category, n] : counts) text += std::string(categoryNames[category]) + "=" + std::to_string(n) + " ";
  return text;
}

class Validator : public ::testing::Test {
 protected:
  void open(const pdffixtures::DocumentPlan& plan, const std::string& name) {
    std::string path = pdftest::scratch(name);
    pdffixtures::writeDocument(plan, path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
    pdftest::bindHFTs(viewer);
    doc = viewer.activePDDoc();
  }
  int32_t validate(bool progress = false) {
    int32_t result = VOQ_DocumentValidator::validate(doc, progress);
    EXPECT_EQ(viewer.frameDepth(), 0);
    return result;
  }
  vhost::Viewer viewer;
  PDDoc doc = nullptr;
};

// The counting rules, over reports the consultant is scripted to make.
TEST_F(Validator, CountsWhatTheConsultantReportsByTheTypeTable) {
  struct Case {
    const char* what;
    std::vector<vhost::ScriptedReport> reports;
    int32_t result;
    Counts counts;
  };
  const std::vector<Case> cases = {
      {"one object under two containers counts twice",
       {{"<< /S /JavaScript /JS (x) >>", {58, 3, 23}}, {"<< /S /JavaScript /JS (x) >>", {58, 0, 23}}},
       0,
       {{CAT_JAVASCRIPT, 2}}},
      {"a structure attribute counts only as user properties",
       {{"<< /O /UserProperties /P [] >>", {272, 114, 122, 23}},
        {"<< /O /Layout >>", {272, 114, 122, 23}},
        {"<< /P [] >>", {272, 114, 122, 23}}},
       0,
       {{CAT_LINK, 1}}},
      {"signature fields are skipped in any case of Sig, not Sigx",
       {{"<< /FT /Sig >>", {151, 14, 91, 92, 94, 23}},
        {"<< /FT /sIG >>", {151, 14, 91, 92, 94, 23}},
        {"<< /FT /Sigx >>", {151, 14, 91, 92, 94, 23}},
        {"<< /FT /Tx >>", {275, 102, 50, 23}}},
       0,
       {{CAT_FORM, 2}}},
      {"an owner given as a string raises; the counts so far stay",
       {{"<< /S /URI /URI (http://x) >>", {293, 61, 14, 91, 23}},
        {"<< /O (UserProperties) >>", {272, 114, 122, 23}},
        {"<< /S /URI /URI (http://y) >>", {293, 61, 14, 91, 23}}},
       3,
       {{CAT_LINK, 1}}},
      {"types outside the table and outside the names count nothing",
       {{"<< /Type /Page >>", {91, 23}}, {"<< >>", {9999, -4, 23}}, {"<< >>", {}}},
       0,
       {}},
      {"a colour-space list counts its Separation and DeviceN spaces",
       {{"<< /A [/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>] "
         "/B [/DeviceN [/C /D] /DeviceCMYK << /FunctionType 2 /Domain [0 1] /N 1 >>] /C [/ICCBased] /D /DeviceRGB >>",
         {28, 100, 91, 23}}},
       0,
       {{CAT_POSTSCRIPT, 2}}},
      {"halftones count dictionary transfer and spot functions, not an array spot function",
       {{"<< /HalftoneType 1 /TransferFunction << /FunctionType 2 >> /SpotFunction << /FunctionType 4 >> >>",
         {217, 39, 40, 100, 91, 23}},
        {"<< /HalftoneType 1 /SpotFunction [/Round] >>", {217, 39, 40, 100, 91, 23}}},
       0,
       {{CAT_POSTSCRIPT, 2}}},
      {"a halftone without functions makes no key",
       {{"<< /HalftoneType 1 /SpotFunction [/Round] >>", {217, 39, 40, 100, 91, 23}}},
       0,
       {}},
      {"shadings: type 2 always, type 5 only with a function",
       {{"<< /ShadingType 2 /Function << >> >>", {326, 361, 100, 91, 23}},
        {"<< /ShadingType 5 >>", {329, 361, 100, 91, 23}},
        {"<< /ShadingType 6 /Function << >> >>", {330, 361, 100, 91, 23}}},
       0,
       {{CAT_POSTSCRIPT, 2}}},
      {"PostScript, soft masks and optional ExtGState functions count one each",
       {{"<< >>", {96, 152, 100, 91, 23}},
        {"<< >>", {106, 39, 40, 100, 91, 23}},
        {"<< >>", {283, 39, 40, 100, 91, 23}}},
       0,
       {{CAT_POSTSCRIPT, 3}}},
      {"popups, transitions, optional content and multimedia by the table",
       {{"<< /Subtype /Popup >>", {247, 14, 91, 23}},
        {"<< /S /Wipe >>", {281, 91, 23}},
        {"<< /Type /OCG /Name (L) >>", {494, 491, 23}},
        {"<< /Subtype /Screen >>", {478, 14, 91, 23}}},
       0,
       {{CAT_NONE, 1}, {CAT_TRANSITION, 1}, {CAT_OPTIONALCONTENT, 1}, {CAT_MULTIMEDIA, 1}}},
  };
  open(pdffixtures::DocumentPlan{}, "scripted.pdf");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    viewer.config().consultantScript = c.reports;
    EXPECT_EQ(validate(), c.result);
    EXPECT_EQ(published(), c.counts) << show(published());
  }
}

TEST_F(Validator, WithoutAConsultantTheCheckFailsWithTheCountsCleared) {
  open(pdffixtures::DocumentPlan{}, "noconsultant.pdf");
  viewer.config().consultantScript = {{"<< /S /JavaScript >>", {58, 23}}};
  ASSERT_EQ(validate(), 0);
  ASSERT_EQ(published().size(), 1u);
  viewer.config().consultantUnavailable = true;
  EXPECT_EQ(validate(), 3);
  EXPECT_TRUE(published().empty());
}

TEST_F(Validator, ARaiseInsideTheCountingEndsTheWalkWithResultThree) {
  open(pdffixtures::DocumentPlan{}, "raise.pdf");
  viewer.config().consultantScript = {{"<< /S /JavaScript >>", {58, 23}}, {"<< /S /JavaScript >>", {58, 23}}};
  viewer.config().faults = {{"CosObjGetType", 2, genErrGeneral}};
  EXPECT_EQ(validate(), 3);
  EXPECT_EQ(viewer.liveCallbacks(), 0);
}

TEST_F(Validator, FontsNotEmbeddedAreTheMissingFonts) {
  pdffixtures::DocumentPlan plan;
  plan.fonts = {{"Helvetica-Bold", "Type1", false}, {"Arial,Bold", "TrueType", false}, {"Gentium", "TrueType", true}};
  open(plan, "fonts.pdf");
  EXPECT_EQ(validate(), 0);
  EXPECT_EQ(missingFontCount, 1u);
  EXPECT_EQ(documentFonts.getCount(), 3u);
  EXPECT_EQ(fontStatistics.total, 3u);
  EXPECT_EQ(fontStatistics.totalEmbedded, 2u);
  EXPECT_EQ(fontStatistics.impossible[2], 1);
}

TEST_F(Validator, ARaisingFontStepEndsTheProgressDialogAndGivesThree) {
  pluginInstance = GetModuleHandleA(nullptr);
  pdffixtures::DocumentPlan plan;
  plan.fonts = {{"Helvetica", "Type1", false}};
  plan.javaScriptOpenAction = true;
  open(plan, "fontraise.pdf");
  int threads = pdftest::threadCount();
  size_t windows = platform::wintest::topLevelWindows().size();
  ASSERT_EQ(validate(true), 0);
  EXPECT_EQ(published(), (Counts{{CAT_JAVASCRIPT, 2}}));
  viewer.config().faults = {{"PDFontGetSubtype", viewer.callCount("PDFontGetSubtype") + 1, pdErrBadFont}};
  EXPECT_EQ(validate(true), 3);
  EXPECT_TRUE(published().empty());
  EXPECT_EQ(missingFontCount, 0u);
  EXPECT_EQ(validatorProgress, nullptr);
  // The window layer reaps a dialog thread's own helper shortly after the thread.
  EXPECT_TRUE(platform::wintest::pumpMessagesUntil([&] { return pdftest::threadCount() <= threads; }, 10000))
      << pdftest::threadCount() << " threads";
  EXPECT_EQ(platform::wintest::topLevelWindows().size(), windows);
  EXPECT_EQ(viewer.liveCallbacks(), 0);
  pluginInstance = nullptr;
}

}  // namespace
