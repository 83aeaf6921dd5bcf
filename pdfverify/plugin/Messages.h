// Every text Tolmira shows: German when the language is 1, English for any other value.
// The functions keep no state; callers pass `languageFlag`. A function that may have no
// text answers nullptr.
#pragma once

#include <cstdint>
#include <string>

#include "pisdk/PITypes.h"

// The message of a result code; a code without a row gets its area's fallback.
std::string getErrorMessage(uint32_t code, int lang);
// The start-up error text of number 0 to 6 with the plug-in's name; "" otherwise.
std::string getStartupErrorText(int number, int lang);
const char* getDialogText(int id, int lang);
const char* getMenuText(int number, int lang);
const char* getCategoryText(int category, int lang);
const char* getLabelText(int number, int lang);

const char* getNoSigningTimeText(int lang);
const char* getCertInternalErrorText(int lang);
const char* getNoSignatureFieldText(int lang);
const char* getAnalyzingText(int lang);
const char* getCleaningText(int lang);
const char* getReadingCertificateText(int lang);
const char* getPinPadPromptText(int lang, int pinKind);  // 1: the signature PIN
const char* getIntegrityText(int lang, bool manipulated);
const char* getIntegrityUnknownText(int lang);
// The panel text when the time of the certificate validation is missing.
const char* getMissingValidationTimeText(int lang);
// The engine's refusal of a value it cannot check (unknown method, unexpected length).
const char* getUnsupportedSignatureText(int lang);
// No document is open in the viewer.
const char* getNoDocumentText(int lang);
// The signing product's clean-and-save is not part of this plug-in, which changes no document.
const char* getCleanUnavailableText(int lang);

// Whether the viewer reports a PDF version from 0.0 to 1.7; with `warn`, a newer one is
// shown in a warning box over the viewer's modal parent.
bool checkPdfVersion(PDDoc doc, bool warn);

// The number of rows of the result-code table and the code of row i (for checks).
int errorMessageRows();
uint32_t errorMessageCode(int row);
