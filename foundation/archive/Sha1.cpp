// SHA-1 (FIPS 180-1) with the library's own context. Where the processor has the
// SHA extensions, whole blocks go through them; elsewhere the portable rounds run.
// The choice is made once, at the first use.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QUARVEL_SHA1_X86 1
#endif

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void sha1BlocksPortable(uint32_t state[5], const unsigned char* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<uint32_t>(data[4 * i]) << 24 | static_cast<uint32_t>(data[4 * i + 1]) << 16 |
             static_cast<uint32_t>(data[4 * i + 2]) << 8 | data[4 * i + 3];
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
}

#ifdef QUARVEL_SHA1_X86

// Four rounds per step: group i of the 20 uses the message words 4i..4i+3 and round
// function i / 5. The message schedule is kept in four registers, rotating.
#define QUARVEL_SHA1_GROUP(i)                                                                      \
  do {                                                                                             \
    const __m128i e = (i) == 0 ? _mm_add_epi32(e0, m[0]) : _mm_sha1nexte_epu32(saved, m[(i) % 4]); \
    saved = abcd;                                                                                  \
    if ((i) >= 3 && (i) <= 18) m[((i) + 1) % 4] = _mm_sha1msg2_epu32(m[((i) + 1) % 4], m[(i) % 4]); \
    abcd = _mm_sha1rnds4_epu32(abcd, e, (i) / 5);                                                  \
    if ((i) >= 1 && (i) <= 16) m[((i) + 3) % 4] = _mm_sha1msg1_epu32(m[((i) + 3) % 4], m[(i) % 4]); \
    if ((i) >= 2 && (i) <= 17) m[((i) + 2) % 4] = _mm_xor_si128(m[((i) + 2) % 4], m[(i) % 4]);    \
  } while (0)

__attribute__((target("sha,sse4.1,ssse3"))) void sha1BlocksShaExtensions(uint32_t state[5],
                                                                          const unsigned char* data, size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcdBefore = abcd, eBefore = e0;
    __m128i m[4];
    for (int k = 0; k < 4; ++k)
      m[k] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k)), byteSwap);
    __m128i saved;
    QUARVEL_SHA1_GROUP(0);
    QUARVEL_SHA1_GROUP(1);
    QUARVEL_SHA1_GROUP(2);
    QUARVEL_SHA1_GROUP(3);
    QUARVEL_SHA1_GROUP(4);
    QUARVEL_SHA1_GROUP(5);
    QUARVEL_SHA1_GROUP(6);
    QUARVEL_SHA1_GROUP(7);
    QUARVEL_SHA1_GROUP(8);
    QUARVEL_SHA1_GROUP(9);
    QUARVEL_SHA1_GROUP(10);
    QUARVEL_SHA1_GROUP(11);
    QUARVEL_SHA1_GROUP(12);
    QUARVEL_SHA1_GROUP(13);
    QUARVEL_SHA1_GROUP(14);
    QUARVEL_SHA1_GROUP(15);
    QUARVEL_SHA1_GROUP(16);
    QUARVEL_SHA1_GROUP(17);
    QUARVEL_SHA1_GROUP(18);
    QUARVEL_SHA1_GROUP(19);
    e0 = _mm_sha1nexte_epu32(saved, eBefore);
    abcd = _mm_add_epi32(abcd, abcdBefore);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef QUARVEL_SHA1_GROUP

bool hasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return (b & bit_SHA) != 0;
}

#endif

using BlockFunction = void (*)(uint32_t state[5], const unsigned char* data, size_t blocks);

BlockFunction& blockFunction() {
#ifdef QUARVEL_SHA1_X86
  static BlockFunction chosen = hasShaExtensions() ? &sha1BlocksShaExtensions : &sha1BlocksPortable;
#else
  static BlockFunction chosen = &sha1BlocksPortable;
#endif
  return chosen;
}

}  // namespace

bool sha1UsePortable(bool portable) {
  BlockFunction& chosen = blockFunction();
  const bool was = chosen == &sha1BlocksPortable;
#ifdef QUARVEL_SHA1_X86
  chosen = portable || !hasShaExtensions() ? &sha1BlocksPortable : &sha1BlocksShaExtensions;
#else
  (void)portable;
#endif
  return was;
}

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
  const BlockFunction blocks = blockFunction();
  uint32_t used = static_cast<uint32_t>((context->bitCount >> 3) & 63);
  context->bitCount += static_cast<uint64_t>(data.length) << 3;
  uint32_t i = 0;
  if (used != 0) {
    const uint32_t take = data.length < 64 - used ? data.length : 64 - used;
    std::memcpy(context->buffer + used, data.data, take);
    used += take;
    i = take;
    if (used < 64) return;
    blocks(context->state, context->buffer, 1);
  }
  const uint32_t whole = (data.length - i) / 64;
  if (whole > 0) {
    blocks(context->state, data.data + i, whole);
    i += whole * 64;
  }
  if (i < data.length) std::memcpy(context->buffer, data.data + i, data.length - i);
}

void sha1Final(Sha1Context* context, unsigned char digest[20]) {
  const BlockFunction blocks = blockFunction();
  const uint64_t bits = context->bitCount;
  uint32_t used = static_cast<uint32_t>((bits >> 3) & 63);
  context->buffer[used++] = 0x80;
  if (used > 56) {
    std::memset(context->buffer + used, 0, 64 - used);
    blocks(context->state, context->buffer, 1);
    used = 0;
  }
  std::memset(context->buffer + used, 0, 56 - used);
  for (int k = 0; k < 8; ++k) context->buffer[56 + k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  blocks(context->state, context->buffer, 1);
  for (int k = 0; k < 20; ++k) digest[k] = static_cast<unsigned char>(context->state[k / 4] >> (24 - 8 * (k % 4)));
  // Nothing of the hashed data stays behind.
  std::memset(context, 0, sizeof *context);
}
