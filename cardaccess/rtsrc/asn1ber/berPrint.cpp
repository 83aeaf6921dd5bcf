// Message dump, hex dump and error texts.
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

#include <cstring>
#include <string>

namespace {

const char* const kStatusTexts[] = {
    "Encode buffer overflow",
    "Unexpected end of buffer on decode",
    "Unexpected tag encountered: expected = %s, parsed = %s",
    "Invalid object identifier",
    "Invalid field length detected",
    "Enumerated value %s not in defined set",
    "Duplicate element in SET",
    "Missing required element in SET",
    "Element with tag %s not part of SET",
    "Max elements defined for SEQUENCE OF field exceeded",
    "Element with tag %s is an invalid option in choice",
    "No dynamic memory available",
    "Invalid string type",
    "Invalid hex string",
    "Invalid binary string",
    "Invalid real value",
    "Max items in sized BIT or OCTET STRING field exceeded",
    "Invalid value specification",
    "No definition found for referenced defined value",
    "No definition found for referenced defined type",
    "Invalid tag value",
    "Nesting level too deep",
    "Value constraint violation: field %s, value %s",
    "Value range error: lower bound is greater than upper",
};
constexpr int kStatusTextCount = sizeof(kStatusTexts) / sizeof(kStatusTexts[0]);

const char* const kUniversalNames[] = {
    " EOC", "BOOL", " INT", "BITS", "OCTS", "NULL", "OBJD", "OBJI", " EXT", "REAL", "ENUM", "  11", "  12",
    "  13", "  14", "  15", " SEQ", " SET", "NUMS", "PRTS", "T61S", "VIDS", "IA5S", "UTCT", "GENT",
};

const char* className(BerTag tag) {
  switch (tag & 0xC000) {
    case BER_CLASS_UNIVERSAL: return "UNIV";
    case BER_CLASS_APPLICATION: return "APPL";
    case BER_CLASS_CONTEXT: return "CTXT";
    case BER_CLASS_PRIVATE: return "PRIV";
  }
  return "****";
}

char formLetter(BerTag tag) { return (tag & BER_CONSTRUCTED) ? 'C' : 'P'; }

// identifier: at least 5 bytes.
void identifierText(BerTag tag, char* identifier, size_t capacity) {
  unsigned number = tag & BER_TAG_NUMBER_MASK;
  if ((tag & 0xC000) == BER_CLASS_UNIVERSAL && number <= 24) {
    std::snprintf(identifier, capacity, "%s", kUniversalNames[number]);
  } else {
    std::snprintf(identifier, capacity, "%4u", number);
  }
}

bool printable(uint8_t byte) { return byte >= 32 && byte < 127; }

void emit(BerPrintCallback callback, void* argument, const char* line) {
  if (callback != nullptr) {
    callback(line, argument);
  } else {
    std::printf("%s\n", line);
  }
}

// One dump line of up to 12 bytes: hex from column 0, characters from column 37.
void dumpBytesLine(const uint8_t* bytes, uint32_t n, char line[50]) {
  std::memset(line, ' ', 49);
  line[49] = '\0';
  for (uint32_t i = 0; i < n; ++i) {
    static const char kDigits[] = "0123456789abcdef";
    line[3 * i] = kDigits[bytes[i] >> 4];
    line[3 * i + 1] = kDigits[bytes[i] & 0x0F];
    line[37 + i] = printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
  }
}

void fileCallback(const char* text, void* argument) { std::fprintf(static_cast<FILE*>(argument), "%s\n", text); }

}  // namespace

const char* berTagText(BerTag tag, char* text, size_t capacity) {
  if (text == nullptr || capacity == 0) return text;
  char identifier[8];
  identifierText(tag, identifier, sizeof(identifier));
  std::snprintf(text, capacity, "[%s %c %s]", className(tag), formLetter(tag), identifier);
  return text;
}

int berDumpMessage(const uint8_t* bytes, uint32_t size, BerPrintCallback callback, void* argument) {
  BerContext ctx;
  BerTag tag = 0;
  int length = 0;
  int status = berInitDecode(&ctx, bytes, size, &tag, &length);
  if (status < 0) return status;
  emit(callback, argument, "CLAS  F  -ID-  LENGTH  HEX CONTENTS                         ASCII");
  for (;;) {
    status = berDecodeTagLength(&ctx, &tag, &length, BER_MATCH_ADVANCE);
    if (status == BER_END_OF_BUFFER) return BER_OK;
    if (status < 0) return status;
    char identifier[8];
    identifierText(tag, identifier, sizeof(identifier));
    char line[160];
    if (length == BER_INDEFINITE) {
      std::snprintf(line, sizeof(line), "%4s  %c  %4s   INDEF", className(tag), formLetter(tag), identifier);
      emit(callback, argument, line);
      continue;
    }
    if ((tag & BER_CONSTRUCTED) || length == 0) {
      std::snprintf(line, sizeof(line), "%4s  %c  %4s  %6d", className(tag), formLetter(tag), identifier, length);
      emit(callback, argument, line);
      continue;
    }
    const uint8_t* data = ctx.buffer + ctx.position;
    auto n = static_cast<uint32_t>(length);
    for (uint32_t offset = 0; offset < n; offset += 12) {
      char bytesLine[50];
      dumpBytesLine(data + offset, n - offset < 12 ? n - offset : 12, bytesLine);
      if (offset == 0) {
        std::snprintf(line, sizeof(line), "%4s  %c  %4s  %6d  %s", className(tag), formLetter(tag), identifier,
                      length, bytesLine);
      } else {
        std::snprintf(line, sizeof(line), "                       %s", bytesLine);
      }
      emit(callback, argument, line);
    }
    ctx.position += n;  // within the message: the length was checked against it
  }
}

