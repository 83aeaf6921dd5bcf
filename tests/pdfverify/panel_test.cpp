// The verification-result document and the signature panel's texts built from it, read
// through the test viewer's own cabinets and host texts.
#include <gtest/gtest.h>

#include <string>

#include "HostCalls.h"
#include "PanelTexts.h"
#include "PluginState.h"
#include "VOQ_DocumentValidator.h"
#include "ValidationResult.h"
#include "VersionInfo.h"
#include "foundation/util/VOQ_MemoryStream.h"

namespace {

std::string str(const VOQ_String& s) { return std::string(s.getData(), s.getLength()); }

std::string written(const VOQ_XML_Document& document) {
  VOQ_String text;
  VOQ_MemoryStream stream(&text);
  document.write(&stream);
  return str(text);
}

// The validator's part after a document check that recorded these counts.
VOQ_String& created(const std::vector<std::pair<int32_t, int32_t>>& counts, uint32_t missingFonts) {
  categoryCounts.removeAll();
  for (const auto& [category, count] : counts) categoryCounts.put(category, new int32_t(count), true, false);
  missingFontCount = missingFonts;
  return createValidationResult();
}

// The result document with these children; nullptr: no root (before any verification).
void setResult(const char* children) {
  validationResult.clear();
  if (children != nullptr) {
    validationResult.parse(VOQ_String(
        (std::string("<VOQ_DocumentValidationResult>") + children + "</VOQ_DocumentValidationResult>").c_str()));
    ASSERT_NE(validationResult.getRoot(), nullptr) << children;
  }
}

class ResultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pdftest::bindHFTs(viewer);
    setVersionStrings("2.21.0000");  // the shipped module's version text
  }
  void TearDown() override {
    for (ASCab cab : cabs) ASCabDestroy(cab);
    validationResult.clear();
  }
  // A result cabinet; -2 leaves a key out.
  ASCab cab(int id, int trustFlags) {
    ASCab c = ASCabNew();
    if (id != -2) ASCabPutInt(c, "id", id);
    if (trustFlags != -2) ASCabPutInt(c, "trustFlags", trustFlags);
    cabs.push_back(c);
    return c;
  }
  // The text, or "<null>".
  static std::string text(ASText t) {
    if (t == nullptr) return "<null>";
    std::string s = ASTextGetEncoded(t, 0);
    ASTextDestroy(t);
    return s;
  }

  vhost::Viewer viewer;
  std::vector<ASCab> cabs;
};

struct CountCase {
  std::vector<std::pair<int32_t, int32_t>> counts;
  uint32_t missingFonts;
  const char* xml;
};

TEST_F(ResultTest, CreateWritesCountsInCategoryOrderThenFontsAndVersion) {
  const CountCase cases[] = {
      {{}, 0, "<VOQ_DocumentValidationResult><Version>2.21.0000</Version></VOQ_DocumentValidationResult>"},
      {{{5, 2}, {1, 1}}, 0,
       "<VOQ_DocumentValidationResult><CAT_FORM>1</CAT_FORM><CAT_LINK>2</CAT_LINK><Version>2.21.0000</Version>"
       "</VOQ_DocumentValidationResult>"},
      {{}, 3,
       "<VOQ_DocumentValidationResult><MissingFonts>3</MissingFonts><Version>2.21.0000</Version>"
       "</VOQ_DocumentValidationResult>"},
      {{{0, 4}, {13, 1}, {4, 12}}, 1,
       "<VOQ_DocumentValidationResult><POPUP>4</POPUP><CAT_POSTSCRIPT>12</CAT_POSTSCRIPT>"
       "<CAT_OPTIONALCONTENT>1</CAT_OPTIONALCONTENT><MissingFonts>1</MissingFonts><Version>2.21.0000</Version>"
       "</VOQ_DocumentValidationResult>"},
  };
  for (const CountCase& c : cases) {
    VOQ_String& text = created(c.counts, c.missingFonts);
    EXPECT_EQ(&text, &validationResultText);
    EXPECT_EQ(str(text), c.xml);
  }
}

TEST_F(ResultTest, EngineAdditionsAreSignedDecimalsAndANewVerificationKeepsNothing) {
  validationResult.parse(created({{5, 2}}, 3));
  appendResult("Date", "D:20261210120000+01'00'");
  const std::pair<uint32_t, const char*> codes[] = {
      {0x80070014, "-2147024876"}, {0, "0"}, {0x80050001, "-2147155967"}, {0x80000009, "-2147483639"}};
  const char* names[] = {"CertValidation", "CertValidationOption", "SigValidation", "DocValResult"};
  for (int i = 0; i < 4; ++i) {
    appendResult(names[i], static_cast<int32_t>(codes[i].first));
    EXPECT_EQ(static_cast<uint32_t>(resultCode(validationResult.getRoot()->getChild(names[i], 0)->getValue())),
              codes[i].first);
  }
  EXPECT_EQ(written(validationResult),
            "<VOQ_DocumentValidationResult><CAT_LINK>2</CAT_LINK><MissingFonts>3</MissingFonts>"
            "<Version>2.21.0000</Version><Date>D:20261210120000+01'00'</Date>"
            "<CertValidation>-2147024876</CertValidation><CertValidationOption>0</CertValidationOption>"
            "<SigValidation>-2147155967</SigValidation><DocValResult>-2147483639</DocValResult>"
            "</VOQ_DocumentValidationResult>");
  // The next verification starts over; one that stops before its document check leaves
  // no document rather than the previous one.
  clearValidationResult();
  EXPECT_EQ(written(validationResult), "");
  validationResult.parse(created({}, 0));
  EXPECT_EQ(written(validationResult),
            "<VOQ_DocumentValidationResult><Version>2.21.0000</Version></VOQ_DocumentValidationResult>");
}

