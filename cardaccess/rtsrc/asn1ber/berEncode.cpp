// BER encoder: every operation writes in front of the message already in the
// buffer, so lengths are always known when they are written.
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLineHexPrefix = 353;
constexpr int kLineHexGrow = 360;
constexpr int kLineHexLow = 366;
constexpr int kLineHexHigh = 371;
constexpr int kLineCharString = 514;
constexpr int kLineBMPString = 533;

// Octets are composed back to front at the end of a small array.
struct Octets {
  uint8_t bytes[16];
  int count = 0;
  void prepend(uint8_t b) { bytes[sizeof(bytes) - 1 - count++] = b; }
  const uint8_t* data() const { return bytes + sizeof(bytes) - count; }
};

// Keeps the distance of the message from the end of the buffer, so that a
// failed element can be taken back even when the buffer grew meanwhile.
class Rollback {
 public:
  explicit Rollback(BerContext* ctx) : ctx_(ctx), tail_(ctx->size - ctx->position) {}
  int fail(int status) {
    ctx_->position = ctx_->size - tail_;
    return status;
  }

 private:
  BerContext* ctx_;
  uint32_t tail_;
};

void composeLength(Octets& out, int length) {
  if (length == BER_INDEFINITE) {
    out.prepend(0x80);
  } else if (length >= 0 && length < 128) {
    out.prepend(static_cast<uint8_t>(length));
  } else if (length >= 128) {
    auto value = static_cast<uint32_t>(length);
    int n = 0;
    while (value != 0) {
      out.prepend(static_cast<uint8_t>(value & 0xFF));
      value >>= 8;
      ++n;
    }
    out.prepend(static_cast<uint8_t>(0x80 + n));
  }
}

void composeBase128(Octets& out, uint64_t value) {
  out.prepend(static_cast<uint8_t>(value & 0x7F));
  value >>= 7;
  while (value != 0) {
    out.prepend(static_cast<uint8_t>(0x80 | (value & 0x7F)));
    value >>= 7;
  }
}

void composeTag(Octets& out, BerTag tag) {
  auto classAndForm = static_cast<uint8_t>((tag >> 8) & 0xE0);
  unsigned number = tag & BER_TAG_NUMBER_MASK;
  if (number < 31) {
    out.prepend(static_cast<uint8_t>(classAndForm | number));
  } else {
    composeBase128(out, number);
    out.prepend(static_cast<uint8_t>(classAndForm | 0x1F));
  }
}

// Shortest two's complement, as the INTEGER contents.
void composeInteger(Octets& out, int64_t value) {
  int64_t v = value;
  uint8_t last;
  do {
    last = static_cast<uint8_t>(v & 0xFF);
    out.prepend(last);
    v >>= 8;  // arithmetic: rounds toward minus infinity
  } while (v != 0 && v != -1);
  if (value >= 0 && (last & 0x80)) out.prepend(0x00);
  if (value < 0 && !(last & 0x80)) out.prepend(0xFF);
}

int writeOctets(BerContext* ctx, const Octets& octets) {
  return berWrite(ctx, octets.data(), static_cast<uint32_t>(octets.count));
}

int tagged(BerContext* ctx, int tagging, BerTag tag, int contentsLength) {
  if (contentsLength < 0 || tagging != 1) return contentsLength;
  return berEncodeTagLength(ctx, tag, contentsLength);
}

}  // namespace

int berInitEncode(BerContext* ctx, uint8_t* buffer, uint32_t size) {
  int status = berInitContext(ctx, buffer, size);
  if (status != BER_OK) return status;
  // The last byte is never written: a buffer of s bytes holds s - 1.
  ctx->position = ctx->size - 1;
  return BER_OK;
}

int berExpandBuffer(BerContext* ctx, uint32_t needed) {
  if (!ctx->dynamic) return BER_ENCODE_OVERFLOW;
  uint64_t growth = needed > BER_DEFAULT_BUFFER_SIZE ? needed : BER_DEFAULT_BUFFER_SIZE;
  uint64_t newSize = static_cast<uint64_t>(ctx->size) + growth;
  if (newSize > BER_MAX_BUFFER_SIZE) return BER_ENCODE_OVERFLOW;
  auto* buffer = static_cast<uint8_t*>(std::malloc(newSize));
  if (buffer == nullptr) return BER_NO_MEMORY;
  uint32_t used = ctx->size - ctx->position;
  std::memset(buffer, 0, newSize - used);
  std::memcpy(buffer + newSize - used, ctx->buffer + ctx->position, used);
  std::free(ctx->buffer);
  ctx->buffer = buffer;
  ctx->size = static_cast<uint32_t>(newSize);
  ctx->position += static_cast<uint32_t>(growth);
  return BER_OK;
}

