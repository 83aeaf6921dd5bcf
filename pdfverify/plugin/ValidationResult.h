// The verification-result document: what the last verification found, in detail, for the
// texts of the viewer's signature panel. One line of XML without declaration, attributes
// or escaping; safe only because every text is digits, a category name, a date made by
// VOQ_Time or the plug-in's own version string.
#pragma once

#include <stdint.h>

#include "foundation/util/VOQ_String.h"
#include "foundation/util/VOQ_XML_Document.h"
#include "pisdk/PITypes.h"

// The document of the verification in progress (no root before the first one).
extern VOQ_XML_Document validationResult;
// The validator's part as text, made by createValidationResult.
extern VOQ_String validationResultText;

// Builds the validator's part from the last document check (categoryCounts and
// missingFontCount) and the plug-in's version text: the root
// "VOQ_DocumentValidationResult", one element per category with a recorded count
// ("POPUP" for category 0), "MissingFonts" when fonts are missing, then "Version";
// serialises it into validationResultText and returns that.
VOQ_String& createValidationResult();

// The element name of category 0 to 13 in the document; nullptr for other numbers.
const char* resultElementName(int category);

// Appends the element name with text to the root of validationResult.
void appendResult(const char* name, const char* text);
// Appends the name with a code or number as signed decimal.
void appendResult(const char* name, int32_t value);

// The verification result as the viewer's panel reads it. Each verification starts by
// clearing the document, so a verification that stops early never shows an earlier one's
// details. keepValidationResult writes the finished document's text into the result
// cabinet under a private key, so that the panel of each signature shows its own
// verification, not the last one, and the result lives exactly as long as its cabinet.
void clearValidationResult();
void keepValidationResult(ASCab resultCab);
// The document kept in the cabinet; an empty one for a cabinet without one, never the
// document of another verification.
VOQ_XML_Document validationResultFor(ASCab resultCab);
// A verification that failed: the document and the cabinet's kept copy go, so no panel
// reads anything of it. Raises of the host pass to the caller.
void forgetValidationResult(ASCab resultCab);

// The signed decimal of a code's text; 0 for a text that is no number.
int32_t resultCode(const VOQ_String& text);
