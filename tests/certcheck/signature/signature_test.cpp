// ReaderUtils' signature values: the fixture table over method, algorithm,
// digest, signed attributes and qualified certificates, the crafted and hostile
// values. Values come from OpenSSL's own tools (the test PKI kit); the cases
// OpenSSL does not make are crafted from them with the OpenSSL API.
#include "certcheck/ReaderUtils.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/util/VOQ_String.h"
#include "testpki.h"

namespace {

using testpki::Bytes;

constexpr DWORD kValid = 0;
constexpr DWORD kBadInput = 0x80000001;
constexpr DWORD kUnsupported = 0x80000008;
constexpr DWORD kMismatch = 0x80050001;
constexpr DWORD kOddPlainValue = 0x80080010;

const Bytes kData = [] {
  Bytes data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>((i * 31) ^ (i >> 8));
  return data;
}();

Bytes tampered(Bytes data, size_t at = 1234) {
  data[at] ^= 0x01;
  return data;
}

unsigned int size(const Bytes& b) { return static_cast<unsigned int>(b.size()); }

struct Outcome {
  DWORD code;
  bool qualified;
};

Outcome pkcs1(const Bytes& signature, const Bytes& certificate, const Bytes& data = kData) {
  bool qualified = false;
  const DWORD code = verifyPKCS1Signature(data.data(), size(data), signature.data(), size(signature),
                                          certificate.data(), size(certificate), &qualified);
  return {code, qualified};
}

Outcome pkcs7(const Bytes& value, const Bytes& data = kData) {
  bool qualified = false;
  const DWORD code = verifyPKCS7Signature(data.data(), size(data), value.data(), size(value), &qualified);
  return {code, qualified};
}

// --- Crafting PKCS#7 values from OpenSSL-made ones ---------------------------

using Pkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Bytes encode(PKCS7* p7) {
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(p7, &der);
  Bytes out(der, der + (length > 0 ? length : 0));
  OPENSSL_free(der);
  return out;
}

// The value after `change` has worked on its parsed form and first SignerInfo.
Bytes craft(const Bytes& value, const std::function<void(PKCS7*, PKCS7_SIGNER_INFO*)>& change) {
  const unsigned char* p = value.data();
  Pkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(value.size())), PKCS7_free);
  if (!p7) {
    ADD_FAILURE() << "not a PKCS#7";
    return {};
  }
  change(p7.get(), sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0));
  return encode(p7.get());
}

Key privateKey(const std::string& name) {
  const Bytes pem = testpki::readFile(testpki::Kit::standard().path(name + ".key"));
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  return Key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
}

// A signature over the bytes with the key: PKCS#1 v1.5 for RSA, DER ECDSA for EC.
Bytes signBytes(const Bytes& bytes, const std::string& keyName, const EVP_MD* md) {
  Key key = privateKey(keyName);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &digestLength, md, nullptr);
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                 EVP_PKEY_CTX_free);
  EVP_PKEY_sign_init(ctx.get());
  if (EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA) {
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(ctx.get(), md);
  }
  size_t length = 0;
  EVP_PKEY_sign(ctx.get(), nullptr, &length, digest, digestLength);
  Bytes signature(length);
  EVP_PKEY_sign(ctx.get(), signature.data(), &length, digest, digestLength);
  signature.resize(length);
  return signature;
}

Bytes attributeBytes(PKCS7_SIGNER_INFO* si) {
  unsigned char* der = nullptr;
  const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &der,
                                   ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
  Bytes out(der, der + (length > 0 ? length : 0));
  OPENSSL_free(der);
  return out;
}

// r||s of a DER ECDSA value, each padded to `half` bytes.
Bytes plain(const Bytes& der, size_t half) {
  const unsigned char* p = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
  Bytes out(2 * half);
  BN_bn2binpad(ECDSA_SIG_get0_r(sig), out.data(), static_cast<int>(half));
  BN_bn2binpad(ECDSA_SIG_get0_s(sig), out.data() + half, static_cast<int>(half));
  ECDSA_SIG_free(sig);
  return out;
}

void setSignature(PKCS7_SIGNER_INFO* si, const Bytes& value) {
  ASN1_STRING_set(si->enc_digest, value.data(), static_cast<int>(value.size()));
}

void setAlgorithm(X509_ALGOR* algorithm, const char* oid) {
  X509_ALGOR_set0(algorithm, OBJ_txt2obj(oid, 1), V_ASN1_UNDEF, nullptr);
}

// --- PKCS#1 ---------------------------------------------------------------

