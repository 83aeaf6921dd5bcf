// Signature values of PDF signatures: PKCS#1 v1.5 RSA, PKCS#7 SignedData with
// RSA or ECDSA signers, over OpenSSL. Nothing is kept between calls.
//
// An RSA signature is accepted only when the whole recovered block is exactly
// the DER DigestInfo of the digest it names: a parser that stops after the
// DigestInfo would let garbage follow it, which with e = 3 keys allows forged
// signatures.
#include "certcheck/ReaderUtils.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "certcheck/Ecdsa.h"
#include "certcheck/OidText.h"
#include "foundation/util/VOQ_String.h"

namespace {

constexpr DWORD kValid = 0;
constexpr DWORD kBadInput = 0x80000001;
constexpr DWORD kUnsupported = 0x80000008;
constexpr DWORD kMismatch = 0x80050001;
constexpr DWORD kOddPlainValue = 0x80080010;

// The signature algorithms of a SignerInfo, tried in this order.
struct SignatureAlgorithm {
  const char* oid;
  bool ecdsa;
  bool plain;  // r||s unless the value has the DER shape
};
constexpr SignatureAlgorithm kSignatureAlgorithms[] = {
    {"1.2.840.10045.4.1", true, false},        {"1.2.840.10045.4.3.2", true, false},
    {"1.2.840.113549.1.1.1", false, false},    {"1.2.840.113549.1.1.5", false, false},
    {"1.2.840.113549.1.1.11", false, false},   {"1.3.36.3.3.1.2", false, false},
    {"1.3.36.3.3.2.5.4.1", true, false},       {"0.4.0.127.0.7.1.1.4.1.6", true, true},
};

// RIPEMD-160, SHA-256, SHA-1.
constexpr const char* kDigestAlgorithms[] = {"1.3.36.3.2.1", "2.16.840.1.101.3.4.2.1", "1.3.14.3.2.26"};
constexpr const char* kSha1 = "1.3.14.3.2.26";

const SignatureAlgorithm* findSignatureAlgorithm(const std::string& oid) {
  for (const SignatureAlgorithm& algorithm : kSignatureAlgorithms) {
    if (certcheck::oidMatches(oid, algorithm.oid)) return &algorithm;
  }
  return nullptr;
}

bool isListedDigest(const std::string& oid) {
  for (const char* digest : kDigestAlgorithms) {
    if (certcheck::oidMatches(oid, digest)) return true;
  }
  return false;
}

// Bytes OpenSSL allocated for an encoding.
struct FreeOpenSsl {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using OpenSslBytes = std::unique_ptr<unsigned char, FreeOpenSsl>;

struct FreeContext {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertificateContext = std::unique_ptr<const CERT_CONTEXT, FreeContext>;

CertificateContext decodeCertificate(const unsigned char* der, unsigned int length) {
  return CertificateContext(CertCreateCertificateContext(X509_ASN_ENCODING, der, length));
}

// The DER DigestInfo { algorithm md with NULL parameters, digest }.
std::vector<unsigned char> digestInfo(const EVP_MD* md, const unsigned char* digest, unsigned int digestLength) {
  std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> info(X509_SIG_new(), X509_SIG_free);
  if (!info) return {};
  X509_ALGOR* algorithm = nullptr;
  ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_getm(info.get(), &algorithm, &value);
  if (!X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) ||
      !ASN1_OCTET_STRING_set(value, digest, static_cast<int>(digestLength))) {
    return {};
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509_SIG(info.get(), &der);
  if (length <= 0) return {};
  std::vector<unsigned char> result(der, der + length);
  OPENSSL_free(der);
  return result;
}

// Which digests a DigestInfo may name.
enum class DigestRule { sha1Only, digestList };

// A PKCS#1 v1.5 RSA signature over the signed bytes for the key of the DER
// certificate. The DigestInfo's algorithm decides the digest (0x80000008 when
// the rule does not allow it); the recovered block must equal the DigestInfo
// re-encoded for that digest and the signed bytes' digest.
DWORD verifyRsa(const unsigned char* certificate, unsigned int certificateLength, const unsigned char* signedBytes,
                size_t signedLength, const unsigned char* signature, size_t signatureLength, DigestRule rule) {
  const unsigned char* p = certificate;
  std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificateLength)),
                                                   X509_free);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return kUnsupported;
  const int size = EVP_PKEY_get_size(key);
  if (size <= 0 || signatureLength != static_cast<size_t>(size)) return kMismatch;

  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key, nullptr),
                                                                     EVP_PKEY_CTX_free);
  std::vector<unsigned char> block(static_cast<size_t>(size));
  size_t blockLength = block.size();
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(context.get(), block.data(), &blockLength, signature, signatureLength) != 1) {
    return kMismatch;
  }
  const unsigned char* q = block.data();
  std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> info(d2i_X509_SIG(nullptr, &q, static_cast<long>(blockLength)),
                                                           X509_SIG_free);
  if (!info) return kMismatch;
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* ignored = nullptr;
  X509_SIG_get0(info.get(), &algorithm, &ignored);
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  const std::string oid = certcheck::oidText(object);
  const bool allowed = rule == DigestRule::sha1Only ? certcheck::oidMatches(oid, kSha1) : isListedDigest(oid);
  if (!allowed) return kUnsupported;

  const EVP_MD* md = certcheck::namedDigest(oid);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(signedBytes, signedLength, digest, &digestLength, md, nullptr) != 1) return kUnsupported;
  const std::vector<unsigned char> expected = digestInfo(md, digest, digestLength);
  if (expected.empty() || expected.size() != blockLength ||
      std::memcmp(expected.data(), block.data(), blockLength) != 0) {
    return kMismatch;
  }
  return kValid;
}

