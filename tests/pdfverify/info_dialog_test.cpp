// The information dialogs over fixtures of the document check: the categories found,
// their counts and explanations, the document's summary, and the fonts with their grid.
#include <functional>
#include <string>
#include <vector>

#include "DSInfoDialog.h"
#include "DialogTest.h"
#include "Messages.h"
#include "VOQ_DocumentValidator.h"
#include "Corpus.h"
#include "Fixtures.h"

namespace {

using pdftest::DialogTest;
namespace wt = platform::wintest;

std::vector<std::string> rows(HWND dialog) {
  std::vector<std::string> out;
  HWND list = GetDlgItem(dialog, 1137);
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::string row(static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)), '\0');
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&row[0]));
    out.push_back(row);
  }
  return out;
}

class InfoDialogTest : public DialogTest {
 protected:
  // A file of the test's own: tests run side by side open the same fixtures.
  static std::string documentPath(const std::string& name) {
    return std::string(PICTURE_DIR) + "/../info_" + name + "." +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pdf";
  }
  // Opens a corpus fixture, or a document of the plan, as the active document.
  void openCorpus(const std::string& name) {
    const std::string path = documentPath(name);
    pdffixtures::writeCorpusFixture(name, path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
  }
  void openPlan(const pdffixtures::DocumentPlan& plan, const std::string& name) {
    const std::string path = documentPath(name);
    pdffixtures::writeDocument(plan, path);
    ASSERT_TRUE(viewer.openDocument(path)) << viewer.error();
  }
  INT_PTR show(const std::function<void(HWND)>& user) {
    wt::onNextDialog(user);
    return DSInfoDialog::show(viewer.activeAVDoc());
  }
};

const char kCleanEn[] =
    "The document does not contain dynamic content. The document has embedded all used fonts. A secure signature "
    "can be created.";
const char kDynamicEn[] = "The document contains dynamic contnent. Threrfore a secure signatue cannot be created.";
const char kFontsEn[] = "The document does not deliver all used fonts. Therefore a secure signture cannot be created.";
const char kDynamicDe[] = "Das Dokument kann aufgrund der beinhalteten dynamischen Elemente nicht sicher signiert werden.";
const char kBothDe[] =
    "Das Dokument kann aufgrund der beinhalteten dynamischen Elemente und nicht eingebetteter Schriftarten nicht "
    "sicher signiert werden.";
const char kVersionWarningEn[] =
    "The current document was produced with a newer version of Adobe Acrobat and maybe contains dynamic content "
    "which cannot be identified with this version of the Dorvalin plugin. Therefore it is not guaranteed that - when "
    "cleaning the document - all dynamic content is removed or found.";

struct CategoryCase {
  const char* fixture;
  int language;
  std::vector<std::string> list;  // as the sorted list shows them
  // The first entry's information, selected at once.
  const char* header;
  const char* count;
  int explained;  // the category whose explanation shows, -1 for none
  std::string summary;  // "" when not checked here
};

TEST_F(InfoDialogTest, CategoriesSortedAndTheFirstExplained) {
  const CategoryCase cases[] = {
      {"clean", 0, {}, "No dynamic content found", "", -1,
       std::string("The document contains 0 digital signatures.  ") + kCleanEn},
      {"js-page-actions", 1, {"JavaScript", "zusätzliche Aktionen"}, "Information zur Kategorie JavaScript", "6", 2,
       ""},
      // Alphabetically first, not the lowest category number.
      {"js-annotation", 0, {"additional action", "Form field", "JavaScript", "Link / hyperlink"},
       "Information about category additional action", "2", 12, ""},
      {"js-annotation", 1, {"Formularfeld", "JavaScript", "Verweis", "zusätzliche Aktionen"},
       "Information zur Kategorie Formularfeld", "2", 1, ""},
      {"annotations-markup", 0, {"Highlight annotation", "normal annotation", "Popup window"},
       "Information about category Highlight annotation", "3", 7, ""},
      {"annotations-markup", 1, {"Hervorhebung", "normale Notizen", "Popup Fenster"},
       "Information zur Kategorie Hervorhebung", "3", 7, ""},
      {"multimedia", 1, {"Multimedia", "Verweis"}, "Information zur Kategorie Multimedia", "26", 9,
       std::string("Das Dokument enthält 0 digitale Unterschriften.  ") + kDynamicDe},
      {"transitions", 0, {"transition"}, "Information about category transition", "4", 11, ""},
      {"optional-content", 0, {"Link / hyperlink", "Optional content"}, "Information about category Link / hyperlink",
       "1", 5, ""},
      {"postscript-functions", 0, {"PostScript"}, "Information about category PostScript", "12", 4, ""},
      {"structure", 1, {"Alternativer Text", "Verweis"}, "Information zur Kategorie Alternativer Text", "2", 10,
       ""},
      {"annotations-printer", 0, {"printer mark"}, "Information about category printer mark", "2", 6, ""},
      {"duration-carets", 0, {"normal annotation", "transition"}, "Information about category normal annotation", "2",
       8, ""},
      {"links-outlines", 0, {"Link / hyperlink"}, "Information about category Link / hyperlink", "27", 5, ""},
      {"additional-actions", 1, {"Verweis", "zusätzliche Aktionen"}, "Information zur Kategorie Verweis", "1", 5,
       ""},
      {"js-name-tree", 0, {"JavaScript"}, "Information about category JavaScript", "12", 2, ""},
  };
  for (const CategoryCase& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + (c.language == 1 ? " DE" : " EN"));
    languageFlag = c.language;
    openCorpus(c.fixture);
    const INT_PTR result = show([&](HWND d) {
      EXPECT_EQ(rows(d), c.list);
      EXPECT_EQ(text(d, 1143), c.header);
      EXPECT_EQ(text(d, 1141), c.count);
      EXPECT_EQ(text(d, 1139), c.explained < 0 ? "" : categoryExplanationFor(c.explained));
      if (c.explained < 0) {
        EXPECT_EQ(text(d, 1140), "");
      } else {
        EXPECT_EQ(text(d, 1140), c.language == 1 ? "Anzahl gefundener Objekte:" : "Amount of found objects:");
        EXPECT_EQ(SendDlgItemMessageA(d, 1137, LB_GETCURSEL, 0, 0), 0);
      }
      if (!c.summary.empty()) {
        EXPECT_EQ(text(d, 1145), c.summary);
      }
      wt::pressButton(d, IDOK);
    });
    EXPECT_EQ(result, 1);
    viewer.closeDocuments();
  }
}

