#include "testbundle.h"

#include <memory>
#include <stdexcept>

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace testpki {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using NamePtr = std::unique_ptr<X509_NAME, Freer<X509_NAME, X509_NAME_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("testbundle: ") + what);
}

KeyPtr readKey(const std::string& path) {
  BioPtr bio(BIO_new_file(path.c_str(), "r"));
  check(bio != nullptr, "cannot open a key file");
  KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  check(key != nullptr, "cannot read a key file");
  return key;
}

NamePtr name(const std::vector<NameEntry>& entries) {
  NamePtr n(X509_NAME_new());
  for (const NameEntry& e : entries) {
    // A string type (not an MBSTRING_ flag) is kept as given.
    const int type = e.printable ? V_ASN1_PRINTABLESTRING : V_ASN1_UTF8STRING;
    X509_NAME_ENTRY* entry =
        X509_NAME_ENTRY_create_by_txt(nullptr, e.field.c_str(), type,
                                      reinterpret_cast<const unsigned char*>(e.value.data()), static_cast<int>(e.value.size()));
    check(entry != nullptr, "a name entry");
    const bool added = X509_NAME_add_entry(n.get(), entry, -1, 0) == 1;
    X509_NAME_ENTRY_free(entry);
    check(added, "adding a name entry");
  }
  return n;
}

Bytes der(X509* x) {
  unsigned char* out = nullptr;
  const int length = i2d_X509(x, &out);
  check(length > 0, "encoding a certificate");
  Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}

}  // namespace

std::vector<NameEntry> kitName(const std::string& commonName) {
  return {{"C", "AT", true}, {"O", "Quarvel Test"}, {"CN", commonName}};
}

Bytes makeCertificate(const CertificatePlan& plan) {
  KeyPtr subjectKey = readKey(plan.subjectKey);
  KeyPtr issuerKey = readKey(plan.issuerKey);
  X509Ptr x(X509_new());
  check(!plan.version1 || (!plan.ca && plan.extensions.empty()), "a version 1 certificate with extensions");
  check(x && X509_set_version(x.get(), plan.version1 ? X509_VERSION_1 : X509_VERSION_3), "a certificate");
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), plan.serial);
  NamePtr subject = name(plan.subject);
  NamePtr issuer = name(plan.issuer);
  check(X509_set_subject_name(x.get(), subject.get()) && X509_set_issuer_name(x.get(), issuer.get()), "names");
  ASN1_TIME_set_string(X509_getm_notBefore(x.get()), "20200101000000Z");
  ASN1_TIME_set_string(X509_getm_notAfter(x.get()), "20491231235959Z");
  check(X509_set_pubkey(x.get(), subjectKey.get()) == 1, "the public key");
  if (plan.ca) {
    X509_EXTENSION* bc = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "critical,CA:TRUE");
    check(bc && X509_add_ext(x.get(), bc, -1), "basic constraints");
    X509_EXTENSION_free(bc);
  }
  for (const auto& [extension, value] : plan.extensions) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, nullptr, x.get(), nullptr, nullptr, 0);
    X509_EXTENSION* made = X509V3_EXT_nconf(nullptr, &context, extension.c_str(), value.c_str());
    check(made && X509_add_ext(x.get(), made, -1), ("the extension " + extension).c_str());
    X509_EXTENSION_free(made);
  }
  check(X509_sign(x.get(), issuerKey.get(), EVP_sha256()) > 0, "signing");
  return der(x.get());
}

Bytes withBrokenSignature(Bytes certificate) {
  check(!certificate.empty(), "an empty certificate");
  certificate.back() ^= 0x01;  // the signature is the last element
  return certificate;
}

Bytes certsOnlyBundle(const std::vector<Bytes>& certificates) {
  std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>> p7(PKCS7_new());
  check(p7 && PKCS7_set_type(p7.get(), NID_pkcs7_signed) && PKCS7_content_new(p7.get(), NID_pkcs7_data), "a bundle");
  for (const Bytes& c : certificates) {
    const unsigned char* p = c.data();
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(c.size())));
    check(x && PKCS7_add_certificate(p7.get(), x.get()), "a certificate of the bundle");
  }
  unsigned char* out = nullptr;
  const int length = i2d_PKCS7(p7.get(), &out);
  check(length > 0, "encoding a bundle");
  Bytes bytes(out, out + length);
  OPENSSL_free(out);
  return bytes;
}

Bytes pemBundle(const Bytes& bundle) {
  const unsigned char* p = bundle.data();
  std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bundle.size())));
  BioPtr bio(BIO_new(BIO_s_mem()));
  check(p7 && bio && PEM_write_bio_PKCS7(bio.get(), p7.get()), "a PEM bundle");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return Bytes(data, data + length);
}

}  // namespace testpki
