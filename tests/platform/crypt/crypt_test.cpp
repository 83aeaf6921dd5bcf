// CryptoAPI certificate contexts and the RSA provider, against certificates and
// signatures of the test PKI kit.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "testpki.h"

namespace {

using testpki::Bytes;

struct Context {
  explicit Context(const Bytes& der)
      : context(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()))) {}
  ~Context() { CertFreeCertificateContext(context); }
  PCCERT_CONTEXT context;
};

TEST(CertificateContext, DecodesTheFieldsTheCertificateHolds) {
  const testpki::Kit& kit = testpki::Kit::standard();
  struct Row {
    const char* name;
    const char* keyOid;
    DWORD keyBytes;
    bool qc;
  } rows[] = {
      {"rsa1024", szOID_RSA_RSA, 140, true},  // SEQUENCE { modulus 129 bytes, exponent 3 bytes }
      {"p192", szOID_ECC_PUBLIC_KEY, 49, true},
      {"p256-noqc", szOID_ECC_PUBLIC_KEY, 65, false},
      {"p384", szOID_ECC_PUBLIC_KEY, 97, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes der = kit.certificate(row.name);
    Context c(der);
    ASSERT_NE(c.context, nullptr);
    EXPECT_EQ(c.context->dwCertEncodingType, X509_ASN_ENCODING);
    ASSERT_EQ(c.context->cbCertEncoded, der.size());
    EXPECT_EQ(std::memcmp(c.context->pbCertEncoded, der.data(), der.size()), 0);
    const CERT_INFO* info = c.context->pCertInfo;
    EXPECT_EQ(info->dwVersion, static_cast<DWORD>(CERT_V3));
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, row.keyOid);
    EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cbData, row.keyBytes);
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");

    const unsigned char* p = der.data();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(x509, nullptr);
    // The serial least significant byte first; names as their DER.
    const ASN1_INTEGER* serial = X509_get0_serialNumber(x509);
    Bytes big(ASN1_STRING_get0_data(serial), ASN1_STRING_get0_data(serial) + ASN1_STRING_length(serial));
    EXPECT_EQ(Bytes(info->SerialNumber.pbData, info->SerialNumber.pbData + info->SerialNumber.cbData),
              Bytes(big.rbegin(), big.rend()));
    unsigned char* subject = nullptr;
    const int subjectLength = i2d_X509_NAME(X509_get_subject_name(x509), &subject);
    EXPECT_EQ(Bytes(info->Subject.pbData, info->Subject.pbData + info->Subject.cbData),
              Bytes(subject, subject + subjectLength));
    OPENSSL_free(subject);
    // 2020-01-01 and 2049-12-31 23:59:59 UTC in 100 ns ticks since 1601.
    EXPECT_EQ((uint64_t(info->NotBefore.dwHighDateTime) << 32) | info->NotBefore.dwLowDateTime,
              132223104000000000ull);
    EXPECT_EQ((uint64_t(info->NotAfter.dwHighDateTime) << 32) | info->NotAfter.dwLowDateTime,
              141690815990000000ull);
    EXPECT_EQ(info->cExtension, static_cast<DWORD>(X509_get_ext_count(x509)));
    X509_free(x509);

    PCERT_EXTENSION qc = CertFindExtension(szOID_QC_STATEMENTS_EXT, info->cExtension, info->rgExtension);
    EXPECT_EQ(qc != nullptr, row.qc);
    if (qc) {
      EXPECT_FALSE(qc->fCritical);
      const Bytes statements{0x30, 0x0a, 0x30, 0x08, 0x06, 0x06, 0x04, 0x00, 0x8e, 0x46, 0x01, 0x01};
      EXPECT_EQ(Bytes(qc->Value.pbData, qc->Value.pbData + qc->Value.cbData), statements);
    }
    PCERT_EXTENSION basic = CertFindExtension("2.5.29.19", info->cExtension, info->rgExtension);
    ASSERT_NE(basic, nullptr);
    EXPECT_TRUE(basic->fCritical);
  }
}

