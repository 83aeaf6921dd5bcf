#include "SignatureFinder.h"

#include <string.h>

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

// The two values of the byte range the finder needs: the first range's length and the
// second range's offset. The text between them must hold at least the two brackets.
bool readByteRange(CosObj sig, ASInt32& firstLength, ASInt32& secondOffset) {
  CosObj range = entry(sig, "ByteRange");
  if (CosObjGetType(range) != CosArray || CosArrayLength(range) < 3) {
    return false;
  }
  for (ASInt32 i = 0; i < 3; ++i) {
    if (CosObjGetType(CosArrayGet(range, i)) != CosInteger) {
      return false;
    }
  }
  firstLength = CosIntegerValue(CosArrayGet(range, 1));
  secondOffset = CosIntegerValue(CosArrayGet(range, 2));
  return firstLength >= 0 && static_cast<int64_t>(secondOffset) >= static_cast<int64_t>(firstLength) + 2;
}

// The file's text between the two signed ranges without its brackets: the bytes from
// one past the "<" that ends the first range, without the ">" and the byte after it.
// False when the file cannot be opened, the second range starts beyond its end, or the
// read comes short.
bool readContentsText(PDDoc doc, ASInt32 firstLength, ASInt32 secondOffset, std::string& text) {
  ReopenedFile file(doc);
  const ASErrorCode code = file.open();
  if (code != 0) {
    char message[1024] = "";
    logLine("findSignature", ASGetErrorString(code, message, sizeof message));
    return false;
  }
  if (secondOffset > ASFileGetEOF(file.get())) {
    return false;
  }
  const ASInt32 count = secondOffset - firstLength;
  text.assign(static_cast<size_t>(count), '\0');
  ASFileSetPos(file.get(), static_cast<ASFilePos>(firstLength) + 1);
  if (ASFileRead(file.get(), &text[0], count) != count) {
    return false;
  }
  text.resize(text.size() - 2);
  return true;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the field's signature contents start with the finder's value. Raises of the
// host pass to the caller.
bool fieldHoldsValue(PDDoc doc, CosObj sig, const SignatureFinder& finder) {
  ASInt32 firstLength = 0, secondOffset = 0;
  if (!readByteRange(sig, firstLength, secondOffset)) {
    logLine("findSignature", "ERROR: ByteRange unusable, field skipped");
    return false;
  }
  std::string contentsText;
  if (!readContentsText(doc, firstLength, secondOffset, contentsText)) {
    logLine("findSignature", "ERROR: signature contents unreadable, field skipped");
    return false;
  }
  static const char digits[] = "0123456789abcdef";
  std::string valueText;
  valueText.reserve(2 * static_cast<size_t>(finder.length));
  for (uint32_t i = 0; i < finder.length; ++i) {
    valueText += digits[finder.value[i] >> 4];
    valueText += digits[finder.value[i] & 0x0F];
  }
  logLine("findSignature", "comparing found signature with created signature");
  trace()->log("findSignature sig        : ", contentsText.c_str(), VOQ_TraceContext::INSIDE);
  trace()->log("findSignature search sig1: ", valueText.c_str(), VOQ_TraceContext::INSIDE);
  // What follows the value's digits, the zero padding of the contents, is not compared.
  if (contentsText.size() < valueText.size()) {
    return false;
  }
  for (size_t p = 0; p < valueText.size(); ++p) {
    if (lower(contentsText[p]) != valueText[p]) {
      return false;
    }
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
  // A field that cannot be read is no match; the walk goes on with the next one.
  DURING
    sig = entry(field, "V");
    if (CosObjGetType(sig) != CosDict) {
      return true;  // unsigned
    }
    match = fieldHoldsValue(doc, sig, finder);
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
  return false;
}

bool readSigningTime(VOQ_Time& time) {
  if (CosObjGetType(foundSignatureDict) != CosDict) {
    return false;
  }
  CosObj m = entry(foundSignatureDict, "M");
  if (CosObjGetType(m) != CosString) {
    return false;
  }
  ASInt32 length = 0;
  const char* text = CosStringValue(m, &length);
  if (text == nullptr || length <= 0) {
    return false;
  }
  // Parsed into a copy: a date that fails half-way leaves the caller's time as it was.
  VOQ_Time parsed(time);
  try {
    parsed.parse(std::string(text, static_cast<size_t>(length)).c_str(), VOQ_Time::FORMAT_PDF);
  } catch (const VOQ_TimeException&) {
    return false;
  }
  time = parsed;
  return true;
}

bool readSignerMetadata(VOQ_XML_Document& document, VOQ_String& text) {
  if (CosObjGetType(foundSignatureDict) != CosDict) {
    return false;
  }
  // Each level is checked before it is read: a key of a name or a number raises.
  CosObj build = entry(foundSignatureDict, "Prop_Build");
  if (CosObjGetType(build) != CosDict) {
    return false;
  }
  CosObj filter = entry(build, "Filter");
  if (CosObjGetType(filter) != CosDict) {
    return false;
  }
  CosObj meta = entry(filter, "Metadata");
  if (CosObjGetType(meta) != CosString) {
    return false;
  }
  ASInt32 length = 0;
  const char* bytes = CosStringValue(meta, &length);
  VOQ_String metadata(bytes != nullptr && length > 0 ? static_cast<unsigned int>(strnlen(bytes, length)) : 0, bytes);
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
