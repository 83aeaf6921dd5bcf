// Multi-precision magnitudes for DSA: fixed arrays of 32-bit words, nothing
// allocated. Exponentiation uses word-level Montgomery multiplication on 64-bit
// limbs (32-bit where there is no 128-bit product), since every secure settings
// lookup pays for a verification.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

namespace {

// Montgomery limbs: 64 bits where the compiler has a 128-bit product, else 32.
#if defined(__SIZEOF_INT128__) && !defined(QUARVEL_ARCHIVE_32BIT_LIMBS)
typedef uint64_t Limb;
typedef unsigned __int128 DoubleLimb;
#else
typedef uint32_t Limb;
typedef uint64_t DoubleLimb;
#endif
constexpr int kLimbBits = 8 * sizeof(Limb);
constexpr int kWordsPerLimb = sizeof(Limb) / sizeof(uint32_t);

void trim(BigNum* n) {
  while (n->count > 1 && n->words[n->count - 1] == 0) --n->count;
  if (n->count == 0) {
    n->count = 1;
    n->words[0] = 0;
  }
}

uint32_t significantWords(const BigNum* n) {
  uint32_t c = n->count;
  if (c > kBigNumWords) c = kBigNumWords;
  while (c > 1 && n->words[c - 1] == 0) --c;
  return c == 0 ? 1 : c;
}

// Knuth's algorithm D on 32-bit digits: u (m words) / v (n words, n >= 2, top word non-zero).
void divideWords(const uint32_t* u, int m, const uint32_t* v, int n, uint32_t* q, uint32_t* r) {
  const uint64_t base = 1ull << 32;
  uint32_t un[kBigNumWords + 2];
  uint32_t vn[kBigNumWords + 1];
  int s = __builtin_clz(v[n - 1]);
  for (int i = n - 1; i > 0; --i) vn[i] = (v[i] << s) | (s ? static_cast<uint32_t>(static_cast<uint64_t>(v[i - 1]) >> (32 - s)) : 0);
  vn[0] = v[0] << s;
  un[m] = s ? static_cast<uint32_t>(static_cast<uint64_t>(u[m - 1]) >> (32 - s)) : 0;
  for (int i = m - 1; i > 0; --i) un[i] = (u[i] << s) | (s ? static_cast<uint32_t>(static_cast<uint64_t>(u[i - 1]) >> (32 - s)) : 0);
  un[0] = u[0] << s;
  for (int j = m - n; j >= 0; --j) {
    const uint64_t top = (static_cast<uint64_t>(un[j + n]) << 32) | un[j + n - 1];
    uint64_t qhat = top / vn[n - 1];
    uint64_t rhat = top - qhat * vn[n - 1];
    while (qhat >= base || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= base) break;
    }
    int64_t borrow = 0;
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
      const uint64_t p = qhat * vn[i] + carry;
      carry = p >> 32;
      const int64_t t = static_cast<int64_t>(un[i + j]) - borrow - static_cast<int64_t>(p & 0xFFFFFFFFu);
      un[i + j] = static_cast<uint32_t>(t);
      borrow = t < 0 ? 1 : 0;
    }
    const int64_t t = static_cast<int64_t>(un[j + n]) - borrow - static_cast<int64_t>(carry);
    un[j + n] = static_cast<uint32_t>(t);
    if (t < 0) {
      --qhat;
      uint64_t c = 0;
      for (int i = 0; i < n; ++i) {
        const uint64_t sum = static_cast<uint64_t>(un[i + j]) + vn[i] + c;
        un[i + j] = static_cast<uint32_t>(sum);
        c = sum >> 32;
      }
      un[j + n] = static_cast<uint32_t>(un[j + n] + c);
    }
    if (q != nullptr) q[j] = static_cast<uint32_t>(qhat);
  }
  if (r != nullptr) {
    for (int i = 0; i < n; ++i) {
      r[i] = (un[i] >> s) | (s ? static_cast<uint32_t>(static_cast<uint64_t>(un[i + 1]) << (32 - s)) : 0);
    }
  }
}

