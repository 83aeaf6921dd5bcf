#include "SignatureFinder.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "HostHelpers.h"
#include "PluginState.h"
#include "certcheck/VOQ_TraceLog.h"
#include "foundation/util/AbstractException.h"
#include "foundation/util/VOQ_MemoryStream.h"
#include "pisdk/PICalls.h"

bool signatureFound = false;
CosObj foundSignatureDict = {0, 0};

namespace {

// The signature dictionary of the latest match as its signer wrote it.
SignedDictionary foundSignedDictionary;

VOQ_TraceContext* trace() { return pluginTrace("SignatureFinder"); }

void logLine(const char* method, const char* text) { trace()->log(method, text, VOQ_TraceContext::INSIDE); }

CosObj entry(CosObj dict, const char* key) { return CosDictGet(dict, ASAtomFromString(key)); }

// The document's file opened a second time, by its path name, closed with the path
// released on every path.
class ReopenedFile {
 public:
  explicit ReopenedFile(PDDoc doc) : fileSys(ASFileSysGetDefault()), path(ASFileAcquirePathName(PDDocGetFile(doc))) {}
  ~ReopenedFile() {
    DURING
      if (file != nullptr) ASFileClose(file);
    HANDLER
    END_HANDLER
    DURING
      ASFileSysReleasePath(fileSys, path);
    HANDLER
    END_HANDLER
  }
  ReopenedFile(const ReopenedFile&) = delete;
  ReopenedFile& operator=(const ReopenedFile&) = delete;

  // 0, or the host's error code.
  ASErrorCode open() { return ASFileSysOpenFile(fileSys, path, ASFILE_READ, &file); }
  ASFile get() const { return file; }

