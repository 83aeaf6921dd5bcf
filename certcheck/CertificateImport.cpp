#include "certcheck/CertificateImport.h"

#include <windows.h>
#include <wincrypt.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

struct ContextFree {
  void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

struct Entry {
  Context context;
  Certificate x509;
};

// Every certificate of a store, read once.
std::vector<Entry> entriesOf(HCERTSTORE store) {
  std::vector<Entry> entries;
  if (!store) return entries;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
    const unsigned char* p = context->pbCertEncoded;
    Certificate x(d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded)));
    if (x) entries.push_back(Entry{Context(CertDuplicateCertificateContext(context)), std::move(x)});
  }
  return entries;
}

std::string thumbprint(PCCERT_CONTEXT context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(context->pbCertEncoded, context->cbCertEncoded, digest, &size, EVP_sha1(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// Self-signed: issuer and subject name equal as DER, and the signature made by its own key.
bool isSelfSigned(const Entry& e) {
  const CERT_INFO* info = e.context->pCertInfo;
  if (info->Issuer.cbData != info->Subject.cbData ||
      memcmp(info->Issuer.pbData, info->Subject.pbData, info->Issuer.cbData) != 0)
    return false;
  EVP_PKEY* key = X509_get0_pubkey(e.x509.get());
  return key && X509_verify(e.x509.get(), key) == 1;
}

bool isSelfIssued(const Entry& e) {
  const CERT_INFO* info = e.context->pCertInfo;
  return info->Issuer.cbData == info->Subject.cbData &&
         memcmp(info->Issuer.pbData, info->Subject.pbData, info->Issuer.cbData) == 0;
}

// A store of the user and the certificates it holds (by thumbprint), so that
// a certificate already there is never added again; its certificates are read
// once, for the import's rules as well.
class Target {
 public:
  explicit Target(const char* name) : store_(CertOpenSystemStoreA(0, name)), entries_(entriesOf(store_.get())) {
    for (const Entry& e : entries_) present_.insert(thumbprint(e.context.get()));
  }
  bool isOpen() const { return store_ != nullptr; }
  const std::vector<Entry>& entries() const { return entries_; }

  // True when the certificate is in the store afterwards.
  bool put(PCCERT_CONTEXT context) {
    const std::string key = thumbprint(context);
    if (present_.count(key)) return true;
    const bool added = CertAddCertificateContextToStore(store_.get(), context, CERT_STORE_ADD_NEW, nullptr) ||
                       GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
    if (added) present_.insert(key);
    return added;
  }

 private:
  Store store_;
  std::vector<Entry> entries_;
  std::unordered_set<std::string> present_;
};

// Certificates found by their subject name (its canonical hash).
class NameIndex {
 public:
  void add(X509* x) { bySubject_.emplace(X509_subject_name_hash(x), x); }
  // The certificates that may have issued x, at most `limit` of them.
  template <typename Visit>
  void issuersOf(X509* x, size_t limit, Visit visit) const {
    auto range = bySubject_.equal_range(X509_issuer_name_hash(x));
    for (auto it = range.first; it != range.second && limit > 0; ++it, --limit) visit(it->second);
  }

 private:
  std::unordered_multimap<unsigned long, X509*> bySubject_;
};

// How far the search for a chain looks: hops above the certificate, and
// candidates per name. A bundle may hold many certificates of one name; a chain
// never needs that many, and the bounds keep each certificate's work small.
const int kMaxDepth = 8;
const size_t kCandidatesPerName = 8;

struct StackFree {
  void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};
using Stack = std::unique_ptr<STACK_OF(X509), StackFree>;

// Whether the certificate chains to one of the anchors, over the other
// certificates known, by OpenSSL's verification (signatures, CA flags, path
// lengths). Only the certificates whose names can be on the way are handed to
// it, so each certificate costs the same however large the bundle.
bool chainsToAnchor(X509* certificate, const NameIndex& anchors, const NameIndex& others, X509_STORE* empty) {
  Stack trusted(sk_X509_new_null());
  Stack untrusted(sk_X509_new_null());
  if (!trusted || !untrusted) return false;
  std::unordered_set<X509*> seen{certificate};
  std::vector<X509*> level{certificate};
  for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
    std::vector<X509*> next;
    for (X509* x : level) {
      anchors.issuersOf(x, kCandidatesPerName, [&](X509* anchor) {
        if (seen.insert(anchor).second) sk_X509_push(trusted.get(), anchor);
      });
      others.issuersOf(x, kCandidatesPerName, [&](X509* candidate) {
        if (!seen.insert(candidate).second) return;
        sk_X509_push(untrusted.get(), candidate);
        next.push_back(candidate);
      });
    }
    level.swap(next);
  }
  if (sk_X509_num(trusted.get()) == 0) return false;
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  if (!context || X509_STORE_CTX_init(context.get(), empty, certificate, untrusted.get()) != 1) return false;
  X509_STORE_CTX_set0_trusted_stack(context.get(), trusted.get());
  // Only the authority matters here; a validation checks the times when it builds a chain.
  X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_NO_CHECK_TIME);
  return X509_verify_cert(context.get()) == 1;
}

}  // namespace

bool importCertificateBundle(const char* path) {
  if (!path) return false;
  Store file(CertOpenStore(CERT_STORE_PROV_FILENAME_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, path));
  if (!file) return false;
  Target root("Root");
  Target ca("CA");
  if (!root.isOpen() || !ca.isOpen()) return false;

  // Each store is read once: the anchors are the Root stores of the user and
  // the machine, the way to them leads over the CA stores and the file.
  NameIndex anchors, others;
  for (const Entry& e : root.entries()) anchors.add(e.x509.get());
  for (const Entry& e : ca.entries()) others.add(e.x509.get());
  std::vector<Entry> machine;
  for (const char* name : {"Root", "CA"}) {
    Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, name));
    for (Entry& e : entriesOf(store.get())) {
      (strcmp(name, "Root") == 0 ? anchors : others).add(e.x509.get());
      machine.push_back(std::move(e));
    }
  }
  std::vector<Entry> entries = entriesOf(file.get());
  for (const Entry& e : entries) others.add(e.x509.get());

  size_t accepted = 0, failed = 0;
  auto place = [&](Target& target, const Entry& e) { target.put(e.context.get()) ? ++accepted : ++failed; };
  // Roots: self-signed certificates that are CAs as OpenSSL judges them (a
  // version 1 root without extensions counts).
  for (const Entry& e : entries) {
    if (!isSelfSigned(e) || X509_check_ca(e.x509.get()) == 0) continue;
    place(root, e);
    anchors.add(e.x509.get());
  }
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> empty(X509_STORE_new(), X509_STORE_free);
  if (!empty) return false;
  // The others: into "CA" when they chain to a root; self-issued ones are roots or nothing.
  for (const Entry& e : entries) {
    if (isSelfIssued(e) || !chainsToAnchor(e.x509.get(), anchors, others, empty.get())) continue;
    place(ca, e);
  }
  return accepted > 0 && failed == 0;
}
