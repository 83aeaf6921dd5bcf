// The replies the certificate checks read from the network. The first byte
// chooses what the rest is:
//   0: an HTTP reply: its status line (up to the first line feed), its
//      Content-Length and the body after the header
//   1: an OCSP reply: the HTTP header is skipped, the DER response read and
//      taken apart as the validation does (status, basic response, responder
//      certificate, each single response's times)
//   2: a DER CRL, searched for a certificate and checked against its key
#include <windows.h>
#include <wincrypt.h>

#include <openssl/ec.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "certcheck/Download.h"
#include "certcheck/HttpTransport.h"
#include "certcheck/ReaderUtils.h"

namespace {

// A self-signed certificate made once, to search CRLs for.
struct Subject {
  X509* x509 = nullptr;
  PCCERT_CONTEXT context = nullptr;
  Subject() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    x509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 0x1001);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Fuzz"), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 86400);
    X509_set_pubkey(x509, key);
    X509_sign(x509, key, EVP_sha256());
    EVP_PKEY_free(key);
    unsigned char* der = nullptr;
    const int n = i2d_X509(x509, &der);
    context = CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(n));
    OPENSSL_free(der);
  }
};

void httpReply(const uint8_t* data, size_t size) {
  const uint8_t* end = static_cast<const uint8_t*>(memchr(data, '\n', size));
  const size_t lineLength = end ? static_cast<size_t>(end - data) + 1 : size;
  std::vector<char> line(data, data + lineLength);
  line.push_back(0);
  int status = 0;
  parseStatusLine(status, line.data());
  BIO* reply = BIO_new(BIO_s_mem());
  BIO_write(reply, data, static_cast<int>(size));
  std::string body;
  takeBody(reply, parseContentLength(reply), body);
  BIO_free(reply);
}

void ocspReply(const uint8_t* data, size_t size) {
  BIO* reply = BIO_new(BIO_s_mem());
  BIO_write(reply, data, static_cast<int>(size));
  skipHeader(reply);
  OCSP_RESPONSE* response = d2i_OCSP_RESPONSE_bio(reply, nullptr);
  BIO_free(reply);
  if (!response) return;
  OCSP_response_status(response);
  if (OCSP_BASICRESP* basic = OCSP_response_get1_basic(response)) {
    findResponderCertificate(const_cast<STACK_OF(X509)*>(OCSP_resp_get0_certs(basic)), basic);
    for (int i = 0; i < OCSP_resp_count(basic); ++i) {
      ASN1_GENERALIZEDTIME *revoked = nullptr, *thisUpdate = nullptr, *nextUpdate = nullptr;
      int reason = 0;
      OCSP_single_get0_status(OCSP_resp_get0(basic, i), &reason, &revoked, &thisUpdate, &nextUpdate);
      char text[64];
      if (revoked) asn1TimeToPDFDate(revoked, text);
      if (thisUpdate) OCSP_check_validity(thisUpdate, nextUpdate, 300, -1);
    }
    OCSP_BASICRESP_free(basic);
  }
  OCSP_RESPONSE_free(response);
}

void crl(const uint8_t* data, size_t size) {
  static const Subject subject;
  PCCRL_CONTEXT context = CertCreateCRLContext(X509_ASN_ENCODING, data, static_cast<DWORD>(size));
  if (!context) return;
  PCRL_ENTRY entry = nullptr;
  CertFindCertificateInCRL(subject.context, context, 0, nullptr, &entry);
  CertFreeCRLContext(context);
  const unsigned char* p = data;
  if (X509_CRL* parsed = d2i_X509_CRL(nullptr, &p, static_cast<long>(size))) {
    X509_CRL_verify(parsed, X509_get0_pubkey(subject.x509));
    X509_REVOKED* revoked = nullptr;
    X509_CRL_get0_by_serial(parsed, &revoked, X509_get_serialNumber(subject.x509));
    X509_CRL_free(parsed);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  switch (input[0] % 3) {
    case 0:
      httpReply(input + 1, size - 1);
      break;
    case 1:
      ocspReply(input + 1, size - 1);
      break;
    default:
      crl(input + 1, size - 1);
      break;
  }
  return 0;
}
