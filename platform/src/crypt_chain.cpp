// The chain engine of CertGetCertificateChain: builds the chain of a
// certificate from the file-backed "Root" (trust anchors) and "CA"
// (intermediates) stores of the current user and the machine, plus the caller's
// additional store, checks each element at the given time, and with a
// revocation flag fetches each element's CRL from its distribution points over
// HTTP (directly, with time-outs and a size cap). A CRL counts only when its
// signature verifies with the issuer's key, its issuer is the certificate's
// issuer and its nextUpdate has not passed; an entry revokes only when its
// revocation date is not later than the chain's time. Missing intermediates are
// not fetched through the authority information access.
#include <sys/stat.h>

#include <curl/curl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypt_stores.h"
#include "platform/win_threads.h"
#include "wincrypt.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

Certificate decode(const unsigned char* der, size_t length) {
  const unsigned char* p = der;
  return Certificate(d2i_X509(nullptr, &p, static_cast<long>(length)));
}

// Store files read once and again only when they changed.
struct CachedFile {
  struct timespec modified = {};
  off_t size = -1;
  std::vector<Bytes> certificates;
};
std::mutex cacheLock;
std::map<std::string, CachedFile> cache;

std::vector<Bytes> storeCertificates(bool machine, const char* name) {
  const std::string path = platform::systemStoreFile(machine, name);
  struct stat info = {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  std::lock_guard<std::mutex> lock(cacheLock);
  CachedFile& cached = cache[path];
  if (!exists) {
    cached = CachedFile();
    return {};
  }
  if (cached.size != info.st_size || cached.modified.tv_sec != info.st_mtim.tv_sec ||
      cached.modified.tv_nsec != info.st_mtim.tv_nsec) {
    cached.certificates = platform::readStoreFile(path);
    cached.size = info.st_size;
    cached.modified = info.st_mtim;
  }
  return cached.certificates;
}

struct Candidate {
  Bytes der;
  Certificate x509;
  bool trusted;
};

struct ChainBlock {
  CERT_CHAIN_CONTEXT context = {};
  CERT_SIMPLE_CHAIN simple = {};
  PCERT_SIMPLE_CHAIN simples[1] = {};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> pointers;
};

std::mutex chainsLock;
std::map<const CERT_CHAIN_CONTEXT*, ChainBlock*> chains;

size_t gather(char* data, size_t size, size_t count, void* user) {
  std::string* out = static_cast<std::string*>(user);
  const size_t n = size * count;
  if (out->size() + n > (64u << 20)) return 0;  // the cap ends the transfer
  out->append(data, n);
  return n;
}

// The DER body of an http URL; false when it cannot be fetched.
bool fetch(const std::string& url, std::string& body) {
  CURL* easy = curl_easy_init();
  if (!easy) return false;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, gather);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  long status = 0;
  const bool ok = curl_easy_perform(easy) == CURLE_OK &&
                  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  curl_easy_cleanup(easy);
  return ok;
}

std::vector<std::string> distributionPoints(X509* certificate) {
  std::vector<std::string> urls;
  STACK_OF(DIST_POINT)* points =
      static_cast<STACK_OF(DIST_POINT)*>(X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr));
  for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
    DIST_POINT* point = sk_DIST_POINT_value(points, i);
    if (!point->distpoint || point->distpoint->type != 0) continue;
    GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int k = 0; k < sk_GENERAL_NAME_num(names); ++k) {
      GENERAL_NAME* name = sk_GENERAL_NAME_value(names, k);
      if (name->type != GEN_URI) continue;
      const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
      const std::string url(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                            static_cast<size_t>(ASN1_STRING_length(uri)));
      if (url.compare(0, 7, "http://") == 0 && url.find_first_of(std::string("\0\r\n ", 4)) == std::string::npos)
        urls.push_back(url);
    }
  }
  sk_DIST_POINT_pop_free(points, DIST_POINT_free);
  return urls;
}