// r and s of a DER ECDSA-Sig-Value: exactly two non-negative INTEGERs.
bool parseDerSignature(const unsigned char* value, size_t length, std::vector<unsigned char>* r,
                       std::vector<unsigned char>* s) {
  const unsigned char* p = value + 2;
  const unsigned char* end = value + length;
  for (std::vector<unsigned char>* out : {r, s}) {
    std::unique_ptr<ASN1_INTEGER, decltype(&ASN1_INTEGER_free)> integer(
        d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(end - p)), ASN1_INTEGER_free);
    // A negative integer is no valid r or s; taking its magnitude would make
    // signatures malleable.
    if (!integer || ASN1_STRING_type(integer.get()) != V_ASN1_INTEGER) return false;
    const unsigned char* bytes = ASN1_STRING_get0_data(integer.get());
    out->assign(bytes, bytes + ASN1_STRING_length(integer.get()));
  }
  return p == end;
}

// r and s of an ECDSA value: DER when it has the DER shape (a short-form
// SEQUENCE over the whole value), else plain r||s where allowed.
DWORD ecdsaIntegers(const ASN1_OCTET_STRING* value, bool plainAllowed, std::vector<unsigned char>* r,
                    std::vector<unsigned char>* s) {
  const unsigned char* bytes = ASN1_STRING_get0_data(value);
  const size_t length = static_cast<size_t>(ASN1_STRING_length(value));
  if (length > 2 && bytes[0] == 0x30 && bytes[1] == length - 2) {
    return parseDerSignature(bytes, length, r, s) ? kValid : kUnsupported;
  }
  if (!plainAllowed) return kUnsupported;
  if (length % 2 != 0) return kOddPlainValue;
  r->assign(bytes, bytes + length / 2);
  s->assign(bytes + length / 2, bytes + length);
  return kValid;
}