int berWrite(BerContext* ctx, const uint8_t* bytes, uint32_t n) {
  if (n > INT_MAX) return BER_ENCODE_OVERFLOW;
  if (n > ctx->position) {
    int status = berExpandBuffer(ctx, n);
    if (status != BER_OK) return status;
  }
  ctx->position -= n;
  if (n > 0) std::memcpy(ctx->buffer + ctx->position, bytes, n);
  return static_cast<int>(n);
}

int berEncodeLength(BerContext* ctx, int length) {
  Octets octets;
  composeLength(octets, length);
  return writeOctets(ctx, octets);
}

int berEncodeIdentifierNumber(BerContext* ctx, uint32_t value) {
  Octets octets;
  composeBase128(octets, value);
  return writeOctets(ctx, octets);
}

int berEncodeTag(BerContext* ctx, BerTag tag) {
  Octets octets;
  composeTag(octets, tag);
  return writeOctets(ctx, octets);
}

int berEncodeTagLength(BerContext* ctx, BerTag tag, int length) {
  if (length < 0 && length != BER_INDEFINITE) return length;
  // Identifier and length go in with one write: either both are there or
  // neither is, and a failed length can never pass for a message.
  Octets octets;
  composeLength(octets, length);
  composeTag(octets, tag);
  int contents = length == BER_INDEFINITE ? 0 : length;
  if (contents > INT_MAX - octets.count) return BER_ENCODE_OVERFLOW;
  int status = writeOctets(ctx, octets);
  if (status < 0) return status;
  return status + contents;
}

int berEncodeBoolean(BerContext* ctx, const uint8_t* value, int tagging) {
  uint8_t octet = (value != nullptr && *value != 0) ? 0xFF : 0x00;
  return tagged(ctx, tagging, BER_TAG_BOOLEAN, berWrite(ctx, &octet, 1));
}

int berEncodeInteger(BerContext* ctx, const int32_t* value, int tagging) {
  Octets octets;
  composeInteger(octets, *value);
  return tagged(ctx, tagging, BER_TAG_INTEGER, writeOctets(ctx, octets));
}

int berEncodeEnumerated(BerContext* ctx, const int32_t* value, int tagging) {
  Octets octets;
  composeInteger(octets, *value);
  return tagged(ctx, tagging, BER_TAG_ENUMERATED, writeOctets(ctx, octets));
}

int berEncodeUnsigned(BerContext* ctx, const uint32_t* value, int tagging) {
  Octets octets;
  uint32_t v = *value;
  uint8_t last;
  do {
    last = static_cast<uint8_t>(v & 0xFF);
    octets.prepend(last);
    v >>= 8;
  } while (v != 0);
  if (last & 0x80) octets.prepend(0x00);
  return tagged(ctx, tagging, BER_TAG_INTEGER, writeOctets(ctx, octets));
}

int berEncodeBigInteger(BerContext* ctx, const char* text, int tagging) {
  if (text == nullptr || text[0] != '0' || text[1] != 'x') {
    return berSetError(ctx, BER_INVALID_HEX, BER_MODULE, kLineHexPrefix);
  }
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  const char* digits = text + 2;
  size_t n = std::strlen(digits);
  if ((n + 1) / 2 > INT_MAX) return berSetError(ctx, BER_ENCODE_OVERFLOW, BER_MODULE, kLineHexGrow);
  Rollback rollback(ctx);
  int count = 0;
  for (size_t i = n; i > 0;) {
    int low = digit(digits[i - 1]);
    if (low < 0) return rollback.fail(berSetError(ctx, BER_INVALID_HEX, BER_MODULE, kLineHexLow));
    int high = 0;
    if (i >= 2) {
      high = digit(digits[i - 2]);
      if (high < 0) return rollback.fail(berSetError(ctx, BER_INVALID_HEX, BER_MODULE, kLineHexHigh));
      i -= 2;
    } else {
      i -= 1;
    }
    auto byte = static_cast<uint8_t>(high << 4 | low);
    int status = berWrite(ctx, &byte, 1);
    if (status < 0) return rollback.fail(berSetError(ctx, status, BER_MODULE, kLineHexGrow));
    ++count;
  }
  return tagged(ctx, tagging, BER_TAG_INTEGER, count);
}

