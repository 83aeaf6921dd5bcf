// BER decoder. The caller's buffer size is always a hard bound, also for
// messages of indefinite length: no read ever goes past it.
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"
#include "cardaccess/rtsrc/asn1ber/berHeader.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr int kLineBigInteger = 1900;
constexpr int kLineCharString = 2248;
constexpr int kLineBMPTag = 2271;
constexpr int kLineBMPLength = 2285;
constexpr int kLineBMPMemory = 2291;

struct Mark {
  uint32_t position;
  uint16_t depth;
  uint16_t flags;
};

Mark mark(const BerContext* ctx) { return Mark{ctx->position, ctx->depth, ctx->flags}; }

void restore(BerContext* ctx, const Mark& m) {
  ctx->position = m.position;
  ctx->depth = m.depth;
  ctx->flags = m.flags;
}

uint32_t remaining(const BerContext* ctx) { return ctx->position < ctx->size ? ctx->size - ctx->position : 0; }

int readByte(BerContext* ctx, uint8_t* byte) {
  if (ctx->position >= ctx->size) return BER_END_OF_BUFFER;
  *byte = ctx->buffer[ctx->position++];
  return BER_OK;
}

int skip(BerContext* ctx, uint32_t n) {
  if (n > remaining(ctx)) return BER_END_OF_BUFFER;
  ctx->position += n;
  return BER_OK;
}

using berheader::isEndOfContents;

// The contents length of a primitive value: from its own header with tagging 1,
// else as the caller gives it. Contents beyond the message give -2.
int contents(BerContext* ctx, BerTag tag, int tagging, int* length) {
  if (tagging == 1) {
    int status = berMatchTag(ctx, tag, length, BER_MATCH_ADVANCE);
    if (status < 0) return status;
  }
  if (*length < 0) return BER_INVALID_LENGTH;
  if (static_cast<uint32_t>(*length) > remaining(ctx)) return BER_END_OF_BUFFER;
  return BER_OK;
}

const uint8_t* here(const BerContext* ctx) { return ctx->buffer + ctx->position; }

}  // namespace

// --- Headers ----------------------------------------------------------------------

int berInitDecode(BerContext* ctx, const uint8_t* buffer, uint32_t size, BerTag* tag, int* length) {
  std::memset(ctx, 0, sizeof(*ctx));
  // Decoding never writes the buffer; the context type is shared with the encoder.
  ctx->buffer = const_cast<uint8_t*>(buffer);
  ctx->size = buffer != nullptr ? size : 0;
  BerTag outerTag = 0;
  int outerLength = 0;
  int status = berDecodeTagLength(ctx, &outerTag, &outerLength, BER_MATCH_ADVANCE);
  if (status < 0) {
    // Nothing of a message that failed to start can be decoded afterwards.
    ctx->size = 0;
    ctx->position = 0;
    return status;
  }
  int reported;
  if (outerLength == BER_INDEFINITE) {
    ctx->flags |= BER_FLAG_INDEFINITE_MESSAGE;
    reported = BER_INDEFINITE;
  } else {
    ctx->size = ctx->position + static_cast<uint32_t>(outerLength);
    if (ctx->size > INT_MAX) {
      ctx->size = 0;
      ctx->position = 0;
      return BER_INVALID_LENGTH;
    }
    reported = static_cast<int>(ctx->size);
  }
  ctx->position = 0;
  ctx->depth = 0;
  if (tag != nullptr) *tag = outerTag;
  if (length != nullptr) *length = reported;
  return BER_OK;
}

int berDecodeTag(BerContext* ctx, BerTag* tag) {
  return berheader::readTag([ctx](uint8_t* octet) { return readByte(ctx, octet); }, tag);
}

