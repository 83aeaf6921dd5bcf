// The ECDSA helpers against signatures made by OpenSSL's own tools (test PKI kit).
#include "certcheck/Ecdsa.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testpki.h"

namespace {

using testpki::Bytes;

const Bytes kData = [] {
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  return data;
}();

int verify(const Bytes& rs, const std::string& oid, const Bytes& certificate, const Bytes& data = kData) {
  const unsigned int half = static_cast<unsigned int>(rs.size() / 2);
  return verifyECDSASignature(rs.data(), half, rs.data() + half, half, data.data(),
                              static_cast<unsigned int>(data.size()), oid.c_str(), certificate.data(),
                              static_cast<unsigned int>(certificate.size()));
}

TEST(VerifyEcdsaSignature, TheSignatureAlgorithmChoosesTheDigestByPrefix) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes certificate = kit.certificate("p256");
  const char* digests[] = {"sha1", "sha256", "ripemd160"};
  std::vector<Bytes> signatures;
  for (const char* digest : digests) signatures.push_back(kit.sign("rs", "p256", kData, {"--md", digest}));
  const struct {
    const char* oid;
    int digest;  // index into digests
  } rows[] = {
      {"1.2.840.10045.4.3.2", 1},     {"1.2.840.10045.4.3.2.7", 1},  {"1.2.840.10045.4.1", 0},
      {"1.2.840.10045.4.1.5", 0},     {"1.3.36.3.3.2.5.4.1", 2},     {"0.4.0.127.0.7.1.1.4.1.6", 2},
      {"1.2.840.10045.4.3.3", 2},     {"", 2},
  };
  for (const auto& row : rows) {
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(std::string(row.oid) + " with " + digests[i]);
      EXPECT_EQ(verify(signatures[static_cast<size_t>(i)], row.oid, certificate), i == row.digest ? 1 : 0);
    }
  }
  EXPECT_EQ(verifyECDSASignature(signatures[2].data(), 32, signatures[2].data() + 32, 32, kData.data(),
                                 static_cast<unsigned int>(kData.size()), nullptr, certificate.data(),
                                 static_cast<unsigned int>(certificate.size())),
            1);
}

TEST(VerifyEcdsaSignature, KeysCurvesAndTheValuesOfRAndS) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes p256 = kit.certificate("p256");
  const Bytes rs = kit.sign("rs", "p256", kData, {"--md", "sha256"});
  const std::string sha256 = "1.2.840.10045.4.3.2";
  ASSERT_EQ(verify(rs, sha256, p256), 1);
  for (const char* signer : {"p192", "p224", "p384", "brainpool"}) {
    SCOPED_TRACE(signer);
    EXPECT_EQ(verify(kit.sign("rs", signer, kData, {"--md", "sha256"}), sha256, kit.certificate(signer)), 1);
  }

  // Not an EC key, not a certificate, another data.
  EXPECT_EQ(verify(rs, sha256, kit.certificate("rsa2048")), 0);
  EXPECT_EQ(verify(rs, sha256, kit.certificate("dsa")), 0);
  EXPECT_EQ(verify(rs, sha256, Bytes(p256.begin(), p256.begin() + 100)), 0);
  EXPECT_EQ(verify(rs, sha256, Bytes(300, 0x30)), 0);
  EXPECT_EQ(verify(rs, sha256, p256, Bytes(kData.begin(), kData.end() - 1)), 0);

  // Leading zero bytes change nothing.
  Bytes r(rs.begin(), rs.begin() + 32), s(rs.begin() + 32, rs.end());
  Bytes paddedR(3, 0), paddedS(1, 0);
  paddedR.insert(paddedR.end(), r.begin(), r.end());
  paddedS.insert(paddedS.end(), s.begin(), s.end());
  EXPECT_EQ(verifyECDSASignature(paddedR.data(), 35, paddedS.data(), 33, kData.data(),
                                 static_cast<unsigned int>(kData.size()), sha256.c_str(), p256.data(),
                                 static_cast<unsigned int>(p256.size())),
            1);

  // r and s outside [1, n - 1], and oversized values.
  const Bytes zero(32, 0), order = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17,
                                    0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};
  Bytes orderPlusR = r;  // r + n: the same residue, out of range
  {
    unsigned carry = 0;
    for (int i = 31; i >= 0; --i) {
      const unsigned sum = unsigned(r[static_cast<size_t>(i)]) + order[static_cast<size_t>(i)] + carry;
      orderPlusR[static_cast<size_t>(i)] = static_cast<unsigned char>(sum);
      carry = sum >> 8;
    }
    if (carry) orderPlusR.insert(orderPlusR.begin(), 1);
  }
  const struct {
    const char* what;
    Bytes r, s;
  } bad[] = {
      {"r = s = 0", zero, zero},
      {"r = 0", zero, s},
      {"s = 0", r, zero},
      {"r = n", order, s},
      {"s = n", r, order},
      {"r + n", orderPlusR, s},
      {"oversized r", Bytes(40, 0xFF), s},
      {"empty r", Bytes(), s},
  };
  for (const auto& row : bad) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(verifyECDSASignature(row.r.data(), static_cast<unsigned int>(row.r.size()), row.s.data(),
                                   static_cast<unsigned int>(row.s.size()), kData.data(),
                                   static_cast<unsigned int>(kData.size()), sha256.c_str(), p256.data(),
                                   static_cast<unsigned int>(p256.size())),
              0);
  }
}

