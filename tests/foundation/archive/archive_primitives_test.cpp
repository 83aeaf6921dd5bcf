// CRC-32, the library's Base64, SHA-1, big numbers and DSA against OpenSSL and zlib.
#define OPENSSL_SUPPRESS_DEPRECATED  // DSA_do_verify, the peer of our verification
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>

using archivetest::blobOf;
using archivetest::text;

namespace {

std::string randomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

TEST(ArchiveCrc32, MatchesZlibForEveryLength) {
  std::mt19937 rng(7);
  EXPECT_EQ(crc32Zip(nullptr, 0), 0u);
  for (size_t n = 0; n < 600; n += 7) {
    const std::string data = randomBytes(rng, n);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    EXPECT_EQ(crc32Zip(p, n), crc32(crc32(0, Z_NULL, 0), p, static_cast<uInt>(n))) << n;
  }
}

using archivetest::BlobPtr;

TEST(ArchiveBase64, EncodeTable) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const std::string b48(48, 'x');
  const std::string line48 = "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4";
  const Case cases[] = {
      {"abc", "YWJj"},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {b48, line48 + "\r\n"},
      {b48 + "y", line48 + "\r\neQ=="},
  };
  for (const Case& c : cases) {
    BlobPtr out(base64Encode(blobOf(c.input)));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(text(*out), c.expected);
  }
  EXPECT_EQ(BlobPtr(base64Encode(blobOf(b48 + "y")))->length, 70u);
  EXPECT_EQ(base64Encode(makeBlob("", 0)), nullptr);
}

TEST(ArchiveBase64, DecodeTable) {
  struct Case {
    std::string input;
    bool ok;
    std::string expected;
  };
  const Case cases[] = {
      {"YWJj", true, "abc"},
      {"YWJj\r\n", true, "abc"},
      {"YQ==", true, "a"},
      {"YWI=", true, "ab"},
      {"YW\nJj", true, "abc"},
      {"YQ==!!", true, "a"},  // nothing after the first '=' is read
      {"", true, ""},
      {"YW Jj", false, ""},
      {"YWJj\t", false, ""},
      {"YW-j", false, ""},
      {"Y", true, ""},
  };
  for (const Case& c : cases) {
    BlobPtr out(base64Decode(blobOf(c.input)));
    if (!c.ok) {
      EXPECT_EQ(out, nullptr) << c.input;
      continue;
    }
    ASSERT_NE(out, nullptr) << c.input;
    EXPECT_EQ(text(*out), c.expected) << c.input;
  }
  freeBlob(nullptr);
}

TEST(ArchiveBase64, RoundTripsAgainstOpenSsl) {
  std::mt19937 rng(3);
  for (size_t n = 1; n < 200; ++n) {
    const std::string data = randomBytes(rng, n);
    BlobPtr encoded(base64Encode(blobOf(data)));
    ASSERT_NE(encoded, nullptr);
    std::string plain = text(*encoded);
    std::string joined;
    for (char c : plain) {
      if (c != '\r' && c != '\n') joined.push_back(c);
    }
    std::string expected(4 * ((n + 2) / 3) + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                    reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(n));
    expected.resize(expected.size() - 1);
    EXPECT_EQ(joined, expected);
    BlobPtr decoded(base64Decode(*encoded));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(text(*decoded), data);
  }
}

std::string evpSha1(const std::string& data) {
  unsigned char d[20];
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), d, &n, EVP_sha1(), nullptr);
  return std::string(reinterpret_cast<char*>(d), n);
}

// Both block functions: the processor's SHA extensions (where it has them) and the portable rounds.
TEST(ArchiveSha1, MatchesEvpForLengthsAndSplits) {
  for (bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable" : "as the processor allows");
    const bool before = sha1UsePortable(portable);
    std::mt19937 rng(11);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    lengths.push_back(1 << 20);
    for (size_t n : lengths) {
      const std::string data = randomBytes(rng, n);
      // One update, then the same data in uneven pieces.
      for (size_t piece : {n + 1, static_cast<size_t>(1), static_cast<size_t>(13), static_cast<size_t>(64)}) {
        if (n > 300 && piece < 64) continue;
        Sha1Context c;
        sha1Init(&c);
        for (size_t at = 0; at < n; at += piece) {
          sha1Update(&c, makeBlob(data.data() + at, std::min(piece, n - at)));
        }
        unsigned char digest[20];
        sha1Final(&c, digest);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(digest), 20), evpSha1(data)) << n << "/" << piece;
        const Sha1Context zero{};
        EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);
      }
    }
    sha1UsePortable(before);
  }
}

