// What the network tests of the certificate checks share: the kit's TLS
// identity, trusting the kit's root in the user's Root store, short time-outs.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "certcheck/HttpTransport.h"
#include "testpki.h"

namespace certnet {

inline TlsIdentity kitTlsIdentity(const testpki::Kit& kit) {
  TlsIdentity identity;
  identity.certificateChainPem = readText(kit.path("tls.pem")) + readText(kit.path("int.pem"));
  identity.keyPem = readText(kit.path("tls.key"));
  return identity;
}

// Adds the DER certificate to a system store of the current user ("Root", "CA").
inline bool addToUserStore(const char* store, const testpki::Bytes& der) {
  HCERTSTORE s = CertOpenSystemStoreA(0, store);
  PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  const BOOL added = s && c && CertAddCertificateContextToStore(s, c, CERT_STORE_ADD_NEW, nullptr);
  CertFreeCertificateContext(c);
  CertCloseStore(s, 0);
  return added;
}

// The DER certificates of a system store of the current user.
inline std::vector<testpki::Bytes> userStore(const char* store) {
  std::vector<testpki::Bytes> out;
  HCERTSTORE s = CertOpenSystemStoreA(0, store);
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(s, c)) != nullptr)
    out.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
  CertCloseStore(s, 0);
  return out;
}

// A DER PKCS#7 certs-only bundle of the certificates.
inline std::string bundleOf(const std::vector<testpki::Bytes>& certificates) {
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, NID_pkcs7_signed);
  PKCS7_content_new(p7, NID_pkcs7_data);
  for (const testpki::Bytes& c : certificates) {
    const unsigned char* p = c.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(c.size()));
    PKCS7_add_certificate(p7, x);
    X509_free(x);
  }
  unsigned char* out = nullptr;
  const int n = i2d_PKCS7(p7, &out);
  std::string bytes(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  PKCS7_free(p7);
  return bytes;
}

// Short time-outs for the tests of silent peers; restored afterwards.
class ShortTimeouts {
 public:
  ShortTimeouts(unsigned connectMilliseconds = 1000, unsigned overallMilliseconds = 2000) : saved_(getHttpTimeouts()) {
    setHttpTimeouts(connectMilliseconds, overallMilliseconds);
  }
  ~ShortTimeouts() { setHttpTimeouts(saved_.connectMilliseconds, saved_.overallMilliseconds); }

 private:
  HttpTimeouts saved_;
};

}  // namespace certnet