TEST(VerifyPkcs1Signature, FixtureTable) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes sha1Block = kit.sign("pkcs1", "rsa1024", kData);
  const struct Row {
    const char* what;
    Bytes signature;
    const char* certificate;
    Bytes data;
    Outcome expected;
  } rows[] = {
      {"RSA 1024 SHA-1", sha1Block, "rsa1024", kData, {kValid, true}},
      {"RSA 1024 without QC", kit.sign("pkcs1", "rsa1024-noqc", kData), "rsa1024-noqc", kData, {kValid, false}},
      {"RSA 1536", kit.sign("pkcs1", "rsa1536", kData), "rsa1536", kData, {kValid, true}},
      {"RSA 2048", kit.sign("pkcs1", "rsa2048", kData), "rsa2048", kData, {kValid, true}},
      {"RSA e=3", kit.sign("pkcs1", "rsa1024-e3", kData), "rsa1024-e3", kData, {kValid, true}},
      {"tampered data", sha1Block, "rsa1024", tampered(kData), {kMismatch, true}},
      {"other signer's certificate", sha1Block, "rsa1024-noqc", kData, {kMismatch, false}},
      {"SHA-256 DigestInfo", kit.sign("pkcs1", "rsa1024", kData, {"--md", "sha256"}), "rsa1024", kData,
       {kUnsupported, true}},
      {"RIPEMD-160 DigestInfo", kit.sign("pkcs1", "rsa1024", kData, {"--md", "ripemd160"}), "rsa1024", kData,
       {kUnsupported, true}},
      {"P-192 r||s", kit.sign("rs", "p192", kData), "p192", kData, {kValid, true}},
      {"P-192 r||s, tampered data", kit.sign("rs", "p192", kData), "p192", tampered(kData), {kMismatch, true}},
      {"P-192 r||s, odd length", [&] { Bytes b = kit.sign("rs", "p192", kData); b.push_back(0); return b; }(),
       "p192", kData, {kOddPlainValue, true}},
      {"P-256 key (65 > 50)", kit.sign("rs", "p256", kData), "p256", kData, {kMismatch, true}},
      {"P-224 key (57 > 50)", kit.sign("rs", "p224", kData), "p224", kData, {kMismatch, true}},
      {"DSA key", kit.sign("pkcs1", "rsa1024", kData), "dsa", kData, {kUnsupported, true}},
      {"one byte short", Bytes(sha1Block.begin() + 1, sha1Block.end()), "rsa1024", kData, {kMismatch, true}},
      {"one byte more", [&] { Bytes b = sha1Block; b.push_back(0); return b; }(), "rsa1024", kData,
       {kMismatch, true}},
      {"bit flipped", tampered(sha1Block, 60), "rsa1024", kData, {kMismatch, true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Outcome got = pkcs1(row.signature, kit.certificate(row.certificate), row.data);
    EXPECT_EQ(got.code, row.expected.code);
    EXPECT_EQ(got.qualified, row.expected.qualified);
  }
}

// The DigestInfo of SHA-1 over kData, as PKCS#1 blocks of a 1024-bit key.
Bytes block(const Bytes& head, const Bytes& tail) {
  unsigned char digest[20];
  EVP_Digest(kData.data(), kData.size(), digest, nullptr, EVP_sha1(), nullptr);
  const Bytes prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
  Bytes info = prefix;
  info.insert(info.end(), digest, digest + 20);
  Bytes out = head;
  if (tail.empty()) {  // standard padding up to 128 bytes
    out.insert(out.end(), 128 - head.size() - 1 - info.size(), 0xFF);
    out.push_back(0);
    out.insert(out.end(), info.begin(), info.end());
  } else {  // 00 01 FF x8 00 DigestInfo garbage
    out.insert(out.end(), 8, 0xFF);
    out.push_back(0);
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), tail.begin(), tail.begin() + static_cast<long>(128 - out.size()));
  }
  return out;
}

TEST(VerifyPkcs1Signature, TheWholeBlockMustBeTheDigestInfo) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes certificate = kit.certificate("rsa1024-e3");
  const Bytes garbage(128, 0x5A);
  Bytes nonNullParameters = block({0x00, 0x01}, {});
  nonNullParameters[128 - 35 + 11] = 0x04;  // 05 00 -> 04 00: an empty OCTET STRING as parameters
  const struct {
    const char* what;
    Bytes block;
    DWORD expected;
  } rows[] = {
      {"standard block", block({0x00, 0x01}, {}), kValid},
      {"garbage after the DigestInfo", block({0x00, 0x01}, garbage), kMismatch},
      {"type 2 padding", block({0x00, 0x02}, {}), kMismatch},
      {"no zero after the padding", [] {
         Bytes b = block({0x00, 0x01}, {});
         b[128 - 36] = 0xFF;
         return b;
       }(),
       kMismatch},
      {"parameters not NULL", nonNullParameters, kMismatch},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(row.block.size(), 128u);
    EXPECT_EQ(pkcs1(kit.sign("raw", "rsa1024-e3", row.block), certificate).code, row.expected);
  }

  // The garbage block is a real threat: unpadding and a DigestInfo parser that
  // stops after the DigestInfo find the right digest in it.
  const Bytes forged = kit.sign("raw", "rsa1024-e3", rows[1].block);
  const unsigned char* p = certificate.data();
  std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())),
                                                   X509_free);
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new(X509_get0_pubkey(cert.get()), nullptr), EVP_PKEY_CTX_free);
  Bytes recovered(128);
  size_t recoveredLength = recovered.size();
  ASSERT_EQ(EVP_PKEY_verify_recover_init(ctx.get()), 1);
  ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
  ASSERT_EQ(EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &recoveredLength, forged.data(), forged.size()), 1);
  const unsigned char* q = recovered.data();
  X509_SIG* info = d2i_X509_SIG(nullptr, &q, static_cast<long>(recoveredLength));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(q - recovered.data(), 35);
  EXPECT_EQ(recoveredLength, 117u);
  X509_SIG_free(info);
}