int berEncodeBitString(BerContext* ctx, const uint8_t* bytes, uint32_t bits, int tagging) {
  Rollback rollback(ctx);
  uint32_t count = bits / 8 + (bits % 8 != 0 ? 1 : 0);
  uint8_t unused = bits % 8 != 0 ? static_cast<uint8_t>(8 - bits % 8) : 0;
  int written = 0;
  if (count > 0) {
    written = berWrite(ctx, bytes, count);
    if (written < 0) return rollback.fail(written);
  }
  int status = berWrite(ctx, &unused, 1);
  if (status < 0) return rollback.fail(status);
  return tagged(ctx, tagging, BER_TAG_BIT_STRING, written + 1);
}

int berEncodeOctetString(BerContext* ctx, const uint8_t* bytes, uint32_t count, int tagging) {
  return tagged(ctx, tagging, BER_TAG_OCTET_STRING, berWrite(ctx, bytes, count));
}

int berEncodeCharString(BerContext* ctx, const char* text, int tagging, BerTag tag) {
  size_t n = text != nullptr ? std::strlen(text) : 0;
  if (n > INT_MAX) return berSetError(ctx, BER_ENCODE_OVERFLOW, BER_MODULE, kLineCharString);
  int status = tagged(ctx, tagging, tag,
                      berWrite(ctx, reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(n)));
  if (status < 0) return berSetError(ctx, status, BER_MODULE, kLineCharString);
  return status;
}

int berEncodeBMPString(BerContext* ctx, uint32_t count, const uint16_t* chars, int tagging, BerTag tag) {
  if (count > INT_MAX / 2) return berSetError(ctx, BER_ENCODE_OVERFLOW, BER_MODULE, kLineBMPString);
  Rollback rollback(ctx);
  for (uint32_t i = count; i > 0; --i) {
    uint8_t pair[2] = {static_cast<uint8_t>(chars[i - 1] >> 8), static_cast<uint8_t>(chars[i - 1] & 0xFF)};
    int status = berWrite(ctx, pair, 2);
    if (status < 0) return rollback.fail(berSetError(ctx, status, BER_MODULE, kLineBMPString));
  }
  int status = tagged(ctx, tagging, tag, static_cast<int>(count * 2));
  if (status < 0) return rollback.fail(berSetError(ctx, status, BER_MODULE, kLineBMPString));
  return status;
}

int berEncodeNull(BerContext* ctx, int tagging) {
  if (tagging != 1) return 0;
  return berEncodeTagLength(ctx, BER_TAG_NULL, 0);
}

