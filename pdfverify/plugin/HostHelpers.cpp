#include "HostHelpers.h"

#include <stdio.h>

#include <memory>

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

ASBool dumpEntry(CosObj key, CosObj value, void* clientData) {
  auto* context = static_cast<DumpContext*>(clientData);
  if (CosObjGetType(key) == CosName) {
    context->trace->logFormat("dumpObject", "/%s\n", ASAtomGetString(CosNameValue(key)));
    dumpValue(value, context->trace);
  } else {
    // Array elements come as the key of the enumeration.
    dumpValue(key, context->trace);
  }
  return true;
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
      trace->logHex(method, key, static_cast<const unsigned char*>(bytes),
                    bytes != nullptr && size > 0 ? static_cast<unsigned>(size) : 0, 16);
      break;
    }
    case kASValuePointer:
      trace->logFormat(method, "Key \"%s\" references a pointer.\n", key);
      break;
    case kASValueCabinet:
      trace->logFormat(method, "Key \"%s\" references another cabinet:", key);
      trace->log(method, "", VOQ_TraceContext::ENTER);
      trace->log(method, "\n", VOQ_TraceContext::INSIDE);
      dumpCab(ASCabGetCab(cab, key), trace);
      trace->log(method, "\n", VOQ_TraceContext::LEAVE);
      break;
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
      trace->logRaw(method, "", reinterpret_cast<const unsigned char*>(bytes), static_cast<unsigned>(length));
      break;
    }
    case CosDict:
    case CosStream: {
      trace->log(method, "<<", VOQ_TraceContext::ENTER);
      ScopedCallback callback(ASCallbackCreateProto(CosObjEnumProc, &dumpEntry));
      CosObjEnum(object, callback.get(), &context);
      trace->log(method, ">>", VOQ_TraceContext::LEAVE);
      break;
    }
    case CosArray: {
      trace->log(method, "[", VOQ_TraceContext::ENTER);
      ScopedCallback callback(ASCallbackCreateProto(CosObjEnumProc, &dumpEntry));
      CosObjEnum(object, callback.get(), &context);
      trace->log(method, "]", VOQ_TraceContext::LEAVE);
      break;
    }
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