TEST(CertificateContext, RefusesWhatIsNoCertificateAndCountsReferences) {
  const Bytes der = testpki::Kit::standard().certificate("rsa2048");
  const Bytes garbage{0x30, 0x03, 0x02, 0x01, 0x01};
  struct {
    DWORD type;
    const BYTE* data;
    DWORD length;
    DWORD error;
  } refused[] = {
      {X509_ASN_ENCODING, garbage.data(), static_cast<DWORD>(garbage.size()), DWORD(CRYPT_E_ASN1_BADTAG)},
      {X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size() - 1), DWORD(CRYPT_E_ASN1_BADTAG)},
      {X509_ASN_ENCODING, nullptr, 0, DWORD(CRYPT_E_ASN1_BADTAG)},
      {PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()), DWORD(E_INVALIDARG)},
  };
  for (const auto& r : refused) {
    SetLastError(0);
    EXPECT_EQ(CertCreateCertificateContext(r.type, r.data, r.length), nullptr);
    EXPECT_EQ(GetLastError(), r.error);
  }

  PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()));
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(CertDuplicateCertificateContext(context), context);
  EXPECT_TRUE(CertFreeCertificateContext(context));
  EXPECT_EQ(context->cbCertEncoded, der.size());  // still held by the duplicate
  EXPECT_TRUE(CertFreeCertificateContext(context));
  EXPECT_FALSE(CertFreeCertificateContext(context));
  EXPECT_TRUE(CertFreeCertificateContext(nullptr));
  EXPECT_EQ(CertFindExtension(szOID_QC_STATEMENTS_EXT, 0, nullptr), nullptr);
}

TEST(RsaProvider, VerifiesALittleEndianPkcs1SignatureOverAHash) {
  const testpki::Kit& kit = testpki::Kit::standard();
  const Bytes data(3000, 'q');
  const Bytes signature = kit.sign("pkcs1", "rsa1024", data, {"--md", "sha1"});
  const Bytes little(signature.rbegin(), signature.rend());
  Context rsa(kit.certificate("rsa1024")), ec(kit.certificate("p256"));

  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0, ecKey = 0;
  ASSERT_TRUE(CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &rsa.context->pCertInfo->SubjectPublicKeyInfo,
                                       &key));
  EXPECT_FALSE(CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &ec.context->pCertInfo->SubjectPublicKeyInfo,
                                        &ecKey));
  EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_ALGID));

  struct {
    const char* what;
    Bytes signature;
    size_t split;  // the data is hashed in two pieces
    ALG_ID algorithm;
    bool valid;
  } rows[] = {
      {"valid", little, 1024, CALG_SHA1, true},
      {"big-endian", signature, 1024, CALG_SHA1, false},
      {"other hash", little, 1024, CALG_SHA_256, false},
      {"one bit flipped", [&] { Bytes b = little; b[5] ^= 0x10; return b; }(), 0, CALG_SHA1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, row.algorithm, 0, 0, &hash));
    ASSERT_TRUE(CryptHashData(hash, data.data(), static_cast<DWORD>(row.split), 0));
    ASSERT_TRUE(CryptHashData(hash, data.data() + row.split, static_cast<DWORD>(data.size() - row.split), 0));
    EXPECT_EQ(CryptVerifySignatureA(hash, row.signature.data(), static_cast<DWORD>(row.signature.size()), key,
                                    nullptr, 0) == TRUE,
              row.valid);
    if (!row.valid) {
      EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_SIGNATURE));
    }
    EXPECT_FALSE(CryptHashData(hash, data.data(), 1, 0));  // finished by the verification
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));
  }
  HCRYPTHASH hash = 0;
  EXPECT_FALSE(CryptCreateHash(provider, 0x1234, 0, 0, &hash));
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
  EXPECT_FALSE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash));
  EXPECT_FALSE(CryptReleaseContext(provider, 0));
  EXPECT_FALSE(CryptAcquireContextA(&provider, "container", nullptr, PROV_RSA_FULL, 0));
}

}  // namespace
