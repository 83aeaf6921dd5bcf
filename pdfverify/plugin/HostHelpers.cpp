#include "HostHelpers.h"

#include <stdio.h>

#include <memory>
#include <string>

#include "PanelTexts.h"

namespace {

bool g_flag = false;

bool logHasFile() { return VOQ_TraceLog::getInstance(nullptr)->getFile() != nullptr; }

ASBool collectCertificate(ASCab cab, const char* key, ASInt32 type, void* clientData) {
  if (type != kASValueBinary) return false;
  auto* stack = static_cast<STACK_OF(X509)*>(clientData);
  ASInt32 size = 0;
  const auto* bytes = static_cast<const unsigned char*>(ASCabGetBinary(cab, key, &size));
  if (bytes == nullptr || size <= 0) return true;
  const unsigned char* p = bytes;
  X509* certificate = d2i_X509(nullptr, &p, size);
  if (certificate != nullptr && sk_X509_push(stack, certificate) == 0) X509_free(certificate);
  return true;
}

struct DumpContext {
  VOQ_TraceContext* trace;
};

void dumpValue(CosObj value, VOQ_TraceContext* trace) {
  if (CosObjIsIndirect(value)) {
    trace->logFormat("dumpObject", "%i %i R\n", CosObjGetID(value), CosObjGetGeneration(value));
  } else {
    dumpObject(value, trace);
  }
}

// A dictionary's entries come as (key, value), an array's elements as (element, null):
// which one the enumeration walks decides, not the kind of the first object, since an
// array's element may be a name as well.
ASBool dumpDictEntry(CosObj key, CosObj value, void* clientData) {
  auto* context = static_cast<DumpContext*>(clientData);
  context->trace->logFormat("dumpObject", "/%s\n", ASAtomGetString(CosNameValue(key)));
  dumpValue(value, context->trace);
  return true;
}

ASBool dumpArrayElement(CosObj element, CosObj, void* clientData) {
  dumpValue(element, static_cast<DumpContext*>(clientData)->trace);
  return true;
}

void dumpEntries(CosObj object, CosObjEnumProc proc, DumpContext* context) {
  ScopedCallback callback(ASCallbackCreateProto(CosObjEnumProc, proc));
  CosObjEnum(object, callback.get(), context);
}

ASBool dumpIndirect(CosObj object, void* clientData) {
  dumpIndirectObject(object, static_cast<DumpContext*>(clientData)->trace);
  return true;
}

ASBool dumpCabEntry(ASCab cab, const char* key, ASInt32 type, void* clientData) {
  VOQ_TraceContext* trace = static_cast<DumpContext*>(clientData)->trace;
  const char* method = "dumpCab";
  switch (type) {
    case kASValueBool:
      trace->logFormat(method, ASCabGetBool(cab, key, false) ? "Key \"%s\" references a ASBool with value TRUE.\n"
                                                             : "Key \"%s\" references a ASBool with value FALSE.\n",
                       key);
      break;
    case kASValueInteger:
      trace->logFormat(method, "Key \"%s\" references a ASInt32: %i\n", key, ASCabGetInt(cab, key, 0));
      break;
    case kASValueAtom:
      trace->logFormat(method, "Key \"%s\" references a ASAtom: %s\n", key,
                       ASAtomGetString(ASCabGetAtom(cab, key, ASAtomNull)));
      break;
    case kASValueDouble:
      trace->logFormat(method, "Key \"%s\" references a double: %f\n", key, ASCabGetDouble(cab, key, 0.0));
      break;
    case kASValueString: {
      const char* text = ASCabGetString(cab, key);
      trace->logFormat(method, "Key \"%s\" references a C-string: %s\n", key, text != nullptr ? text : "");
      break;
    }
    case kASValueText: {
      ASText text = ASCabGetText(cab, key);
      const char* encoded = text != nullptr ? ASTextGetEncoded(text, AVAppGetLanguageEncoding()) : nullptr;
      trace->logFormat(method, "Key \"%s\" references ASText: %s\n", key, encoded != nullptr ? encoded : "");
      break;
    }
    case kASValueBinary: {
      ASInt32 size = 0;
      const void* bytes = ASCabGetBinary(cab, key, &size);
      const unsigned length = bytes != nullptr && size > 0 ? static_cast<unsigned>(size) : 0;
      trace->logHex(method, key, static_cast<const unsigned char*>(bytes), length, 16);
      // The hex dump ends its line only after bytes.
      if (length == 0) trace->logChar('\n');
      break;
    }
    case kASValuePointer:
      trace->logFormat(method, "Key \"%s\" references a pointer.\n", key);
      break;
    case kASValueCabinet: {
      std::string line = std::string("Key \"") + key + "\" references another cabinet:";
      trace->log(method, line.c_str(), VOQ_TraceContext::ENTER);
      dumpCab(ASCabGetCab(cab, key), trace);
      trace->log(method, "\n", VOQ_TraceContext::LEAVE);
      break;
    }
    case kASValueNull:
      trace->logFormat(method, "Key \"%s\" references\n", key);
      break;
    case kASValueUns:
      trace->logFormat(method, "Key \"%s\" references a ASInt: %u\n", key, ASCabGetUns(cab, key, 0));
      break;
    default:
      trace->logFormat(method, "Key \"%s\" references an invalid value.\n", key);
      break;
  }
  return true;
}

const char* valueKindName(ASInt32 type) {
  static const char* const names[] = {"Bool",    "Signed Integer", "Atom",   "Double", "String",
                                      "Text",    "Binary",         "Pointer", "Cabinet", "Null",
                                      "Unsigned Integer"};
  return type >= 0 && type <= kASValueUns ? names[type] : "?";
}

ASBool validityCabCB(ASCab, const char* key, ASInt32 type, void* clientData) {
  static_cast<DumpContext*>(clientData)->trace->logFormat("ValidityCabCB", "The value of Key \"%s\" is of type %s\n",
                                                          key, valueKindName(type));
  return true;
}

void enumCab(ASCab cab, ASCabEnumProc proc, void* clientData) {
  ScopedCallback callback(ASCallbackCreateProto(ASCabEnumProc, proc));
  ASCabEnum(cab, callback.get(), clientData);
}

}  // namespace