// The revocation bits of one element whose issuer is known.
DWORD revocationStatus(X509* certificate, X509* issuer, time_t at) {
  const std::vector<std::string> urls = distributionPoints(certificate);
  if (urls.empty()) return CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
  for (const std::string& url : urls) {
    std::string body;
    if (!fetch(url, body)) continue;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(body.data());
    std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(body.size())),
                                                            X509_CRL_free);
    if (!crl) continue;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl.get());
    // X509_cmp_time answers 0 for a nextUpdate it cannot read: stale, as one that has passed.
    if (!key || X509_CRL_verify(crl.get(), key) != 1 ||
        X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_issuer_name(certificate)) != 0 || !next ||
        X509_cmp_time(next, nullptr) <= 0)
      continue;
    X509_REVOKED* entry = nullptr;
    if (X509_CRL_get0_by_serial(crl.get(), &entry, X509_get_serialNumber(certificate)) == 1 && entry) {
      // Revoked only from its revocation date on.
      time_t t = at;
      if (X509_cmp_time(X509_REVOKED_get0_revocationDate(entry), &t) <= 0) return CERT_TRUST_IS_REVOKED;
    }
    return 0;
  }
  return CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
}

bool selfIssued(X509* x) { return X509_NAME_cmp(X509_get_issuer_name(x), X509_get_subject_name(x)) == 0; }

bool sameDer(X509* a, const Bytes& der) {
  unsigned char* out = nullptr;
  const int n = i2d_X509(a, &out);
  const bool same = n > 0 && static_cast<size_t>(n) == der.size() && memcmp(out, der.data(), der.size()) == 0;
  OPENSSL_free(out);
  return same;
}

}  // namespace