// ---- Montgomery arithmetic ----

enum { kLimbs = kBigNumOperandWords / kWordsPerLimb };

struct Montgomery {
  int n;  // limbs of the modulus
  Limb m[kLimbs];
  Limb mPrime;  // -m^-1 modulo the limb base
};

void toLimbs(const BigNum* a, Limb* out, int n) {
  for (int i = 0; i < n; ++i) {
    Limb value = 0;
    for (int k = kWordsPerLimb - 1; k >= 0; --k) {
      const int w = kWordsPerLimb * i + k;
      value = (kWordsPerLimb > 1 ? value << 16 << 16 : 0) | (w < static_cast<int>(a->count) ? a->words[w] : 0);
    }
    out[i] = value;
  }
}

void fromLimbs(const Limb* limbs, int n, BigNum* out) {
  for (int i = 0; i < n; ++i) {
    Limb value = limbs[i];
    for (int k = 0; k < kWordsPerLimb; ++k) {
      out->words[kWordsPerLimb * i + k] = static_cast<uint32_t>(value);
      value = kWordsPerLimb > 1 ? value >> 16 >> 16 : 0;
    }
  }
  out->count = static_cast<uint32_t>(kWordsPerLimb * n);
  trim(out);
}

// Adds a * b to the three-limb accumulator (t2:t1:t0). On x86-64 the carries
// are taken straight from the flags: one multiply and three additions, where
// the compiler would otherwise compare 128-bit sums to find the carry.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__) && !defined(QUARVEL_ARCHIVE_32BIT_LIMBS)
inline void multiplyAdd(Limb& t0, Limb& t1, Limb& t2, Limb a, Limb b) {
  Limb high;
  __asm__("mulq %[b]\n\t"
          "addq %%rax, %[t0]\n\t"
          "adcq %%rdx, %[t1]\n\t"
          "adcq $0, %[t2]"
          : [t0] "+r"(t0), [t1] "+r"(t1), [t2] "+r"(t2), "+a"(a), "=d"(high)
          : [b] "rm"(b)
          : "cc");
}
#else
inline void multiplyAdd(Limb& t0, Limb& t1, Limb& t2, Limb a, Limb b) {
  const DoubleLimb product = static_cast<DoubleLimb>(a) * b;
  const DoubleLimb sum = (static_cast<DoubleLimb>(t1) << kLimbBits | t0) + product;
  t2 += sum < product ? 1 : 0;
  t0 = static_cast<Limb>(sum);
  t1 = static_cast<Limb>(sum >> kLimbBits);
}
#endif

// r = out - m when out >= m, else out (out has n + 1 limbs and is below 2m).
inline void subtractOnce(Limb* r, const Limb* out, const Limb* m, int n) {
  bool geq = out[n] != 0;
  if (!geq) {
    geq = true;
    for (int i = n - 1; i >= 0; --i) {
      if (out[i] != m[i]) {
        geq = out[i] > m[i];
        break;
      }
    }
  }
  if (geq) {
    Limb borrow = 0;
    for (int i = 0; i < n; ++i) {
      const DoubleLimb d = static_cast<DoubleLimb>(out[i]) - m[i] - borrow;
      r[i] = static_cast<Limb>(d);
      borrow = static_cast<Limb>(d >> kLimbBits) & 1;
    }
  } else {
    for (int i = 0; i < n; ++i) r[i] = out[i];
  }
}

// Adds twice (s2:s1:s0) to (t2:t1:t0).
inline void addTwice(Limb& t0, Limb& t1, Limb& t2, Limb s0, Limb s1, Limb s2) {
  s2 = s2 << 1 | s1 >> (kLimbBits - 1);
  s1 = s1 << 1 | s0 >> (kLimbBits - 1);
  s0 <<= 1;
  DoubleLimb x = static_cast<DoubleLimb>(t0) + s0;
  t0 = static_cast<Limb>(x);
  x = static_cast<DoubleLimb>(t1) + s1 + static_cast<Limb>(x >> kLimbBits);
  t1 = static_cast<Limb>(x);
  t2 += s2 + static_cast<Limb>(x >> kLimbBits);
}

