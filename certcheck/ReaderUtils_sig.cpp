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

// What an RSA signature recovers: the DER DigestInfo and the digest it names.
struct RsaDigestInfo {
  const EVP_MD* md = nullptr;
  std::vector<unsigned char> block;
};

// Recovers the PKCS#1 v1.5 block of an RSA signature with the key of the DER
// certificate and reads the digest its DigestInfo names (0x80000008 when the
// rule does not allow it). Nothing here depends on the signed bytes.
DWORD recoverRsa(const unsigned char* certificate, unsigned int certificateLength, const unsigned char* signature,
                 size_t signatureLength, DigestRule rule, RsaDigestInfo* recovered) {
  const unsigned char* p = certificate;
  std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificateLength)),
                                                   X509_free);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return kUnsupported;
  const int size = EVP_PKEY_get_size(key);
  if (size <= 0 || signatureLength != static_cast<size_t>(size)) return kMismatch;

  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key, nullptr),
                                                                     EVP_PKEY_CTX_free);
  std::vector<unsigned char>& block = recovered->block;
  block.assign(static_cast<size_t>(size), 0);
  size_t blockLength = block.size();
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(context.get(), block.data(), &blockLength, signature, signatureLength) != 1) {
    return kMismatch;
  }
  block.resize(blockLength);
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
  recovered->md = certcheck::namedDigest(oid);
  return kValid;
}

// The recovered block must equal the DigestInfo re-encoded for its digest and
// the signed bytes' digest.
DWORD matchDigestInfo(const RsaDigestInfo& recovered, const unsigned char* digest, unsigned int digestLength) {
  const std::vector<unsigned char> expected = digestInfo(recovered.md, digest, digestLength);
  if (expected.empty() || expected != recovered.block) return kMismatch;
  return kValid;
}

// A PKCS#1 v1.5 RSA signature over the signed bytes for the key of the DER
// certificate.
DWORD verifyRsa(const unsigned char* certificate, unsigned int certificateLength, const unsigned char* signedBytes,
                size_t signedLength, const unsigned char* signature, size_t signatureLength, DigestRule rule) {
  RsaDigestInfo recovered;
  const DWORD read = recoverRsa(certificate, certificateLength, signature, signatureLength, rule, &recovered);
  if (read != kValid) return read;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(signedBytes, signedLength, digest, &digestLength, recovered.md, nullptr) != 1) return kUnsupported;
  return matchDigestInfo(recovered, digest, digestLength);
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

// Everything a check decided from the value alone, and what it still has to
// compare with the data once they have all arrived. The steps run in the order
// the whole-data check runs them, so that the first failure is the same.
struct SignedDataCheck::Plan {
  bool pkcs7 = false;
  bool inputMissing = false;  // no value or no certificate: 0x80000001 like empty data
  DWORD early = kValid;       // the first failure found before the data count
  bool qualifiedRead = false;
  bool qualified = false;
  bool signerRead = false;
  VOQ_String signer;
  // The signature over the data themselves (a SignerInfo without signed attributes,
  // or a PKCS#1 value): none, RSA, or ECDSA.
  enum class Step { none, rsa, ecdsa } step = Step::none;
  RsaDigestInfo rsa;
  std::vector<unsigned char> r, s, ecdsaCertificate;
  DWORD embedded = kValid;
  bool hasContent = false;  // content carried inside must be the start of the data
  std::vector<unsigned char> content;
  bool contentDiffers = false;
  bool hasMessageDigest = false;
  std::vector<unsigned char> messageDigest;
  // The one digest of the data the checks need; null when none does.
  const EVP_MD* md = nullptr;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{nullptr, EVP_MD_CTX_free};
  bool digestFailed = false;
  unsigned long long total = 0;

  void startDigest(const EVP_MD* digest) {
    md = digest;
    context.reset(EVP_MD_CTX_new());
    digestFailed = !context || md == nullptr || EVP_DigestInit_ex(context.get(), md, nullptr) != 1;
  }
};

SignedDataCheck::SignedDataCheck() : plan(std::make_unique<Plan>()) {}
SignedDataCheck::SignedDataCheck(SignedDataCheck&&) noexcept = default;
SignedDataCheck& SignedDataCheck::operator=(SignedDataCheck&&) noexcept = default;
SignedDataCheck::~SignedDataCheck() = default;