TEST_F(ResultTest, EachKeptResultStaysWithItsCabinet) {
  ASCab first = cab(4, 1), second = cab(2, 0), never = cab(4, 1);
  setResult("<CertValidation>0</CertValidation><DocValResult>0</DocValResult>");
  keepValidationResult(first);
  setResult("<CertValidation>-2147024876</CertValidation><DocValResult>3</DocValResult>");
  keepValidationResult(second);
  clearValidationResult();
  EXPECT_EQ(written(validationResultFor(first)),
            "<VOQ_DocumentValidationResult><CertValidation>0</CertValidation><DocValResult>0</DocValResult>"
            "</VOQ_DocumentValidationResult>");
  EXPECT_NE(written(validationResultFor(second)).find("-2147024876"), std::string::npos);
  // A cabinet without a kept result (its verification failed) reads nothing of the
  // verification that ran last.
  setResult("<CertValidation>-2147287029</CertValidation>");
  EXPECT_EQ(written(validationResultFor(never)), "");
  languageFlag = 1;
  EXPECT_EQ(text(GetTextV70(never, kDSSigValTextVal)),
            "Die Signatur ist gültig. Die Identität des Unterzeichners ist bestätigt.\r\n ().\r\n");
  languageFlag = 0;
  EXPECT_EQ(text(GetTextV70(first, kDSSigValTextDSTooltip)),
            "The signature is valid. The identity of the signer is confirmed.");
  EXPECT_EQ(text(GetTextV70(second, kDSSigValTextDSTooltip)),
            "The signature is not valid.\r\nSigning certificate is revoked.");
}

struct PanelCase {
  bool v70;
  DSSigValText kind;
  int id, trustFlags;  // -2: key absent
  const char* children;  // nullptr: no document yet
  int lang;
  const char* text;  // "<null>": no text
};

const char kLinkAndFonts[] =
    "<CAT_LINK>2</CAT_LINK><MissingFonts>3</MissingFonts><Date>D:20261210120000Z</Date>"
    "<CertValidation>0</CertValidation><CertValidationOption>1</CertValidationOption>"
    "<SigValidation>0</SigValidation><DocValResult>0</DocValResult>";
const char kRevoked[] =
    "<Date>D:20261210120000Z</Date><CertValidation>-2147024876</CertValidation>"
    "<CertValidationOption>0</CertValidationOption><SigValidation>0</SigValidation><DocValResult>0</DocValResult>";
const char kNewer[] =
    "<Date>D:20261210120000Z</Date><CertValidation>0</CertValidation><SigValidation>-2147483639</SigValidation>"
    "<DocValResult>3</DocValResult>";

