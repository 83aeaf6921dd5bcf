// Tolmira's message catalogue: the code table in both languages, the area fallbacks,
// the start-up, menu, dialog and category texts, and the PDF version check.
#include <gtest/gtest.h>

#include <platform/window_test.h>

#include "Fixtures.h"
#include "HostCalls.h"
#include "Messages.h"
#include "PluginState.h"
#include "TestFiles.h"

namespace {

struct CodeCase {
  uint32_t code;
  int lang;
  const char* text;
};

TEST(Messages, CodesAndFallbacks) {
  const CodeCase cases[] = {
      {0x00000000, 0, "No error"},
      {0x00000000, 1, "Kein Fehler"},
      {0x80000009, 0, "The signature has been created with a newer version of Dorvalin. Therefore it cannot be "
                      "validated correctly."},
      {0x80000009, 1, "Die Signatur wurde mit einer neueren Version von Dorvalin erstellt, und kann deshalb nicht "
                      "geprüft werden."},
      {0x80020000, 1, "Unbekannter PIN - Fehler."},
      {0x80030002, 1, "Ein Zertifikat der Zertifikatskette ist ungültig."},
      {0x80040000, 1, "Ein unbekannter Fehler ist bei der Zertifikatsvalidierung aufgetreten."},
      {0x8004000C, 1, "Die Gültigkeit des Zertifikates konnte nicht geprüft werden."},
      {0x80050001, 1, "Die Signatur ist ungültig (Das Dokument wurde nach dem Unterschreiben geändert)."},
      {0x80050001, 0, "The signature is not valid (The document is changed)."},
      {0x80070022, 0, "No OCSP-URl could be found for certificate valitation."},
      {0x8007001F, 0, "During the OCSP revocation check a invalid HTTP return code was delivered."},
      {0x8007001C, 0, "HTTP proxy can not be found.\nCheck proxy and network settings."},
      {0x800B0001, 0, "HTTPS proxy can not be found.\nCheck proxy and network settings."},
      {0x800A0002, 1, "Es konnte keine Verbindung zum HTTP-Proxy aufgebaut werden.\nÜberprüfen Sie die "
                      "Proxy-Einstellungen und Ihre Netzwerkverbindung(en)."},
      {0x800B0002, 1, "Es konnte kein neues Verbindungsobjekt über den HTTPS-Proxy erstellt werden."},
      // Area fallbacks.
      {0x80030010, 0, "Unknown error with the certificate chain."},
      {0x80070023, 0, "Unknown error."},
      {0x80020007, 0, "Unknown error with PIN."},
      {0x80040099, 1, "Unbekannter Fehler mit dem Zertifikat."},
      {0x800A0001, 0, "Unknown error."},
      {0x800A0001, 1, "Unbekannter QXL Fehler."},
      {0x12345678, 2, "Unknown error."},
  };
  for (const CodeCase& c : cases) {
    EXPECT_EQ(getErrorMessage(c.code, c.lang), c.text) << std::hex << c.code << " lang " << c.lang;
  }
}

TEST(Messages, EveryRowHasBothLanguagesAndOnlyTheProxyRowsBreakLines) {
  ASSERT_EQ(errorMessageRows(), 128);
  int breaksEnglish = 0, breaksGerman = 0;
  for (int i = 0; i < errorMessageRows(); ++i) {
    uint32_t code = errorMessageCode(i);
    std::string de = getErrorMessage(code, 1), en = getErrorMessage(code, 0);
    EXPECT_FALSE(de.empty()) << std::hex << code;
    EXPECT_FALSE(en.empty()) << std::hex << code;
    EXPECT_NE(de, en) << std::hex << code;
    EXPECT_EQ(en.find("Unknown error."), std::string::npos) << "a row is no fallback: " << std::hex << code;
    breaksEnglish += en.find('\n') != std::string::npos;
    breaksGerman += de.find('\n') != std::string::npos;
    for (int j = 0; j < i; ++j) EXPECT_NE(errorMessageCode(j), code) << "row twice";
  }
  EXPECT_EQ(breaksEnglish, 4);
  EXPECT_EQ(breaksGerman, 4);
}

TEST(Messages, StartupMenuDialogCategoryAndLabelTexts) {
  EXPECT_EQ(getStartupErrorText(1, 0), "This version of the Adobe product is not support by Tolmira.");
  EXPECT_EQ(getStartupErrorText(2, 1),
            "Es sind nicht alle für den Betrieb von Tolmira notwendigen Adobe- Zusatzmodule vorhanden.");
  EXPECT_EQ(getStartupErrorText(6, 0), "An internal error (handler) occured during the initialization of Tolmira.");
  EXPECT_EQ(getStartupErrorText(7, 0), "");
  EXPECT_EQ(getStartupErrorText(-1, 1), "");

  struct Row {
    const char* (*get)(int, int);
    int n, lang;
    const char* text;  // nullptr: no text
  };
  const Row rows[] = {
      {getMenuText, 0, 1, "Tolmira"},         {getMenuText, 0, 0, "Tolmira"},
      {getMenuText, 2, 1, "Über ..."},        {getMenuText, 7, 0, "Download root certificates"},
      {getMenuText, 8, 0, nullptr},           {getDialogText, 106, 1, "Einstellungen"},
      {getDialogText, 1202, 1, "Pin eigeben:"}, {getDialogText, 1213, 0, "Port:"},
      {getDialogText, 1110, 1, "Alternativer text"}, {getDialogText, 1219, 1, "Abbrechen"},
      {getDialogText, 1999, 1, nullptr},      {getCategoryText, 6, 1, "Durckermarkierung"},
      {getCategoryText, 0, 0, "Popup window"}, {getCategoryText, 13, 1, "Optionaler Inhalt"},
      {getCategoryText, 14, 1, "Unbekannt"},  {getCategoryText, -1, 0, "unknown"},
      {getLabelText, 3, 1, "Schriftarten sind nicht eingebettet."}, {getLabelText, 5, 0, "No"},
      {getLabelText, 6, 0, nullptr},
  };
  for (const Row& r : rows) {
    const char* t = r.get(r.n, r.lang);
    if (r.text == nullptr) {
      EXPECT_EQ(t, nullptr) << r.n;
    } else {
      ASSERT_NE(t, nullptr) << r.n;
      EXPECT_STREQ(t, r.text) << r.n;
    }
  }
  EXPECT_STREQ(getCertInternalErrorText(1), "Das Zertifikat konnte aufgrung eines internen Fehlers nicht geprüft werden.");
  EXPECT_STREQ(getPinPadPromptText(0, 1), "Please enter the signature-PIN on your smartcard terminal.");
  EXPECT_STREQ(getPinPadPromptText(1, 2), "Bitte geben Sie die Geheimhaltungs-PIN am Kartenlesegerät ein.");
  EXPECT_STREQ(getIntegrityText(0, true), "The information about dynamic was manipulated.");
  EXPECT_STREQ(getMissingValidationTimeText(0), "Error: can´t find date and time of certificate validation!");
}

TEST(Messages, CheckPdfVersionWarnsOnlyForNewerDocumentsWhenAsked) {
  struct Case {
    const char* version;
    bool warn, supported;
    size_t boxes;
  };
  const Case cases[] = {{"1.7", true, true, 0}, {"2.0", false, false, 0}, {"2.0", true, false, 1}};
  vhost::Viewer viewer;
  for (const Case& c : cases) {
    pdffixtures::DocumentPlan plan;
    plan.headerVersion = c.version;
    std::string path = pdftest::scratch(std::string("v") + c.version + ".pdf");
    pdffixtures::writeDocument(plan, path);
    ASSERT_TRUE(viewer.openDocument(path));
    pdftest::bindHFTs(viewer);
    platform::wintest::clearMessageBoxes();
    languageFlag = 0;
    EXPECT_EQ(checkPdfVersion(viewer.activePDDoc(), c.warn), c.supported) << c.version;
    auto boxes = platform::wintest::messageBoxes();
    ASSERT_EQ(boxes.size(), c.boxes) << c.version << (c.warn ? " warn" : "");
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].caption, "Warning");
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
      EXPECT_EQ(boxes[0].owner, viewer.mainWindow());
      EXPECT_NE(boxes[0].text.find("cannot be idetified"), std::string::npos);
    }
  }
}

}  // namespace