SignedDataCheck SignedDataCheck::pkcs1(const unsigned char* signature, unsigned int signatureLength,
                                       const unsigned char* certificate, unsigned int certificateLength) {
  SignedDataCheck check;
  Plan& p = *check.plan;
  if (signature == nullptr || certificate == nullptr || signatureLength == 0 || certificateLength == 0) {
    p.inputMissing = true;
    return check;
  }
  const CertificateContext context = decodeCertificate(certificate, certificateLength);
  if (!context) {
    p.early = kUnsupported;
    return check;
  }
  p.qualifiedRead = true;
  p.qualified = hasQCStatements(context.get());

  const CERT_PUBLIC_KEY_INFO& key = context->pCertInfo->SubjectPublicKeyInfo;
  if (std::strcmp(key.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0) {
    if (key.PublicKey.cbData < 48 || key.PublicKey.cbData > 50) {
      p.early = kMismatch;
      return check;
    }
    // Halves of an odd length would leave a byte outside r and s unchecked.
    if (signatureLength % 2 != 0) {
      p.early = kOddPlainValue;
      return check;
    }
    const unsigned int half = signatureLength / 2;
    p.step = Plan::Step::ecdsa;
    p.r.assign(signature, signature + half);
    p.s.assign(signature + half, signature + signatureLength);
    p.ecdsaCertificate.assign(certificate, certificate + certificateLength);
    p.startDigest(certcheck::ecdsaDigest("1.2.840.10045.4.1"));
    return check;
  }
  p.early = recoverRsa(certificate, certificateLength, signature, signatureLength, DigestRule::sha1Only, &p.rsa);
  if (p.early != kValid) return check;
  p.step = Plan::Step::rsa;
  p.startDigest(p.rsa.md);
  return check;
}

SignedDataCheck SignedDataCheck::pkcs7(const unsigned char* signedData, unsigned int signedDataLength) {
  SignedDataCheck check;
  Plan& p = *check.plan;
  p.pkcs7 = true;
  if (signedData == nullptr || signedDataLength == 0) {
    p.inputMissing = true;
    return check;
  }
  Pkcs7 p7(nullptr, PKCS7_free);
  PKCS7_SIGNER_INFO* signerInfo = nullptr;
  p.early = readSingleSigner(signedData, signedDataLength, &p7, &signerInfo);
  if (p.early != kValid) return check;

  const std::string signatureOid = certcheck::oidText(signerInfo->digest_enc_alg->algorithm);
  const SignatureAlgorithm* algorithm = findSignatureAlgorithm(signatureOid);
  const std::string digestOid = certcheck::oidText(signerInfo->digest_alg->algorithm);
  if (algorithm == nullptr || !isListedDigest(digestOid)) {
    p.early = kUnsupported;
    return check;
  }

  // With signed attributes, the attributes as received (a SET, in their order)
  // are what was signed, and the data's digest is in messageDigest.
  OpenSslBytes attributes;
  size_t attributesLength = 0;
  if (signerInfo->auth_attr != nullptr) {
    if (sk_X509_ATTRIBUTE_num(signerInfo->auth_attr) < 1) {
      p.early = kBadInput;
      return check;
    }
    unsigned char* encoded = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signerInfo->auth_attr), &encoded,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    if (length <= 0) {
      p.early = kUnsupported;
      return check;
    }
    attributes.reset(encoded);
    attributesLength = static_cast<size_t>(length);
    const ASN1_TYPE* digestAttribute = PKCS7_get_signed_attribute(signerInfo, NID_pkcs9_messageDigest);
    if (digestAttribute == nullptr || digestAttribute->type != V_ASN1_OCTET_STRING) {
      p.early = kBadInput;
      return check;
    }
    const ASN1_OCTET_STRING* messageDigest = digestAttribute->value.octet_string;
    const unsigned char* bytes = ASN1_STRING_get0_data(messageDigest);
    p.hasMessageDigest = true;
    p.messageDigest.assign(bytes, bytes + ASN1_STRING_length(messageDigest));
  }

  Signer signer;
  p.early = readSigner(p7.get(), signerInfo, &p.qualified, &p.signer, &signer);
  if (p.early != kValid) return check;
  p.qualifiedRead = p.signerRead = true;

  const ASN1_OCTET_STRING* value = signerInfo->enc_digest;
  if (attributes) {
    p.early = algorithm->ecdsa
                  ? verifyEcdsa(*algorithm, signatureOid, value, *signer.context, attributes.get(), attributesLength)
                  : verifyRsa(signer.der.get(), signer.derLength, attributes.get(), attributesLength,
                              ASN1_STRING_get0_data(value), static_cast<size_t>(ASN1_STRING_length(value)),
                              DigestRule::digestList);
    if (p.early != kValid) return check;
  } else if (algorithm->ecdsa) {
    p.early = ecdsaIntegers(value, algorithm->plain, &p.r, &p.s);
    if (p.early != kValid) return check;
    const DWORD keyBytes = signer.context->pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData;
    if (keyBytes < 48 || keyBytes > 65) {
      p.early = kMismatch;
      return check;
    }
    p.step = Plan::Step::ecdsa;
    p.ecdsaCertificate.assign(signer.context->pbCertEncoded,
                              signer.context->pbCertEncoded + signer.context->cbCertEncoded);
    p.startDigest(certcheck::ecdsaDigest(signatureOid));
  } else {
    p.early = recoverRsa(signer.der.get(), signer.derLength, ASN1_STRING_get0_data(value),
                         static_cast<size_t>(ASN1_STRING_length(value)), DigestRule::digestList, &p.rsa);
    if (p.early != kValid) return check;
    p.step = Plan::Step::rsa;
    p.startDigest(p.rsa.md);
  }

  const ASN1_OCTET_STRING* content = nullptr;
  p.embedded = embeddedContent(p7.get(), &content);
  if (content != nullptr) {
    const unsigned char* bytes = ASN1_STRING_get0_data(content);
    p.hasContent = true;
    p.content.assign(bytes, bytes + ASN1_STRING_length(content));
  }
  if (p.hasMessageDigest && p.embedded == kValid) p.startDigest(certcheck::namedDigest(digestOid));
  return check;
}

