// The texts of the viewer's signature panel, built when the viewer asks from the result
// cabinet ("id", "trustFlags") and the verification-result document of that signature.
// GetText serves viewers up to version 6 (lines end in "\n"), GetTextV70 later ones
// ("\r\n").
#pragma once

#include <stdint.h>

#include "foundation/util/VOQ_String.h"
#include "pisdk/PITypes.h"

// nullptr for the kinds without text and for unknown kinds; the index is only logged.
ASText GetText(ASCab resultCab, DSSigValText kind, ASInt32 index);
ASText GetTextV70(ASCab resultCab, DSSigValText kind);

// The status line of "id", then, for a certificate code other than 0, its message
// after "\r\n" (crlf) or a blank.
VOQ_String buildStatusText(int32_t id, uint32_t sigCode, uint32_t certCode, bool crlf, int lang);
// The name a text type is logged by ("kDSSigValTextNull" ...); "unknown" outside 0 to 10.
const char* textTypeName(DSSigValText kind);
// The text of a validation-time option 0 to 2; nullptr for other values.
const char* getValidationOptionText(int32_t option, int lang);