// ---- big numbers against BN ----

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn toBn(const BigNum& x) {
  unsigned char bytes[4 * kBigNumWords];
  for (uint32_t w = 0; w < x.count; ++w) {
    for (int b = 0; b < 4; ++b) bytes[4 * w + b] = static_cast<unsigned char>(x.words[w] >> (8 * b));
  }
  return Bn(BN_lebin2bn(bytes, static_cast<int>(4 * x.count), nullptr));
}

std::string hex(const BIGNUM* b) {
  char* h = BN_bn2hex(b);
  std::string s(h);
  OPENSSL_free(h);
  return s;
}

// Random magnitudes with the shapes that break word arithmetic: zero, one word,
// full width, all-ones top words.
BigNum randomNumber(std::mt19937& rng, uint32_t maxWords) {
  BigNum x;
  const uint32_t shape = rng() % 8;
  uint32_t words = 1 + rng() % maxWords;
  if (shape == 0) {
    bnFromWord(&x, 0);
    return x;
  }
  if (shape == 1) words = 1;
  if (shape == 2) words = maxWords;
  x.count = words;
  for (uint32_t w = 0; w < words; ++w) x.words[w] = static_cast<uint32_t>(rng());
  if (shape == 3) x.words[words - 1] = 0xFFFFFFFFu;
  if (shape == 4) {
    for (uint32_t w = 0; w < words; ++w) x.words[w] = 0xFFFFFFFFu;
  }
  if (x.words[words - 1] == 0) x.words[words - 1] = 1;
  return x;
}

class ArchiveBigNum : public ::testing::Test {
 protected:
  std::mt19937 rng{2024};
  BN_CTX* ctx = BN_CTX_new();
  ~ArchiveBigNum() override { BN_CTX_free(ctx); }
  static constexpr int kCases = 1000;
};

TEST_F(ArchiveBigNum, AddSubMulCompare) {
  for (int i = 0; i < kCases; ++i) {
    BigNum a = randomNumber(rng, 32), b = randomNumber(rng, 32);
    Bn A = toBn(a), B = toBn(b), R(BN_new());
    const int expected = BN_cmp(A.get(), B.get());
    EXPECT_EQ(bnCompare(&a, &b), expected);
    BigNum sum = a;
    ASSERT_EQ(bnAdd(&sum, &b), 0);
    BN_add(R.get(), A.get(), B.get());
    EXPECT_EQ(hex(toBn(sum).get()), hex(R.get()));
    BigNum product;
    ASSERT_EQ(bnMul(&product, &a, &b), 0);
    BN_mul(R.get(), A.get(), B.get(), ctx);
    EXPECT_EQ(hex(toBn(product).get()), hex(R.get()));
    BigNum big = expected >= 0 ? a : b, small = expected >= 0 ? b : a;
    ASSERT_EQ(bnSub(&big, &small), 0);
    BN_sub(R.get(), expected >= 0 ? A.get() : B.get(), expected >= 0 ? B.get() : A.get());
    EXPECT_EQ(hex(toBn(big).get()), hex(R.get()));
    if (expected != 0) {
      BigNum s2 = small;
      EXPECT_EQ(bnSub(&s2, expected >= 0 ? &a : &b), -1);
    }
  }
}

TEST_F(ArchiveBigNum, DivMod) {
  for (int i = 0; i < kCases; ++i) {
    BigNum a = randomNumber(rng, 32), b = randomNumber(rng, 32);
    BigNum hi;
    bnMul(&hi, &a, &b);  // dividends up to 64 words
    BigNum d = randomNumber(rng, 32);
    if (bnIsZero(&d)) {
      EXPECT_EQ(bnDivMod(nullptr, nullptr, &hi, &d), -1);
      continue;
    }
    BigNum q, r;
    ASSERT_EQ(bnDivMod(&q, &r, &hi, &d), 0);
    Bn Q(BN_new()), R(BN_new());
    BN_div(Q.get(), R.get(), toBn(hi).get(), toBn(d).get(), ctx);
    ASSERT_EQ(hex(toBn(q).get()), hex(Q.get())) << i;
    ASSERT_EQ(hex(toBn(r).get()), hex(R.get())) << i;
  }
}