void SignedDataCheck::update(const unsigned char* data, size_t length) {
  Plan& p = *plan;
  if (data == nullptr || length == 0) return;
  if (p.hasContent && !p.contentDiffers && p.total < p.content.size()) {
    const size_t n = std::min<size_t>(length, p.content.size() - static_cast<size_t>(p.total));
    if (std::memcmp(p.content.data() + p.total, data, n) != 0) p.contentDiffers = true;
  }
  p.total += length;
  if (p.md != nullptr && !p.digestFailed && EVP_DigestUpdate(p.context.get(), data, length) != 1) {
    p.digestFailed = true;
  }
}

DWORD SignedDataCheck::finish(bool* qualified, VOQ_String* signerCertificate) {
  Plan& p = *plan;
  if (p.pkcs7 && signerCertificate != nullptr) signerCertificate->clear();
  if (p.inputMissing || p.total == 0) return kBadInput;
  if (p.qualifiedRead && qualified != nullptr) *qualified = p.qualified;
  if (p.signerRead && signerCertificate != nullptr) *signerCertificate = p.signer;
  if (p.early != kValid) return p.early;

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  const bool digested =
      p.md != nullptr && !p.digestFailed && EVP_DigestFinal_ex(p.context.get(), digest, &digestLength) == 1;
  if (p.step == Plan::Step::rsa) {
    if (!digested) return kUnsupported;
    const DWORD matched = matchDigestInfo(p.rsa, digest, digestLength);
    if (matched != kValid) return matched;
  } else if (p.step == Plan::Step::ecdsa) {
    if (!digested ||
        verifyECDSADigest(p.r.data(), static_cast<unsigned int>(p.r.size()), p.s.data(),
                          static_cast<unsigned int>(p.s.size()), digest, digestLength, p.ecdsaCertificate.data(),
                          static_cast<unsigned int>(p.ecdsaCertificate.size())) != 1) {
      return kMismatch;
    }
  }
  if (p.embedded != kValid) return p.embedded;
  if (p.hasContent && (p.content.size() > p.total || p.contentDiffers)) return kMismatch;
  if (p.hasMessageDigest) {
    if (!digested) return kUnsupported;
    if (p.messageDigest.size() != digestLength || std::memcmp(p.messageDigest.data(), digest, digestLength) != 0) {
      return kMismatch;
    }
  }
  return kValid;
}

DWORD verifyPKCS1Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signature,
                           unsigned int signatureLength, const unsigned char* certificate,
                           unsigned int certificateLength, bool* qualified) {
  SignedDataCheck check = SignedDataCheck::pkcs1(signature, signatureLength, certificate, certificateLength);
  check.update(data, dataLength);
  return check.finish(qualified, nullptr);
}

DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified) {
  return verifyPKCS7Signature(data, dataLength, signedData, signedDataLength, qualified, nullptr);
}

DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified, VOQ_String* signerCertificate) {
  SignedDataCheck check = SignedDataCheck::pkcs7(signedData, signedDataLength);
  check.update(data, dataLength);
  return check.finish(qualified, signerCertificate);
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