// Adds (u2:u1:u0) to (t2:t1:t0).
inline void addColumn(Limb& t0, Limb& t1, Limb& t2, Limb u0, Limb u1, Limb u2) {
  DoubleLimb x = static_cast<DoubleLimb>(t0) + u0;
  t0 = static_cast<Limb>(x);
  x = static_cast<DoubleLimb>(t1) + u1 + static_cast<Limb>(x >> kLimbBits);
  t1 = static_cast<Limb>(x);
  t2 += u2 + static_cast<Limb>(x >> kLimbBits);
}

// r = a * b * R^-1 mod m, column by column (product scanning): each column's
// products go into one accumulator, so no carry chain runs through memory.
// r may alias a or b. N > 0 fixes the limb count at compile time.
template <int N>
inline void montMulLimbs(Limb* r, const Limb* a, const Limb* b, const Montgomery& M) {
  const int n = N > 0 ? N : M.n;
  const Limb* m = M.m;
  Limb q[kLimbs];
  Limb t0 = 0, t1 = 0, t2 = 0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) {
      multiplyAdd(t0, t1, t2, a[j], b[i - j]);
      multiplyAdd(t0, t1, t2, q[j], m[i - j]);
    }
    multiplyAdd(t0, t1, t2, a[i], b[0]);
    q[i] = t0 * M.mPrime;
    multiplyAdd(t0, t1, t2, q[i], m[0]);  // clears the low limb
    t0 = t1;
    t1 = t2;
    t2 = 0;
  }
  Limb out[kLimbs + 1];
  for (int i = n; i < 2 * n; ++i) {
    for (int j = i - n + 1; j < n; ++j) {
      multiplyAdd(t0, t1, t2, a[j], b[i - j]);
      multiplyAdd(t0, t1, t2, q[j], m[i - j]);
    }
    out[i - n] = t0;
    t0 = t1;
    t1 = t2;
    t2 = 0;
  }
  out[n] = t0;
  subtractOnce(r, out, m, n);
}

// r = a * a * R^-1 mod m: as montMulLimbs, with each cross product of a column
// computed once and doubled.
template <int N>
inline void montSqrLimbs(Limb* r, const Limb* a, const Montgomery& M) {
  const int n = N > 0 ? N : M.n;
  const Limb* m = M.m;
  Limb q[kLimbs];
  Limb t0 = 0, t1 = 0, t2 = 0;
  for (int i = 0; i < n; ++i) {
    Limb s0 = 0, s1 = 0, s2 = 0, u0 = 0, u1 = 0, u2 = 0;
    for (int j = 0; j < i - j; ++j) multiplyAdd(s0, s1, s2, a[j], a[i - j]);
    for (int j = 0; j < i; ++j) multiplyAdd(u0, u1, u2, q[j], m[i - j]);
    addTwice(t0, t1, t2, s0, s1, s2);
    addColumn(t0, t1, t2, u0, u1, u2);
    if ((i & 1) == 0) multiplyAdd(t0, t1, t2, a[i / 2], a[i / 2]);
    q[i] = t0 * M.mPrime;
    multiplyAdd(t0, t1, t2, q[i], m[0]);
    t0 = t1;
    t1 = t2;
    t2 = 0;
  }
  Limb out[kLimbs + 1];
  for (int i = n; i < 2 * n; ++i) {
    Limb s0 = 0, s1 = 0, s2 = 0, u0 = 0, u1 = 0, u2 = 0;
    for (int j = i - n + 1; j < i - j; ++j) multiplyAdd(s0, s1, s2, a[j], a[i - j]);
    for (int j = i - n + 1; j < n; ++j) multiplyAdd(u0, u1, u2, q[j], m[i - j]);
    addTwice(t0, t1, t2, s0, s1, s2);
    addColumn(t0, t1, t2, u0, u1, u2);
    if ((i & 1) == 0) multiplyAdd(t0, t1, t2, a[i / 2], a[i / 2]);
    out[i - n] = t0;
    t0 = t1;
    t1 = t2;
    t2 = 0;
  }
  out[n] = t0;
  subtractOnce(r, out, m, n);
}