 private:
  ASFileSys fileSys;
  ASPathName path;
  ASFile file = nullptr;
};

// The byte range as the finder needs it: the first range from the file's first byte, the
// gap between the ranges, the second range. Anything else is no signature of the file.
struct Ranges {
  ASInt32 firstLength = 0, secondOffset = 0, secondLength = 0;
};

bool readByteRange(CosObj sig, Ranges& r) {
  CosObj range = entry(sig, "ByteRange");
  // Exactly two ranges: a third would be bytes the finder never looks at.
  if (CosObjGetType(range) != CosArray || CosArrayLength(range) != 4) {
    return false;
  }
  for (ASInt32 i = 0; i < 4; ++i) {
    if (CosObjGetType(CosArrayGet(range, i)) != CosInteger) {
      return false;
    }
  }
  // A range that starts later leaves the bytes before it open to change.
  if (CosIntegerValue(CosArrayGet(range, 0)) != 0) return false;
  r.firstLength = CosIntegerValue(CosArrayGet(range, 1));
  r.secondOffset = CosIntegerValue(CosArrayGet(range, 2));
  r.secondLength = CosIntegerValue(CosArrayGet(range, 3));
  return r.firstLength >= 0 && r.secondLength >= 0 &&
         static_cast<int64_t>(r.secondOffset) >= static_cast<int64_t>(r.firstLength) + 2;
}

// `count` bytes of the file from `position`; false when the read comes short.
bool readAt(ASFile file, int64_t position, int64_t count, std::string& bytes) {
  bytes.assign(static_cast<size_t>(count), '\0');
  if (count == 0) return true;
  ASFileSetPos(file, static_cast<ASFilePos>(position));
  return ASFileRead(file, &bytes[0], static_cast<ASInt32>(count)) == count;
}

// The first and the largest window read around the gap for the signature dictionary.
const int64_t kFirstWindow = 4096;
const int64_t kLargestWindowBefore = 4 << 20;

// The signature dictionary that holds the gap, as written in the signed ranges, read from
// windows around the gap that grow until it is whole.
bool readSignedDictionaryAround(ASFile file, const Ranges& r, int64_t fileSize, SignedDictionary& out) {
  const int64_t secondEnd = std::min<int64_t>(static_cast<int64_t>(r.secondOffset) + r.secondLength, fileSize);
  int64_t beforeSize = std::min<int64_t>(kFirstWindow, r.firstLength);
  int64_t afterSize = std::min<int64_t>(kFirstWindow, std::max<int64_t>(secondEnd - r.secondOffset, 0));
  std::string before, after;
  if (!readAt(file, r.firstLength - beforeSize, beforeSize, before) ||
      !readAt(file, r.secondOffset, afterSize, after)) {
    return false;
  }
  for (;;) {
    const bool fromStart = beforeSize == r.firstLength;
    const bool toEnd = r.secondOffset + afterSize >= secondEnd;
    switch (readSignedDictionary(before, fromStart, after, toEnd, out)) {
      case SignedDictionaryRead::Found:
        return true;
      case SignedDictionaryRead::NotFound:
        return false;
      case SignedDictionaryRead::NeedMoreBefore: {
        if (fromStart || beforeSize >= kLargestWindowBefore) return false;
        const int64_t grown = std::min<int64_t>({beforeSize * 4, kLargestWindowBefore, r.firstLength});
        std::string more;
        if (!readAt(file, r.firstLength - grown, grown - beforeSize, more)) return false;
        before.insert(0, more);
        beforeSize = grown;
        break;
      }
      case SignedDictionaryRead::NeedMoreAfter: {
        if (toEnd) return false;
        const int64_t grown = std::min<int64_t>(afterSize * 4, secondEnd - r.secondOffset);
        std::string more;
        if (!readAt(file, r.secondOffset + afterSize, grown - afterSize, more)) return false;
        after += more;
        afterSize = grown;
        break;
      }
    }
  }
}

// Whether the rest of the gap, behind the value's digits up to the ">" that ends the
// string, is zero padding. Anything else there (objects of an update, a second string,
// other data after the value) is unsigned and no part of the signature, yet would read as
// covered. Read in pieces, once per byte range and search.
bool gapHoldsOnlyTheValue(ASFile file, const Ranges& r, uint32_t valueLength) {
  const int64_t kPiece = 1 << 16;
  const int64_t last = static_cast<int64_t>(r.secondOffset) - 1;
  std::string piece;
  for (int64_t at = static_cast<int64_t>(r.firstLength) + 1 + 2 * static_cast<int64_t>(valueLength); at < last;
       at += kPiece) {
    if (!readAt(file, at, std::min(kPiece, last - at), piece)) return false;
    if (piece.find_first_not_of('0') != std::string::npos) return false;
  }
  return true;
}

// How many gaps that begin with the value one search reads around: in an honest document
// only the signature's own does, so a document with more is a decoy built to make the
// search read its file many times over.
const int kMostGapsRead = 4;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the field's signature contents start with the finder's value; then `signedDict`
// holds the field's signature dictionary as its signer wrote it. Raises of the host pass
// to the caller.
bool fieldHoldsValue(PDDoc doc, CosObj sig, const SignatureFinder& finder, SignedDictionary& signedDict) {
  Ranges r;
  if (!readByteRange(sig, r)) {
    logLine("findSignature", "ERROR: ByteRange unusable, field skipped");
    return false;
  }
  // The gap must be exactly the /Contents string, "<", two digits a byte and ">", and the
  // value no longer than it: the lengths are compared before anything is read.
  CosObj contents = entry(sig, "Contents");
  ASInt32 contentsLength = 0;
  if (CosObjGetType(contents) != CosString || CosStringValue(contents, &contentsLength) == nullptr ||
      static_cast<int64_t>(r.secondOffset) - r.firstLength != 2 + 2 * static_cast<int64_t>(contentsLength) ||
      finder.length > static_cast<uint32_t>(contentsLength)) {
    logLine("findSignature", "ERROR: the gap is not the signature contents, field skipped");
    return false;
  }
  ReopenedFile file(doc);
  const ASErrorCode code = file.open();
  if (code != 0) {
    char message[1024] = "";
    logLine("findSignature", ASGetErrorString(code, message, sizeof message));
    return false;
  }
  const int64_t fileSize = ASFileGetEOF(file.get());
  static const char hex[] = "0123456789abcdef";
  std::string valueText;
  valueText.reserve(2 * static_cast<size_t>(finder.length));
  for (uint32_t i = 0; i < finder.length; ++i) {
    valueText += hex[finder.value[i] >> 4];
    valueText += hex[finder.value[i] & 0x0F];
  }
  // Only the value's digits behind the "<" and the ">" that ends the string are read: the
  // first few digits alone before the rest, so that a field holding another value costs
  // little more than those.
  const int64_t valueDigits = 2 * static_cast<int64_t>(finder.length);
  const int64_t firstDigits = std::min<int64_t>(valueDigits, 32);
  std::string digits, rest, closing;
  if (r.secondOffset > fileSize || !readAt(file.get(), r.firstLength, 1 + firstDigits, digits) ||
      !readAt(file.get(), static_cast<int64_t>(r.secondOffset) - 1, 1, closing) || digits[0] != '<' ||
      closing[0] != '>') {
    logLine("findSignature", "ERROR: signature contents unreadable, field skipped");
    return false;
  }
  // What follows the value's digits, the zero padding of the contents, is checked once the
  // value agrees (gapHoldsOnlyTheValue).
  auto agrees = [&](const std::string& text, size_t from) {
    for (size_t p = 0; p < text.size(); ++p) {
      if (lower(text[p]) != valueText[from + p]) return false;
    }
    return true;
  };
  if (!agrees(digits.substr(1), 0)) return false;
  if (!readAt(file.get(), static_cast<int64_t>(r.firstLength) + 1 + firstDigits, valueDigits - firstDigits, rest)) {
    logLine("findSignature", "ERROR: signature contents unreadable, field skipped");
    return false;
  }
  const std::string contentsText = digits.substr(1) + rest;
  logLine("findSignature", "comparing found signature with created signature");
  trace()->log("findSignature sig        : ", contentsText.c_str(), VOQ_TraceContext::INSIDE);
  trace()->log("findSignature search sig1: ", valueText.c_str(), VOQ_TraceContext::INSIDE);
  if (!agrees(rest, static_cast<size_t>(firstDigits))) return false;
  // The dictionary that holds the gap, as signed, must be the field's own: a field that
  // only copies another's value and byte range is not the signature.
  if (!finder.dictionaryOf(r.firstLength, r.secondOffset, r.secondLength, [&](SignedDictionary& d) {
        if (!gapHoldsOnlyTheValue(file.get(), r, finder.length)) {
          logLine("findSignature", "ERROR: the gap holds more than the value and its zero padding");
          return false;
        }
        return readSignedDictionaryAround(file.get(), r, fileSize, d);
      }, signedDict)) {
    logLine("findSignature", "ERROR: no signature dictionary holds the contents in the signed ranges, field skipped");
    return false;
  }
  if (!CosObjIsIndirect(sig) || CosObjGetID(sig) != signedDict.id || CosObjGetGeneration(sig) != signedDict.generation) {
    logLine("findSignature", "ERROR: the signed signature dictionary is not the field's, field skipped");
    return false;
  }
  // The ranges checked must be those the signer wrote into the signed dictionary: ranges
  // given by a later update (a gap moved or widened over the bytes that follow) are not.
  if (!signedDict.hasByteRange || signedDict.byteRange[0] != 0 || signedDict.byteRange[1] != r.firstLength ||
      signedDict.byteRange[2] != r.secondOffset || signedDict.byteRange[3] != r.secondLength) {
    logLine("findSignature", "ERROR: the byte range is not the one written in the signed dictionary, field skipped");
    return false;
  }
  return true;
}

ASBool countField(PDDoc /*doc*/, CosObj /*field*/, void* count) {
  ++*static_cast<uint32_t*>(count);
  return true;
}

ASBool noteField(PDDoc /*doc*/, CosObj /*field*/, void* found) {
  *static_cast<bool*>(found) = true;
  return false;
}

void walkFields(PDDoc doc, DigSigEnumProc proc, void* clientData) {
  ScopedCallback callback(ASCallbackCreateProto(DigSigEnumProc, proc));
  DigSigEnumSignatures(doc, callback.get(), clientData);
}

}  // namespace