TEST(VerifyPkcs1Signature, MissingInputAndUndecodableCertificates) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes signature = kit.sign("pkcs1", "rsa1024", kData);
  const Bytes certificate = kit.certificate("rsa1024");
  bool qualified = true;  // untouched before the certificate is decoded
  EXPECT_EQ(verifyPKCS1Signature(nullptr, 1, signature.data(), 128, certificate.data(), size(certificate), &qualified),
            kBadInput);
  EXPECT_EQ(verifyPKCS1Signature(kData.data(), 0, signature.data(), 128, certificate.data(), size(certificate),
                                 &qualified),
            kBadInput);
  EXPECT_EQ(verifyPKCS1Signature(kData.data(), size(kData), signature.data(), 0, certificate.data(),
                                 size(certificate), &qualified),
            kBadInput);
  EXPECT_EQ(verifyPKCS1Signature(kData.data(), size(kData), signature.data(), 128, nullptr, 10, &qualified),
            kBadInput);
  EXPECT_TRUE(qualified);
  EXPECT_EQ(pkcs1(signature, Bytes(certificate.begin(), certificate.end() - 1)).code, kUnsupported);
  EXPECT_EQ(pkcs1(signature, Bytes(200, 0x30)).code, kUnsupported);
  EXPECT_EQ(verifyPKCS1Signature(kData.data(), size(kData), signature.data(), size(signature), certificate.data(),
                                 size(certificate), nullptr),
            kValid);
}

// --- PKCS#7 ---------------------------------------------------------------

TEST(VerifyPkcs7Signature, FixtureTable) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes other = tampered(kData, 19999);
  const struct Row {
    const char* what;
    Bytes value;
    Bytes data;
    Outcome expected;
  } rows[] = {
      {"RSA 2048 detached, attributes, SHA-256", kit.sign("p7-detached", "rsa2048", kData), kData, {kValid, true}},
      {"RSA 2048 detached, no attributes", kit.sign("p7-detached", "rsa2048", kData, {"--noattr"}), kData,
       {kValid, true}},
      {"RSA 1024 detached, SHA-1", kit.sign("p7-detached", "rsa1024", kData, {"--md", "sha1"}), kData,
       {kValid, true}},
      {"RSA 1024 detached, RIPEMD-160", kit.sign("p7-detached", "rsa1024", kData, {"--md", "ripemd160"}), kData,
       {kValid, true}},
      {"RSA 1024 detached, RIPEMD-160, no attributes",
       kit.sign("p7-detached", "rsa1024", kData, {"--md", "ripemd160", "--noattr"}), kData, {kValid, true}},
      {"RSA 1536 without QC", kit.sign("p7-detached", "rsa1024-noqc", kData), kData, {kValid, false}},
      {"RSA e=3", kit.sign("p7-detached", "rsa1024-e3", kData, {"--md", "sha1"}), kData, {kValid, true}},
      {"RSA expired certificate (not checked here)", kit.sign("p7-detached", "expired", kData), kData,
       {kValid, true}},
      {"RSA with the chain inside", kit.sign("p7-detached", "rsa2048-noqc", kData, {"--chain"}), kData,
       {kValid, false}},
      {"RSA enveloping", kit.sign("p7-enveloping", "rsa2048", kData), kData, {kValid, true}},
      {"RSA enveloping, no attributes", kit.sign("p7-enveloping", "rsa2048", kData, {"--noattr"}), kData,
       {kValid, true}},
      {"RSA tampered data", kit.sign("p7-detached", "rsa2048", kData), other, {kMismatch, true}},
      {"RSA tampered data, no attributes", kit.sign("p7-detached", "rsa2048", kData, {"--noattr"}), other,
       {kMismatch, true}},
      {"messageDigest of other data, signature valid", kit.sign("p7-detached", "rsa2048", other), kData,
       {kMismatch, true}},
      // 1.2.840.113549.1.1.10 lies beside rsaEncryption, not below it: a method
      // the library does not support, never a value that does not match.
      {"RSA-PSS signature", kit.sign("p7-detached", "rsa2048", kData, {"--pss"}), kData, {kUnsupported, false}},
      {"RSA with SHA-512", kit.sign("p7-detached", "rsa2048", kData, {"--md", "sha512"}), kData,
       {kUnsupported, false}},
      // Refused before the certificate is read: the flag stays as it was.
      {"DSA with SHA-1", kit.sign("p7-detached", "dsa", kData, {"--md", "sha1"}), kData, {kUnsupported, false}},
      {"DSA with SHA-256", kit.sign("p7-detached", "dsa", kData), kData, {kUnsupported, false}},
      {"ECDSA P-256 SHA-256", kit.sign("p7-detached", "p256", kData), kData, {kValid, true}},
      {"ECDSA P-256 SHA-256 without QC, no attributes", kit.sign("p7-detached", "p256-noqc", kData, {"--noattr"}),
       kData, {kValid, false}},
      {"ECDSA P-256 SHA-1", kit.sign("p7-detached", "p256", kData, {"--md", "sha1"}), kData, {kValid, true}},
      {"ECDSA P-192 SHA-1", kit.sign("p7-detached", "p192", kData, {"--md", "sha1"}), kData, {kValid, true}},
      {"ECDSA P-224 (57 key bytes)", kit.sign("p7-detached", "p224", kData), kData, {kValid, true}},
      {"ECDSA brainpoolP256r1", kit.sign("p7-detached", "brainpool", kData), kData, {kValid, true}},
      {"ECDSA P-256 enveloping", kit.sign("p7-enveloping", "p256", kData), kData, {kValid, true}},
      {"ECDSA P-384 key (97 bytes)", kit.sign("p7-detached", "p384", kData, {"--md", "sha256"}), kData,
       {kMismatch, true}},
      {"ECDSA with SHA-384 (not listed)", kit.sign("p7-detached", "p256", kData, {"--md", "sha384"}), kData,
       {kUnsupported, false}},
      {"ECDSA tampered data", kit.sign("p7-detached", "p256", kData), other, {kMismatch, true}},
      {"two SignerInfos", kit.sign("p7-detached", "rsa2048", kData, {"--also", "p256"}), kData, {kBadInput, false}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Outcome got = pkcs7(row.value, row.data);
    EXPECT_EQ(got.code, row.expected.code);
    EXPECT_EQ(got.qualified, row.expected.qualified);
  }
}

