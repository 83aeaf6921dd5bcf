// Tolmira's message catalogue: the code table in both languages, the area fallbacks,
// the start-up, menu, dialog and category texts, and the PDF version check.
#include <gtest/gtest.h>

#include <set>

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

// The whole table of result codes: every code it names has its row and no other code has
// one; each row's text as the table gives it (English, or German where only that is given),
// the German texts it gives besides, and the newer-version format with the signing product.
TEST(Messages, TheWholeCodeTable) {
  const CodeCase table[] = {
      {0x00000000, 0, "No error"},
      {0x80000001, 0, "Invalid parameter."},
      {0x80000002, 0, "Insufficient buffer."},
      {0x80000004, 0, "No card terminal found."},
      {0x80000005, 0, "Unexpected error."},
      {0x80000006, 0, "The function was aborted."},
      {0x80000007, 0, "Not enough memory."},
      {0x80000008, 0, "Crypto operation failed."},
      {0x80010000, 0, "The inserted card is not a supported card."},
      {0x80020000, 0, "PIN - error."},
      {0x80020100, 0, "The PINs are not identical."},
      {0x80020200, 0, "Time for PIN is expired."},
      {0x80020300, 0, "The PIN is blocked."},
      {0x80020400, 0, "The PIN is incorrect."},
      {0x80030000, 0, "Unknown error with certificate chain."},
      {0x80030001, 0, "Certificate chain invalid."},
      {0x80030002, 0, "A certificate from the certificate chain was invalid at the signing time."},
      {0x80030005, 0, "A key-identifier of a certificate in the chain is invalid."},
      {0x80030006, 0, "Certificate chain has invalid chaining."},
      {0x80030008, 0, "A certificate in the certificate chain has an invalid usage."},
      {0x80030009, 0, "A certificate in the chain has invalid constraints."},
      {0x8003000A, 0, "A certificate in the chain has an invalid extension."},
      {0x8003000B, 0, "A certificate in the chain was revoked at the given time."},
      {0x8003000C, 0, "The state of the certificate could not be evaluated."},
      {0x8003000D, 0, "The root certificate is not trusted."},
      {0x8003000E, 0, "The validity period of the revocation list is expired."},
      {0x8003000F, 0, "An error occurred during the certificate revocation check."},
      {0x80040000, 0, "Unknown error with the certificate."},
      {0x80040001, 0, "The certificate has an invalid encoding"},
      {0x80040002, 0, "The certificate is not valid."},
      {0x80040003, 0, "The signature of the certificate is invalid."},
      {0x80040004, 0, "The key usage of the certificate is invalid."},
      {0x80040005, 0, "The certificate does not contain a RSA key."},
      {0x80040006, 0, "The certificate uses an invalid padding."},
      {0x80040008, 0, "The certificate contains an invalid extension."},
      {0x80040009, 0, "The certificate has invalid constraints."},
      {0x8004000A, 0, "The certificate is not a X509 certificate."},
      {0x8004000B, 0, "The validity of the certificate was expired at the given time."},
      {0x8004000C, 0, "The certificate is invalid."},
      {0x80050000, 1, "Die Signatur ist gültig (Das Dokument wurde seit dem Unterschreiben nicht geändert)."},
      {0x80050001, 0, "The signature is not valid (The document is changed)."},
      {0x80060000, 0, "Could not evaluate the time of signing."},
      {0x80070001, 0, "Can not create OCSP request."},
      {0x80070002, 0, "Can not add NONCE to OCSP request."},
      {0x80070003, 0, "Can not set certificates to OCSP request."},
      {0x80070004, 0, "Can not set OCSP_CERTID in OCSP request."},
      {0x80070005, 0, "Can not parse OCSP URL."},
      {0x80070006, 0, "Can not create new connection object."},
      {0x80070007, 0, "Can not connect to OCSP URL."},
      {0x80070008, 0, "Can not send OCSP request."},
      {0x80070009, 0, "Invalid OCSP response state was returned."},
      {0x8007000A, 0, "Can not get basic response out of OCSP response."},
      {0x8007000B, 0, "Can not verify NONCE."},
      {0x8007000C, 0, "Can not verify basic response."},
      {0x8007000D, 0, "Can not find OCSP response certificate."},
      {0x8007000E, 0, "Can not read OCSP response certificate."},
      {0x8007000F, 0, "Can not build certificate chain of the OCSP response certificate."},
      {0x80070010, 0, "Can not download CRL for the OCSP response certificate."},
      {0x80070011, 0, "OCSP response certificate is revoked."},
      {0x80070012, 0, "Can not get OCSP state of the signing certificate."},
      {0x80070013, 0, "Time interval of the OCSP response is invalid."},
      {0x80070014, 0, "Signing certificate is revoked."},
      {0x80070015, 0, "The OCSP state of the signing certificate is unknown."},
      {0x80070016, 0, "Can not create new connection object through HTTP proxy."},
      {0x80070017, 0, "Can not connect to OCSP URL through HTTP proxy."},
      {0x80070018, 0, "Can not connect to OCSP URL through HTTPS proxy."},
      {0x80070019, 0, "Can not create new connection object through HTTPS proxy."},
      {0x8007001A, 0, "HTTPS Proxy can not create SSL tunnel."},
      {0x8007001B, 0, "SSL Handshake Error at creation of a SSL tunnel through HTTPS proxy."},
      {0x8007001C, 0, "HTTP proxy can not be found.\nCheck proxy and network settings."},
      {0x8007001D, 0, "HTTPS proxy can not be found.\nCheck proxy and network settings."},
      {0x8007001E, 0, "The certificate chain for the OCSP revocation check is invalid."},
      {0x8007001F, 0, "During the OCSP revocation check a invalid HTTP return code was delivered."},
      {0x80070020, 0, "The HTTP return code could not be found during the OCSP revocation check."},
      {0x80070021, 0, "During the OCSP revocation check no data were returned."},
      {0x80070022, 0, "No OCSP-URl could be found for certificate valitation."},
      {0x80080000, 0, "Configured digest algorithm is not supported."},
      {0x80080001, 0, "Configured digest algorithm can not be used with selected key type."},
      {0x80080002, 0, "Certificate can not be converted."},
      {0x80080003, 0, "Can not create new pkcs#7 object."},
      {0x80080004, 0, "Can not set type of pkcs7 object."},
      {0x80080005, 0, "Can not create pkcs#7 content."},
      {0x80080006, 0, "Can not add certificate to pkcs#7 object."},
      {0x80080007, 0, "Can not create signerInfo object."},
      {0x80080008, 0, "Can not set version of signerInfo object."},
      {0x80080009, 0, "Can not set issuer in signerInfo object."},
      {0x8008000A, 0, "Can not set serial of issuer in signerInfo object."},
      {0x8008000B, 0, "Can not set digest algorithm in signerInfo object."},
      {0x8008000C, 0, "Can not set signedAttribute 'ContentType'."},
      {0x8008000D, 0, "Can not set signedAttribute 'MessageDigest'."},
      {0x8008000E, 0, "Can not add signerInfo object to pkcs#7 object."},
      {0x8008000F, 0, "Can not get ecc key."},
      {0x80080010, 0, "Can not read ecc point."},
      {0x80080011, 0, "Can not read ecc group."},
      {0x80080012, 0, "Can not read ecc coordinates."},
      {0x80090001, 0, "Preparation of reading the certificate extension \"Authority Info Access\" fails."},
      {0x80090002, 0, "Reading the certificate extension \"Authority Info Access\" failed."},
      {0x80090003, 0, "Can not read access method of the certificate validation."},
      {0x80090004, 0, "No OCSP URL can be found."},
      {0x800A0002, 0, "HTTP proxy can not be found.\nCheck proxy and network settings."},
      {0x800A0003, 0, "CRL distribution point cannot be read from certificate."},
      {0x800A0004, 0, "Getting required size for CRL distribution point failed."},
      {0x800A0005, 0, "Memory for distribution point cannot be allocated."},
      {0x800A0006, 0, "Error reading distribution point."},
      {0x800A0007, 0, "Reading information from distribution point failed."},
      {0x800A0008, 0, "Reading distribution point URL failed."},
      {0x800A0009, 0, "Can not create new connection object through HTTP proxy."},
      {0x800A000A, 0, "HTTP proxy returned invalid answer."},
      {0x800A000B, 0, "Communication error with HTTP proxy."},
      {0x800A000C, 0, "Error downloading CRL through HTTP proxy."},
      {0x800A000D, 0, "No CRL downloaded through HTTP proxy."},
      {0x800A000E, 0, "CRL downloaded through HTTP proxy cannot be read."},
      {0x800A000F, 0, "Memory for loaded CRL cannot be allocated."},
      {0x800A0010, 0, "Can not find HTTP return code for downloaded CRL through HTTP proxy."},
      {0x800A0011, 0, "Invalid HTTP return code during downloading CRL through HTTP proxy."},
      {0x800B0001, 0, "HTTPS proxy can not be found.\nCheck proxy and network settings."},
      {0x800B0002, 1, "Es konnte kein neues Verbindungsobjekt über den HTTPS-Proxy erstellt werden."},
      {0x800B0003, 0, "Communication error with HTTPS proxy."},
      {0x800B0004, 0, "HTTPS proxy cannot create SSL tunnel."},
      {0x800B0005, 0, "SSL Handshake Error at creation of a SSL tunnel through HTTPS proxy."},
      {0x800B0006, 0, "HTTPS proxy returned invalid answer."},
      {0x800B0007, 0, "Error downloading CRL through HTTPS proxy."},
      {0x800B0008, 0, "No CRL downloaded through HTTPS proxy."},
      {0x800B0009, 1, "Die CRL, die über den HTTPS-Proxy geladen wurde, konnte nicht gelesen werden."},
      {0x800B000A, 0, "Error parsing SSL URL of the distribution point."},
      {0x800B000B, 1, "Der HTTP Returncode konnte beim Herunterladen der CRL über den HTTPS-Proxy nicht ermittelt werden."},
      {0x800B000C, 1, "Beim Herunterladen der CRL über den HTTPS-Proxy wurde ein ungültiger HTTP Returncode zurückgegeben."},
      {0x00000000, 1, "Kein Fehler"},
      {0x80020000, 1, "Unbekannter PIN - Fehler."},
      {0x80030002, 1, "Ein Zertifikat der Zertifikatskette ist ungültig."},
      {0x80040000, 1, "Ein unbekannter Fehler ist bei der Zertifikatsvalidierung aufgetreten."},
      {0x8004000C, 1, "Die Gültigkeit des Zertifikates konnte nicht geprüft werden."},
      {0x80050001, 1, "Die Signatur ist ungültig (Das Dokument wurde nach dem Unterschreiben geändert)."},
      {0x8007001C, 1, "Es konnte keine Verbindung zum HTTP-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und Ihre Netzwerkverbindung(en)."},
      {0x800A0002, 1, "Es konnte keine Verbindung zum HTTP-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und Ihre Netzwerkverbindung(en)."},
      {0x8007001D, 1, "Es konnte keine Verbindung zum HTTPS-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und Ihre Netzwerkverbindung(en)."},
      {0x800B0001, 1, "Es konnte keine Verbindung zum HTTPS-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und Ihre Netzwerkverbindung(en)."},
  };
  std::set<uint32_t> codes{0x80000009};
  for (const CodeCase& c : table) {
    codes.insert(c.code);
    EXPECT_EQ(getErrorMessage(c.code, c.lang), c.text) << std::hex << c.code << " lang " << c.lang;
  }
  EXPECT_EQ(getErrorMessage(0x80000009, 0),
            "The signature has been created with a newer version of Dorvalin. Therefore it cannot be validated "
            "correctly.");
  ASSERT_EQ(codes.size(), 128u);
  std::set<uint32_t> rows;
  for (int i = 0; i < errorMessageRows(); ++i) rows.insert(errorMessageCode(i));
  EXPECT_EQ(rows, codes);
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