SignatureFinder::SignatureFinder(const uint8_t* value, uint32_t length) : value(value), length(length) {
  trace()->log("constructor", "create SignatureFinder", VOQ_TraceContext::ENTER);
}

bool SignatureFinder::dictionaryOf(ASInt32 firstLength, ASInt32 secondOffset, ASInt32 secondLength,
                                   const std::function<bool(SignedDictionary&)>& read, SignedDictionary& out) const {
  if (!cache_.valid || cache_.firstLength != firstLength || cache_.secondOffset != secondOffset ||
      cache_.secondLength != secondLength) {
    cache_.valid = false;
    cache_.dictionary = SignedDictionary();
    cache_.found = ++gapsRead_ <= kMostGapsRead && read(cache_.dictionary);
    if (gapsRead_ > kMostGapsRead) {
      logLine("findSignature", "ERROR: too many gaps hold the value, field skipped");
    }
    cache_.firstLength = firstLength;
    cache_.secondOffset = secondOffset;
    cache_.secondLength = secondLength;
    cache_.valid = true;
  }
  out = cache_.dictionary;
  return cache_.found;
}

SignatureFinder::~SignatureFinder() { trace()->log("destructor", "destroy SignatureFinder", VOQ_TraceContext::LEAVE); }

bool findSignature(PDDoc doc, const uint8_t* value, uint32_t length) {
  logLine("findSignature", "enumeration Signatures ...");
  trace()->logHex("findSignature", "searching for signature value", value, length, 16);
  signatureFound = false;
  // An empty value would agree with every field.
  if (value != nullptr && length > 0) {
    SignatureFinder finder(value, length);
    walkFields(doc, &matchSignatureField, &finder);
  }
  logLine("findSignature", signatureFound ? "Signature field found." : "ERROR: Signature field not found!");
  return signatureFound;
}