// The ECDSA family of a SignerInfo.
DWORD verifyEcdsa(const SignatureAlgorithm& algorithm, const std::string& signatureOid,
                  const ASN1_OCTET_STRING* value, const CERT_CONTEXT& context, const unsigned char* signedBytes,
                  size_t signedLength) {
  std::vector<unsigned char> r, s;
  const DWORD read = ecdsaIntegers(value, algorithm.plain, &r, &s);
  if (read != kValid) return read;
  const DWORD keyBytes = context.pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData;
  if (keyBytes < 48 || keyBytes > 65) return kMismatch;
  if (signedLength > UINT_MAX) return kUnsupported;
  const int verified = verifyECDSASignature(r.data(), static_cast<unsigned int>(r.size()), s.data(),
                                            static_cast<unsigned int>(s.size()), signedBytes,
                                            static_cast<unsigned int>(signedLength), signatureOid.c_str(),
                                            context.pbCertEncoded, context.cbCertEncoded);
  return verified == 1 ? kValid : kMismatch;
}

using Pkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

// The PKCS#7 of the DER bytes and its only SignerInfo; 0 or the failure's code.
DWORD readSingleSigner(const unsigned char* signedData, unsigned int signedDataLength, Pkcs7* p7,
                       PKCS7_SIGNER_INFO** signerInfo) {
  if (signedDataLength > INT_MAX) return kBadInput;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(signedData, static_cast<int>(signedDataLength)),
                                                BIO_free);
  if (!bio) return kUnsupported;
  p7->reset(d2i_PKCS7_bio(bio.get(), nullptr));
  if (!*p7) return kBadInput;
  // A PDF's signature contents are padded with zero bytes after the DER;
  // anything else after it is no part of a signature.
  char* rest = nullptr;
  const long restLength = BIO_get_mem_data(bio.get(), &rest);
  if (restLength > 0 && std::any_of(rest, rest + restLength, [](char c) { return c != 0; })) return kBadInput;
  STACK_OF(PKCS7_SIGNER_INFO)* signerInfos = PKCS7_get_signer_info(p7->get());
  if (signerInfos == nullptr || sk_PKCS7_SIGNER_INFO_num(signerInfos) != 1) return kBadInput;
  *signerInfo = sk_PKCS7_SIGNER_INFO_value(signerInfos, 0);
  const PKCS7_SIGNER_INFO* si = *signerInfo;
  if (si == nullptr || si->digest_enc_alg == nullptr || si->digest_alg == nullptr || si->enc_digest == nullptr) {
    return kBadInput;
  }
  return kValid;
}

// The SignerInfo's certificate among the PKCS#7's, found by issuer and serial.
struct Signer {
  OpenSslBytes der;
  unsigned int derLength = 0;
  CertificateContext context;
};

// Reads the signer certificate, sets qualified from it and hands its DER back.
DWORD readSigner(PKCS7* p7, PKCS7_SIGNER_INFO* signerInfo, bool* qualified, VOQ_String* signerCertificate,
                 Signer* signer) {
  X509* cert = PKCS7_cert_from_signer_info(p7, signerInfo);
  if (cert == nullptr) return kBadInput;
  unsigned char* der = nullptr;
  const int derLength = i2d_X509(cert, &der);
  if (derLength <= 0) return kUnsupported;
  signer->der.reset(der);
  signer->derLength = static_cast<unsigned int>(derLength);
  signer->context = decodeCertificate(der, signer->derLength);
  if (!signer->context) return kUnsupported;
  if (qualified != nullptr) *qualified = hasQCStatements(signer->context.get());
  if (signerCertificate != nullptr) *signerCertificate = VOQ_String(signer->derLength, der);
  return kValid;
}

// The content carried inside the SignedData: null when it is detached, and
// 0x80000008 for content other than plain data, which is its own structure and
// never read as an octet string.
DWORD embeddedContent(PKCS7* p7, const ASN1_OCTET_STRING** content) {
  *content = nullptr;
  if (PKCS7_type_is_signed(p7) && PKCS7_get_detached(p7)) return kValid;
  const PKCS7* contents = p7->d.sign->contents;
  if (contents == nullptr || !PKCS7_type_is_data(contents) || contents->d.data == nullptr) return kUnsupported;
  *content = contents->d.data;
  return kValid;
}

