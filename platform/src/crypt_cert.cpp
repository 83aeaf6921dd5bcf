// Certificate contexts: a DER certificate decoded with OpenSSL into the
// CERT_INFO fields, all held by one block per context.
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

struct CertificateBlock {
  CERT_CONTEXT context{};
  CERT_INFO info{};
  int references = 1;
  // The storage the fields point into; a deque keeps its elements in place.
  std::deque<std::vector<BYTE>> bytes;
  std::deque<std::string> texts;
  std::vector<CERT_EXTENSION> extensions;

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

std::mutex blocksLock;
std::map<const CERT_CONTEXT*, std::unique_ptr<CertificateBlock>> blocks;

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

void setBits(CertificateBlock& block, CRYPT_BIT_BLOB* blob, const ASN1_BIT_STRING* bits) {
  if (bits == nullptr) return;
  blob->cbData = static_cast<DWORD>(ASN1_STRING_length(bits));
  blob->pbData = block.keep(ASN1_STRING_get0_data(bits), blob->cbData);
  blob->cUnusedBits = (bits->flags & ASN1_STRING_FLAG_BITS_LEFT) ? static_cast<DWORD>(bits->flags & 0x07) : 0;
}

void setAlgorithm(CertificateBlock& block, CRYPT_ALGORITHM_IDENTIFIER* algorithm, const X509_ALGOR* from) {
  const ASN1_OBJECT* object = nullptr;
  int type = V_ASN1_UNDEF;
  const void* value = nullptr;
  X509_ALGOR_get0(&object, &type, &value, from);
  algorithm->pszObjId = block.keepOid(object);
  block.setBlob(&algorithm->Parameters, parameters(type, value));
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
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  std::vector<BYTE> serialBytes(ASN1_STRING_get0_data(serial), ASN1_STRING_get0_data(serial) + ASN1_STRING_length(serial));
  if (!serialBytes.empty() && (serialBytes.front() & 0x80)) serialBytes.insert(serialBytes.begin(), 0);
  std::vector<BYTE> little(serialBytes.rbegin(), serialBytes.rend());
  block->setBlob(&info.SerialNumber, std::move(little));
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

  const int count = X509_get_ext_count(cert);
  block->extensions.resize(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION* from = X509_get_ext(cert, i);
    CERT_EXTENSION& to = block->extensions[static_cast<size_t>(i)];
    to.pszObjId = block->keepOid(X509_EXTENSION_get_object(from));
    to.fCritical = X509_EXTENSION_get_critical(from) ? TRUE : FALSE;
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(from);
    to.Value.cbData = static_cast<DWORD>(ASN1_STRING_length(value));
    to.Value.pbData = block->keep(ASN1_STRING_get0_data(value), to.Value.cbData);
  }
  info.cExtension = static_cast<DWORD>(block->extensions.size());
  info.rgExtension = block->extensions.empty() ? nullptr : block->extensions.data();
  return block;
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

}  // extern "C"