int berDecodeLength(BerContext* ctx, int* length) {
  int status = berheader::readLength([ctx](uint8_t* octet) { return readByte(ctx, octet); }, length);
  if (status < 0 || *length == BER_INDEFINITE) return status;
  if (static_cast<uint32_t>(*length) > remaining(ctx)) return BER_INVALID_LENGTH;
  return BER_OK;
}

int berDecodeTagLength(BerContext* ctx, BerTag* tag, int* length, int flags) {
  if ((ctx->flags & BER_FLAG_INDEFINITE_MESSAGE) && (ctx->flags & BER_FLAG_MESSAGE_ENDED)) {
    return BER_END_OF_BUFFER;
  }
  Mark before = mark(ctx);
  BerTag t = 0;
  int l = 0;
  int status = berDecodeTag(ctx, &t);
  if (status == BER_OK) status = berDecodeLength(ctx, &l);
  // X.690 allows the indefinite form for constructed encodings only.
  if (status == BER_OK && l == BER_INDEFINITE && !(t & BER_CONSTRUCTED)) status = BER_INVALID_LENGTH;
  if (status == BER_OK) {
    if (isEndOfContents(t, l)) {
      // An end-of-contents outside every indefinite element ends nothing.
      if (ctx->depth == 0) {
        status = BER_INVALID_LENGTH;
      } else if (--ctx->depth == 0 && (ctx->flags & BER_FLAG_INDEFINITE_MESSAGE)) {
        ctx->flags |= BER_FLAG_MESSAGE_ENDED;
      }
    } else if (l == BER_INDEFINITE) {
      if (ctx->depth == UINT16_MAX) {
        status = BER_NESTING_TOO_DEEP;
      } else {
        ++ctx->depth;
      }
    }
  }
  if (status < 0) {
    restore(ctx, before);
    return status;
  }
  if (tag != nullptr) *tag = t;
  if (length != nullptr) *length = l;
  if (!(flags & BER_MATCH_ADVANCE)) restore(ctx, before);
  return BER_OK;
}

int berMatchTag(BerContext* ctx, BerTag expected, int* length, int flags) {
  BerTag parsed = 0;
  int l = 0;
  if (flags & BER_MATCH_STEP_OVER) {
    Mark before = mark(ctx);
    int status = berDecodeTagLength(ctx, &parsed, &l, BER_MATCH_ADVANCE);
    if (status == BER_OK && !(parsed & BER_CONSTRUCTED)) status = skip(ctx, static_cast<uint32_t>(l));
    if (status < 0) {
      restore(ctx, before);
      if (status != BER_END_OF_BUFFER) return status;
      berErrorAddTag(ctx, expected);
      berErrorAddTag(ctx, parsed);
      return BER_UNEXPECTED_TAG;
    }
  }
  Mark start = mark(ctx);
  int status;
  for (;;) {
    Mark header = mark(ctx);
    status = berDecodeTagLength(ctx, &parsed, &l, BER_MATCH_ADVANCE);
    if (status < 0) break;
    if (parsed == expected) {
      if (length != nullptr) *length = l;
      if (!(flags & BER_MATCH_ADVANCE)) restore(ctx, header);
      return BER_OK;
    }
    if (!(flags & BER_MATCH_SEARCH)) {
      status = BER_END_OF_BUFFER;
      break;
    }
    if (!(parsed & BER_CONSTRUCTED)) {
      status = skip(ctx, static_cast<uint32_t>(l));
      if (status < 0) break;
    }
  }
  restore(ctx, start);
  if (status != BER_END_OF_BUFFER) return status;
  berErrorAddTag(ctx, expected);
  berErrorAddTag(ctx, parsed);
  return BER_UNEXPECTED_TAG;
}

int berRead(BerContext* ctx, uint8_t* bytes, uint32_t n) {
  if (n > remaining(ctx)) return BER_END_OF_BUFFER;
  if (n > 0) std::memcpy(bytes, here(ctx), n);
  ctx->position += n;
  return BER_OK;
}

// --- Walking ---------------------------------------------------------------------------