void cabToX509Stack(ASCab cab, STACK_OF(X509) * stack) {
  if (cab == nullptr || stack == nullptr) return;
  enumCab(cab, &collectCertificate, stack);
}

char toLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

char toUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

int compareNames(const char* a, const char* b, bool caseSensitive) {
  if (a == nullptr) return b == nullptr ? 0 : -1;
  if (b == nullptr) return 1;
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    // Signed bytes, as the viewer's own comparison has them.
    signed char x = static_cast<signed char>(caseSensitive ? *a : toLowerAscii(*a));
    signed char y = static_cast<signed char>(caseSensitive ? *b : toLowerAscii(*b));
    if (x < y) return -1;
    if (x > y) return 1;
  }
  if (*a == '\0' && *b == '\0') return 0;
  return *a == '\0' ? -1 : 1;
}

bool getDictNameValue(CosObj object, const char* key, VOQ_String& output) {
  if (CosObjGetType(object) == CosDict) {
    CosObj value = CosDictGet(object, ASAtomFromString(key));
    if (CosObjGetType(value) == CosName) {
      output.append(VOQ_String(ASAtomGetString(CosNameValue(value))));
      return true;
    }
  }
  output.clear();
  return false;
}

CosType dumpObject(CosObj object, VOQ_TraceContext* trace) {
  CosType type = CosObjGetType(object);
  if (!logHasFile()) return type;
  const char* method = "dumpObject";
  DumpContext context{trace};
  switch (type) {
    case CosNull:
      trace->log(method, "null", VOQ_TraceContext::INSIDE);
      break;
    case CosInteger:
      trace->logFormat(method, "%i\n", CosIntegerValue(object));
      break;
    case CosFixed: {
      char text[128];
      ASFixedToCString(CosFixedValue(object), text, sizeof text, 32);
      text[sizeof text - 1] = '\0';
      trace->log(method, text, VOQ_TraceContext::INSIDE);
      break;
    }
    case CosBoolean:
      trace->log(method, CosBooleanValue(object) ? "true" : "false", VOQ_TraceContext::INSIDE);
      break;
    case CosName:
      trace->log(method, ASAtomGetString(CosNameValue(object)), VOQ_TraceContext::INSIDE);
      break;
    case CosString: {
      ASInt32 length = 0;
      const char* bytes = CosStringValue(object, &length);
      // The bytes as they are, zeros too, after the usual head.
      trace->logFormat(method, "%s", "");
      trace->logRaw(nullptr, nullptr, reinterpret_cast<const unsigned char*>(bytes),
                    length > 0 ? static_cast<unsigned>(length) : 0);
      break;
    }
    case CosDict:
    case CosStream:
      trace->log(method, "<<", VOQ_TraceContext::ENTER);
      dumpEntries(object, &dumpDictEntry, &context);
      trace->log(method, ">>", VOQ_TraceContext::LEAVE);
      break;
    case CosArray:
      trace->log(method, "[", VOQ_TraceContext::ENTER);
      dumpEntries(object, &dumpArrayElement, &context);
      trace->log(method, "]", VOQ_TraceContext::LEAVE);
      break;
    default:
      trace->log(method, "ERROR - unknown object type!", VOQ_TraceContext::INSIDE);
      break;
  }
  return type;
}

