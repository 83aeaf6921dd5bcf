#include "PanelTexts.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "Messages.h"
#include "PluginState.h"
#include "ValidationResult.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/VOQ_XML_Element.h"
#include "pisdk/PICalls.h"

namespace {

const uint32_t kNewerVersion = 0x80000009;

const char* pick(const char* german, const char* english, int lang) { return lang == 1 ? german : english; }

// Created on first use, after start-up has opened the trace log.
VOQ_TraceContext* trace() {
  static VOQ_TraceContext* context = VOQ_TraceLog::getInstance(nullptr)->createContext("DSEngine");
  return context;
}

const char* validityText(int32_t id, int lang) {
  switch (id) {
    case 0:
      return pick("Das Signaturfeld ist nicht unterschrieben.", "The signature field is not signed.", lang);
    case 1:
      return pick("Die Gültigkeit der Signatur ist unbekannt.", "The validity of the signature is unknown.", lang);
    case 3:
    case 4:
      return pick("Die Signatur ist gültig.", "The signature is valid.", lang);
    default:
      return pick("Die Signatur ist nicht gültig.", "The signature is not valid.", lang);
  }
}

// Only flags the verification set tell about the chain: without them (-1, the
// verification stopped before the chain was checked) the outcome is unknown.
std::string trustText(int32_t trustFlags, int lang) {
  if (trustFlags == -1) {
    return getErrorMessage(0x80030000, lang);
  }
  if (trustFlags == 0) {
    return pick("Bei der Prüfung der Zertifikatskette ist ein Fehler aufgetreten.",
                "An error occured during validating the certificate chain.", lang);
  }
  return pick("Die Zertifikatskette wurde erfolgreich geprüft.", "The certificate chain was validated successfully.",
              lang);
}

const char* contentHeadline(int state, int lang) {
  switch (state) {
    case 0:
      return pick("Das angezeigte Dokument enthält keine dynamischen Inhalte.",
                  "The shown document does not contain dynamic content.", lang);
    case 1:
      return pick("Das angezeigte Dokument enthält dynamische Inhalte:", "The shown document contains dynamic content:",
                  lang);
    default:
      return pick("Es konnte nicht festgestellt werden ob das angezeigte Dokument dynamische Inhalte enthält.",
                  "Unable to get information about dynamic content in the shown document.", lang);
  }
}

std::string textOf(const VOQ_XML_Element* element) {
  return std::string(element->getValue().getData(), element->getValue().getLength());
}

// What a panel text reads of the document. Without a root every value keeps the
// initial value the variant set.
struct ResultValues {
  const VOQ_XML_Element* date = nullptr;
  const VOQ_XML_Element* certValidation = nullptr;
  const VOQ_XML_Element* sigValidation = nullptr;
  const VOQ_XML_Element* option = nullptr;
  int contentState = -1;
  std::string contentText;
};

// Reads the document's elements and composes the content summary with `br` after
// each line.
bool readResult(const VOQ_XML_Document& document, const char* br, int lang, ResultValues& values) {
  const VOQ_XML_Element* root = document.getRoot();
  if (root == nullptr) {
    return false;
  }
  values.date = root->getChild("Date", 0);
  values.certValidation = root->getChild("CertValidation", 0);
  values.sigValidation = root->getChild("SigValidation", 0);
  values.option = root->getChild("CertValidationOption", 0);
  const VOQ_XML_Element* docResult = root->getChild("DocValResult", 0);
  if (docResult == nullptr || resultCode(docResult->getValue()) != 0) {
    values.contentState = -1;
    values.contentText = contentHeadline(-1, lang);
    return true;
  }
  values.contentState = 0;
  auto firstFinding = [&] {
    if (values.contentState == 0) {
      values.contentState = 1;
      values.contentText = std::string(contentHeadline(1, lang)) + br;
    }
  };
  char line[512];
  for (int category = 0; category < 14; ++category) {
    const VOQ_XML_Element* element = root->getChild(resultElementName(category), 0);
    if (element != nullptr) {
      firstFinding();
      snprintf(line, sizeof line, "%i * %s %s", atoi(element->getValue().getData()), getLabelText(2, lang),
               getCategoryText(category, lang));
      values.contentText += line;
      values.contentText += br;
    }
  }
  const VOQ_XML_Element* missingFonts = root->getChild("MissingFonts", 0);
  if (missingFonts != nullptr) {
    firstFinding();
    values.contentText += textOf(missingFonts) + " " + getLabelText(3, lang) + br;
  }
  if (values.contentState == 0) {
    values.contentText = contentHeadline(0, lang);
  }
  return true;
}

std::string optionText(const VOQ_XML_Element* option, int lang) {
  const char* text = getValidationOptionText(option != nullptr ? resultCode(option->getValue()) : 2, lang);
  return text != nullptr ? text : "";
}

std::string format(const char* pattern, std::initializer_list<const std::string*> args) {
  std::string out;
  auto next = args.begin();
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && next != args.end()) {
      out += **next++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

ASText hostText(const std::string& text) { return ASTextFromEncoded(text.c_str(), 0); }

}  // namespace

const char* textTypeName(DSSigValText kind) {
  static const char* const names[] = {
      "kDSSigValTextNull",      "kDSSigValTextDSTop", "kDSSigValTextDSDetail",       "kDSSigValTextDSTooltip",
      "kDSSigValTextSigInfo",   "kDSSigValTextVal",   "kDSSigValTextProp",           "kDSSigValTextAP",
      "kDSSigValTextPropIdValidity", "kDSSigValTextDSAVIdValidity", "kDSSigValTextDSTTIdValidity",
  };
  return kind >= 0 && kind <= 10 ? names[kind] : "unknown";
}

const char* getValidationOptionText(int32_t option, int lang) {
  switch (option) {
    case 0:
      return pick("Das Zertifikat wurde für den Zeitpunkt der Signaturerstellung geprüft.",
                  "The certificate was validated for the signing time.", lang);
    case 1:
      return pick("Das Zertifikat wurde für den aktuellen Zeitpunkt geprüft.",
                  "The certificate was validated for the actual time..", lang);
    case 2:
      return pick("Das Zertifikat wurde für einen vom Benutzer angegebenen Zeitpunkt geprüft.",
                  "The certificate was validated for a custom time.", lang);
    default:
      return nullptr;
  }
}

VOQ_String buildStatusText(int32_t id, uint32_t sigCode, uint32_t certCode, bool crlf, int lang) {
  std::string text;
  switch (id) {
    case 0:
      text = pick("Das Signaturfeld ist nicht unterschrieben.", "The signature field is not signed.", lang);
      break;
    case 1:
      text = sigCode == kNewerVersion ? getErrorMessage(kNewerVersion, lang)
                                      : pick("Die Signatur ist noch nicht geprüft worden.",
                                             "The signature is still not validated.", lang);
      break;
    case 2:
      text = pick("Die Signatur ist nicht gültig.", "The signature is not valid.", lang);
      break;
    case 3:
      text = pick("Die Signatur ist gültig. Die Identität des Unterzeichners kann nicht bestätigt werden.",
                  "The signature is valid. The identity of the signer is not confirmed.", lang);
      break;
    case 4:
      text = pick("Die Signatur ist gültig. Die Identität des Unterzeichners ist bestätigt.",
                  "The signature is valid. The identity of the signer is confirmed.", lang);
      break;
    default:
      text = pick("Interner Fehler: Die Signatur konnte nicht geprüft werden!",
                  "Internal error: the signature could not be validated!", lang);
      break;
  }
  if (certCode != 0) {
    text += crlf ? "\r\n" : " ";
    text += getErrorMessage(certCode, lang);
  }
  return VOQ_String(text.c_str());
}

ASText GetText(ASCab resultCab, DSSigValText kind, ASInt32 index) {
  if (kind < 0 || kind > 10) {
    trace()->log("GetText", "Unknown TextType requested by Acrobat -> returning NULL", VOQ_TraceContext::INSIDE);
    return nullptr;
  }
  trace()->logFormat("GetText", "called for Text of type \"%s\" and idex of %i.", textTypeName(kind), index);
  const int lang = languageFlag;
  const int32_t id = ASCabGetInt(resultCab, "id", -1);
  std::string status = validityText(id, lang);
  const std::string trust = trustText(ASCabGetInt(resultCab, "trustFlags", -1), lang);
  std::string date = getNoSigningTimeText(lang);
  std::string option;
  uint32_t certCode = 0;
  std::string certText = getCertInternalErrorText(lang);
  ResultValues values;
  values.contentText = contentHeadline(-1, lang);
  // The values point into the document: it lives as long as they are read.
  const VOQ_XML_Document document = validationResultFor(resultCab);
  if (readResult(document, "\n", lang, values)) {
    if (values.date != nullptr) date = textOf(values.date);
    certText.clear();
    if (values.certValidation != nullptr) {
      certCode = static_cast<uint32_t>(resultCode(values.certValidation->getValue()));
      if (certCode != 0) certText = getErrorMessage(certCode, lang);
    }
    if (values.sigValidation != nullptr &&
        static_cast<uint32_t>(resultCode(values.sigValidation->getValue())) == kNewerVersion) {
      status = getErrorMessage(kNewerVersion, lang);
    }
    option = optionText(values.option, lang);
  }
  if (kind == kDSSigValTextNull || kind == kDSSigValTextSigInfo) {
    trace()->log("getText", "Return: NULL", VOQ_TraceContext::INSIDE);
    return nullptr;
  }
  std::string text;
  const std::string label0 = getLabelText(0, lang), label1 = getLabelText(1, lang);
  if (kind == kDSSigValTextDSTooltip) {
    text = status + "\n" + trust;
  } else if (certCode != 0) {
    text = format("\n%s\n%s\n%s (%s).\n%s. %s\n%s.\n%s",
                  {&status, &trust, &option, &date, &label0, &certText, &label1, &values.contentText});
  } else {
    text = format("\n%s\n%s\n%s (%s).\n%s.\n%s", {&status, &trust, &option, &date, &label1, &values.contentText});
  }
  trace()->logFormat("getText", "Return: %s.\n", text.c_str());
  return hostText(text);
}

ASText GetTextV70(ASCab resultCab, DSSigValText kind) {
  const int lang = languageFlag;
  const int32_t id = ASCabGetInt(resultCab, "id", -1);
  std::string date, option;
  uint32_t certCode = 0, sigCode = 0;
  ResultValues values;
  const VOQ_XML_Document document = validationResultFor(resultCab);
  if (readResult(document, "\r\n", lang, values)) {
    date = values.date != nullptr ? textOf(values.date) : getMissingValidationTimeText(lang);
    if (values.certValidation != nullptr) {
      certCode = static_cast<uint32_t>(resultCode(values.certValidation->getValue()));
    }
    if (values.sigValidation != nullptr) {
      sigCode = static_cast<uint32_t>(resultCode(values.sigValidation->getValue()));
    }
    option = optionText(values.option, lang);
  }
  std::string text;
  switch (kind) {
    case kDSSigValTextNull:
    case kDSSigValTextDSTop:
    case kDSSigValTextSigInfo:
    case kDSSigValTextAP:
    case kDSSigValTextPropIdValidity:
    case kDSSigValTextDSTTIdValidity:
      text = " ";
      break;
    case kDSSigValTextDSDetail:
      text = buildStatusText(id, sigCode, certCode, false, lang).getData();
      break;
    case kDSSigValTextDSTooltip:
      text = buildStatusText(id, sigCode, certCode, true, lang).getData();
      break;
    case kDSSigValTextVal:
    case kDSSigValTextProp:
      text = std::string(buildStatusText(id, sigCode, certCode, true, lang).getData()) + "\r\n" + option + " (" +
             date + ")." + "\r\n" + values.contentText;
      break;
    case kDSSigValTextDSAVIdValidity:
      text = contentHeadline(values.contentState, lang);
      text.back() = '.';
      break;
    default:
      text = "Unknown texttype parameter";
      break;
  }
  trace()->log("GetTextV70", text.c_str(), VOQ_TraceContext::INSIDE);
  return hostText(text);
}
