#include "certcheck/RootImport.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct ContextFree {
  void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

std::vector<Certificate> certificatesOf(HCERTSTORE store) {
  std::vector<Certificate> all;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c))
    all.emplace_back(CertDuplicateCertificateContext(c));
  return all;
}

// True when `issuer` names and signed `subject`.
bool issuedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  return CertCompareCertificateName(X509_ASN_ENCODING, &subject->pCertInfo->Issuer, &issuer->pCertInfo->Subject) &&
         CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, subject->pbCertEncoded, subject->cbCertEncoded,
                                         &issuer->pCertInfo->SubjectPublicKeyInfo);
}

bool add(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  return CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_NEW, nullptr) ||
         GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
}

// The path as UTF-16, however long it is.
std::vector<WCHAR> widePath(const char* path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 0) return {};
  std::vector<WCHAR> wide(static_cast<size_t>(length));
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length) != length) return {};
  return wide;
}

}  // namespace

bool importCertificateBundle(const char* bundleFile) {
  if (bundleFile == nullptr) return false;
  const std::vector<WCHAR> path = widePath(bundleFile);
  if (path.empty()) return false;
  Store file(CertOpenStore(CERT_STORE_PROV_FILENAME_W, 0, 0, CERT_STORE_READONLY_FLAG, path.data()));
  if (!file) return false;
  Store root(CertOpenSystemStoreA(0, "Root"));
  Store ca(CertOpenSystemStoreA(0, "CA"));
  if (!root || !ca) return false;

  struct Candidate {
    Certificate certificate;
    bool fromBundle;
  };
  bool accepted = false;
  std::vector<Candidate> pending;
  for (Certificate& c : certificatesOf(file.get())) {
    if (issuedBy(c.get(), c.get()))
      accepted = add(root.get(), c.get()) || accepted;
    else
      pending.push_back({std::move(c), true});
  }
  // Intermediates already in "CA" may link a bundle's certificate to a root, but only
  // once they chain to one themselves.
  for (Certificate& c : certificatesOf(ca.get())) pending.push_back({std::move(c), false});
  // Issuers: the roots (those of other bundles too), then each certificate found to
  // chain, so that a chain root > intermediate > sub-intermediate arrives in any order.
  std::vector<Certificate> issuers = certificatesOf(root.get());
  for (bool progress = true; progress;) {
    progress = false;
    for (auto it = pending.begin(); it != pending.end();) {
      bool chains = false;
      for (const Certificate& issuer : issuers) chains = chains || issuedBy(it->certificate.get(), issuer.get());
      if (chains && (!it->fromBundle || add(ca.get(), it->certificate.get()))) {
        accepted = accepted || it->fromBundle;
        progress = true;
        issuers.push_back(std::move(it->certificate));
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  return accepted;
}