void dumpIndirectObject(CosObj object, VOQ_TraceContext* trace) {
  if (!CosObjIsIndirect(object)) {
    trace->log("dumpIndirectObject", "The given Object is not a indirect value!", VOQ_TraceContext::INSIDE);
    return;
  }
  if (!logHasFile()) return;
  trace->log("dumpIndirectObject", "\n", VOQ_TraceContext::INSIDE);
  trace->logFormat("dumpIndirectObject", "%i %i R\n", CosObjGetID(object), CosObjGetGeneration(object));
  dumpObject(object, trace);
}

void dumpIndirectObjects(PDDoc doc, VOQ_TraceContext* trace) {
  if (!logHasFile()) return;
  DumpContext context{trace};
  ScopedCallback callback(ASCallbackCreateProto(CosDocEnumProc, &dumpIndirect));
  CosDocEnumIndirect(PDDocGetCosDoc(doc), callback.get(), &context);
  trace->log("dumpIndirectObjects", "\n", VOQ_TraceContext::INSIDE);
}

void dumpCab(ASCab cab, VOQ_TraceContext* trace) {
  if (cab == nullptr || !logHasFile()) return;
  DumpContext context{trace};
  enumCab(cab, &dumpCabEntry, &context);
}

void logCabValueKinds(ASCab cab, VOQ_TraceContext* trace) {
  if (cab == nullptr || !logHasFile()) return;
  DumpContext context{trace};
  enumCab(cab, &validityCabCB, &context);
}

bool isFlagClear() { return !g_flag; }

ASText getText(ASCab resultCab, DSSigValText kind, ASInt32 number, VOQ_TraceContext* trace) {
  const char* method = "getText";
  trace->logFormat(method, "Started to get number %i of %s.\n", number, textTypeName(kind));
  trace->log(method, "content of the valCab:", VOQ_TraceContext::INSIDE);
  dumpCab(resultCab, trace);
  switch (kind) {
    case kDSSigValTextDSTop:
    case kDSSigValTextDSDetail:
    case kDSSigValTextDSTooltip:
    case kDSSigValTextProp:
    case kDSSigValTextAP:
    case kDSSigValTextPropIdValidity:
    case kDSSigValTextDSAVIdValidity:
    case kDSSigValTextDSTTIdValidity:
      break;
    default:
      return nullptr;
  }
  const int32_t id = ASCabGetInt(resultCab, "id", -1);
  const char* validity = id == 2                ? "The signature is not valid."
                         : id == 3 || id == 4 ? "The signature is valid."
                                              : "The signature couldn´t be checked!";
  // Flags the verification never set (-1) trust nothing, as in the panel texts.
  const int32_t trustFlags = ASCabGetInt(resultCab, "trustFlags", -1);
  const char* trust =
      trustFlags != 0 && trustFlags != -1 ? "The Certificate is trusted." : "The Certificate is not trusted.";
  const std::string text = std::string(validity) + "\n" + trust;
  return ASTextFromEncoded(text.c_str(), 0);
}
