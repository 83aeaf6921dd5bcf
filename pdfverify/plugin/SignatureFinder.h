// The signature finder: which signature field of the document holds the signature value
// the viewer handed over (the viewer does not say), and what that field's signature
// dictionary tells besides: the signing time and the signing product's metadata.
//
// Everything read here is the document's own content and untrusted: the byte range is
// checked before the file is read, every entry's type before its value.
#pragma once

#include <stdint.h>

#include <functional>

#include "SignedDictionary.h"
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

  // The signature dictionary around one gap of the file, read by `read` once per search:
  // fields that copy one byte range share the reading. Only the first few distinct gaps
  // are read at all: the others are not found.
  bool dictionaryOf(ASInt32 firstLength, ASInt32 secondOffset, ASInt32 secondLength,
                    const std::function<bool(SignedDictionary&)>& read, SignedDictionary& out) const;

 private:
  struct Cache {
    bool valid = false, found = false;
    ASInt32 firstLength = 0, secondOffset = 0, secondLength = 0;
    SignedDictionary dictionary;
  };
  mutable Cache cache_;
  // The readings made: past a few, a gap is no longer read (see the source).
  mutable int gapsRead_ = 0;
};

// The result of the latest findSignature.
extern bool signatureFound;
// The signature dictionary (the field's "V") of the latest match; kept until the next
// match. readSigningTime and readSignerMetadata read the same dictionary as it was signed.
extern CosObj foundSignatureDict;

// Whether a signature field of the document holds this value: its byte range, two ranges
// from the file's first byte, leaves a gap of exactly its /Contents string, whose
// hexadecimal text in the document's file is the value's digits (either case) and then
// zeros only; the dictionary that holds that gap in the signed ranges is the field's own
// and writes the same byte range there. A zero-length value matches nothing.
bool findSignature(PDDoc doc, const uint8_t* value, uint32_t length);
// The enumeration callback of findSignature (client data: the SignatureFinder); false,
// which ends the walk, at the matching field.
ASBool matchSignatureField(PDDoc doc, CosObj field, void* finder);

// The found field's "M", as its signer wrote it in the signed ranges, as a time; false,
// with `time` untouched, when it is absent there, indirect, not a string, empty or not a
// PDF date.
bool readSigningTime(VOQ_Time& time);
// The found field's /Prop_Build /Filter /Metadata, as its signer wrote it in the signed
// ranges, each level direct: `text` gets the string (up to its first zero byte) and
// `document` its XML. False when there is none (both untouched) or
// when it is not well-formed (the text kept, the document without root).
bool readSignerMetadata(VOQ_XML_Document& document, VOQ_String& text);

// The signature fields of the view's document, signed or not.
uint32_t countSignatureFields(AVDoc view);
bool hasSignatureFields(AVDoc view);