int berEncodeObjectId(BerContext* ctx, uint32_t count, const uint32_t* arcs, int tagging) {
  if (count < 2 || arcs == nullptr || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return BER_INVALID_OID;
  Rollback rollback(ctx);
  int total = 0;
  for (uint32_t i = count; i > 2; --i) {
    Octets octets;
    composeBase128(octets, arcs[i - 1]);
    int status = writeOctets(ctx, octets);
    if (status < 0) return rollback.fail(status);
    total += status;
  }
  // Computed in 64 bits: with a first arc of 2 the second may be any 32-bit value.
  Octets first;
  composeBase128(first, static_cast<uint64_t>(arcs[0]) * 40 + arcs[1]);
  int status = writeOctets(ctx, first);
  if (status < 0) return rollback.fail(status);
  total += status;
  return tagged(ctx, tagging, BER_TAG_OBJECT_ID, total);
}

int berEncodeReal(BerContext* ctx, const double* value, int tagging) {
  double v = *value;
  Octets octets;
  if (std::isnan(v)) {
    octets.prepend(0x42);  // X.690 NOT-A-NUMBER; never silently zero
  } else if (v == 0.0) {
    // no contents
  } else if (std::isinf(v)) {
    octets.prepend(v < 0 ? 0x41 : 0x40);
  } else {
    int e = 0;
    double m = std::frexp(v, &e);
    uint8_t first = 0x80;
    if (m < 0) {
      first |= 0x40;
      m = -m;
    }
    uint8_t mantissa[8];
    int k = 0;
    for (int i = 0; i < 8; ++i) {
      m *= 256;
      auto byte = static_cast<uint8_t>(m);
      m -= byte;
      mantissa[i] = byte;
      if (byte != 0) k = i + 1;
    }
    Octets exponent;
    composeInteger(exponent, static_cast<int64_t>(e) - 8 * k);
    int j = exponent.count;
    if (j <= 3) {
      first |= static_cast<uint8_t>(j - 1);
    } else {
      first |= 3;
    }
    // Composed in final order from the front, then written at once.
    uint8_t contents[16];
    int n = 0;
    contents[n++] = first;
    if (j > 3) contents[n++] = static_cast<uint8_t>(j);
    std::memcpy(contents + n, exponent.data(), j);
    n += j;
    std::memcpy(contents + n, mantissa, k);
    n += k;
    return tagged(ctx, tagging, BER_TAG_REAL, berWrite(ctx, contents, static_cast<uint32_t>(n)));
  }
  return tagged(ctx, tagging, BER_TAG_REAL, writeOctets(ctx, octets));
}

int berEncodeOpenType(BerContext* ctx, const uint8_t* element, uint32_t size) {
  if (element == nullptr || size == 0) return 0;
  BerContext probe;
  BerTag tag = 0;
  int length = 0;
  int status = berInitDecode(&probe, element, size, &tag, &length);
  uint32_t total = probe.size;
  berFreeContext(&probe);
  if (status < 0) return status;
  if (length == BER_INDEFINITE) {
    int indefinite = berIndefiniteMessageLength(element, size);
    if (indefinite < 0) return indefinite;
    total = static_cast<uint32_t>(indefinite);
  }
  if (total > INT_MAX) return BER_INVALID_LENGTH;
  if (ctx->buffer != nullptr && element == ctx->buffer + ctx->position) return static_cast<int>(total);
  return berWrite(ctx, element, total);
}

int berEncodeIndefiniteTag(BerContext* ctx, BerTag tag, int contentsLength) {
  // A negative length is a failure of the contents and is passed on.
  if (contentsLength < 1) return contentsLength;
  Octets octets;
  octets.prepend(0x80);
  composeTag(octets, tag);
  if (contentsLength > INT_MAX - octets.count) return BER_ENCODE_OVERFLOW;
  int status = writeOctets(ctx, octets);
  if (status < 0) return status;
  return contentsLength + status;
}

int berSetOfAppend(BerList* list, const uint8_t* bytes, uint32_t length) {
  auto* element = static_cast<BerSetOfElement*>(std::malloc(sizeof(BerSetOfElement)));
  if (element == nullptr) return BER_NO_MEMORY;
  element->length = length;
  element->bytes = bytes;
  if (berListAppend(list, element) == nullptr) {
    std::free(element);
    return BER_NO_MEMORY;
  }
  return BER_OK;
}

namespace {
void freeSetOf(BerList* list) {
  for (BerListNode* node = list->head; node != nullptr; node = node->next) std::free(node->item);
  berListFreeNodes(list);
}

bool setOfGreater(const BerSetOfElement* a, const BerSetOfElement* b) {
  uint32_t shorter = a->length < b->length ? a->length : b->length;
  int order = shorter > 0 ? std::memcmp(a->bytes, b->bytes, shorter) : 0;
  return order > 0 || (order == 0 && a->length > b->length);
}
}  // namespace

int berSortSetOf(BerContext* ctx, BerList* list) {
  if (list == nullptr) return 0;
  uint64_t total = 0;
  for (BerListNode* node = list->head; node != nullptr; node = node->next) {
    total += static_cast<const BerSetOfElement*>(node->item)->length;
  }
  // The elements must stand in the message at the current position.
  if (total > static_cast<uint64_t>(ctx->size) - 1 - ctx->position) {
    freeSetOf(list);
    return BER_INVALID_LENGTH;
  }
  bool moved = false;
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (BerListNode* node = list->head; node != nullptr && node->next != nullptr; node = node->next) {
      auto* a = static_cast<BerSetOfElement*>(node->item);
      auto* b = static_cast<BerSetOfElement*>(node->next->item);
      if (setOfGreater(a, b)) {
        node->item = b;
        node->next->item = a;
        swapped = true;
        moved = true;
      }
    }
  }
  if (moved && total > 0) {
    auto* joined = static_cast<uint8_t*>(std::malloc(total));
    if (joined == nullptr) {
      freeSetOf(list);
      return BER_NO_MEMORY;
    }
    size_t offset = 0;
    for (BerListNode* node = list->head; node != nullptr; node = node->next) {
      auto* element = static_cast<const BerSetOfElement*>(node->item);
      if (element->length > 0) std::memcpy(joined + offset, element->bytes, element->length);
      offset += element->length;
    }
    std::memcpy(ctx->buffer + ctx->position, joined, total);
    std::free(joined);
  }
  freeSetOf(list);
  return static_cast<int>(total);
}
