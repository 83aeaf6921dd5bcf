// Tolmira's menu in the test viewer, its commands clicked as a user would, and the
// About dialog.
#include <string>
#include <vector>

#include "DialogTest.h"
#include "UserInterface.h"
#include "VersionInfo.h"
#include "Fixtures.h"
#include "Messages.h"

namespace {

using pdftest::DialogTest;
namespace wt = platform::wintest;

// The test program, which carries the module's resource description and so its version.
std::string ownFile() {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

const std::vector<std::string> kItems = {"VOQ:About", "VOQ:Preferences", "VOQ:Proxy", "VOQ:Info", "VOQ:Certs"};

class MenuTest : public DialogTest {
 protected:
  void TearDown() override {
    removeMenuItems();
    DialogTest::TearDown();
  }
  // The dialog a command shows: its caption, or "" when none came.
  std::string dialogOf(const std::string& item) {
    std::string caption;
    wt::onNextDialog([&](HWND d) {
      caption = text(d);
      wt::pressKey(d, VK_ESCAPE);
    });
    EXPECT_TRUE(viewer.executeMenuItem(item)) << item;
    return caption;
  }
};

TEST_F(MenuTest, TheSubmenuAndItsItemsInTheLanguageOfTheMoment) {
  struct Case {
    int language;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {1, {"Tolmira", "Über ...", "Einstellungen", "Proxy-Konfiguration", "Info über Dokument",
           "Stammzertifikate herunterladen"}},
      {0, {"Tolmira", "About ...", "Preferences", "Proxy Configuration", "Info about document",
           "Download root certificates"}},
  };
  for (const Case& c : cases) {
    languageFlag = c.language;
    const std::vector<std::string> before = viewer.menuNames();
    ASSERT_TRUE(addMenuItems());
    // Behind everything already on the bar, items in the table's order.
    std::vector<std::string> bar = before;
    bar.push_back("VOQ:Root");
    EXPECT_EQ(viewer.menuNames(), bar);
    EXPECT_EQ(viewer.menuItemNames("VOQ:Root"), kItems);
    std::vector<std::string> titles = {viewer.menuTitle("VOQ:Root")};
    for (const std::string& item : kItems) titles.push_back(viewer.menuTitle(item));
    EXPECT_EQ(titles, c.titles);
    // The language read later does not change a menu already built.
    languageFlag = 1 - c.language;
    EXPECT_EQ(viewer.menuTitle("VOQ:Root") + viewer.menuTitle("VOQ:About"), c.titles[0] + c.titles[1]);
    const int callbacks = viewer.liveCallbacks();
    removeMenuItems();
    EXPECT_EQ(viewer.menuNames(), before);
    EXPECT_TRUE(viewer.menuItemNames("VOQ:Root").empty());
    EXPECT_EQ(viewer.liveCallbacks(), callbacks - 5);
  }
}

TEST_F(MenuTest, AHostRaiseLeavesNoPartOfTheMenu) {
  for (int nth : {1, 3, 5}) {
    // Faults count the operation's calls since the viewer started.
    viewer.config().faults = {{"AVMenuItemNew", viewer.callCount("AVMenuItemNew") + nth, 2}};
    const int callbacks = viewer.liveCallbacks();
    EXPECT_FALSE(addMenuItems()) << nth;
    for (const std::string& name : viewer.menuNames()) EXPECT_NE(name, "VOQ:Root") << nth;
    EXPECT_EQ(viewer.frameDepth(), 0);
    // The items made before the raise went with their submenu, and their callbacks.
    EXPECT_EQ(viewer.liveCallbacks(), callbacks);
    viewer.config().faults.clear();
    removeMenuItems();  // after a failed build there is nothing left to remove
  }
  viewer.config().faults = {{"AVMenuNew", viewer.callCount("AVMenuNew") + 1, 2}};
  EXPECT_FALSE(addMenuItems());
  viewer.config().faults.clear();
  ASSERT_TRUE(addMenuItems());
  EXPECT_EQ(viewer.menuItemNames("VOQ:Root"), kItems);
}

TEST_F(MenuTest, EachItemOpensItsDialog) {
  ASSERT_TRUE(addMenuItems());
  EXPECT_EQ(dialogOf("VOQ:About"), "Tolmira");
  EXPECT_EQ(dialogOf("VOQ:Preferences"), "Einstellungen");
  EXPECT_EQ(dialogOf("VOQ:Proxy"), "Proxy-Konfiguration");
  // Info without a document: the box, in German, captioned "Error" in every language.
  for (int language : {1, 0}) {
    languageFlag = language;
    wt::clearMessageBoxes();
    EXPECT_TRUE(viewer.executeMenuItem("VOQ:Info"));
    const auto boxes = wt::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, language == 1 ? "Es ist kein Dokument geöffnet!" : "No document is open!");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  }
  // With a document: the information dialog about it.
  languageFlag = 1;
  const std::string pdf = std::string(PICTURE_DIR) + "/../menu_info.pdf";
  pdffixtures::writeDocument(pdffixtures::DocumentPlan{}, pdf);
  ASSERT_TRUE(viewer.openDocument(pdf));
  EXPECT_EQ(dialogOf("VOQ:Info"), "Information über dynamische Inhalte");
}

TEST_F(MenuTest, HelpAsksForTheSigningProductsHelpFile) {
  VOQ_CardSignature_Help(nullptr);
  ASSERT_EQ(viewer.helpRequests().size(), 1u);
  EXPECT_EQ(viewer.helpRequests()[0].first, "Dorvalin Hilfe.pdf");
  EXPECT_EQ(viewer.helpRequests()[0].second, "Index");
}

// Clean, carried by no item: the verifying plug-in cleans nothing and says so, in the
// language of the moment; the document stays as it was.
TEST_F(MenuTest, CleanChangesNoDocumentAndSaysSo) {
  const std::string pdf = std::string(PICTURE_DIR) + "/../menu_clean.pdf";
  pdffixtures::DocumentPlan plan;
  plan.javaScriptOpenAction = true;
  pdffixtures::writeDocument(plan, pdf);
  const std::string before = pdffixtures::readFile(pdf);
  ASSERT_TRUE(viewer.openDocument(pdf));
  for (int language : {1, 0}) {
    languageFlag = language;
    wt::clearMessageBoxes();
    VOQ_CardSignature_Clean(nullptr);
    const auto boxes = wt::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, getCleanUnavailableText(language));
    EXPECT_EQ(boxes[0].caption, language == 1 ? "Fehler" : "Error");
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
  }
  EXPECT_EQ(pdffixtures::readFile(pdf), before);
}

