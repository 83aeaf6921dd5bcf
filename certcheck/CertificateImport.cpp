#include "certcheck/CertificateImport.h"

#include <windows.h>
#include <wincrypt.h>

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstring>
#include <memory>
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

struct Entry {
  PCCERT_CONTEXT context;
  Certificate x509;
};

Certificate toX509(PCCERT_CONTEXT context) {
  const unsigned char* p = context->pbCertEncoded;
  return Certificate(d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded)));
}

std::vector<Entry> entriesOf(HCERTSTORE store) {
  std::vector<Entry> entries;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
    Certificate x = toX509(context);
    if (x) entries.push_back(Entry{CertDuplicateCertificateContext(context), std::move(x)});
  }
  return entries;
}

void release(std::vector<Entry>& entries) {
  for (Entry& e : entries) CertFreeCertificateContext(e.context);
  entries.clear();
}

// Issuer and subject name equal as DER, and the certificate's signature made by its own key.
bool isVerifiedSelfIssued(const Entry& e) {
  const CERT_INFO* info = e.context->pCertInfo;
  if (info->Issuer.cbData != info->Subject.cbData ||
      memcmp(info->Issuer.pbData, info->Subject.pbData, info->Issuer.cbData) != 0)
    return false;
  EVP_PKEY* key = X509_get0_pubkey(e.x509.get());
  return key && X509_verify(e.x509.get(), key) == 1;
}

// Adds the certificate; one that is already there counts as added.
bool add(HCERTSTORE store, PCCERT_CONTEXT context) {
  if (CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_NEW, nullptr)) return true;
  return GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
}

// Whether the certificate chains to a certificate of the user's Root store, over
// the file's other certificates and those of the CA store.
bool chainsToRoot(X509* certificate, HCERTSTORE root, HCERTSTORE ca, const std::vector<Entry>& file) {
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> trusted(X509_STORE_new(), X509_STORE_free);
  struct StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
  };
  std::unique_ptr<STACK_OF(X509), StackFree> others(sk_X509_new_null());
  if (!trusted || !others) return false;
  std::vector<Entry> roots = entriesOf(root);
  std::vector<Entry> cas = entriesOf(ca);
  for (const Entry& e : roots) X509_STORE_add_cert(trusted.get(), e.x509.get());
  for (const Entry& e : cas) sk_X509_push(others.get(), e.x509.get());
  for (const Entry& e : file) sk_X509_push(others.get(), e.x509.get());
  // Only the authority matters here; a validation checks the times when it builds a chain.
  X509_STORE_set_flags(trusted.get(), X509_V_FLAG_NO_CHECK_TIME);
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  bool chains = context && X509_STORE_CTX_init(context.get(), trusted.get(), certificate, others.get()) == 1 &&
                X509_verify_cert(context.get()) == 1;
  context.reset();
  release(roots);
  release(cas);
  return chains;
}

}  // namespace

bool importCertificateBundle(const char* path) {
  Store file(CertOpenStore(CERT_STORE_PROV_FILENAME_A, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, path));
  if (!file) return false;
  Store root(CertOpenSystemStoreA(0, "Root"));
  Store ca(CertOpenSystemStoreA(0, "CA"));
  if (!root || !ca) return false;
  std::vector<Entry> entries = entriesOf(file.get());
  int accepted = 0;
  std::vector<bool> done(entries.size(), false);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!isVerifiedSelfIssued(entries[i])) continue;
    done[i] = true;
    if (add(root.get(), entries[i].context)) ++accepted;
  }
  // Intermediates may come in any order: repeat while one more was accepted.
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (done[i] || !chainsToRoot(entries[i].x509.get(), root.get(), ca.get(), entries)) continue;
      done[i] = true;
      if (add(ca.get(), entries[i].context)) {
        ++accepted;
        progress = true;
      }
    }
  }
  release(entries);
  return accepted > 0;
}