// The P-192 public point (x, y) of a kit certificate: the last 48 bytes of its
// uncompressed point, which ends the certificate's SubjectPublicKeyInfo.
void p192Point(const Bytes& certificate, Bytes* x, Bytes* y) {
  // 04 || x || y follows the BIT STRING header 03 32 00.
  const Bytes marker = {0x03, 0x32, 0x00, 0x04};
  auto it = std::search(certificate.begin(), certificate.end(), marker.begin(), marker.end());
  ASSERT_NE(it, certificate.end());
  x->assign(it + 4, it + 28);
  y->assign(it + 28, it + 52);
}

TEST(VerifyP192Signature, VerifiesOpenSslSignaturesAndRejectsDegenerateOnes) {
  ASSERT_EQ(initP192Curve(), 1);
  ASSERT_EQ(initECDSAP192Domain(), 1);
  const testpki::Kit& kit = testpki::Kit::standard();
  Bytes x, y;
  p192Point(kit.certificate("p192"), &x, &y);
  const Bytes rs = kit.sign("rs", "p192", kData, {"--md", "sha1"});
  unsigned char hash[SHA_DIGEST_LENGTH];
  SHA1(kData.data(), kData.size(), hash);
  ASSERT_EQ(verifyP192Signature(x.data(), y.data(), hash, rs.data(), rs.data() + 24), 1);
  EXPECT_EQ(verifyECDSAP192(x.data(), y.data(), hash, rs.data(), rs.data() + 24), 1);

  const Bytes zero(24, 0);
  const Bytes order = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                       0x99, 0xDE, 0xF8, 0x36, 0x14, 0x6B, 0xC9, 0xB1, 0xB4, 0xD2, 0x28, 0x31};
  Bytes offCurve = y;
  offCurve[23] ^= 1;
  Bytes otherHash(hash, hash + 20);
  otherHash[0] ^= 0x80;
  const Bytes r(rs.begin(), rs.begin() + 24), s(rs.begin() + 24, rs.end());
  auto flip = [](Bytes b, size_t bit) {
    b[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    return b;
  };
  const struct {
    const char* what;
    Bytes y, hash, r, s;
  } rows[] = {
      {"r flipped", y, Bytes(hash, hash + 20), flip(r, 77), s},
      {"s flipped", y, Bytes(hash, hash + 20), r, flip(s, 3)},
      {"other hash", y, otherHash, r, s},
      {"key off the curve", offCurve, Bytes(hash, hash + 20), r, s},
      {"r = s = 0", y, Bytes(hash, hash + 20), zero, zero},
      {"r = s = 0, other hash", y, otherHash, zero, zero},
      {"r = n", y, Bytes(hash, hash + 20), order, s},
      {"s = n", y, Bytes(hash, hash + 20), r, order},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(verifyP192Signature(x.data(), row.y.data(), row.hash.data(), row.r.data(), row.s.data()), 0);
  }
}

}  // namespace