int berSkipElement(BerContext* ctx) {
  BerTag tag = 0;
  int length = 0;
  int status = berDecodeTagLength(ctx, &tag, &length, BER_MATCH_ADVANCE);
  if (status < 0) return status;
  if (length == BER_INDEFINITE) return berSkipToEndOfContents(ctx);
  return skip(ctx, static_cast<uint32_t>(length));
}

int berSkipToEndOfContents(BerContext* ctx) {
  long level = 1;
  while (level > 0) {
    BerTag tag = 0;
    int length = 0;
    int status = berDecodeTagLength(ctx, &tag, &length, BER_MATCH_ADVANCE);
    if (status < 0) return status;
    if (isEndOfContents(tag, length)) {
      --level;
    } else if (length == BER_INDEFINITE) {
      ++level;
    } else {
      status = skip(ctx, static_cast<uint32_t>(length));
      if (status < 0) return status;
    }
  }
  return BER_OK;
}

bool berEndOfElement(BerContext* ctx, uint32_t start, int length) {
  if (length != BER_INDEFINITE) {
    if (ctx->position >= ctx->size) return true;
    return length < 0 || static_cast<uint64_t>(ctx->position) - start >= static_cast<uint64_t>(length);
  }
  BerTag tag = 0;
  int l = 0;
  if (berDecodeTagLength(ctx, &tag, &l, 0) < 0) return true;
  if (isEndOfContents(tag, l)) {
    // Read the end-of-contents, so the caller goes on after the element.
    berDecodeTagLength(ctx, &tag, &l, BER_MATCH_ADVANCE);
    return true;
  }
  return false;
}

int berCountElements(BerContext* ctx, int length) {
  Mark before = mark(ctx);
  uint32_t start = ctx->position;
  int count = 0;
  int status = BER_OK;
  while (!berEndOfElement(ctx, start, length)) {
    status = berSkipElement(ctx);
    if (status < 0) break;
    ++count;
  }
  if (status == BER_OK && length != BER_INDEFINITE && ctx->position - start != static_cast<uint32_t>(length)) {
    status = BER_INVALID_LENGTH;
  }
  restore(ctx, before);
  return status < 0 ? status : count;
}

void berSavePosition(BerContext* ctx) {
  ctx->saved.position = ctx->position;
  ctx->saved.depth = ctx->depth;
}

void berRestorePosition(BerContext* ctx) {
  ctx->position = ctx->saved.position;
  ctx->depth = ctx->saved.depth;
  ctx->flags &= static_cast<uint16_t>(~BER_FLAG_MESSAGE_ENDED);
}

int berIndefiniteMessageLength(const uint8_t* bytes, uint32_t size) {
  BerContext ctx;
  BerTag tag = 0;
  int length = 0;
  int status = berInitDecode(&ctx, bytes, size, &tag, &length);
  if (status == BER_OK && length != BER_INDEFINITE) status = BER_INVALID_LENGTH;
  if (status == BER_OK) status = berSkipElement(&ctx);
  int result = status < 0 ? status : static_cast<int>(ctx.position);
  berFreeContext(&ctx);
  return result;
}