int berDumpMessageToFile(FILE* file, const uint8_t* bytes, uint32_t size) {
  if (file == nullptr) return berDumpMessage(bytes, size, nullptr, nullptr);
  return berDumpMessage(bytes, size, fileCallback, file);
}

void berHexDump(FILE* file, const uint8_t* bytes, uint32_t n) {
  if (file == nullptr) file = stdout;
  for (uint32_t offset = 0; offset < n; offset += 16) {
    uint32_t count = n - offset < 16 ? n - offset : 16;
    // The hex column is always 48 characters wide, left-aligned.
    char hex[49];
    std::memset(hex, ' ', 48);
    hex[48] = '\0';
    char chars[17];
    for (uint32_t i = 0; i < count; ++i) {
      static const char kDigits[] = "0123456789abcdef";
      uint8_t b = bytes[offset + i];
      hex[3 * i] = kDigits[b >> 4];
      hex[3 * i + 1] = kDigits[b & 0x0F];
      chars[i] = printable(b) ? static_cast<char>(b) : '.';
    }
    chars[count] = '\0';
    if (count == 16) {
      std::fprintf(file, "%48s %16s\n", hex, chars);
    } else {
      std::fprintf(file, "%48s %s\n", hex, chars);
    }
  }
}

void berHexDumpStdout(const uint8_t* bytes, uint32_t n, bool heading) {
  if (heading) {
    std::printf("\n");
    std::printf("HEX                                              ASCII\n");
  }
  berHexDump(stdout, bytes, n);
}

const char* berStatusText(int status) {
  if (status >= 0) return "normal completion status";
  if (-status - 1 < kStatusTextCount) return kStatusTexts[-status - 1];
  return "unrecognized completion status";
}

const char* berErrorText(const BerContext* ctx, char* text, size_t capacity) {
  if (text == nullptr || capacity == 0) return text;
  if (ctx == nullptr) {
    text[0] = '\0';
    return text;
  }
  const BerErrorInfo& info = ctx->errorInfo;
  const char* pattern = berStatusText(info.status);
  size_t out = 0;
  int parameter = 0;
  auto put = [&](const char* s) {
    for (; *s != '\0' && out + 1 < capacity; ++s) text[out++] = *s;
  };
  for (const char* p = pattern; *p != '\0' && out + 1 < capacity;) {
    if (p[0] == '%' && p[1] == 's') {
      put(parameter < info.parameterCount ? info.parameters[parameter] : "?");
      ++parameter;
      p += 2;
    } else {
      text[out++] = *p++;
    }
  }
  text[out] = '\0';
  return text;
}

namespace {
void printTo(BerContext* ctx, BerPrintCallback callback, void* argument, bool stackHeading) {
  char text[512];
  char line[600];
  std::snprintf(line, sizeof(line), "ASN.1 ERROR: Status %d", ctx->errorInfo.status);
  callback(line, argument);
  callback(berErrorText(ctx, text, sizeof(text)), argument);
  if (stackHeading) callback("Stack trace:", argument);
  for (int i = ctx->errorInfo.stackCount - 1; i >= 0; --i) {
    std::snprintf(line, sizeof(line), "  Module: %s, Line %d\n", ctx->errorInfo.stack[i].module,
                  ctx->errorInfo.stack[i].line);
    callback(line, argument);
  }
  berErrorReset(ctx);
}

void stdoutLine(const char* text, void*) {
  // The module lines carry their own line end.
  size_t n = std::strlen(text);
  std::printf(n > 0 && text[n - 1] == '\n' ? "%s" : "%s\n", text);
}
}  // namespace

void berPrintError(BerContext* ctx) {
  if (ctx == nullptr) return;
  printTo(ctx, stdoutLine, nullptr, true);
}

void berPrintErrorTo(BerContext* ctx, BerPrintCallback callback, void* argument) {
  if (ctx == nullptr) return;
  if (callback == nullptr) {
    berPrintError(ctx);
    return;
  }
  printTo(ctx, callback, argument, false);
}