TEST(VerifyPkcs7Signature, CraftedSignerInfos) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes rsa = kit.sign("p7-detached", "rsa2048", kData);
  const Bytes rsaNoAttributes = kit.sign("p7-detached", "rsa2048", kData, {"--noattr"});
  const Bytes ecdsa = kit.sign("p7-detached", "p256", kData);
  // ECDSA values over the signed attributes with RIPEMD-160, as DER or r||s.
  auto ripemd = [&](const char* oid, bool asPlain, long cut) {
    return craft(ecdsa, [&](PKCS7*, PKCS7_SIGNER_INFO* si) {
      setAlgorithm(si->digest_enc_alg, oid);
      Bytes value = signBytes(attributeBytes(si), "p256", EVP_ripemd160());
      if (asPlain) value = plain(value, 32);
      value.resize(static_cast<size_t>(static_cast<long>(value.size()) - cut));
      setSignature(si, value);
    });
  };
  const struct {
    const char* what;
    Bytes value;
    DWORD expected;
  } rows[] = {
      // Identifiers match a listed one only at a whole arc.
      {"a PKCS#1 v1.5 value named RSA-PSS, 1.2.840.113549.1.1.10",
       craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) { setAlgorithm(si->digest_enc_alg, "1.2.840.113549.1.1.10"); }),
       kUnsupported},
      {"a value named below rsaEncryption, 1.2.840.113549.1.1.1.5",
       craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) { setAlgorithm(si->digest_enc_alg, "1.2.840.113549.1.1.1.5"); }),
       kValid},
      {"digest algorithm 2.16.840.1.101.3.4.2.10 (SHA3-512, beside SHA-256)",
       craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) { setAlgorithm(si->digest_alg, "2.16.840.1.101.3.4.2.10"); }),
       kUnsupported},
      {"digest algorithm 1.3.14.3.2.261 (beside SHA-1)",
       craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) { setAlgorithm(si->digest_alg, "1.3.14.3.2.261"); }),
       kUnsupported},
      // A PSS value under the PKCS#1 v1.5 name: its padding is no v1.5 padding.
      {"an RSA-PSS value named sha256WithRSAEncryption",
       craft(kit.sign("p7-detached", "rsa2048", kData, {"--pss"}),
             [](PKCS7*, PKCS7_SIGNER_INFO* si) { setAlgorithm(si->digest_enc_alg, "1.2.840.113549.1.1.11"); }),
       kMismatch},
      {"RSA as 1.3.36.3.3.1.2", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         setAlgorithm(si->digest_enc_alg, "1.3.36.3.3.1.2");
       }),
       kValid},
      {"RSA as 1.2.840.113549.1.1.4 (md5WithRSA, not listed)", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         setAlgorithm(si->digest_enc_alg, "1.2.840.113549.1.1.4");
       }),
       kUnsupported},
      {"digest algorithm SHA-384 (not listed)", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         setAlgorithm(si->digest_alg, "2.16.840.1.101.3.4.2.2");
       }),
       kUnsupported},
      {"ECDSA RIPEMD-160 1.3.36.3.3.2.5.4.1", ripemd("1.3.36.3.3.2.5.4.1", false, 0), kValid},
      {"plain r||s of 64 bytes", ripemd("0.4.0.127.0.7.1.1.4.1.6", true, 0), kValid},
      {"plain r||s of 63 bytes", ripemd("0.4.0.127.0.7.1.1.4.1.6", true, 1), kOddPlainValue},
      {"plain algorithm with a DER value", ripemd("0.4.0.127.0.7.1.1.4.1.6", false, 0), kValid},
      {"r||s under a DER-only algorithm", ripemd("1.3.36.3.3.2.5.4.1", true, 0), kUnsupported},
      {"ECDSA DER value cut short", ripemd("1.3.36.3.3.2.5.4.1", false, 1), kUnsupported},
      {"ECDSA negative r", craft(ecdsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         const Bytes negative = {0x30, 0x06, 0x02, 0x01, 0xFF, 0x02, 0x01, 0x01};
         setSignature(si, negative);
       }),
       kUnsupported},
      {"ECDSA trailing INTEGER", craft(ecdsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         const Bytes three = {0x30, 0x09, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01};
         setSignature(si, three);
       }),
       kUnsupported},
      {"ECDSA r = s = 0", craft(ecdsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         const Bytes zeros = {0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
         setSignature(si, zeros);
       }),
       kMismatch},
      {"empty signed-attribute set", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         while (sk_X509_ATTRIBUTE_num(si->auth_attr) > 0) X509_ATTRIBUTE_free(sk_X509_ATTRIBUTE_pop(si->auth_attr));
       }),
       kBadInput},
      {"no messageDigest attribute", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         X509_ATTRIBUTE_free(
             X509at_delete_attr(si->auth_attr, X509at_get_attr_by_NID(si->auth_attr, NID_pkcs9_messageDigest, -1)));
         setSignature(si, signBytes(attributeBytes(si), "rsa2048", EVP_sha256()));
       }),
       kBadInput},
      {"messageDigest an INTEGER", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         X509_ATTRIBUTE_free(
             X509at_delete_attr(si->auth_attr, X509at_get_attr_by_NID(si->auth_attr, NID_pkcs9_messageDigest, -1)));
         ASN1_INTEGER* value = ASN1_INTEGER_new();
         ASN1_INTEGER_set(value, 7);
         PKCS7_add_signed_attribute(si, NID_pkcs9_messageDigest, V_ASN1_INTEGER, value);
         setSignature(si, signBytes(attributeBytes(si), "rsa2048", EVP_sha256()));
       }),
       kBadInput},
      {"attributes in another order, signed as received", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         X509_ATTRIBUTE* first = sk_X509_ATTRIBUTE_shift(si->auth_attr);
         sk_X509_ATTRIBUTE_push(si->auth_attr, first);
         setSignature(si, signBytes(attributeBytes(si), "rsa2048", EVP_sha256()));
       }),
       kValid},
      {"attributes reordered after signing", craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         X509_ATTRIBUTE* first = sk_X509_ATTRIBUTE_shift(si->auth_attr);
         sk_X509_ATTRIBUTE_push(si->auth_attr, first);
       }),
       kMismatch},
      {"no certificates", craft(rsa, [](PKCS7* p7, PKCS7_SIGNER_INFO*) {
         sk_X509_pop_free(p7->d.sign->cert, X509_free);
         p7->d.sign->cert = nullptr;
       }),
       kBadInput},
      {"only another certificate", craft(rsa, [&](PKCS7* p7, PKCS7_SIGNER_INFO*) {
         sk_X509_pop_free(p7->d.sign->cert, X509_free);
         p7->d.sign->cert = sk_X509_new_null();
         const Bytes der = kit.certificate("rsa2048-noqc");
         const unsigned char* p = der.data();
         sk_X509_push(p7->d.sign->cert, d2i_X509(nullptr, &p, static_cast<long>(der.size())));
       }),
       kBadInput},
      {"enveloping content longer than the data", craft(rsaNoAttributes, [&](PKCS7* p7, PKCS7_SIGNER_INFO* si) {
         PKCS7_set_content(p7, PKCS7_new());
         PKCS7_set_type(p7->d.sign->contents, NID_pkcs7_data);
         Bytes longer = kData;
         longer.push_back(1);
         ASN1_OCTET_STRING_set(p7->d.sign->contents->d.data, longer.data(), static_cast<int>(longer.size()));
         (void)si;
       }),
       kMismatch},
      {"enveloping content other than data", craft(rsaNoAttributes, [&](PKCS7* p7, PKCS7_SIGNER_INFO*) {
         // A time-stamp token info as content: an OCTET STRING of another type.
         PKCS7* inner = PKCS7_new();
         inner->type = OBJ_txt2obj("1.2.840.113549.1.9.16.1.4", 1);
         ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
         ASN1_OCTET_STRING_set(octets, kData.data(), 100);
         inner->d.other = ASN1_TYPE_new();
         ASN1_TYPE_set(inner->d.other, V_ASN1_OCTET_STRING, octets);
         PKCS7_set_content(p7, inner);
       }),
       kUnsupported},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_FALSE(row.value.empty());
    EXPECT_EQ(pkcs7(row.value).code, row.expected);
  }
}