bool sameBytes(const ASN1_OCTET_STRING* value, const unsigned char* bytes, size_t length) {
  return static_cast<size_t>(ASN1_STRING_length(value)) == length &&
         std::memcmp(ASN1_STRING_get0_data(value), bytes, length) == 0;
}

// The provider, hash and key handles of one CryptoAPI verification.
struct CryptoApiHandles {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  HCRYPTKEY key = 0;
  ~CryptoApiHandles() {
    if (hash) CryptDestroyHash(hash);
    if (key) CryptDestroyKey(key);
    if (provider) CryptReleaseContext(provider, 0);
  }
};

// An RSA signature over the content, through CryptoAPI: SHA-1 fed in
// 1024-byte blocks, the signature least significant byte first.
DWORD verifyContentRsa(const CERT_CONTEXT& context, const ASN1_OCTET_STRING* content,
                       const ASN1_OCTET_STRING* signature) {
  CryptoApiHandles handles;
  if (!CryptAcquireContextA(&handles.provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(handles.provider, CALG_SHA1, 0, 0, &handles.hash)) {
    return kUnsupported;
  }
  const unsigned char* bytes = ASN1_STRING_get0_data(content);
  const size_t length = static_cast<size_t>(ASN1_STRING_length(content));
  for (size_t at = 0; at < length; at += 1024) {
    const DWORD block = static_cast<DWORD>(std::min<size_t>(1024, length - at));
    if (!CryptHashData(handles.hash, bytes + at, block, 0)) return kUnsupported;
  }
  if (!CryptImportPublicKeyInfo(handles.provider, X509_ASN_ENCODING, &context.pCertInfo->SubjectPublicKeyInfo,
                                &handles.key)) {
    return kUnsupported;
  }
  const unsigned char* value = ASN1_STRING_get0_data(signature);
  std::vector<unsigned char> reversed(value, value + ASN1_STRING_length(signature));
  std::reverse(reversed.begin(), reversed.end());
  return CryptVerifySignatureA(handles.hash, reversed.data(), static_cast<DWORD>(reversed.size()), handles.key,
                               nullptr, 0)
             ? kValid
             : kMismatch;
}

// An integer of at most 24 bytes, left-padded to 24; false when it is longer.
bool p192Integer(std::vector<unsigned char>* value) {
  while (value->size() > 24 && value->front() == 0) value->erase(value->begin());
  if (value->size() > 24) return false;
  value->insert(value->begin(), 24 - value->size(), 0);
  return true;
}

// An ECDSA signature over the content's SHA-1 on P-192; the key's last 48
// bytes are x and y.
DWORD verifyContentP192(const CERT_CONTEXT& context, const ASN1_OCTET_STRING* content,
                        const ASN1_OCTET_STRING* signature) {
  const CRYPT_BIT_BLOB& key = context.pCertInfo->SubjectPublicKeyInfo.PublicKey;
  if (key.cbData < 48 || key.cbData > 50) return kMismatch;
  std::vector<unsigned char> r, s;
  const DWORD read = ecdsaIntegers(signature, true, &r, &s);
  if (read != kValid) return read;
  if (!p192Integer(&r) || !p192Integer(&s)) return kMismatch;
  if (initECDSAP192Domain() != 1) return kUnsupported;
  unsigned char hash[20];
  if (EVP_Digest(ASN1_STRING_get0_data(content), static_cast<size_t>(ASN1_STRING_length(content)), hash, nullptr,
                 EVP_sha1(), nullptr) != 1) {
    return kUnsupported;
  }
  const unsigned char* x = key.pbData + key.cbData - 48;
  return verifyECDSAP192(x, x + 24, hash, r.data(), s.data()) == 1 ? kValid : kMismatch;
}

}  // namespace