int berCheckLengths(const uint8_t* bytes, uint32_t size) {
  BerContext ctx;
  BerTag tag = 0;
  int length = 0;
  int status = berInitDecode(&ctx, bytes, size, &tag, &length);
  if (status < 0) return status;
  // Iterative walk with the ends of the open constructed elements; the depth
  // is bounded so that hostile nesting cannot exhaust anything.
  constexpr uint32_t kIndefinite = UINT32_MAX;
  uint32_t ends[BER_STACK_SIZE];
  int open = 0;
  status = berDecodeTagLength(&ctx, &tag, &length, BER_MATCH_ADVANCE);
  if (status < 0) return status;
  if (!(tag & BER_CONSTRUCTED)) return BER_OK;
  ends[open++] = length == BER_INDEFINITE ? kIndefinite : ctx.position + static_cast<uint32_t>(length);
  while (open > 0) {
    uint32_t end = ends[open - 1];
    if (end != kIndefinite) {
      if (ctx.position == end) {
        --open;
        continue;
      }
      if (ctx.position > end) return BER_INVALID_LENGTH;
    }
    status = berDecodeTagLength(&ctx, &tag, &length, BER_MATCH_ADVANCE);
    if (status == BER_END_OF_BUFFER) return BER_INVALID_LENGTH;
    if (status < 0) return status;
    if (isEndOfContents(tag, length)) {
      if (end != kIndefinite) return BER_INVALID_LENGTH;
      --open;
      continue;
    }
    if (end != kIndefinite &&
        (ctx.position > end || (length != BER_INDEFINITE && static_cast<uint32_t>(length) > end - ctx.position))) {
      return BER_INVALID_LENGTH;
    }
    if (tag & BER_CONSTRUCTED) {
      if (open == BER_STACK_SIZE) return BER_NESTING_TOO_DEEP;
      ends[open++] = length == BER_INDEFINITE ? kIndefinite : ctx.position + static_cast<uint32_t>(length);
    } else {
      status = skip(&ctx, static_cast<uint32_t>(length));
      if (status < 0) return BER_INVALID_LENGTH;
    }
  }
  return BER_OK;
}

// --- Primitive values -------------------------------------------------------------------

int berDecodeBoolean(BerContext* ctx, uint8_t* value, int tagging, int length) {
  int status = contents(ctx, BER_TAG_BOOLEAN, tagging, &length);
  if (status < 0) return status;
  if (length != 1) return BER_INVALID_LENGTH;
  return berRead(ctx, value, 1);
}

namespace {
int decodeSigned(BerContext* ctx, BerTag tag, int32_t* value, int tagging, int length) {
  int status = contents(ctx, tag, tagging, &length);
  if (status < 0) return status;
  if (length == 0 || length > 4) return BER_INVALID_LENGTH;
  const uint8_t* p = here(ctx);
  uint32_t v = (p[0] & 0x80) ? UINT32_MAX : 0;
  for (int i = 0; i < length; ++i) v = v << 8 | p[i];
  *value = static_cast<int32_t>(v);
  ctx->position += static_cast<uint32_t>(length);
  return BER_OK;
}
}  // namespace

int berDecodeInteger(BerContext* ctx, int32_t* value, int tagging, int length) {
  return decodeSigned(ctx, BER_TAG_INTEGER, value, tagging, length);
}

int berDecodeEnumerated(BerContext* ctx, int32_t* value, int tagging, int length) {
  return decodeSigned(ctx, BER_TAG_ENUMERATED, value, tagging, length);
}

int berDecodeUnsigned(BerContext* ctx, uint32_t* value, int tagging, int length) {
  int status = contents(ctx, BER_TAG_INTEGER, tagging, &length);
  if (status < 0) return status;
  const uint8_t* p = here(ctx);
  // Five octets only with the leading zero that keeps the value positive.
  if (length == 0 || length > 5 || (length == 5 && p[0] != 0)) return BER_INVALID_LENGTH;
  uint32_t v = 0;
  for (int i = 0; i < length; ++i) v = v << 8 | p[i];
  *value = v;
  ctx->position += static_cast<uint32_t>(length);
  return BER_OK;
}

