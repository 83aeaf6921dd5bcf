// Every parser of the BER runtime over hostile bytes, held in an exact-size
// heap block so that any read past them is seen.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cardaccess/rtsrc/asn1ber/BerMessageBuffer.h"
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

namespace {

void ignoreLine(const char*, void*) {}

// Each typed decoder on the contents of one primitive element; the position
// goes back after each so that all of them see the same bytes.
void decodeAll(BerContext* ctx, int length) {
  const uint32_t start = ctx->position;
  const uint16_t depth = ctx->depth;
  const uint16_t flags = ctx->flags;
  auto again = [&] {
    ctx->position = start;
    ctx->depth = depth;
    ctx->flags = flags;
  };
  uint8_t boolean;
  berDecodeBoolean(ctx, &boolean, 0, length);
  again();
  int32_t integer;
  berDecodeInteger(ctx, &integer, 0, length);
  again();
  berDecodeEnumerated(ctx, &integer, 0, length);
  again();
  uint32_t unsignedValue;
  berDecodeUnsigned(ctx, &unsignedValue, 0, length);
  again();
  const char* text;
  berDecodeBigInteger(ctx, &text, 0, length);
  again();
  uint8_t bits[16];
  uint32_t bitCount = sizeof(bits) * 8;
  berDecodeBitString(ctx, bits, &bitCount, 0, length);
  again();
  const uint8_t* data;
  berDecodeBitStringAlloc(ctx, &data, &bitCount, 0, length);
  again();
  uint8_t octets[16];
  uint32_t count = sizeof(octets);
  berDecodeOctetString(ctx, octets, &count, 0, length);
  again();
  berDecodeOctetStringAlloc(ctx, &data, &count, 0, length);
  again();
  berDecodeCharString(ctx, &text, 0, 0, length);
  again();
  BerBMPString bmp;
  berDecodeBMPString(ctx, &bmp, 0, 0, length);
  again();
  berDecodeNull(ctx, 0, length);
  again();
  BerObjectId oid;
  berDecodeObjectId(ctx, &oid, 0, length);
  again();
  double real;
  berDecodeReal(ctx, &real, 0, length);
  again();
}

void walk(const uint8_t* bytes, uint32_t size) {
  BerContext ctx;
  BerTag tag = 0;
  int length = 0;
  if (berInitDecode(&ctx, bytes, size, &tag, &length) == BER_OK) {
    berCountElements(&ctx, BER_INDEFINITE);
    for (int steps = 0; steps < 10000; ++steps) {
      if (berDecodeTagLength(&ctx, &tag, &length, BER_MATCH_ADVANCE) < 0) break;
      if (tag & BER_CONSTRUCTED) {
        if (steps % 7 == 0) berCountElements(&ctx, length);
        continue;
      }
      decodeAll(&ctx, length);
      if (length < 0 || static_cast<uint32_t>(length) > ctx.size - ctx.position) break;
      ctx.position += static_cast<uint32_t>(length);
    }
    char text[128];
    berErrorText(&ctx, text, sizeof(text));
  }
  berFreeContext(&ctx);

  // The same bytes as typed values with their own identifiers.
  BerContext typed;
  if (berInitDecode(&typed, bytes, size, &tag, &length) == BER_OK) {
    berMatchTag(&typed, tag, &length, BER_MATCH_SEARCH | BER_MATCH_STEP_OVER);
    const uint8_t* element;
    uint32_t elementLength;
    typed.flags |= BER_FLAG_COPY_OPEN_TYPES;
    berDecodeOpenTypeUpTo(&typed, &element, &elementLength, BER_TAG_NULL);
    berDecodeOpenType(&typed, &element, &elementLength);
    berSkipToEndOfContents(&typed);
  }
  berFreeContext(&typed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  auto* bytes = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (size > 0) std::memcpy(bytes, data, size);
  auto n = static_cast<uint32_t>(size);

  walk(bytes, n);
  berCheckLengths(bytes, n);
  berIndefiniteMessageLength(bytes, n);
  berDumpMessage(bytes, n, ignoreLine, nullptr);

  {
    BerDecodeBuffer buffer(bytes, n);
    int length = 0;
    buffer.findElement(BER_TAG_OBJECT_ID, length, true);
    buffer.findElement(BER_TAG_INTEGER, length, false);
    buffer.findElement(BER_CLASS_CONTEXT | BER_CONSTRUCTED, length, false);
  }
  {
    BerEncodeBuffer out;
    berEncodeOpenType(out.context(), bytes, n);
  }
  std::free(bytes);
  return 0;
}
