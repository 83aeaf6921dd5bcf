// SHA-1 (FIPS 180-1) with the library's own context.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void sha1Block(uint32_t state[5], const unsigned char* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = static_cast<uint32_t>(block[4 * i]) << 24 | static_cast<uint32_t>(block[4 * i + 1]) << 16 |
           static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
  }
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

void sha1Init(Sha1Context* context) {
  context->state[0] = 0x67452301u;
  context->state[1] = 0xEFCDAB89u;
  context->state[2] = 0x98BADCFEu;
  context->state[3] = 0x10325476u;
  context->state[4] = 0xC3D2E1F0u;
  context->bitCount = 0;
  std::memset(context->buffer, 0, sizeof context->buffer);
}

void sha1Update(Sha1Context* context, Blob data) {
  if (data.length == 0) return;
  uint32_t used = static_cast<uint32_t>((context->bitCount >> 3) & 63);
  context->bitCount += static_cast<uint64_t>(data.length) << 3;
  uint32_t i = 0;
  if (used != 0) {
    const uint32_t take = data.length < 64 - used ? data.length : 64 - used;
    std::memcpy(context->buffer + used, data.data, take);
    used += take;
    i = take;
    if (used < 64) return;
    sha1Block(context->state, context->buffer);
  }
  for (; data.length - i >= 64; i += 64) sha1Block(context->state, data.data + i);
  if (i < data.length) std::memcpy(context->buffer, data.data + i, data.length - i);
}

void sha1Final(Sha1Context* context, unsigned char digest[20]) {
  const uint64_t bits = context->bitCount;
  uint32_t used = static_cast<uint32_t>((bits >> 3) & 63);
  context->buffer[used++] = 0x80;
  if (used > 56) {
    std::memset(context->buffer + used, 0, 64 - used);
    sha1Block(context->state, context->buffer);
    used = 0;
  }
  std::memset(context->buffer + used, 0, 56 - used);
  for (int k = 0; k < 8; ++k) context->buffer[56 + k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  sha1Block(context->state, context->buffer);
  for (int k = 0; k < 20; ++k) digest[k] = static_cast<unsigned char>(context->state[k / 4] >> (24 - 8 * (k % 4)));
  // Nothing of the hashed data stays behind.
  std::memset(context, 0, sizeof *context);
}