TEST_F(ArchiveBigNum, ModMulModInvModExp) {
  for (int i = 0; i < kCases; ++i) {
    BigNum m = randomNumber(rng, 32);
    if (bnIsZero(&m)) continue;
    m.words[0] |= 1;  // Montgomery needs an odd modulus
    BigNum a = randomNumber(rng, 32), b = randomNumber(rng, 32), e = randomNumber(rng, i % 3 == 0 ? 32 : 5);
    if (i % 50 == 1) bnFromWord(&e, 0);
    if (i % 50 == 2) bnFromWord(&e, 1);
    Bn M = toBn(m), A = toBn(a), B = toBn(b), E = toBn(e), R(BN_new());

    BigNum r;
    ASSERT_EQ(bnModMul(&r, &a, &b, &m), 0);
    BN_mod_mul(R.get(), A.get(), B.get(), M.get(), ctx);
    ASSERT_EQ(hex(toBn(r).get()), hex(R.get())) << "modmul " << i;

    ASSERT_EQ(bnModExp(&r, &a, &e, &m), 0);
    BN_mod_exp(R.get(), A.get(), E.get(), M.get(), ctx);
    ASSERT_EQ(hex(toBn(r).get()), hex(R.get())) << "modexp " << i;

    ASSERT_EQ(bnModInv(&r, &a, &m), 0);
    ERR_clear_error();
    if (BN_mod_inverse(R.get(), A.get(), M.get(), ctx) == nullptr) {
      EXPECT_TRUE(bnIsZero(&r) || BN_is_one(M.get())) << "modinv " << i;
    } else {
      ASSERT_EQ(hex(toBn(r).get()), hex(R.get())) << "modinv " << i;
    }
  }
  BigNum even, x, r;
  bnFromWord(&even, 10);
  bnFromWord(&x, 3);
  EXPECT_EQ(bnModExp(&r, &x, &x, &even), -1);
}

BigNum fromBn(const BIGNUM* b) {
  std::string le(static_cast<size_t>(BN_num_bytes(b)), '\0');
  BN_bn2lebinpad(b, reinterpret_cast<unsigned char*>(le.data()), static_cast<int>(le.size()));
  BigNum x;
  bnFromBytes(&x, reinterpret_cast<const unsigned char*>(le.data()), static_cast<uint32_t>(le.size()));
  return x;
}