TEST(VerifyPkcs7Signature, EnvelopedContentIsTheStartOfTheData) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes head(kData.begin(), kData.begin() + 5000);
  const Bytes value = kit.sign("p7-enveloping", "rsa2048", head);
  EXPECT_EQ(pkcs7(value, head).code, kValid);
  // Longer data: the content is its start; the signature covers only the content.
  EXPECT_EQ(pkcs7(value, kData).code, kMismatch);
  const Bytes valueNoAttributes = kit.sign("p7-enveloping", "rsa2048", head, {"--noattr"});
  EXPECT_EQ(pkcs7(valueNoAttributes, Bytes(head.begin(), head.end() - 1)).code, kMismatch);
  EXPECT_EQ(pkcs7(valueNoAttributes, tampered(head, 10)).code, kMismatch);
}

TEST(VerifyPkcs7Signature, HandsBackTheSignerCertificateItVerifiedWith) {
  const testpki::Kit& kit = testpki::Kit::standard();
  for (const char* signer : {"rsa2048-noqc", "p256"}) {
    SCOPED_TRACE(signer);
    const Bytes value = kit.sign("p7-detached", signer, kData, {"--chain"});
    VOQ_String certificate(3, "old");
    bool qualified = false;
    EXPECT_EQ(verifyPKCS7Signature(kData.data(), size(kData), value.data(), size(value), &qualified, &certificate),
              kValid);
    const Bytes expected = kit.certificate(signer);
    ASSERT_EQ(certificate.getLength(), expected.size());
    EXPECT_EQ(Bytes(certificate.getData(), certificate.getData() + certificate.getLength()), expected);
  }
  VOQ_String certificate(3, "old");
  const Bytes twoSigners = kit.sign("p7-detached", "rsa2048", kData, {"--also", "p256"});
  EXPECT_EQ(verifyPKCS7Signature(kData.data(), size(kData), twoSigners.data(), size(twoSigners), nullptr,
                                 &certificate),
            kBadInput);
  EXPECT_EQ(certificate.getLength(), 0u);
}