#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__) && !defined(QUARVEL_ARCHIVE_32BIT_LIMBS)
#define QUARVEL_ARCHIVE_MULX_ROWS 1
// The 1024-bit multiply (the DSA p) as rows of a fixed 16 limbs, operand by
// operand, where the processor has MULX, ADCX and ADOX: the products' low
// halves and the running sum are added in one carry chain (OF) and the high
// halves in the other (CF), so each limb costs one multiply and two additions.
static_assert(kLimbs == 16, "the rows are written for 16 limbs");

#define MULX_STEP(j, hi, prev)                      \
  "mulxq " #j "*8(%[b]), %%rax, %%" hi "\n\t"      \
  "adoxq " #j "*8(%[t]), %%rax\n\t"                \
  "adcxq %%" prev ", %%rax\n\t"                    \
  "movq %%rax, " #j "*8(%[t])\n\t"

// t[0..17] += x * b[0..15]; t[16] and t[17] take the carries.
inline void mulxRow(Limb* t, const Limb* b, Limb x) {
  __asm__ volatile(
      "xorl %%r9d, %%r9d\n\t"  // no high half yet; clears CF and OF
    MULX_STEP(0, "r8", "r9")
    MULX_STEP(1, "r9", "r8")
    MULX_STEP(2, "r8", "r9")
    MULX_STEP(3, "r9", "r8")
    MULX_STEP(4, "r8", "r9")
    MULX_STEP(5, "r9", "r8")
    MULX_STEP(6, "r8", "r9")
    MULX_STEP(7, "r9", "r8")
    MULX_STEP(8, "r8", "r9")
    MULX_STEP(9, "r9", "r8")
    MULX_STEP(10, "r8", "r9")
    MULX_STEP(11, "r9", "r8")
    MULX_STEP(12, "r8", "r9")
    MULX_STEP(13, "r9", "r8")
    MULX_STEP(14, "r8", "r9")
    MULX_STEP(15, "r9", "r8")
      "movq 128(%[t]), %%rax\n\t"
      "movq $0, %%r8\n\t"
      "adoxq %%r8, %%rax\n\t"
      "adcxq %%r9, %%rax\n\t"
      "movq %%rax, 128(%[t])\n\t"
      "movq 136(%[t]), %%rax\n\t"
      "adoxq %%r8, %%rax\n\t"
      "adcxq %%r8, %%rax\n\t"
      "movq %%rax, 136(%[t])\n\t"
      : "+d"(x)
      : [t] "r"(t), [b] "r"(b)
      : "rax", "r8", "r9", "cc", "memory");
}
#undef MULX_STEP

// r = a * b * R^-1 mod m for 16 limbs. Row i and its reduction work on t + i, so
// nothing is shifted: t[i] is zero after them, and the sum (below 2m) ends in t[16..32].
void montMulRows(Limb* r, const Limb* a, const Limb* b, const Montgomery& M) {
  Limb t[2 * kLimbs + 2] = {};
  for (int i = 0; i < kLimbs; ++i) {
    mulxRow(t + i, b, a[i]);
    mulxRow(t + i, M.m, t[i] * M.mPrime);
  }
  subtractOnce(r, t + kLimbs, M.m, kLimbs);
}

