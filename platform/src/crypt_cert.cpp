// Certificate contexts: a DER certificate decoded with OpenSSL into the
// CERT_INFO fields, all held by one block per context.
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

// The storage a context's fields point into; a deque keeps its elements in place.
struct Storage {
  std::deque<std::vector<BYTE>> bytes;
  std::deque<std::string> texts;

  BYTE* keep(const unsigned char* data, size_t length) {
    bytes.emplace_back(data, data + length);
    return bytes.back().data();
  }
  void setBlob(CRYPT_DATA_BLOB* blob, std::vector<BYTE> data) {
    bytes.push_back(std::move(data));
    blob->cbData = static_cast<DWORD>(bytes.back().size());
    blob->pbData = bytes.back().empty() ? nullptr : bytes.back().data();
  }
  LPSTR keepOid(const ASN1_OBJECT* object) {
    char buffer[256] = "";
    if (OBJ_obj2txt(buffer, sizeof buffer, object, 1) < 0) buffer[0] = 0;
    texts.emplace_back(buffer);
    return texts.back().data();
  }
};

struct CertificateBlock : Storage {
  CERT_CONTEXT context{};
  CERT_INFO info{};
  int references = 1;
  std::vector<CERT_EXTENSION> extensions;
};

struct CrlBlock : Storage {
  CRL_CONTEXT context{};
  CRL_INFO info{};
  int references = 1;
  std::vector<CRL_ENTRY> entries;
  std::deque<std::vector<CERT_EXTENSION>> extensions;
};

std::mutex blocksLock;
std::map<const CERT_CONTEXT*, std::unique_ptr<CertificateBlock>> blocks;
std::map<const CRL_CONTEXT*, std::unique_ptr<CrlBlock>> crlBlocks;

template <typename T, typename Encode>
std::vector<BYTE> encode(const T* value, Encode i2d) {
  std::vector<BYTE> out;
  const int length = value ? i2d(value, nullptr) : 0;
  if (length > 0) {
    out.resize(static_cast<size_t>(length));
    unsigned char* p = out.data();
    i2d(value, &p);
  }
  return out;
}

std::vector<BYTE> parameters(int type, const void* value) {
  if (type == V_ASN1_UNDEF) return {};
  std::unique_ptr<ASN1_TYPE, decltype(&ASN1_TYPE_free)> any(ASN1_TYPE_new(), ASN1_TYPE_free);
  if (!any || !ASN1_TYPE_set1(any.get(), type, value)) return {};
  return encode(any.get(), [](const ASN1_TYPE* a, unsigned char** p) { return i2d_ASN1_TYPE(a, p); });
}

