// The signature finder: which signature field of the document holds the signature value
// the viewer handed over (the viewer does not say), and what that field's signature
// dictionary tells besides: the signing time and the signing product's metadata.
//
// Everything read here is the document's own content and untrusted: the byte range is
// checked before the file is read, every entry's type before its value.
#pragma once

#include <stdint.h>

#include "certcheck/VOQ_Time.h"
#include "foundation/util/VOQ_String.h"
#include "foundation/util/VOQ_XML_Document.h"
#include "pisdk/PITypes.h"

// One search: the value looked for (not owned) and its length in bytes.
class SignatureFinder {
 public:
  SignatureFinder(const uint8_t* value, uint32_t length);
  ~SignatureFinder();
  SignatureFinder(const SignatureFinder&) = delete;
  SignatureFinder& operator=(const SignatureFinder&) = delete;

  const uint8_t* value;
  uint32_t length;
};

// The result of the latest findSignature.
extern bool signatureFound;
// The signature dictionary (the field's "V") of the latest match; kept until the next
// match, read by readSigningTime and readSignerMetadata.
extern CosObj foundSignatureDict;

// Whether a signature field of the document holds this value: the hexadecimal text
// between the field's two signed ranges, read from the document's file, starts with the
// value's hexadecimal digits (either case). A zero-length value matches nothing.
bool findSignature(PDDoc doc, const uint8_t* value, uint32_t length);
// The enumeration callback of findSignature (client data: the SignatureFinder); false,
// which ends the walk, at the matching field.
ASBool matchSignatureField(PDDoc doc, CosObj field, void* finder);

// The found field's "M" as a time; false, with `time` untouched, when it is absent, not
// a string, empty or not a PDF date.
bool readSigningTime(VOQ_Time& time);
// The found field's /Prop_Build /Filter /Metadata: `text` gets the string (up to its
// first zero byte) and `document` its XML. False when there is none (both untouched) or
// when it is not well-formed (the text kept, the document without root).
bool readSignerMetadata(VOQ_XML_Document& document, VOQ_String& text);

// The signature fields of the view's document, signed or not.
uint32_t countSignatureFields(AVDoc view);
bool hasSignatureFields(AVDoc view);