// BMI2 (MULX) and ADX (ADCX, ADOX): leaf 7, EBX bits 8 and 19.
bool haveMulx() {
  static const bool have = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & (1u << 8)) != 0 && (b & (1u << 19)) != 0;
  }();
  return have;
}
#endif

// 1024-bit moduli (the DSA p) take the fixed-size forms.
void montMul(Limb* r, const Limb* a, const Limb* b, const Montgomery& M) {
#ifdef QUARVEL_ARCHIVE_MULX_ROWS
  if (M.n == kLimbs && haveMulx()) return montMulRows(r, a, b, M);
#endif
  if (M.n == kLimbs) montMulLimbs<kLimbs>(r, a, b, M);
  else montMulLimbs<0>(r, a, b, M);
}

void montSqr(Limb* r, const Limb* a, const Montgomery& M) {
#ifdef QUARVEL_ARCHIVE_MULX_ROWS
  if (M.n == kLimbs && haveMulx()) return montMulRows(r, a, a, M);
#endif
  if (M.n == kLimbs) montSqrLimbs<kLimbs>(r, a, M);
  else montSqrLimbs<0>(r, a, M);
}

bool montSetup(const BigNum* modulus, Montgomery* M) {
  const uint32_t words = significantWords(modulus);
  if (words > kBigNumOperandWords || (modulus->words[0] & 1) == 0) return false;
  M->n = static_cast<int>((words + kWordsPerLimb - 1) / kWordsPerLimb);
  toLimbs(modulus, M->m, M->n);
  Limb inv = M->m[0];  // Newton iteration: correct to 3, 6, 12, ... 96 bits (odd m)
  for (int i = 0; i < 5; ++i) inv *= 2 - M->m[0] * inv;
  M->mPrime = 0 - inv;
  return true;
}

// x * R mod m for x of any size up to 64 words.
bool toMontgomery(const BigNum* x, const BigNum* modulus, const Montgomery& M, Limb* out) {
  BigNum reduced;
  if (bnDivMod(nullptr, &reduced, x, modulus) != 0) return false;
  BigNum shifted;
  const uint32_t shift = static_cast<uint32_t>(kWordsPerLimb * M.n);
  const uint32_t count = significantWords(&reduced);
  std::memset(shifted.words, 0, sizeof(uint32_t) * shift);
  std::memcpy(shifted.words + shift, reduced.words, sizeof(uint32_t) * count);
  shifted.count = shift + count;
  BigNum r;
  if (bnDivMod(nullptr, &r, &shifted, modulus) != 0) return false;
  toLimbs(&r, out, M.n);
  return true;
}

// R mod m and R^2 mod m: with them a number enters Montgomery form by one
// multiplication instead of a long division each.
struct MontgomeryConstants {
  Limb one[kLimbs];       // R mod m
  Limb rSquared[kLimbs];  // R^2 mod m
};

bool montConstants(const BigNum* modulus, const Montgomery& M, MontgomeryConstants* c) {
  BigNum r;
  const uint32_t shift = static_cast<uint32_t>(kWordsPerLimb * M.n);
  std::memset(r.words, 0, sizeof(uint32_t) * shift);
  r.words[shift] = 1;
  r.count = shift + 1;
  BigNum reduced;
  if (bnDivMod(nullptr, &reduced, &r, modulus) != 0) return false;
  toLimbs(&reduced, c->one, M.n);
  return toMontgomery(&reduced, modulus, M, c->rSquared);
}

// x * R mod m by a Montgomery multiplication with R^2 (x reduced first where it is not below m).
bool enterMontgomery(const BigNum* x, const BigNum* modulus, const Montgomery& M, const MontgomeryConstants& c,
                     Limb* out) {
  BigNum reduced;
  if (bnDivMod(nullptr, &reduced, x, modulus) != 0) return false;
  Limb limbs[kLimbs];
  toLimbs(&reduced, limbs, M.n);
  montMul(out, limbs, c.rSquared, M);
  return true;
}