FILETIME fileTime(const ASN1_TIME* time) {
  FILETIME result{};
  struct tm tm {};
  if (time == nullptr || !ASN1_TIME_to_tm(time, &tm)) return result;
  // Seconds since 1970 from the broken-down UTC time, then 100 ns ticks since 1601.
  const int64_t unixSeconds = static_cast<int64_t>(timegm(&tm));
  const uint64_t ticks = static_cast<uint64_t>(unixSeconds * 10000000LL + 116444736000000000LL);
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

void setBits(Storage& block, CRYPT_BIT_BLOB* blob, const ASN1_BIT_STRING* bits) {
  if (bits == nullptr) return;
  blob->cbData = static_cast<DWORD>(ASN1_STRING_length(bits));
  blob->pbData = block.keep(ASN1_STRING_get0_data(bits), blob->cbData);
  blob->cUnusedBits = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? static_cast<DWORD>(bits->flags & 0x07) : 0;
}

void setAlgorithm(Storage& block, CRYPT_ALGORITHM_IDENTIFIER* algorithm, const X509_ALGOR* from) {
  const ASN1_OBJECT* object = nullptr;
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(&object, &type, &value, from);
  algorithm->pszObjId = block.keepOid(object);
  block.setBlob(&algorithm->Parameters, parameters(type, value));
}

// An INTEGER's two's-complement octets, least significant first.
std::vector<BYTE> littleEndian(const ASN1_INTEGER* serial) {
  std::vector<BYTE> big(ASN1_STRING_get0_data(serial), ASN1_STRING_get0_data(serial) + ASN1_STRING_length(serial));
  if (!big.empty() && (big.front() & 0x80)) big.insert(big.begin(), 0);
  return std::vector<BYTE>(big.rbegin(), big.rend());
}

void setExtensions(Storage& block, std::vector<CERT_EXTENSION>& to, const STACK_OF(X509_EXTENSION) * from) {
  const int count = sk_X509_EXTENSION_num(from);
  to.resize(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION* extension = sk_X509_EXTENSION_value(from, i);
    CERT_EXTENSION& out = to[static_cast<size_t>(i)];
    out.pszObjId = block.keepOid(X509_EXTENSION_get_object(extension));
    out.fCritical = X509_EXTENSION_get_critical(extension) ? TRUE : FALSE;
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
    out.Value.cbData = static_cast<DWORD>(ASN1_STRING_length(value));
    out.Value.pbData = block.keep(ASN1_STRING_get0_data(value), out.Value.cbData);
  }
}

std::unique_ptr<CrlBlock> decodeCrl(const BYTE* der, DWORD length) {
  const unsigned char* p = der;
  std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(length)),
                                                          X509_CRL_free);
  if (!crl) return nullptr;
  auto block = std::make_unique<CrlBlock>();
  CRL_INFO& info = block->info;
  const size_t used = static_cast<size_t>(p - der);
  block->context.dwCertEncodingType = X509_ASN_ENCODING;
  block->context.pbCrlEncoded = block->keep(der, used);
  block->context.cbCrlEncoded = static_cast<DWORD>(used);
  block->context.pCrlInfo = &info;
  info.dwVersion = static_cast<DWORD>(X509_CRL_get_version(crl.get()));
  const X509_ALGOR* algorithm = nullptr;
  X509_CRL_get0_signature(crl.get(), nullptr, &algorithm);
  setAlgorithm(*block, &info.SignatureAlgorithm, algorithm);
  block->setBlob(&info.Issuer, encode(X509_CRL_get_issuer(crl.get()),
                                      [](const X509_NAME* n, unsigned char** out) { return i2d_X509_NAME(n, out); }));
  info.ThisUpdate = fileTime(X509_CRL_get0_lastUpdate(crl.get()));
  info.NextUpdate = fileTime(X509_CRL_get0_nextUpdate(crl.get()));
  STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
  const int count = sk_X509_REVOKED_num(revoked);
  block->entries.resize(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    const X509_REVOKED* from = sk_X509_REVOKED_value(revoked, i);
    CRL_ENTRY& to = block->entries[static_cast<size_t>(i)];
    block->setBlob(&to.SerialNumber, littleEndian(X509_REVOKED_get0_serialNumber(from)));
    to.RevocationDate = fileTime(X509_REVOKED_get0_revocationDate(from));
    block->extensions.emplace_back();
    setExtensions(*block, block->extensions.back(), X509_REVOKED_get0_extensions(from));
    to.cExtension = static_cast<DWORD>(block->extensions.back().size());
    to.rgExtension = block->extensions.back().empty() ? nullptr : block->extensions.back().data();
  }
  info.cCRLEntry = static_cast<DWORD>(block->entries.size());
  info.rgCRLEntry = block->entries.empty() ? nullptr : block->entries.data();
  block->extensions.emplace_back();
  setExtensions(*block, block->extensions.back(), X509_CRL_get0_extensions(crl.get()));
  info.cExtension = static_cast<DWORD>(block->extensions.back().size());
  info.rgExtension = block->extensions.back().empty() ? nullptr : block->extensions.back().data();
  return block;
}

std::unique_ptr<CertificateBlock> decode(const BYTE* der, DWORD length) {
  const unsigned char* p = der;
  std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &p, static_cast<long>(length)), X509_free);
  if (!x509) return nullptr;
  auto block = std::make_unique<CertificateBlock>();
  CERT_INFO& info = block->info;
  const size_t used = static_cast<size_t>(p - der);
  block->context.dwCertEncodingType = X509_ASN_ENCODING;
  block->context.pbCertEncoded = block->keep(der, used);
  block->context.cbCertEncoded = static_cast<DWORD>(used);
  block->context.pCertInfo = &info;

  X509* cert = x509.get();
  info.dwVersion = static_cast<DWORD>(X509_get_version(cert));
  // The serial's two's-complement octets, least significant first.
  block->setBlob(&info.SerialNumber, littleEndian(X509_get0_serialNumber(cert)));
  setAlgorithm(*block, &info.SignatureAlgorithm, X509_get0_tbs_sigalg(cert));
  auto name = [](const X509_NAME* n, unsigned char** out) { return i2d_X509_NAME(n, out); };
  block->setBlob(&info.Issuer, encode(X509_get_issuer_name(cert), name));
  block->setBlob(&info.Subject, encode(X509_get_subject_name(cert), name));
  info.NotBefore = fileTime(X509_get0_notBefore(cert));
  info.NotAfter = fileTime(X509_get0_notAfter(cert));

  const unsigned char* key = nullptr;
  int keyLength = 0;
  X509_ALGOR* keyAlgorithm = nullptr;
  if (!X509_PUBKEY_get0_param(nullptr, &key, &keyLength, &keyAlgorithm, X509_get_X509_PUBKEY(cert))) return nullptr;
  setAlgorithm(*block, &info.SubjectPublicKeyInfo.Algorithm, keyAlgorithm);
  info.SubjectPublicKeyInfo.PublicKey.cbData = static_cast<DWORD>(keyLength);
  info.SubjectPublicKeyInfo.PublicKey.pbData = block->keep(key, static_cast<size_t>(keyLength));

  const ASN1_BIT_STRING* issuerUid = nullptr;
  const ASN1_BIT_STRING* subjectUid = nullptr;
  X509_get0_uids(cert, &issuerUid, &subjectUid);
  setBits(*block, &info.IssuerUniqueId, issuerUid);
  setBits(*block, &info.SubjectUniqueId, subjectUid);

  setExtensions(*block, block->extensions, X509_get0_extensions(cert));
  info.cExtension = static_cast<DWORD>(block->extensions.size());
  info.rgExtension = block->extensions.empty() ? nullptr : block->extensions.data();
  return block;
}