bool hasQCStatements(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr || certificate->pCertInfo == nullptr) return false;
  const CERT_INFO* info = certificate->pCertInfo;
  return CertFindExtension(szOID_QC_STATEMENTS_EXT, info->cExtension, info->rgExtension) != nullptr;
}

DWORD isQualifiedCertificate(const unsigned char* certificate, unsigned int certificateLength, bool* qualified) {
  if (qualified != nullptr) *qualified = false;
  if (certificate == nullptr || certificateLength == 0) return kBadInput;
  const CertificateContext context = decodeCertificate(certificate, certificateLength);
  if (!context) return kUnsupported;
  if (qualified != nullptr) *qualified = hasQCStatements(context.get());
  return kValid;
}

DWORD verifyPKCS1Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signature,
                           unsigned int signatureLength, const unsigned char* certificate,
                           unsigned int certificateLength, bool* qualified) {
  if (data == nullptr || signature == nullptr || certificate == nullptr || dataLength == 0 ||
      signatureLength == 0 || certificateLength == 0) {
    return kBadInput;
  }
  const CertificateContext context = decodeCertificate(certificate, certificateLength);
  if (!context) return kUnsupported;
  if (qualified != nullptr) *qualified = hasQCStatements(context.get());

  const CERT_PUBLIC_KEY_INFO& key = context->pCertInfo->SubjectPublicKeyInfo;
  if (std::strcmp(key.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0) {
    if (key.PublicKey.cbData < 48 || key.PublicKey.cbData > 50) return kMismatch;
    // Halves of an odd length would leave a byte outside r and s unchecked.
    if (signatureLength % 2 != 0) return kOddPlainValue;
    const unsigned int half = signatureLength / 2;
    return verifyECDSASignature(signature, half, signature + half, half, data, dataLength, "1.2.840.10045.4.1",
                                certificate, certificateLength) == 1
               ? kValid
               : kMismatch;
  }
  return verifyRsa(certificate, certificateLength, data, dataLength, signature, signatureLength,
                   DigestRule::sha1Only);
}

DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified) {
  return verifyPKCS7Signature(data, dataLength, signedData, signedDataLength, qualified, nullptr);
}

DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified, VOQ_String* signerCertificate) {
  if (signerCertificate != nullptr) signerCertificate->clear();
  if (data == nullptr || signedData == nullptr || dataLength == 0 || signedDataLength == 0) return kBadInput;
  Pkcs7 p7(nullptr, PKCS7_free);
  PKCS7_SIGNER_INFO* signerInfo = nullptr;
  const DWORD read = readSingleSigner(signedData, signedDataLength, &p7, &signerInfo);
  if (read != kValid) return read;

  const std::string signatureOid = certcheck::oidText(signerInfo->digest_enc_alg->algorithm);
  const SignatureAlgorithm* algorithm = findSignatureAlgorithm(signatureOid);
  if (algorithm == nullptr) return kUnsupported;
  const std::string digestOid = certcheck::oidText(signerInfo->digest_alg->algorithm);
  if (!isListedDigest(digestOid)) return kUnsupported;

  // With signed attributes, the attributes as received (a SET, in their order)
  // are what was signed, and the data's digest is in messageDigest.
  const unsigned char* signedBytes = data;
  size_t signedLength = dataLength;
  OpenSslBytes attributes;
  const ASN1_OCTET_STRING* messageDigest = nullptr;
  if (signerInfo->auth_attr != nullptr) {
    if (sk_X509_ATTRIBUTE_num(signerInfo->auth_attr) < 1) return kBadInput;
    unsigned char* encoded = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signerInfo->auth_attr), &encoded,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    if (length <= 0) return kUnsupported;
    attributes.reset(encoded);
    signedBytes = encoded;
    signedLength = static_cast<size_t>(length);
    const ASN1_TYPE* digestAttribute = PKCS7_get_signed_attribute(signerInfo, NID_pkcs9_messageDigest);
    if (digestAttribute == nullptr || digestAttribute->type != V_ASN1_OCTET_STRING) return kBadInput;
    messageDigest = digestAttribute->value.octet_string;
  }

  Signer signer;
  const DWORD found = readSigner(p7.get(), signerInfo, qualified, signerCertificate, &signer);
  if (found != kValid) return found;

  const DWORD checked =
      algorithm->ecdsa
          ? verifyEcdsa(*algorithm, signatureOid, signerInfo->enc_digest, *signer.context, signedBytes,
                        signedLength)
          : verifyRsa(signer.der.get(), signer.derLength, signedBytes, signedLength,
                      ASN1_STRING_get0_data(signerInfo->enc_digest),
                      static_cast<size_t>(ASN1_STRING_length(signerInfo->enc_digest)), DigestRule::digestList);
  if (checked != kValid) return checked;

  // Content carried inside must be the start of the data.
  const ASN1_OCTET_STRING* content = nullptr;
  const DWORD embedded = embeddedContent(p7.get(), &content);
  if (embedded != kValid) return embedded;
  if (content != nullptr) {
    const size_t contentLength = static_cast<size_t>(ASN1_STRING_length(content));
    if (contentLength > dataLength || !sameBytes(content, data, contentLength)) return kMismatch;
  }

  if (messageDigest != nullptr) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(data, dataLength, digest, &digestLength, certcheck::namedDigest(digestOid), nullptr) != 1) {
      return kUnsupported;
    }
    if (!sameBytes(messageDigest, digest, digestLength)) return kMismatch;
  }
  return kValid;
}

DWORD verifyPKCS7DigestSignature(const unsigned char* digest, unsigned int digestLength,
                                 const unsigned char* signedData, unsigned int signedDataLength, bool* qualified,
                                 VOQ_String* signerCertificate) {
  if (signerCertificate != nullptr) signerCertificate->clear();
  if (digest == nullptr || signedData == nullptr || digestLength == 0 || signedDataLength == 0) return kBadInput;
  Pkcs7 p7(nullptr, PKCS7_free);
  PKCS7_SIGNER_INFO* signerInfo = nullptr;
  const DWORD read = readSingleSigner(signedData, signedDataLength, &p7, &signerInfo);
  if (read != kValid) return read;
  Signer signer;
  const DWORD found = readSigner(p7.get(), signerInfo, qualified, signerCertificate, &signer);
  if (found != kValid) return found;
  const ASN1_OCTET_STRING* content = nullptr;
  const DWORD embedded = embeddedContent(p7.get(), &content);
  if (embedded != kValid) return embedded;
  if (content == nullptr) return kBadInput;

  const std::string keyOid = signer.context->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
  DWORD checked = kUnsupported;
  if (certcheck::oidMatches(keyOid, szOID_RSA_RSA)) {
    checked = verifyContentRsa(*signer.context, content, signerInfo->enc_digest);
  } else if (keyOid == szOID_ECC_PUBLIC_KEY) {
    checked = verifyContentP192(*signer.context, content, signerInfo->enc_digest);
  }
  if (checked != kValid) return checked;
  return sameBytes(content, digest, digestLength) ? kValid : kMismatch;
}

DWORD verifyPKCS7SHA1Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                               unsigned int signedDataLength, bool* qualified, VOQ_String* signerCertificate) {
  if (signerCertificate != nullptr) signerCertificate->clear();
  if (data == nullptr || dataLength == 0) return kBadInput;
  unsigned char digest[20];
  if (EVP_Digest(data, dataLength, digest, nullptr, EVP_sha1(), nullptr) != 1) return kUnsupported;
  return verifyPKCS7DigestSignature(digest, sizeof digest, signedData, signedDataLength, qualified,
                                    signerCertificate);
}