// Every value truncated, extended and bit-flipped: never valid.
TEST(VerifyPkcs7Signature, DamagedValuesAreNeverValid) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes values[] = {kit.sign("p7-detached", "rsa1024", kData, {"--md", "sha1"}),
                          kit.sign("p7-detached", "p192", kData, {"--noattr", "--md", "sha1"})};
  for (const Bytes& value : values) {
    ASSERT_EQ(pkcs7(value).code, kValid);
    for (size_t cut = 1; cut < value.size(); cut += 37) {
      EXPECT_NE(pkcs7(Bytes(value.begin(), value.end() - static_cast<long>(cut))).code, kValid) << "cut " << cut;
    }
    // Zero bytes after the DER are the padding of a PDF's signature contents;
    // other bytes make the value another one.
    Bytes padded = value;
    padded.insert(padded.end(), 4000, 0);
    EXPECT_EQ(pkcs7(padded).code, kValid);
    for (unsigned char extra : {0x01, 0x30, 0xFF}) {
      Bytes extended = value;
      extended.push_back(extra);
      EXPECT_EQ(pkcs7(extended).code, kBadInput) << int(extra);
      extended.insert(extended.end() - 1, 10, 0);
      EXPECT_EQ(pkcs7(extended).code, kBadInput) << int(extra);
    }
    // Where the signed attributes and the signature lie in the value: every
    // bit of them is checked. (The rest holds what this check does not judge,
    // such as the certificate's own signature, or locators like the issuer
    // name, which OpenSSL compares case-insensitively.)
    std::vector<std::pair<size_t, size_t>> checked;
    auto mark = [&](const Bytes& part) {
      const size_t at = static_cast<size_t>(std::search(value.begin(), value.end(), part.begin(), part.end()) -
                                            value.begin());
      ASSERT_LT(at, value.size());
      checked.emplace_back(at, at + part.size());
    };
    craft(value, [&](PKCS7*, PKCS7_SIGNER_INFO* si) {
      mark(Bytes(si->enc_digest->data, si->enc_digest->data + si->enc_digest->length));
      if (si->auth_attr != nullptr) {
        const Bytes attributes = attributeBytes(si);
        mark(Bytes(attributes.begin() + 1, attributes.end()));  // after its [0] tag
      }
    });
    const Bytes reencoded = craft(value, [](PKCS7*, PKCS7_SIGNER_INFO*) {});
    // Every bit of the signed parts, every seventh elsewhere.
    for (size_t bit = 0; bit < value.size() * 8; ++bit) {
      const bool signedPart = std::any_of(checked.begin(), checked.end(), [&](const std::pair<size_t, size_t>& r) {
        return bit / 8 >= r.first && bit / 8 < r.second;
      });
      if (!signedPart && bit % 7 != 0) continue;
      Bytes flipped = value;
      flipped[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
      const DWORD code = pkcs7(flipped).code;
      if (code == kValid) {
        // In the signed parts only another BER form of the same values (a tag
        // read leniently, re-encoded as DER for the check) may pass.
        if (signedPart) {
          EXPECT_EQ(craft(flipped, [](PKCS7*, PKCS7_SIGNER_INFO*) {}), reencoded) << "bit " << bit;
        }
        continue;
      }
      EXPECT_TRUE(code == kBadInput || code == kUnsupported || code == kMismatch || code == kOddPlainValue)
          << std::hex << code << " at bit " << std::dec << bit;
    }
  }
  bool qualified = false;
  EXPECT_EQ(verifyPKCS7Signature(kData.data(), size(kData), nullptr, 10, &qualified), kBadInput);
  EXPECT_EQ(verifyPKCS7Signature(kData.data(), 0, values[0].data(), size(values[0]), &qualified), kBadInput);
  EXPECT_EQ(pkcs7(Bytes{0x30, 0x00}).code, kBadInput);
  EXPECT_EQ(pkcs7(kit.certificate("rsa1024")).code, kBadInput);
}