// Sliding windows of at most kWindowBits bits over e: digits[i] is the odd
// value of the window whose lowest bit is bit i, 0 where no window ends. The
// number of bits up to the highest set one.
constexpr int kWindowBits = 4;
constexpr int kExponentBits = 32 * kBigNumWords;

int windowDigits(const BigNum* e, uint8_t* digits) {
  const int bits = static_cast<int>(32 * significantWords(e));
  std::memset(digits, 0, static_cast<size_t>(bits));
  auto bit = [e](int i) { return (e->words[i >> 5] >> (i & 31)) & 1; };
  int length = 0;
  for (int i = bits - 1; i >= 0;) {
    if (!bit(i)) {
      --i;
      continue;
    }
    if (length == 0) length = i + 1;
    int low = i - kWindowBits + 1;
    if (low < 0) low = 0;
    while (!bit(low)) ++low;
    uint32_t value = 0;
    for (int k = i; k >= low; --k) value = value << 1 | bit(k);
    digits[low] = static_cast<uint8_t>(value);
    i = low - 1;
  }
  return length;
}

// base^e in Montgomery form (base already in Montgomery form); fixed 4-bit windows,
// most significant first.
void montPower(const Limb* base, const BigNum* e, const BigNum* modulus, const Montgomery& M, Limb* out) {
  Limb table[16][kLimbs];
  BigNum one;
  bnFromWord(&one, 1);
  toMontgomery(&one, modulus, M, table[0]);
  std::memcpy(table[1], base, sizeof(Limb) * M.n);
  for (int i = 2; i < 16; ++i) montMul(table[i], table[i - 1], base, M);
  Limb acc[kLimbs];
  std::memcpy(acc, table[0], sizeof(Limb) * M.n);
  const uint32_t words = significantWords(e);
  bool started = false;
  for (int w = static_cast<int>(words) - 1; w >= 0; --w) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      const uint32_t digit = (e->words[w] >> shift) & 15;
      if (started) {
        for (int k = 0; k < 4; ++k) montSqr(acc, acc, M);
      }
      if (digit != 0) {
        if (started) montMul(acc, acc, table[digit], M);
        else std::memcpy(acc, table[digit], sizeof(Limb) * M.n);
        started = true;
      }
    }
  }
  std::memcpy(out, acc, sizeof(Limb) * M.n);
}

void fromMontgomery(const Limb* x, const Montgomery& M, BigNum* out) {
  Limb one[kLimbs] = {1};
  Limb r[kLimbs];
  montMul(r, x, one, M);
  fromLimbs(r, M.n, out);
}

}  // namespace

void bnFromWord(BigNum* number, uint32_t value) {
  number->count = 1;
  number->words[0] = value;
}

void bnFromBytes(BigNum* number, const unsigned char* littleEndian, uint32_t length) {
  if (length > 4 * kBigNumWords) length = 4 * kBigNumWords;
  const uint32_t words = (length + 3) / 4;
  for (uint32_t w = 0; w < words; ++w) {
    uint32_t value = 0;
    for (uint32_t b = 0; b < 4 && 4 * w + b < length; ++b) value |= static_cast<uint32_t>(littleEndian[4 * w + b]) << (8 * b);
    number->words[w] = value;
  }
  number->count = words;
  trim(number);
}

bool bnIsZero(const BigNum* number) { return significantWords(number) == 1 && number->words[0] == 0; }

int bnCompare(const BigNum* a, const BigNum* b) {
  const uint32_t na = significantWords(a);
  const uint32_t nb = significantWords(b);
  if (na != nb) return na < nb ? -1 : 1;
  for (int i = static_cast<int>(na) - 1; i >= 0; --i) {
    if (a->words[i] != b->words[i]) return a->words[i] < b->words[i] ? -1 : 1;
  }
  return 0;
}

