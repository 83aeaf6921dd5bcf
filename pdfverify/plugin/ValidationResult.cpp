#include "ValidationResult.h"

#include <stdio.h>
#include <stdlib.h>

#include "VOQ_ConfigurationHelper.h"
#include "VOQ_DocumentValidator.h"
#include "VersionInfo.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "foundation/util/VOQ_XML_Element.h"
#include "pisdk/PICalls.h"

VOQ_XML_Document validationResult;
VOQ_String validationResultText;

namespace {

// The cabinet key of a kept result; the host keeps unknown keys of its result cabinet.
const char kResultKey[] = "VOQ_ValidationResult";

}  // namespace

const char* resultElementName(int category) {
  if (category == CAT_NONE) {
    return "POPUP";  // popup annotations
  }
  return category > CAT_NONE && category < CAT_COUNT ? categoryNames[category] : nullptr;
}

VOQ_String& createValidationResult() {
  validationResultText.clear();
  VOQ_XML_Element root("", "VOQ_DocumentValidationResult", nullptr);
  char number[16];
  for (int32_t category = 0; category < CAT_COUNT; ++category) {
    const int32_t* count = categoryCounts.get(category);
    if (count != nullptr) {
      snprintf(number, sizeof number, "%d", *count);
      root.addChild(VOQ_XML_Element(number, resultElementName(category), nullptr));
    }
  }
  if (missingFontCount > 0) {
    snprintf(number, sizeof number, "%u", missingFontCount);
    root.addChild(VOQ_XML_Element(number, "MissingFonts", nullptr));
  }
  root.addChild(VOQ_XML_Element(getVersionString().getData(), "Version", nullptr));
  VOQ_XML_Document document;
  document.setRoot(&root);
  VOQ_MemoryStream stream(&validationResultText);
  document.write(&stream);
  return validationResultText;
}

void appendResult(const char* name, const char* text) {
  if (validationResult.getRoot() != nullptr) {
    validationResult.getRoot()->addChild(VOQ_XML_Element(text, name, nullptr));
  }
}

void appendResult(const char* name, int32_t value) {
  char number[16];
  snprintf(number, sizeof number, "%d", value);
  appendResult(name, number);
}

void clearValidationResult() { validationResult.clear(); }

void keepValidationResult(ASCab resultCab) {
  VOQ_String text;
  VOQ_MemoryStream stream(&text);
  validationResult.write(&stream);
  ASCabPutString(resultCab, kResultKey, text.getData() != nullptr ? text.getData() : "");
}

VOQ_XML_Document validationResultFor(ASCab resultCab) {
  const char* kept =
      resultCab != nullptr && ASCabKnown(resultCab, kResultKey) ? ASCabGetString(resultCab, kResultKey) : nullptr;
  VOQ_XML_Document document;
  // A cabinet without its own result (a verification that failed, or none ran) shows no
  // details: the process-wide document may be another signature's by the time it is read.
  if (kept != nullptr && *kept != '\0') document.parse(VOQ_String(kept));
  return document;
}

void forgetValidationResult(ASCab resultCab) {
  clearValidationResult();
  if (resultCab != nullptr && ASCabKnown(resultCab, kResultKey)) {
    ASCabRemove(resultCab, kResultKey);
  }
}

int32_t resultCode(const VOQ_String& text) {
  if (text.getLength() == 0) {
    return 0;
  }
  return static_cast<int32_t>(strtol(text.getData(), nullptr, 10));
}