// The variants over a SignedData that carries the SHA-1 of the data.
TEST(VerifyPkcs7DigestSignature, CryptoApiAndP192Variants) {
  const testpki::Kit& kit = testpki::Kit::standard();
  unsigned char sha1[20];
  EVP_Digest(kData.data(), kData.size(), sha1, nullptr, EVP_sha1(), nullptr);
  const Bytes digest(sha1, sha1 + 20);
  const Bytes rsa = kit.sign("p7-enveloping", "rsa1024", digest, {"--noattr", "--md", "sha1"});
  const Bytes p192 = kit.sign("p7-enveloping", "p192", digest, {"--noattr", "--md", "sha1"});
  const Bytes p256 = kit.sign("p7-enveloping", "p256", digest, {"--noattr", "--md", "sha1"});
  auto variant = [](const Bytes& data, const Bytes& value, VOQ_String* certificate = nullptr) {
    bool qualified = false;
    const DWORD code = verifyPKCS7SHA1Signature(data.data(), size(data), value.data(), size(value), &qualified,
                                                certificate);
    return Outcome{code, qualified};
  };
  const struct {
    const char* what;
    Bytes data, value;
    Outcome expected;
  } rows[] = {
      {"RSA through CryptoAPI", kData, rsa, {kValid, true}},
      {"P-192", kData, p192, {kValid, true}},
      {"RSA, other data", tampered(kData), rsa, {kMismatch, true}},
      {"P-192, other data", tampered(kData), p192, {kMismatch, true}},
      {"RSA signature flipped", kData, craft(rsa, [](PKCS7*, PKCS7_SIGNER_INFO* si) {
         si->enc_digest->data[10] ^= 1;
       }),
       {kMismatch, true}},
      {"P-192 r = s = 0", kData, craft(p192, [](PKCS7*, PKCS7_SIGNER_INFO* si) { setSignature(si, Bytes(48, 0)); }),
       {kMismatch, true}},
      {"P-256 key (65 bytes)", kData, p256, {kMismatch, true}},
      {"DSA key", kData, kit.sign("p7-enveloping", "dsa", digest, {"--noattr", "--md", "sha1"}), {kUnsupported, true}},
      {"detached", kData, kit.sign("p7-detached", "rsa1024", digest, {"--noattr", "--md", "sha1"}), {kBadInput, true}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Outcome got = variant(row.data, row.value);
    EXPECT_EQ(got.code, row.expected.code);
    EXPECT_EQ(got.qualified, row.expected.qualified);
  }

  VOQ_String certificate;
  EXPECT_EQ(variant(kData, p192, &certificate).code, kValid);
  EXPECT_EQ(Bytes(certificate.getData(), certificate.getData() + certificate.getLength()), kit.certificate("p192"));
  bool qualified = false;
  EXPECT_EQ(verifyPKCS7DigestSignature(digest.data(), size(digest), rsa.data(), size(rsa), &qualified, nullptr),
            kValid);
  EXPECT_EQ(verifyPKCS7DigestSignature(digest.data(), 19, rsa.data(), size(rsa), &qualified, nullptr), kMismatch);
  EXPECT_EQ(verifyPKCS7DigestSignature(nullptr, 20, rsa.data(), size(rsa), &qualified, nullptr), kBadInput);
}

// Data that arrive in pieces: whatever the cut (single bytes, a piece that ends inside the
// content a value carries, empty pieces between), the outcome, the qualified flag and the
// signer handed back are those of the data as one block.
TEST(SignedDataCheck, DataInPiecesGiveTheOutcomeOfTheWholeData) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes head(kData.begin(), kData.begin() + 5000);
  const Bytes other = tampered(kData, 19999);
  const struct Row {
    const char* what;
    bool pkcs1;
    Bytes value;
    const char* certificate;  // PKCS#1: the signer; PKCS#7: the one handed back
    Bytes data;
    Outcome expected;
  } rows[] = {
      {"PKCS#1 RSA SHA-1", true, kit.sign("pkcs1", "rsa1024", kData), "rsa1024", kData, {kValid, true}},
      {"PKCS#1 RSA, last byte changed", true, kit.sign("pkcs1", "rsa1024", kData), "rsa1024", other,
       {kMismatch, true}},
      {"PKCS#1 SHA-256 DigestInfo", true, kit.sign("pkcs1", "rsa1024", kData, {"--md", "sha256"}), "rsa1024", kData,
       {kUnsupported, true}},
      {"PKCS#1 P-192 r||s", true, kit.sign("rs", "p192", kData), "p192", kData, {kValid, true}},
      {"PKCS#1 P-192 r||s, first byte changed", true, kit.sign("rs", "p192", kData), "p192", tampered(kData, 0),
       {kMismatch, true}},
      {"PKCS#7 attributes, SHA-256", false, kit.sign("p7-detached", "rsa2048", kData), "rsa2048", kData,
       {kValid, true}},
      {"PKCS#7 attributes, other data", false, kit.sign("p7-detached", "rsa2048", kData), "rsa2048", other,
       {kMismatch, true}},
      {"PKCS#7 no attributes, RIPEMD-160", false,
       kit.sign("p7-detached", "rsa1024", kData, {"--md", "ripemd160", "--noattr"}), "rsa1024", kData,
       {kValid, true}},
      {"PKCS#7 no attributes, other data", false, kit.sign("p7-detached", "rsa2048", kData, {"--noattr"}), "rsa2048",
       other, {kMismatch, true}},
      {"PKCS#7 ECDSA no attributes", false, kit.sign("p7-detached", "p256-noqc", kData, {"--noattr"}), "p256-noqc",
       kData, {kValid, false}},
      {"PKCS#7 ECDSA, other data", false, kit.sign("p7-detached", "p256", kData), "p256", other, {kMismatch, true}},
      {"PKCS#7 enveloping", false, kit.sign("p7-enveloping", "rsa2048", head), "rsa2048", head, {kValid, true}},
      {"PKCS#7 enveloping, content changed", false, kit.sign("p7-enveloping", "rsa2048", head, {"--noattr"}),
       "rsa2048", tampered(head, 4999), {kMismatch, true}},
      {"PKCS#7 enveloping, data shorter than the content", false,
       kit.sign("p7-enveloping", "rsa2048", head, {"--noattr"}), "rsa2048", Bytes(head.begin(), head.end() - 1),
       {kMismatch, true}},
      {"PKCS#7 enveloping, data longer than the content", false, kit.sign("p7-enveloping", "rsa2048", head),
       "rsa2048", kData, {kMismatch, true}},
      {"PKCS#7 RSA-PSS", false, kit.sign("p7-detached", "rsa2048", kData, {"--pss"}), "", kData,
       {kUnsupported, false}},
  };
  const std::vector<std::vector<size_t>> plans = {{}, {1}, {7, 0, 1024}, {1024}, {4999, 2}, {65536}};
  for (const Row& row : rows) {
    const Bytes certificate = row.certificate[0] != 0 ? kit.certificate(row.certificate) : Bytes();
    for (const std::vector<size_t>& plan : plans) {
      SCOPED_TRACE(std::string(row.what) + ", pieces of " + (plan.empty() ? "all" : std::to_string(plan[0])) + "...");
      SignedDataCheck check =
          row.pkcs1 ? SignedDataCheck::pkcs1(row.value.data(), size(row.value), certificate.data(), size(certificate))
                    : SignedDataCheck::pkcs7(row.value.data(), size(row.value));
      for (size_t at = 0, turn = 0; at < row.data.size(); ++turn) {
        const size_t n = plan.empty() ? row.data.size() : std::min(plan[turn % plan.size()], row.data.size() - at);
        check.update(row.data.data() + at, n);
        at += n;
      }
      bool qualified = false;
      VOQ_String signer(3, "old");
      EXPECT_EQ(check.finish(&qualified, row.pkcs1 ? nullptr : &signer), row.expected.code);
      EXPECT_EQ(qualified, row.expected.qualified);
      if (!row.pkcs1) {
        EXPECT_EQ(Bytes(signer.getData(), signer.getData() + signer.getLength()), certificate);
      }
    }
  }
}