int bnAdd(BigNum* a, const BigNum* b) {
  const uint32_t na = significantWords(a);
  const uint32_t nb = significantWords(b);
  const uint32_t n = na > nb ? na : nb;
  uint64_t carry = 0;
  BigNum sum;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t s = static_cast<uint64_t>(i < na ? a->words[i] : 0) + (i < nb ? b->words[i] : 0) + carry;
    sum.words[i] = static_cast<uint32_t>(s);
    carry = s >> 32;
  }
  sum.count = n;
  if (carry != 0) {
    if (n == kBigNumWords) return -1;
    sum.words[n] = static_cast<uint32_t>(carry);
    sum.count = n + 1;
  }
  *a = sum;
  return 0;
}

int bnSub(BigNum* a, const BigNum* b) {
  if (bnCompare(a, b) < 0) return -1;
  const uint32_t na = significantWords(a);
  const uint32_t nb = significantWords(b);
  int64_t borrow = 0;
  for (uint32_t i = 0; i < na; ++i) {
    const int64_t d = static_cast<int64_t>(a->words[i]) - (i < nb ? b->words[i] : 0) - borrow;
    a->words[i] = static_cast<uint32_t>(d);
    borrow = d < 0 ? 1 : 0;
  }
  a->count = na;
  trim(a);
  return 0;
}