int berDecodeBigInteger(BerContext* ctx, const char** text, int tagging, int length) {
  int status = contents(ctx, BER_TAG_INTEGER, tagging, &length);
  if (status == BER_END_OF_BUFFER) return berSetError(ctx, status, BER_MODULE, kLineBigInteger);
  if (status < 0) return status;
  auto n = static_cast<size_t>(length);
  auto* out = static_cast<char*>(berHeapAlloc(ctx, 2 * n + 3));
  if (out == nullptr) return BER_NO_MEMORY;
  static const char kDigits[] = "0123456789abcdef";
  out[0] = '0';
  out[1] = 'x';
  const uint8_t* p = here(ctx);
  for (size_t i = 0; i < n; ++i) {
    out[2 + 2 * i] = kDigits[p[i] >> 4];
    out[3 + 2 * i] = kDigits[p[i] & 0x0F];
  }
  out[2 + 2 * n] = '\0';
  ctx->position += static_cast<uint32_t>(n);
  *text = out;
  return BER_OK;
}

namespace {
// The unused-bit octet and the number of bits it leaves; -5 when they cannot be.
int bitStringShape(BerContext* ctx, int length, uint32_t* bits) {
  if (length == 0) {
    *bits = 0;
    return BER_OK;
  }
  uint8_t unused = here(ctx)[0];
  if (unused > 7 || (length == 1 && unused != 0)) return BER_INVALID_LENGTH;
  *bits = 8 * static_cast<uint32_t>(length - 1) - unused;
  return BER_OK;
}
}  // namespace

int berDecodeBitString(BerContext* ctx, uint8_t* buffer, uint32_t* bits, int tagging, int length) {
  int status = contents(ctx, BER_TAG_BIT_STRING, tagging, &length);
  if (status < 0) return status;
  uint32_t count = 0;
  status = bitStringShape(ctx, length, &count);
  if (status < 0) return status;
  if (count > *bits) return BER_TOO_MANY_ITEMS;
  if (length > 1) std::memcpy(buffer, here(ctx) + 1, static_cast<size_t>(length - 1));
  ctx->position += static_cast<uint32_t>(length);
  *bits = count;
  return BER_OK;
}

int berDecodeBitStringAlloc(BerContext* ctx, const uint8_t** data, uint32_t* bits, int tagging, int length) {
  int status = contents(ctx, BER_TAG_BIT_STRING, tagging, &length);
  if (status < 0) return status;
  uint32_t count = 0;
  status = bitStringShape(ctx, length, &count);
  if (status < 0) return status;
  uint8_t* out = nullptr;
  if (length > 1) {
    out = static_cast<uint8_t*>(berHeapAlloc(ctx, static_cast<size_t>(length - 1)));
    if (out == nullptr) return BER_NO_MEMORY;
    std::memcpy(out, here(ctx) + 1, static_cast<size_t>(length - 1));
  }
  ctx->position += static_cast<uint32_t>(length);
  *data = out;
  *bits = count;
  return BER_OK;
}

int berDecodeOctetString(BerContext* ctx, uint8_t* buffer, uint32_t* count, int tagging, int length) {
  int status = contents(ctx, BER_TAG_OCTET_STRING, tagging, &length);
  if (status < 0) return status;
  if (static_cast<uint32_t>(length) > *count) return BER_TOO_MANY_ITEMS;
  status = berRead(ctx, buffer, static_cast<uint32_t>(length));
  if (status < 0) return status;
  *count = static_cast<uint32_t>(length);
  return BER_OK;
}

int berDecodeOctetStringAlloc(BerContext* ctx, const uint8_t** data, uint32_t* count, int tagging, int length) {
  int status = contents(ctx, BER_TAG_OCTET_STRING, tagging, &length);
  if (status < 0) return status;
  uint8_t* out = nullptr;
  if (length > 0) {
    out = static_cast<uint8_t*>(berHeapAlloc(ctx, static_cast<size_t>(length)));
    if (out == nullptr) return BER_NO_MEMORY;
    berRead(ctx, out, static_cast<uint32_t>(length));
  }
  *data = out;
  *count = static_cast<uint32_t>(length);
  return BER_OK;
}