// The key of a CERT_PUBLIC_KEY_INFO, rebuilt as a SubjectPublicKeyInfo and decoded.
std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(const CERT_PUBLIC_KEY_INFO& info) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> none(nullptr, EVP_PKEY_free);
  if (!info.Algorithm.pszObjId || !info.PublicKey.pbData || info.PublicKey.cbData == 0) return none;
  std::unique_ptr<X509_PUBKEY, decltype(&X509_PUBKEY_free)> spki(X509_PUBKEY_new(), X509_PUBKEY_free);
  ASN1_OBJECT* algorithm = OBJ_txt2obj(info.Algorithm.pszObjId, 1);
  if (!spki || !algorithm) {
    ASN1_OBJECT_free(algorithm);
    return none;
  }
  int parameterType = V_ASN1_UNDEF;
  void* parameter = nullptr;
  if (info.Algorithm.Parameters.cbData > 0) {
    const unsigned char* p = info.Algorithm.Parameters.pbData;
    std::unique_ptr<ASN1_TYPE, decltype(&ASN1_TYPE_free)> any(
        d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(info.Algorithm.Parameters.cbData)), ASN1_TYPE_free);
    if (any && any->type == V_ASN1_NULL) {
      parameterType = V_ASN1_NULL;
    } else if (any && any->type == V_ASN1_OBJECT) {
      parameterType = V_ASN1_OBJECT;
      parameter = OBJ_dup(any->value.object);
    } else if (any && any->type == V_ASN1_SEQUENCE) {
      parameterType = V_ASN1_SEQUENCE;
      parameter = ASN1_STRING_dup(any->value.sequence);
    } else {
      ASN1_OBJECT_free(algorithm);
      return none;
    }
  }
  unsigned char* bits = static_cast<unsigned char*>(OPENSSL_memdup(info.PublicKey.pbData, info.PublicKey.cbData));
  if (!bits || !X509_PUBKEY_set0_param(spki.get(), algorithm, parameterType, parameter, bits,
                                       static_cast<int>(info.PublicKey.cbData))) {
    OPENSSL_free(bits);
    ASN1_OBJECT_free(algorithm);
    if (parameterType == V_ASN1_OBJECT) ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(parameter));
    if (parameterType == V_ASN1_SEQUENCE) ASN1_STRING_free(static_cast<ASN1_STRING*>(parameter));
    return none;
  }
  const std::vector<BYTE> der = encode(spki.get(), [](const X509_PUBKEY* k, unsigned char** out) {
    return i2d_X509_PUBKEY(k, out);
  });
  const unsigned char* p = der.data();
  return std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>(
      der.empty() ? nullptr : d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size())), EVP_PKEY_free);
}

}  // namespace

extern "C" {

PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                   DWORD cbCertEncoded) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::unique_ptr<CertificateBlock> block =
      pbCertEncoded && cbCertEncoded ? decode(pbCertEncoded, cbCertEncoded) : nullptr;
  if (!block) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return nullptr;
  }
  const CERT_CONTEXT* context = &block->context;
  std::lock_guard<std::mutex> lock(blocksLock);
  blocks.emplace(context, std::move(block));
  return context;
}

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard<std::mutex> lock(blocksLock);
  auto it = blocks.find(pCertContext);
  if (it == blocks.end()) return nullptr;
  ++it->second->references;
  return pCertContext;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext == nullptr) return TRUE;
  std::unique_ptr<CertificateBlock> released;
  std::lock_guard<std::mutex> lock(blocksLock);
  auto it = blocks.find(pCertContext);
  if (it == blocks.end()) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  if (--it->second->references == 0) {
    released = std::move(it->second);
    blocks.erase(it);
  }
  return TRUE;
}

PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]) {
  if (pszObjId == nullptr || rgExtensions == nullptr) return nullptr;
  for (DWORD i = 0; i < cExtensions; ++i) {
    if (rgExtensions[i].pszObjId && std::string(rgExtensions[i].pszObjId) == pszObjId) return &rgExtensions[i];
  }
  SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return nullptr;
}

PCCRL_CONTEXT WINAPI CertCreateCRLContext(DWORD dwCertEncodingType, const BYTE* pbCrlEncoded, DWORD cbCrlEncoded) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::unique_ptr<CrlBlock> block = pbCrlEncoded && cbCrlEncoded ? decodeCrl(pbCrlEncoded, cbCrlEncoded) : nullptr;
  if (!block) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return nullptr;
  }
  const CRL_CONTEXT* context = &block->context;
  std::lock_guard<std::mutex> lock(blocksLock);
  crlBlocks.emplace(context, std::move(block));
  return context;
}

PCCRL_CONTEXT WINAPI CertDuplicateCRLContext(PCCRL_CONTEXT pCrlContext) {
  std::lock_guard<std::mutex> lock(blocksLock);
  auto it = crlBlocks.find(pCrlContext);
  if (it == crlBlocks.end()) return nullptr;
  ++it->second->references;
  return pCrlContext;
}

BOOL WINAPI CertFreeCRLContext(PCCRL_CONTEXT pCrlContext) {
  if (pCrlContext == nullptr) return TRUE;
  std::unique_ptr<CrlBlock> released;
  std::lock_guard<std::mutex> lock(blocksLock);
  auto it = crlBlocks.find(pCrlContext);
  if (it == crlBlocks.end()) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  if (--it->second->references == 0) {
    released = std::move(it->second);
    crlBlocks.erase(it);
  }
  return TRUE;
}

BOOL WINAPI CertFindCertificateInCRL(PCCERT_CONTEXT pCert, PCCRL_CONTEXT pCrlContext, DWORD /*dwFlags*/,
                                     void* /*pvReserved*/, PCRL_ENTRY* ppCrlEntry) {
  if (!pCert || !pCert->pCertInfo || !pCrlContext || !pCrlContext->pCrlInfo || !ppCrlEntry) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  *ppCrlEntry = nullptr;
  const CRYPT_INTEGER_BLOB& serial = pCert->pCertInfo->SerialNumber;
  const CRL_INFO& info = *pCrlContext->pCrlInfo;
  for (DWORD i = 0; i < info.cCRLEntry; ++i) {
    const CRYPT_INTEGER_BLOB& listed = info.rgCRLEntry[i].SerialNumber;
    if (listed.cbData == serial.cbData && (serial.cbData == 0 || std::memcmp(listed.pbData, serial.pbData, serial.cbData) == 0)) {
      *ppCrlEntry = &info.rgCRLEntry[i];
      break;
    }
  }
  return TRUE;
}

BOOL WINAPI CertCompareCertificateName(DWORD /*dwCertEncodingType*/, PCERT_NAME_BLOB pCertName1,
                                       PCERT_NAME_BLOB pCertName2) {
  if (!pCertName1 || !pCertName2) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  return pCertName1->cbData == pCertName2->cbData &&
         (pCertName1->cbData == 0 || std::memcmp(pCertName1->pbData, pCertName2->pbData, pCertName1->cbData) == 0);
}

BOOL WINAPI CryptVerifyCertificateSignature(HCRYPTPROV /*hCryptProv*/, DWORD /*dwCertEncodingType*/, const BYTE* pbEncoded,
                                            DWORD cbEncoded, PCERT_PUBLIC_KEY_INFO pPublicKey) {
  if (!pbEncoded || cbEncoded == 0 || !pPublicKey) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key = publicKey(*pPublicKey);
  if (!key) {
    ERR_clear_error();
    SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
    return FALSE;
  }
  int verified = -1;
  const unsigned char* p = pbEncoded;
  if (X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cbEncoded))) {
    verified = X509_verify(cert, key.get());
    X509_free(cert);
  } else {
    p = pbEncoded;
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(cbEncoded));
    if (!crl) {
      ERR_clear_error();
      SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
      return FALSE;
    }
    verified = X509_CRL_verify(crl, key.get());
    X509_CRL_free(crl);
  }
  ERR_clear_error();
  if (verified != 1) {
    SetLastError(static_cast<DWORD>(NTE_BAD_SIGNATURE));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