TEST_F(InfoDialogTest, SelectingAnotherCategoryShowsIt) {
  languageFlag = 0;
  openCorpus("annotations-markup");
  show([&](HWND d) {
    // The count label reads otherwise before the first selection's text replaced it.
    EXPECT_TRUE(wt::pickListRow(d, 1137, 2));
    EXPECT_EQ(text(d, 1143), "Information about category popup window");
    EXPECT_EQ(text(d, 1141), "1");
    EXPECT_EQ(text(d, 1139), categoryExplanationFor(0));
    EXPECT_TRUE(wt::pickListRow(d, 1137, 1));
    EXPECT_EQ(text(d, 1143), "Information about category normal annotation");
    EXPECT_EQ(text(d, 1141), "7");
    savePicture(d, "info_en");
    wt::pressKey(d, VK_ESCAPE);
  });
}

// The characters of a UTF-8 text.
size_t characters(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// Each category's title is one line in the frame of its group box, and each name one line
// in the list: the longest of either language fits, at the font's average character width.
TEST_F(InfoDialogTest, EveryCategoryTitleAndNameFitsItsPlace) {
  languageFlag = 0;
  openCorpus("annotations-markup");
  show([&](HWND d) {
    const LONG average = units(0, 0, 4, 0).right;  // 4 dialog units: one average character
    const LONG titleRoom = place(d, 1143).right - units(0, 0, 8, 0).right;
    const LONG nameRoom = place(d, 1137).right - units(0, 0, 12, 0).right;  // a scroll bar beside
    for (int language : {1, 0}) {
      for (int category = 0; category <= 13; ++category) {
        const std::string name = getCategoryText(category, language);
        const std::string title =
            std::string(language == 1 ? "Information zur Kategorie " : "Information about category ") + name;
        EXPECT_LE(static_cast<LONG>(characters(title)) * average, titleRoom) << title;
        EXPECT_LE(static_cast<LONG>(characters(name)) * average, nameRoom) << name;
      }
    }
    // The longest English title, for the eye.
    EXPECT_TRUE(wt::pickListRow(d, 1137, 0));
    EXPECT_EQ(text(d, 1143), "Information about category Highlight annotation");
    savePicture(d, "info_long_title");
    wt::pressKey(d, VK_ESCAPE);
  });
}

TEST_F(InfoDialogTest, TextsOfTheDialogByLanguage) {
  for (int language : {1, 0}) {
    languageFlag = language;
    const bool de = language == 1;
    openCorpus("js-open-action");
    show([&](HWND d) {
      EXPECT_EQ(text(d), de ? "Information über dynamische Inhalte" : "Information about dynamic content");
      EXPECT_EQ(text(d, 1136), de ? "Gefundene Kategorien:" : "Found categories:");
      EXPECT_EQ(text(d, 1144), de ? "Information zum Dokument" : "Information about the document");
      EXPECT_EQ(text(d, IDOK), de ? "Dialog schließen" : "Close dialog");
      EXPECT_EQ(text(d, 1000), de ? "Schriftarten anzeigen" : "Show fonts");
      EXPECT_EQ(place(d, 1137), units(7, 19, 100, 110));
      EXPECT_EQ(place(d, 1145), units(14, 148, 294, 72));
      EXPECT_EQ(GetWindowLongA(GetDlgItem(d, 1137), GWL_STYLE) & (LBS_SORT | LBS_NOTIFY), LBS_SORT | LBS_NOTIFY);
      if (de) savePicture(d, "info_de");
      wt::pressButton(d, IDOK);
    });
    viewer.closeDocuments();
  }
}

TEST_F(InfoDialogTest, SignaturesAreCountedWithTheUnsignedFields) {
  languageFlag = 0;
  pdffixtures::DocumentPlan plan;
  plan.signatures = {{"Signature1", true}, {"Later", false}};
  openPlan(plan, "two-fields");
  show([&](HWND d) {
    const std::string summary = text(d, 1145);
    // No version warning: the two blanks stand together.
    EXPECT_EQ(summary.rfind("The document contains 2 digital signatures.  ", 0), 0u) << summary;
    wt::pressButton(d, IDOK);
  });
}

TEST_F(InfoDialogTest, ANewerPdfVersionIsWarnedOf) {
  languageFlag = 0;
  openCorpus("version-2-0");
  show([&](HWND d) {
    EXPECT_EQ(text(d, 1145),
              std::string("The document contains 0 digital signatures. ") + kVersionWarningEn + " " + kCleanEn);
    wt::pressButton(d, IDOK);
  });
}

TEST_F(InfoDialogTest, FontsDialogGridAndDetails) {
  languageFlag = 0;
  openCorpus("fonts-each-type");
  show([&](HWND d) {
    EXPECT_EQ(text(d, 1145), std::string("The document contains 0 digital signatures.  ") + kFontsEn);
    wt::onNextDialog([&](HWND f) {
      EXPECT_EQ(text(f), "Fonts used in the document");
      const std::pair<int, const char*> labels[] = {
          {1152, "The following fonts exist in the document:"}, {1153, "Explanation to the selected font:"},
          {1155, "Fontname:"}, {1154, "Fonttype:"}, {1173, "Embedded:"}, {1174, "Sign:"}, {1195, "Statistics:"},
          {1194, "Summary:"}, {IDOK, "Close Dialog"}, {1196, "Amount"}, {1197, "Embedded"}, {1198, "Sign"},
          // The grid's row labels are the resource's, in every language.
          {1186, "FontTyp:"}, {1187, "Type1 Fonts"}, {1190, "Type0 (CID) Fonts"}, {1193, "Multiple Master Fonts"}};
      for (const auto& l : labels) EXPECT_EQ(text(f, l.first), l.second) << l.first;
      // Rows Type1, Type3, TrueType, Type0, CIDType0, CIDType2, Multiple Master, total.
      const char* grid[8][3] = {{"3", "2", "No"}, {"1", "0", "No"}, {"2", "1", "No"},  {"2", "1", "No"},
                                {"1", "0", "No"}, {"1", "1", "Yes"}, {"1", "0", "No"}, {"12", "5", "No"}};
      const int cells[8][3] = {{1156, 1164, 1178}, {1157, 1165, 1179}, {1158, 1166, 1180}, {1159, 1167, 1181},
                               {1160, 1168, 1182}, {1161, 1169, 1183}, {1162, 1170, 1184}, {1163, 1171, 1185}};
      for (int row = 0; row < 8; ++row) {
        for (int col = 0; col < 3; ++col) EXPECT_EQ(text(f, cells[row][col]), grid[row][col]) << row << "/" << col;
      }
      EXPECT_EQ(rows(f), (std::vector<std::string>{"ABCDEF+Helvetica", "Arial,Bold", "Future", "GHIJKL+Gentium",
                                                   "Helvetica", "Helvetica-Bold", "KozMinPro-Regular",
                                                   "KozMinPro-Regular-UniJIS-UCS2-H", "MNOPQR+NotoSans",
                                                   "MNOPQR+NotoSans", "MyriadMM_400_600_", "T3"}));
      EXPECT_EQ(SendDlgItemMessageA(f, 1137, LB_GETHORIZONTALEXTENT, 0, 0), 1024);
      EXPECT_EQ(text(f, 1002), "ABCDEF+Helvetica");
      EXPECT_EQ(text(f, 1172), "Type1");
      EXPECT_EQ(text(f, 1175), "No");
      EXPECT_EQ(text(f, 1176), "No");
      EXPECT_TRUE(wt::pickListRow(f, 1137, 3));
      EXPECT_EQ(text(f, 1002), "GHIJKL+Gentium");
      EXPECT_EQ(text(f, 1172), "TrueType");
      EXPECT_EQ(text(f, 1175), "Yes");
      EXPECT_EQ(text(f, 1176), "Yes");
      savePicture(f, "fonts_en");
      wt::pressButton(f, IDOK);
    });
    EXPECT_TRUE(wt::pressButton(d, 1000));
    wt::pressButton(d, IDOK);
  });
}

TEST_F(InfoDialogTest, OneUnembeddedTrueTypeFont) {
  languageFlag = 1;
  pdffixtures::DocumentPlan plan;
  plan.fonts = {{"Arial", "TrueType", false}};
  plan.javaScriptOpenAction = true;
  openPlan(plan, "truetype");
  show([&](HWND d) {
    EXPECT_EQ(text(d, 1145), std::string("Das Dokument enthält 0 digitale Unterschriften.  ") + kBothDe);
    wt::onNextDialog([&](HWND f) {
      EXPECT_EQ(text(f, 1180), "Nein");  // TrueType's sign cell
      EXPECT_EQ(text(f, 1185), "Nein");  // the total's
      EXPECT_EQ(text(f, 1178), "Ja");
      EXPECT_EQ(text(f, 1172), "TrueType");
      savePicture(f, "fonts_de");
      wt::pressKey(f, VK_ESCAPE);
    });
    wt::pressButton(d, 1000);
    wt::pressKey(d, VK_ESCAPE);
  });
}

TEST_F(InfoDialogTest, AFailingCheckShowsTheErrorAndEnds) {
  for (int language : {1, 0}) {
    languageFlag = language;
    wt::clearMessageBoxes();
    openCorpus("hostile-font-damaged");
    bool reached = false;
    const INT_PTR result = show([&](HWND) { reached = true; });
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(reached);  // ended before the user came to it
    const auto boxes = wt::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, language == 1 ? "Fehler" : "Error");
    EXPECT_EQ(boxes[0].text,
              language == 1 ? "Fehler beim Prüfen des Dokuments" : "An error occured during scanning the document");
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    // The check's progress dialog is gone with its thread.
    EXPECT_EQ(validatorProgress, nullptr);
    viewer.closeDocuments();
  }
}

TEST_F(InfoDialogTest, AFontDialogWithoutFonts) {
  languageFlag = 0;
  pdffixtures::DocumentPlan plan;
  openPlan(plan, "no-fonts");
  show([&](HWND d) {
    wt::onNextDialog([&](HWND f) {
      if (rows(f).empty()) {
        for (int id : {1002, 1172, 1175, 1176}) EXPECT_EQ(text(f, id), "---") << id;
      }
      wt::pressButton(f, IDOK);
    });
    wt::pressButton(d, 1000);
    wt::pressButton(d, IDOK);
  });
}

}  // namespace