int berDecodeCharString(BerContext* ctx, const char** text, int tagging, BerTag tag, int length) {
  int status = contents(ctx, tag, tagging, &length);
  if (status < 0) return berSetError(ctx, status, BER_MODULE, kLineCharString);
  auto* out = static_cast<char*>(berHeapAlloc(ctx, static_cast<size_t>(length) + 1));
  if (out == nullptr) return berSetError(ctx, BER_NO_MEMORY, BER_MODULE, kLineCharString);
  berRead(ctx, reinterpret_cast<uint8_t*>(out), static_cast<uint32_t>(length));
  out[length] = '\0';
  *text = out;
  return BER_OK;
}

int berDecodeBMPString(BerContext* ctx, BerBMPString* value, int tagging, BerTag tag, int length) {
  int status = contents(ctx, tag, tagging, &length);
  if (status < 0) return berSetError(ctx, status, BER_MODULE, kLineBMPTag);
  // Every character takes two octets; an odd count would drop one silently.
  if (length % 2 != 0) return berSetError(ctx, BER_INVALID_LENGTH, BER_MODULE, kLineBMPLength);
  uint32_t count = static_cast<uint32_t>(length) / 2;
  uint16_t* chars = nullptr;
  if (count > 0) {
    chars = static_cast<uint16_t*>(berHeapAlloc(ctx, count * sizeof(uint16_t)));
    if (chars == nullptr) return berSetError(ctx, BER_NO_MEMORY, BER_MODULE, kLineBMPMemory);
    const uint8_t* p = here(ctx);
    for (uint32_t i = 0; i < count; ++i) chars[i] = static_cast<uint16_t>(p[2 * i] << 8 | p[2 * i + 1]);
  }
  ctx->position += static_cast<uint32_t>(length);
  value->count = count;
  value->chars = chars;
  return BER_OK;
}

int berDecodeNull(BerContext* ctx, int tagging, int length) {
  int status = contents(ctx, BER_TAG_NULL, tagging, &length);
  if (status < 0) return status;
  return length == 0 ? BER_OK : BER_INVALID_LENGTH;
}

int berDecodeObjectId(BerContext* ctx, BerObjectId* value, int tagging, int length) {
  int status = contents(ctx, BER_TAG_OBJECT_ID, tagging, &length);
  if (status < 0) return status;
  if (length == 0) return BER_INVALID_OID;
  const uint8_t* p = here(ctx);
  uint32_t count = 0;
  int i = 0;
  while (i < length) {
    // The first subidentifier carries arc0 * 40 + arc1 with arc1 up to 32 bits.
    const uint64_t limit = count == 0 ? 0xFFFFFFFFull + 80 : 0xFFFFFFFFull;
    if (p[i] == 0x80) return BER_INVALID_OID;  // padded subidentifier
    uint64_t v = 0;
    for (;;) {
      if (i >= length) return BER_INVALID_OID;  // last octet still says "more"
      uint8_t octet = p[i++];
      v = v << 7 | (octet & 0x7F);
      if (v > limit) return BER_INVALID_OID;
      if (!(octet & 0x80)) break;
    }
    if (count == 0) {
      uint64_t arc0 = v / 40 < 2 ? v / 40 : 2;
      value->arcs[0] = static_cast<uint32_t>(arc0);
      value->arcs[1] = static_cast<uint32_t>(v - 40 * arc0);
      count = 2;
    } else {
      if (count >= BER_MAX_OID_ARCS) return BER_INVALID_OID;
      value->arcs[count++] = static_cast<uint32_t>(v);
    }
  }
  value->count = count;
  ctx->position += static_cast<uint32_t>(length);
  return BER_OK;
}