TEST_F(MenuTest, AboutShowsVersionAndBuildDateOnThePicture) {
  initVersionStringAndBuildTime(ownFile().c_str());  // the installed version is missing: failure, texts set
  for (UINT key : {VK_ESCAPE, VK_RETURN}) {
    bool shown = false;
    wt::onNextDialog([&](HWND d) {
      shown = true;
      EXPECT_EQ(text(d), "Tolmira");
      EXPECT_EQ(text(d, 1220), "2.21.0000");
      EXPECT_EQ(text(d, 1147), std::string(getBuildTimeString().getData()));
      EXPECT_EQ(text(d, 1147).size(), 20u);  // "Mmm dd yyyy hh:mm:ss"
      EXPECT_EQ(GetWindowLongA(GetDlgItem(d, 1220), GWL_STYLE) & SS_RIGHT, SS_RIGHT);
      HWND picture = GetWindow(d, GW_CHILD);
      auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
      ASSERT_NE(bitmap, nullptr);
      const wt::Image image = wt::bitmapImage(bitmap);
      EXPECT_EQ(image.width, 484);
      EXPECT_EQ(image.height, 323);
      if (key == VK_ESCAPE) savePicture(d, "about");
      wt::pressKey(d, key);
    });
    showAboutDialog();
    EXPECT_TRUE(shown);
  }
}

TEST_F(MenuTest, TheSigningProductsAboutProcedureFillsItsOwnControls) {
  initVersionStringAndBuildTime(ownFile().c_str());
  wt::onNextDialog([&](HWND d) {
    EXPECT_EQ(text(d), "Dorvalin");
    EXPECT_EQ(text(d, 1200), "2.21.0000");
    EXPECT_EQ(text(d, 1201), std::string(getBuildTimeString().getData()));
    wt::pressKey(d, VK_ESCAPE);
  });
  EXPECT_EQ(DialogBoxParamA(pluginInstance, MAKEINTRESOURCEA(116), nullptr, signingAboutDlgProc, 0), IDCLOSE);
}

}  // namespace