// No data, or only empty pieces, is missing input whatever the value; nothing is read
// from the value then.
TEST(SignedDataCheck, NoDataIsMissingInput) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes value = kit.sign("p7-detached", "rsa2048", kData);
  const Bytes signature = kit.sign("pkcs1", "rsa1024", kData);
  const Bytes certificate = kit.certificate("rsa1024");
  for (bool emptyPiece : {false, true}) {
    SignedDataCheck p7 = SignedDataCheck::pkcs7(value.data(), size(value));
    SignedDataCheck p1 = SignedDataCheck::pkcs1(signature.data(), size(signature), certificate.data(),
                                                size(certificate));
    if (emptyPiece) {
      p7.update(kData.data(), 0);
      p1.update(nullptr, 10);
    }
    bool qualified = false;
    VOQ_String signer(3, "old");
    EXPECT_EQ(p7.finish(&qualified, &signer), kBadInput);
    EXPECT_EQ(signer.getLength(), 0u);
    EXPECT_EQ(p1.finish(&qualified, nullptr), kBadInput);
    EXPECT_FALSE(qualified);
  }
}

TEST(IsQualifiedCertificate, ReportsTheQcStatementsExtension) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const struct {
    const char* name;
    bool qualified;
  } rows[] = {{"rsa1024", true}, {"rsa2048-noqc", false}, {"p192", true}, {"p256-noqc", false}, {"root", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes der = kit.certificate(row.name);
    bool qualified = !row.qualified;
    EXPECT_EQ(isQualifiedCertificate(der.data(), size(der), &qualified), kValid);
    EXPECT_EQ(qualified, row.qualified);
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size(der));
    EXPECT_EQ(hasQCStatements(context), row.qualified);
    CertFreeCertificateContext(context);
  }
  bool qualified = true;
  EXPECT_EQ(isQualifiedCertificate(nullptr, 10, &qualified), kBadInput);
  EXPECT_FALSE(qualified);
  qualified = true;
  const Bytes garbage(100, 0x30);
  EXPECT_EQ(isQualifiedCertificate(garbage.data(), size(garbage), &qualified), kUnsupported);
  EXPECT_FALSE(qualified);
  EXPECT_FALSE(hasQCStatements(nullptr));
}

}  // namespace