extern "C" {

BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE /*hChainEngine*/, PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                                    HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara, DWORD dwFlags,
                                    LPVOID /*pvReserved*/, PCCERT_CHAIN_CONTEXT* ppChainContext) {
  if (ppChainContext) *ppChainContext = nullptr;
  if (!pCertContext || !pCertContext->pbCertEncoded || !pChainPara || pChainPara->cbSize < 16 || !ppChainContext) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  Certificate subject = decode(pCertContext->pbCertEncoded, pCertContext->cbCertEncoded);
  if (!subject) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return FALSE;
  }
  time_t at = time(nullptr);
  if (pTime) {
    const unsigned long long ticks = (static_cast<unsigned long long>(pTime->dwHighDateTime) << 32) | pTime->dwLowDateTime;
    at = static_cast<time_t>(ticks / 10000000ULL) - static_cast<time_t>(11644473600LL);
  }

  std::vector<Candidate> candidates;
  for (bool machine : {false, true})
    for (const Bytes& der : storeCertificates(machine, "Root"))
      if (Certificate x = decode(der.data(), der.size())) candidates.push_back({der, std::move(x), true});
  std::vector<Bytes> intermediates;
  for (bool machine : {false, true})
    for (const Bytes& der : storeCertificates(machine, "CA")) intermediates.push_back(der);
  if (hAdditionalStore) {
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(hAdditionalStore, c)) != nullptr)
      intermediates.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  }
  for (const Bytes& der : intermediates)
    if (Certificate x = decode(der.data(), der.size())) candidates.push_back({der, std::move(x), false});

  // The chain, the end certificate first.
  std::vector<X509*> chain{subject.get()};
  std::vector<bool> trusted{false};
  for (const Candidate& c : candidates)
    if (c.trusted && sameDer(subject.get(), c.der)) trusted[0] = true;
  DWORD chainError = 0;
  while (!trusted.back() && !selfIssued(chain.back())) {
    X509* current = chain.back();
    const Candidate* found = nullptr;
    for (const Candidate& c : candidates) {
      if (X509_NAME_cmp(X509_get_issuer_name(current), X509_get_subject_name(c.x509.get())) != 0) continue;
      EVP_PKEY* key = X509_get0_pubkey(c.x509.get());
      const bool signs = key && X509_verify(current, key) == 1;
      if (signs) {
        found = &c;
        break;
      }
      if (!found) found = &c;
    }
    if (!found) {
      chainError |= CERT_TRUST_IS_PARTIAL_CHAIN;
      break;
    }
    bool cyclic = false;
    for (X509* x : chain)
      if (X509_cmp(x, found->x509.get()) == 0) cyclic = true;
    if (cyclic || chain.size() >= 16) {
      chainError |= CERT_TRUST_IS_CYCLIC;
      break;
    }
    chain.push_back(found->x509.get());
    trusted.push_back(found->trusted);
  }

  auto block = std::make_unique<ChainBlock>();
  block->elements.resize(chain.size());
  const bool revocation = (dwFlags & (CERT_CHAIN_REVOCATION_CHECK_END_CERT | CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                                      CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT)) != 0;
  const bool complete = !(chainError & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC));
  for (size_t i = 0; i < chain.size(); ++i) {
    X509* x = chain[i];
    CERT_CHAIN_ELEMENT& element = block->elements[i];
    element.cbSize = sizeof element;
    DWORD error = 0, info = 0;
    time_t t = at;
    if (X509_cmp_time(X509_get0_notBefore(x), &t) > 0 || X509_cmp_time(X509_get0_notAfter(x), &t) < 0)
      error |= CERT_TRUST_IS_NOT_TIME_VALID;
    const bool last = i + 1 == chain.size();
    X509* issuer = last ? (selfIssued(x) ? x : nullptr) : chain[i + 1];
    if (issuer) {
      EVP_PKEY* key = X509_get0_pubkey(issuer);
      if (!key || X509_verify(x, key) != 1) error |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
      info |= CERT_TRUST_HAS_NAME_MATCH_ISSUER;
      if (issuer == x) info |= CERT_TRUST_IS_SELF_SIGNED;
    }
    if (i > 0) {
      // An issuing element must be a CA allowed to sign certificates, within its path length.
      if (X509_check_ca(x) < 1) error |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
      const long pathLength = X509_get_pathlen(x);
      if (pathLength >= 0 && static_cast<long>(i) - 1 > pathLength) error |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
      if ((X509_get_extension_flags(x) & EXFLAG_KUSAGE) && !(X509_get_key_usage(x) & KU_KEY_CERT_SIGN))
        error |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    }
    if (X509_get_extension_flags(x) & EXFLAG_CRITICAL) error |= CERT_TRUST_INVALID_EXTENSION;
    if (last && complete && !trusted[i]) error |= CERT_TRUST_IS_UNTRUSTED_ROOT;
    const bool checkThis = revocation && !last && ((dwFlags & (CERT_CHAIN_REVOCATION_CHECK_CHAIN |
                                                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT)) ||
                                                   i == 0);
    if (checkThis) error |= revocationStatus(x, chain[i + 1], at);
    element.TrustStatus.dwErrorStatus = error;
    element.TrustStatus.dwInfoStatus = info;
    chainError |= error;
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    element.pCertContext = CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(length > 0 ? length : 0));
    OPENSSL_free(der);
  }
  for (CERT_CHAIN_ELEMENT& e : block->elements) block->pointers.push_back(&e);
  block->simple.cbSize = sizeof block->simple;
  block->simple.TrustStatus.dwErrorStatus = chainError;
  block->simple.cElement = static_cast<DWORD>(block->elements.size());
  block->simple.rgpElement = block->pointers.data();
  block->simples[0] = &block->simple;
  block->context.cbSize = sizeof block->context;
  block->context.TrustStatus.dwErrorStatus = chainError;
  block->context.cChain = 1;
  block->context.rgpChain = block->simples;
  ChainBlock* made = block.release();
  {
    std::lock_guard<std::mutex> lock(chainsLock);
    chains[&made->context] = made;
  }
  *ppChainContext = &made->context;
  return TRUE;
}

VOID WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  if (!pChainContext) return;
  std::unique_ptr<ChainBlock> block;
  {
    std::lock_guard<std::mutex> lock(chainsLock);
    auto it = chains.find(pChainContext);
    if (it == chains.end()) return;
    block.reset(it->second);
    chains.erase(it);
  }
  for (CERT_CHAIN_ELEMENT& e : block->elements) CertFreeCertificateContext(e.pCertContext);
}

}  // extern "C"