// b1^e1 * b2^e2 mod m beside two BN_mod_exp and a BN_mod_mul: the edges of the
// sliding windows (exponents 0, 1, one window, a window boundary, all ones, a
// lone top bit, more bits than the modulus) and of the bases (0, 1, m - 1, m,
// m + 1, wider than m), on the 1024-bit modulus the fixed-size multiply takes
// and on narrower ones that take the general form.
TEST_F(ArchiveBigNum, ModExpProductMatchesOpenSsl) {
  auto pow2 = [](int bits) {
    Bn x(BN_new());
    BN_set_bit(x.get(), bits);
    return x;
  };
  auto word = [](BN_ULONG w) {
    Bn x(BN_new());
    BN_set_word(x.get(), w);
    return x;
  };
  auto randomBits = [](int bits) {
    Bn x(BN_new());
    BN_rand(x.get(), bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    return x;
  };
  auto plus = [](const Bn& a, long d) {
    Bn x(BN_dup(a.get()));
    if (d >= 0) BN_add_word(x.get(), static_cast<BN_ULONG>(d));
    else BN_sub_word(x.get(), static_cast<BN_ULONG>(-d));
    return x;
  };
  struct Modulus {
    const char* name;
    std::function<Bn()> make;
  };
  const Modulus moduli[] = {
      {"1024 bits", [&] { Bn m = randomBits(1024); BN_set_bit(m.get(), 1023); BN_set_bit(m.get(), 0); return m; }},
      {"1024 bits, all ones", [&] { return plus(pow2(1024), -1); }},
      {"1024 bits, 2^1023 + 1", [&] { return plus(pow2(1023), 1); }},
      {"992 bits", [&] { Bn m = randomBits(992); BN_set_bit(m.get(), 991); BN_set_bit(m.get(), 0); return m; }},
      {"160 bits", [&] { Bn m = randomBits(160); BN_set_bit(m.get(), 159); BN_set_bit(m.get(), 0); return m; }},
      {"one word", [&] { return word(0xFFFFFFFBu); }},
      {"3", [&] { return word(3); }},
      {"1", [&] { return word(1); }},
  };
  const std::function<Bn()> exponents[] = {
      [&] { return word(0); },          [&] { return word(1); },         [&] { return word(15); },
      [&] { return word(16); },         [&] { return word(17); },        [&] { return plus(pow2(160), -1); },
      [&] { return pow2(159); },        [&] { return randomBits(160); }, [&] { return randomBits(1024); },
      [&] { return plus(pow2(2047), 5); },
  };
  int checked = 0;
  for (const Modulus& mc : moduli) {
    const Bn M = mc.make();
    const std::function<Bn()> bases[] = {
        [&] { return word(0); },      [&] { return word(1); },
        [&] { return plus(M, -1); },  [&] { return Bn(BN_dup(M.get())); },
        [&] { return plus(M, 1); },   [&] { Bn b(BN_new()); BN_rand_range(b.get(), M.get()); return b; },
        [&] { return randomBits(2000); },
    };
    for (size_t i = 0; i < std::size(bases); ++i) {
      for (size_t j = 0; j < std::size(exponents); ++j) {
        const Bn B1 = bases[i](), B2 = bases[(i * 3 + j) % std::size(bases)]();
        const Bn E1 = exponents[j](), E2 = exponents[(j * 7 + i + 1) % std::size(exponents)]();
        Bn P1(BN_new()), P2(BN_new()), R(BN_new());
        BN_mod_exp(P1.get(), B1.get(), E1.get(), M.get(), ctx);
        BN_mod_exp(P2.get(), B2.get(), E2.get(), M.get(), ctx);
        BN_mod_mul(R.get(), P1.get(), P2.get(), M.get(), ctx);
        const BigNum b1 = fromBn(B1.get()), b2 = fromBn(B2.get()), e1 = fromBn(E1.get()), e2 = fromBn(E2.get()),
                     m = fromBn(M.get());
        BigNum r;
        ASSERT_EQ(bnModExpProduct(&r, &b1, &e1, &b2, &e2, &m), 0) << mc.name;
        ASSERT_EQ(hex(toBn(r).get()), hex(R.get())) << mc.name << " base " << i << " exponent " << j;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 8 * 7 * 10);
  BigNum even, x, r;
  bnFromWord(&even, 10);
  bnFromWord(&x, 3);
  EXPECT_EQ(bnModExpProduct(&r, &x, &x, &x, &x, &even), -1);
}

// ---- DSA against OpenSSL signatures ----

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey loadKey(const std::string& file) {
  FILE* f = fopen(file.c_str(), "r");
  EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  fclose(f);
  return Pkey(k);
}

std::string leBytes(const BIGNUM* b) {
  std::string s(static_cast<size_t>(BN_num_bytes(b)), '\0');
  BN_bn2lebinpad(b, reinterpret_cast<unsigned char*>(s.data()), static_cast<int>(s.size()));
  if (s.empty()) s.push_back('\0');
  return s;
}

struct KeyParts {
  std::string p, q, g, y;
  DsaKey key() const { return DsaKey{blobOf(p), blobOf(q), blobOf(g), blobOf(y)}; }
};

KeyParts partsOf(EVP_PKEY* k) {
  KeyParts parts;
  const char* names[] = {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G, OSSL_PKEY_PARAM_PUB_KEY};
  std::string* out[] = {&parts.p, &parts.q, &parts.g, &parts.y};
  for (int i = 0; i < 4; ++i) {
    BIGNUM* b = nullptr;
    EVP_PKEY_get_bn_param(k, names[i], &b);
    *out[i] = leBytes(b);
    BN_free(b);
  }
  return parts;
}

// r and s of an OpenSSL DSA-SHA1 signature, little-endian.
std::pair<std::string, std::string> sign(EVP_PKEY* k, const std::string& message) {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  EVP_DigestSignInit(md, nullptr, EVP_sha1(), nullptr, k);
  size_t n = 0;
  EVP_DigestSign(md, nullptr, &n, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  std::string der(n, '\0');
  EVP_DigestSign(md, reinterpret_cast<unsigned char*>(der.data()), &n,
                 reinterpret_cast<const unsigned char*>(message.data()), message.size());
  EVP_MD_CTX_free(md);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(n));  // the same SEQUENCE{r, s}
  std::pair<std::string, std::string> rs(leBytes(ECDSA_SIG_get0_r(sig)), leBytes(ECDSA_SIG_get0_s(sig)));
  ECDSA_SIG_free(sig);
  return rs;
}

TEST(ArchiveDsa, VerifiesOpenSslSignaturesAndRejectsBitFlips) {
  std::mt19937 rng(5);
  int checked = 0;
  for (const char* name : {"archive-root.key", "default-root.key", "stranger.key"}) {
    Pkey k = loadKey(archivetest::keyFile(name));
    ASSERT_NE(k, nullptr);
    const KeyParts parts = partsOf(k.get());
    const DsaKey key = parts.key();
    for (int i = 0; i < 67; ++i, ++checked) {
      std::string message = randomBytes(rng, rng() % 300);
      auto [r, s] = sign(k.get(), message);
      ASSERT_EQ(dsaVerify(blobOf(message), blobOf(r), blobOf(s), &key), 0) << name << " " << i;
      const size_t bits[] = {message.size() * 8, r.size() * 8, s.size() * 8};
      std::string* targets[] = {&message, &r, &s};
      const int which = i % 3;
      if (bits[which] == 0) continue;
      const size_t bit = rng() % bits[which];
      (*targets[which])[bit / 8] ^= static_cast<char>(1 << (bit % 8));
      EXPECT_EQ(dsaVerify(blobOf(message), blobOf(r), blobOf(s), &key), -1) << name << " flip " << which;
    }
  }
  EXPECT_GE(checked, 200);
}

TEST(ArchiveDsa, RangeChecksComeFirst) {
  Pkey k = loadKey(archivetest::keyFile("archive-root.key"));
  const KeyParts parts = partsOf(k.get());
  const DsaKey key = parts.key();
  auto [r, s] = sign(k.get(), "text");
  const std::string zero(1, '\0');
  EXPECT_EQ(dsaVerify(blobOf(std::string("text")), blobOf(parts.q), blobOf(s), &key), -1);
  EXPECT_EQ(dsaVerify(blobOf(std::string("text")), blobOf(r), blobOf(zero), &key), -1);
  EXPECT_EQ(dsaVerify(blobOf(std::string("text")), blobOf(zero), blobOf(s), &key), -1);
  EXPECT_EQ(dsaVerify(blobOf(std::string("text")), blobOf(r), blobOf(parts.q), &key), -1);
  EXPECT_EQ(dsaVerify(blobOf(std::string("text")), blobOf(r), blobOf(s), &key), 0);
}

// With a composite q (a certificate's key is not trusted data), s may have no
// inverse; taking w = 0 would make every r = 1 verify.
TEST(ArchiveDsa, NoInverseOfSIsInvalid) {
  const std::string p(1, 23), q(1, 15), g(1, 2), y(1, 3), r(1, 1), s(1, 5);
  const DsaKey key{blobOf(p), blobOf(q), blobOf(g), blobOf(y)};
  EXPECT_EQ(dsaVerify(blobOf(std::string("any")), blobOf(r), blobOf(s), &key), -1);
}

// Our verification and OpenSSL's DSA_do_verify must give the same answer for
// every (r, s): the range edges, random values, a genuine signature and its
// neighbours, and signatures made with chosen nonces k (edges of k give edges
// of r, s and of the exponents u1, u2).
TEST(ArchiveDsa, AgreesWithOpenSslOnRandomAndEdgeValues) {
  struct BnFreeAll {
    void operator()(BIGNUM* b) const { BN_free(b); }
  };
  using B = std::unique_ptr<BIGNUM, BnFreeAll>;
  BN_CTX* ctx = BN_CTX_new();
  Pkey k = loadKey(archivetest::keyFile("archive-root.key"));
  ASSERT_NE(k, nullptr);
  const KeyParts parts = partsOf(k.get());
  const DsaKey key = parts.key();
  auto param = [&](const char* name) {
    BIGNUM* b = nullptr;
    EVP_PKEY_get_bn_param(k.get(), name, &b);
    return B(b);
  };
  const B p = param(OSSL_PKEY_PARAM_FFC_P), q = param(OSSL_PKEY_PARAM_FFC_Q), g = param(OSSL_PKEY_PARAM_FFC_G),
          x = param(OSSL_PKEY_PARAM_PRIV_KEY);
  DSA* dsa = EVP_PKEY_get1_DSA(k.get());
  const std::string message = "Signature-Version: 2.0\r\n\r\nName: config:Quarvel\r\n\r\n";
  unsigned char digest[20];
  unsigned int digestLength = 0;
  EVP_Digest(message.data(), message.size(), digest, &digestLength, EVP_sha1(), nullptr);
  const B h(BN_bin2bn(digest, 20, nullptr));

  auto word = [](BN_ULONG w) {
    B b(BN_new());
    BN_set_word(b.get(), w);
    return b;
  };
  auto offset = [](const BIGNUM* a, long d) {
    B b(BN_dup(a));
    if (d >= 0) BN_add_word(b.get(), static_cast<BN_ULONG>(d));
    else BN_sub_word(b.get(), static_cast<BN_ULONG>(-d));
    return b;
  };
  auto randomBelow = [&](const BIGNUM* limit) {
    B b(BN_new());
    BN_rand_range(b.get(), limit);
    return b;
  };
  // A signature with nonce k: r = (g^k mod p) mod q, s = k^-1 (H + x r) mod q.
  auto signWith = [&](const BIGNUM* nonce) {
    B r(BN_new()), s(BN_new()), t(BN_new()), inverse(BN_new());
    BN_mod_exp(t.get(), g.get(), nonce, p.get(), ctx);
    BN_nnmod(r.get(), t.get(), q.get(), ctx);
    BN_mod_mul(t.get(), x.get(), r.get(), q.get(), ctx);
    BN_mod_add(t.get(), t.get(), h.get(), q.get(), ctx);
    BN_mod_inverse(inverse.get(), nonce, q.get(), ctx);
    BN_mod_mul(s.get(), inverse.get(), t.get(), q.get(), ctx);
    return std::make_pair(std::move(r), std::move(s));
  };
  struct Row {
    std::string name;
    B r, s;
  };
  std::vector<Row> rows;
  const std::pair<const char*, std::function<B()>> values[] = {
      {"0", [&] { return word(0); }},
      {"1", [&] { return word(1); }},
      {"2", [&] { return word(2); }},
      {"q-1", [&] { return offset(q.get(), -1); }},
      {"q", [&] { return offset(q.get(), 0); }},
      {"q+1", [&] { return offset(q.get(), 1); }},
      {"2^160-1", [&] { B b(BN_new()); BN_set_bit(b.get(), 160); BN_sub_word(b.get(), 1); return b; }},
      {"random", [&] { return randomBelow(q.get()); }},
  };
  for (const auto& [rn, rv] : values) {
    for (const auto& [sn, sv] : values) rows.push_back(Row{std::string("r=") + rn + " s=" + sn, rv(), sv()});
  }
  const std::pair<const char*, std::function<B()>> nonces[] = {
      {"k=1", [&] { return word(1); }},           {"k=2", [&] { return word(2); }},
      {"k=q-1", [&] { return offset(q.get(), -1); }}, {"k=q-2", [&] { return offset(q.get(), -2); }},
      {"k=2^159", [&] { B b(BN_new()); BN_set_bit(b.get(), 159); return b; }},
  };
  for (const auto& [name, nonce] : nonces) {
    auto [r, s] = signWith(nonce().get());
    rows.push_back(Row{std::string(name) + " signature", B(BN_dup(r.get())), B(BN_dup(s.get()))});
    rows.push_back(Row{std::string(name) + " r+1", offset(r.get(), 1), B(BN_dup(s.get()))});
    rows.push_back(Row{std::string(name) + " s-1", B(BN_dup(r.get())), offset(s.get(), -1)});
    B negated(BN_new());
    BN_sub(negated.get(), q.get(), s.get());
    rows.push_back(Row{std::string(name) + " q-s", B(BN_dup(r.get())), std::move(negated)});
    rows.push_back(Row{std::string(name) + " swapped", B(BN_dup(s.get())), B(BN_dup(r.get()))});
  }
  for (int i = 0; i < 40; ++i) {
    B nonce = randomBelow(q.get());
    if (BN_is_zero(nonce.get())) continue;
    auto [r, s] = signWith(nonce.get());
    rows.push_back(Row{"random k " + std::to_string(i), std::move(r), std::move(s)});
  }
  int valid = 0;
  for (const Row& row : rows) {
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_dup(row.r.get()), BN_dup(row.s.get()));
    const bool theirs = DSA_do_verify(digest, 20, sig, dsa) == 1;
    DSA_SIG_free(sig);
    ERR_clear_error();
    const std::string r = leBytes(row.r.get()), s = leBytes(row.s.get());
    const bool ours = dsaVerify(blobOf(message), blobOf(r), blobOf(s), &key) == 0;
    EXPECT_EQ(ours, theirs) << row.name;
    valid += theirs ? 1 : 0;
  }
  EXPECT_GE(valid, 45);  // every signature made above, whatever its nonce
  DSA_free(dsa);
  BN_CTX_free(ctx);
}

}  // namespace