int bnMul(BigNum* product, const BigNum* a, const BigNum* b) {
  const uint32_t na = significantWords(a);
  const uint32_t nb = significantWords(b);
  if (na > kBigNumOperandWords || nb > kBigNumOperandWords) return -1;
  BigNum p;
  std::memset(p.words, 0, sizeof(uint32_t) * (na + nb));
  for (uint32_t i = 0; i < na; ++i) {
    uint64_t carry = 0;
    for (uint32_t j = 0; j < nb; ++j) {
      const uint64_t t = static_cast<uint64_t>(a->words[i]) * b->words[j] + p.words[i + j] + carry;
      p.words[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    p.words[i + nb] = static_cast<uint32_t>(carry);
  }
  p.count = na + nb;
  trim(&p);
  *product = p;
  return 0;
}

int bnDivMod(BigNum* quotient, BigNum* remainder, const BigNum* a, const BigNum* divisor) {
  if (bnIsZero(divisor)) return -1;
  const uint32_t na = significantWords(a);
  const uint32_t nd = significantWords(divisor);
  BigNum q, r;
  if (bnCompare(a, divisor) < 0) {
    bnFromWord(&q, 0);
    r = *a;
    r.count = na;
  } else if (nd == 1) {
    uint64_t rest = 0;
    const uint32_t d = divisor->words[0];
    for (int i = static_cast<int>(na) - 1; i >= 0; --i) {
      const uint64_t cur = (rest << 32) | a->words[i];
      q.words[i] = static_cast<uint32_t>(cur / d);
      rest = cur % d;
    }
    q.count = na;
    bnFromWord(&r, static_cast<uint32_t>(rest));
  } else {
    std::memset(q.words, 0, sizeof q.words);
    divideWords(a->words, static_cast<int>(na), divisor->words, static_cast<int>(nd), q.words, r.words);
    q.count = na - nd + 1;
    r.count = nd;
  }
  trim(&q);
  trim(&r);
  if (quotient != nullptr) *quotient = q;
  if (remainder != nullptr) *remainder = r;
  return 0;
}

int bnModMul(BigNum* result, const BigNum* a, const BigNum* b, const BigNum* modulus) {
  if (bnIsZero(modulus) || significantWords(modulus) > kBigNumOperandWords) return -1;
  BigNum x, y, product;
  if (bnDivMod(nullptr, &x, a, modulus) != 0 || bnDivMod(nullptr, &y, b, modulus) != 0) return -1;
  if (bnMul(&product, &x, &y) != 0) return -1;
  return bnDivMod(nullptr, result, &product, modulus);
}

int bnModInv(BigNum* result, const BigNum* a, const BigNum* modulus) {
  if (bnIsZero(modulus) || significantWords(modulus) > kBigNumOperandWords) return -1;
  // Extended Euclid with non-negative cofactors; the sign of the cofactor
  // alternates with each division step.
  BigNum u1, u3, v1, v3;
  bnFromWord(&u1, 1);
  if (bnDivMod(nullptr, &u3, a, modulus) != 0) return -1;
  bnFromWord(&v1, 0);
  v3 = *modulus;
  v3.count = significantWords(modulus);
  bool negative = false;
  while (!bnIsZero(&v3)) {
    BigNum q, t3, t1;
    bnDivMod(&q, &t3, &u3, &v3);
    if (bnMul(&t1, &q, &v1) != 0) return -1;
    bnAdd(&t1, &u1);
    u1 = v1;
    v1 = t1;
    u3 = v3;
    v3 = t3;
    negative = !negative;
  }
  BigNum one;
  bnFromWord(&one, 1);
  if (bnCompare(&u3, &one) != 0) {
    bnFromWord(result, 0);
    return 0;
  }
  if (negative) {
    BigNum m = *modulus;
    m.count = significantWords(modulus);
    bnSub(&m, &u1);
    *result = m;
  } else {
    *result = u1;
  }
  if (bnCompare(result, modulus) >= 0) bnDivMod(nullptr, result, result, modulus);
  return 0;
}

int bnModExp(BigNum* result, const BigNum* base, const BigNum* exponent, const BigNum* modulus) {
  Montgomery M;
  if (!montSetup(modulus, &M)) return -1;
  Limb b[kLimbs], r[kLimbs];
  if (!toMontgomery(base, modulus, M, b)) return -1;
  montPower(b, exponent, modulus, M, r);
  fromMontgomery(r, M, result);
  // R mod 1 is 0 and the result stays reduced for every other modulus.
  if (bnCompare(result, modulus) >= 0) bnDivMod(nullptr, result, result, modulus);
  return 0;
}

int bnModExpProduct(BigNum* result, const BigNum* b1, const BigNum* e1, const BigNum* b2, const BigNum* e2,
                    const BigNum* modulus) {
  Montgomery M;
  if (!montSetup(modulus, &M)) return -1;
  MontgomeryConstants c;
  if (!montConstants(modulus, M, &c)) return -1;
  // Each exponent walked in sliding windows of its own, both under the same
  // squarings: odd[k][i] = b_k^(2i+1) in Montgomery form.
  constexpr int kOdd = 1 << (kWindowBits - 1);
  Limb odd[2][kOdd][kLimbs];
  const BigNum* bases[2] = {b1, b2};
  for (int k = 0; k < 2; ++k) {
    if (!enterMontgomery(bases[k], modulus, M, c, odd[k][0])) return -1;
    Limb square[kLimbs];
    montSqr(square, odd[k][0], M);
    for (int i = 1; i < kOdd; ++i) montMul(odd[k][i], odd[k][i - 1], square, M);
  }
  uint8_t digits[2][kExponentBits];
  const int length1 = windowDigits(e1, digits[0]);
  const int length2 = windowDigits(e2, digits[1]);
  const int length = length1 > length2 ? length1 : length2;
  Limb acc[kLimbs];
  std::memcpy(acc, c.one, sizeof(Limb) * M.n);
  bool started = false;
  for (int i = length - 1; i >= 0; --i) {
    if (started) montSqr(acc, acc, M);
    for (int k = 0; k < 2; ++k) {
      const uint8_t digit = i < (k == 0 ? length1 : length2) ? digits[k][i] : 0;
      if (digit == 0) continue;
      if (started) montMul(acc, acc, odd[k][digit >> 1], M);
      else std::memcpy(acc, odd[k][digit >> 1], sizeof(Limb) * M.n);
      started = true;
    }
  }
  fromMontgomery(acc, M, result);
  if (bnCompare(result, modulus) >= 0) bnDivMod(nullptr, result, result, modulus);
  return 0;
}