ASBool matchSignatureField(PDDoc doc, CosObj field, void* clientData) {
  const auto& finder = *static_cast<const SignatureFinder*>(clientData);
  logLine("findSignature", "detected Signature, testing...");
  logLine("findSignature", "looking for signature");
  bool match = false;
  CosObj sig = {0, 0};
  SignedDictionary signedDict;
  // A field that cannot be read is no match; the walk goes on with the next one.
  DURING
    sig = entry(field, "V");
    if (CosObjGetType(sig) != CosDict) {
      return true;  // unsigned
    }
    match = fieldHoldsValue(doc, sig, finder, signedDict);
  HANDLER
    char message[1024] = "";
    trace()->logFormat("findSignature", "ERROR: signature field unreadable: %s\n",
                       ASGetErrorString(ERRORCODE, message, sizeof message));
    match = false;
  END_HANDLER
  if (!match) {
    logLine("findSignatue", "signatures not equal");
    return true;
  }
  logLine("findSignature", "signatures equal");
  signatureFound = true;
  foundSignatureDict = sig;
  foundSignedDictionary = signedDict;
  return false;
}

bool readSigningTime(VOQ_Time& time) {
  // Only what the signer wrote counts: the dictionary as signed, /M a direct string there.
  const SignedDictionary& d = foundSignedDictionary;
  if (!d.hasSigningTime || d.signingTime.empty()) {
    return false;
  }
  // Parsed into a copy: a date that fails half-way leaves the caller's time as it was.
  VOQ_Time parsed(time);
  try {
    parsed.parse(d.signingTime.c_str(), VOQ_Time::FORMAT_PDF);
  } catch (const VOQ_TimeException&) {
    return false;
  }
  time = parsed;
  return true;
}

bool readSignerMetadata(VOQ_XML_Document& document, VOQ_String& text) {
  const SignedDictionary& d = foundSignedDictionary;
  if (!d.hasMetadata) {
    return false;
  }
  VOQ_String metadata(static_cast<unsigned int>(strnlen(d.metadata.data(), d.metadata.size())), d.metadata.data());
  text.clear();
  text.assign(metadata);
  VOQ_MemoryStream stream(&metadata);
  try {
    document.parse(&stream);
  } catch (const VOQ_ParserException&) {
    document.clear();
    return false;
  } catch (const VOQ_StreamException&) {
    // Over a memory stream this is only the text ending where the reader skipped
    // blanks (empty or blank metadata): not well-formed either.
    document.clear();
    return false;
  }
  return true;
}

uint32_t countSignatureFields(AVDoc view) {
  uint32_t count = 0;
  walkFields(AVDocGetPDDoc(view), &countField, &count);
  return count;
}

bool hasSignatureFields(AVDoc view) {
  bool found = false;
  walkFields(AVDocGetPDDoc(view), &noteField, &found);
  return found;
}