TEST_F(ResultTest, PanelTextsByKindResultAndLanguage) {
  const PanelCase cases[] = {
      // Before any verification.
      {true, kDSSigValTextDSDetail, 4, -2, nullptr, 0, "The signature is valid. The identity of the signer is confirmed."},
      {true, kDSSigValTextDSDetail, 3, -2, nullptr, 1,
       "Die Signatur ist gültig. Die Identität des Unterzeichners kann nicht bestätigt werden."},
      {true, kDSSigValTextDSDetail, 1, -2, nullptr, 0, "The signature is still not validated."},
      {true, kDSSigValTextDSDetail, -2, -2, nullptr, 0, "Internal error: the signature could not be validated!"},
      {true, kDSSigValTextVal, 0, -2, nullptr, 0, "The signature field is not signed.\r\n ().\r\n"},
      {true, kDSSigValTextDSAVIdValidity, 4, -2, nullptr, 0,
       "Unable to get information about dynamic content in the shown document."},
      {false, kDSSigValTextDSTooltip, 4, 1, nullptr, 0,
       "The signature is valid.\nThe certificate chain was validated successfully."},
      {false, kDSSigValTextDSDetail, 0, 0, nullptr, 1,
       "\nDas Signaturfeld ist nicht unterschrieben.\nBei der Prüfung der Zertifikatskette ist ein Fehler "
       "aufgetreten.\n (Der Zeitpunkt der Signaturerstellung konnte nicht ermittelt werden.).\nVeränderliche Inhalte im "
       "angezeigten Dokument.\nEs konnte nicht festgestellt werden ob das angezeigte Dokument dynamische Inhalte "
       "enthält."},
      // Trust flags the verification never set are no success.
      {false, kDSSigValTextDSTooltip, 2, -2, nullptr, 0,
       "The signature is not valid.\nUnknown error with certificate chain."},
      {false, kDSSigValTextDSTooltip, 2, -2, nullptr, 1,
       "Die Signatur ist nicht gültig.\nUnbekannter Fehler mit der Zertifikatskette."},
      {false, kDSSigValTextDSTooltip, 7, 0, nullptr, 0,
       "The signature is not valid.\nAn error occured during validating the certificate chain."},
      // A revoked certificate.
      {true, kDSSigValTextDSTooltip, 2, 1, kRevoked, 0, "The signature is not valid.\r\nSigning certificate is revoked."},
      {true, kDSSigValTextDSDetail, 2, 1, kRevoked, 0, "The signature is not valid. Signing certificate is revoked."},
      {false, kDSSigValTextDSDetail, 2, 1, kRevoked, 0,
       "\nThe signature is not valid.\nThe certificate chain was validated successfully.\nThe certificate was "
       "validated for the signing time. (D:20261210120000Z).\nReason. Signing certificate is revoked.\ndynamic "
       "content in the shown document.\nThe shown document does not contain dynamic content."},
      // Dynamic content: links and missing fonts.
      {false, kDSSigValTextVal, 4, 1, kLinkAndFonts, 0,
       "\nThe signature is valid.\nThe certificate chain was validated successfully.\nThe certificate was validated "
       "for the actual time.. (D:20261210120000Z).\ndynamic content in the shown document.\nThe shown document "
       "contains dynamic content:\n2 * object of category Link / hyperlink\n3 fonts are not embedded.\n"},
      {true, kDSSigValTextProp, 4, 1, kLinkAndFonts, 0,
       "The signature is valid. The identity of the signer is confirmed.\r\nThe certificate was validated for the "
       "actual time.. (D:20261210120000Z).\r\nThe shown document contains dynamic content:\r\n2 * object of category "
       "Link / hyperlink\r\n3 fonts are not embedded.\r\n"},
      {true, kDSSigValTextDSAVIdValidity, 4, 1, kLinkAndFonts, 0, "The shown document contains dynamic content."},
      {true, kDSSigValTextDSAVIdValidity, 4, 1, kLinkAndFonts, 1, "Das angezeigte Dokument enthält dynamische Inhalte."},
      {true, kDSSigValTextDSTop, 4, 1, kLinkAndFonts, 0, " "},
      {true, kDSSigValTextDSTTIdValidity, 4, 1, kLinkAndFonts, 0, " "},
      // A signature of a newer signing program; a missing option and date.
      {true, kDSSigValTextDSDetail, 1, 1, kNewer, 0,
       "The signature has been created with a newer version of Dorvalin. Therefore it cannot be validated correctly."},
      {false, kDSSigValTextDSTooltip, 4, 1, kNewer, 1,
       "Die Signatur wurde mit einer neueren Version von Dorvalin erstellt, und kann deshalb nicht geprüft werden.\n"
       "Die Zertifikatskette wurde erfolgreich geprüft."},
      {true, kDSSigValTextVal, 4, 1, "<DocValResult>0</DocValResult>", 0,
       "The signature is valid. The identity of the signer is confirmed.\r\nThe certificate was validated for a "
       "custom time. (Error: can´t find date and time of certificate validation!).\r\nThe shown document does not "
       "contain dynamic content."},
      // Kinds without text and unknown kinds.
      {false, kDSSigValTextNull, 4, 1, kLinkAndFonts, 0, "<null>"},
      {false, kDSSigValTextSigInfo, 4, 1, kLinkAndFonts, 0, "<null>"},
      {false, 11, 4, 1, kLinkAndFonts, 0, "<null>"},
      {false, -1, 4, 1, nullptr, 0, "<null>"},
      {true, 11, 4, 1, kLinkAndFonts, 0, "Unknown texttype parameter"},
  };
  for (const PanelCase& c : cases) {
    setResult(c.children);
    languageFlag = c.lang;
    ASCab result = cab(c.id, c.trustFlags);
    // The document is the cabinet's own, as the engine keeps it there.
    if (c.children != nullptr) keepValidationResult(result);
    std::string got = text(c.v70 ? GetTextV70(result, c.kind) : GetText(result, c.kind, 0));
    EXPECT_EQ(got, c.text) << (c.v70 ? "V70" : "GetText") << " kind " << c.kind << " id " << c.id << " lang "
                           << c.lang << " doc " << (c.children ? c.children : "none");
  }
}

TEST(PanelTexts, ValidationOptionTexts) {
  EXPECT_STREQ(getValidationOptionText(1, 0), "The certificate was validated for the actual time..");
  EXPECT_STREQ(getValidationOptionText(0, 1), "Das Zertifikat wurde für den Zeitpunkt der Signaturerstellung geprüft.");
  EXPECT_EQ(getValidationOptionText(3, 0), nullptr);
  EXPECT_EQ(getValidationOptionText(-1, 1), nullptr);
}

}  // namespace