int berDecodeReal(BerContext* ctx, double* value, int tagging, int length) {
  int status = contents(ctx, BER_TAG_REAL, tagging, &length);
  if (status < 0) return status;
  const uint8_t* p = here(ctx);
  if (length == 0) {
    *value = 0.0;
    return BER_OK;
  }
  uint8_t first = p[0];
  if (length == 1) {
    switch (first) {
      case 0x40: *value = HUGE_VAL; break;
      case 0x41: *value = -HUGE_VAL; break;
      case 0x42: *value = std::nan(""); break;
      case 0x43: *value = -0.0; break;
      default: return BER_INVALID_REAL;
    }
    ctx->position += 1;
    return BER_OK;
  }
  if (!(first & 0x80)) return BER_REAL_NOT_BINARY;
  int base;
  switch ((first >> 4) & 0x03) {
    case 0: base = 1; break;  // log2 of the base
    case 1: base = 3; break;
    case 2: base = 4; break;
    default: return BER_INVALID_REAL;
  }
  int at = 1;
  int exponentOctets = (first & 0x03) + 1;
  if (exponentOctets == 4) exponentOctets = p[at++];
  // The exponent must fit an int and leave at least one mantissa octet.
  if (exponentOctets < 1 || exponentOctets > 4 || exponentOctets > length - at - 1) return BER_INVALID_REAL;
  uint32_t e = (p[at] & 0x80) ? UINT32_MAX : 0;
  for (int i = 0; i < exponentOctets; ++i) e = e << 8 | p[at++];
  auto exponent = static_cast<int64_t>(static_cast<int32_t>(e));
  double mantissa = 0;
  for (; at < length; ++at) mantissa = mantissa * 256 + p[at];
  int64_t scale = exponent * base + ((first >> 2) & 0x03);
  // ldexp saturates anyway; keep its int argument in range.
  if (scale > 100000) scale = 100000;
  if (scale < -100000) scale = -100000;
  double v = std::ldexp(mantissa, static_cast<int>(scale));
  *value = (first & 0x40) ? -v : v;
  ctx->position += static_cast<uint32_t>(length);
  return BER_OK;
}

// --- Open types -------------------------------------------------------------------------

namespace {
int handOut(BerContext* ctx, uint32_t start, const uint8_t** element, uint32_t* length) {
  uint32_t n = ctx->position - start;
  *length = n;
  *element = nullptr;
  if (n == 0) return BER_OK;
  if (ctx->flags & BER_FLAG_COPY_OPEN_TYPES) {
    auto* copy = static_cast<uint8_t*>(berHeapAlloc(ctx, n));
    if (copy == nullptr) return BER_NO_MEMORY;
    std::memcpy(copy, ctx->buffer + start, n);
    *element = copy;
  } else {
    *element = ctx->buffer + start;
  }
  return BER_OK;
}
}  // namespace

int berDecodeOpenType(BerContext* ctx, const uint8_t** element, uint32_t* length) {
  uint32_t start = ctx->position;
  BerTag tag = 0;
  int l = 0;
  int status = berDecodeTagLength(ctx, &tag, &l, 0);
  if (status == BER_END_OF_BUFFER) {
    *element = nullptr;
    *length = 0;
    return BER_OK;
  }
  if (status < 0) return status;
  status = berSkipElement(ctx);
  if (status < 0) return status;
  return handOut(ctx, start, element, length);
}

int berDecodeOpenTypeUpTo(BerContext* ctx, const uint8_t** element, uint32_t* length, BerTag tag,
                          uint32_t enclosingStart, int enclosingLength) {
  uint32_t start = ctx->position;
  for (;;) {
    if (enclosingLength >= 0 && static_cast<uint64_t>(ctx->position) >= static_cast<uint64_t>(enclosingStart) +
                                                                           static_cast<uint32_t>(enclosingLength)) {
      break;
    }
    BerTag t = 0;
    int l = 0;
    int status = berDecodeTagLength(ctx, &t, &l, 0);
    if (status == BER_END_OF_BUFFER) break;
    if (status < 0) return status;
    if (isEndOfContents(t, l) || t == tag) break;
    status = berSkipElement(ctx);
    if (status < 0) return status;
  }
  return handOut(ctx, start, element, length);
}
