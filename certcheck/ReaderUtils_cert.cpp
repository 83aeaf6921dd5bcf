// Certificate validation: the signer's chain (from the platform's stores or
// from the viewer's trusted certificates) and its revocation status by OCSP or
// CRLs, directly or through the configured proxies.
//
// What is checked beyond a plain reading of the replies: the signer must be
// meant for signing (isMeantForSigning); an OCSP response must come from the
// issuer itself or from a responder the issuer delegated (id-kp-OCSPSigning,
// RFC 6960), else 0x8007000f; a CRL must be signed by the issuer's key, name the
// certificate's issuer and not be past its nextUpdate, else 0x8003000c; every
// TLS connection verifies its server.
#include <windows.h>
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/httperr.h>
#include <openssl/ocsp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "certcheck/Download.h"
#include "certcheck/HttpTransport.h"
#include "certcheck/ReaderUtils.h"
#include "certcheck/VOQ_ProxySettings.h"
#include "certcheck/VOQ_Time.h"

namespace {

const char* const kOcspMethod = "1.3.6.1.5.5.7.48.1";

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using RequestPtr = std::unique_ptr<OCSP_REQUEST, Deleter<OCSP_REQUEST, OCSP_REQUEST_free>>;
using ResponsePtr = std::unique_ptr<OCSP_RESPONSE, Deleter<OCSP_RESPONSE, OCSP_RESPONSE_free>>;
using BasicPtr = std::unique_ptr<OCSP_BASICRESP, Deleter<OCSP_BASICRESP, OCSP_BASICRESP_free>>;
using CertIdPtr = std::unique_ptr<OCSP_CERTID, Deleter<OCSP_CERTID, OCSP_CERTID_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using CrlPtr = std::unique_ptr<X509_CRL, Deleter<X509_CRL, X509_CRL_free>>;

void freeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
using X509StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509Stack>>;

struct ContextFree {
  void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using ContextPtr = std::unique_ptr<const CERT_CONTEXT, ContextFree>;
struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* c) const { CertFreeCertificateChain(c); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;
struct CrlContextFree {
  void operator()(const CRL_CONTEXT* c) const { CertFreeCRLContext(c); }
};
using CrlContextPtr = std::unique_ptr<const CRL_CONTEXT, CrlContextFree>;
struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};
using LocalBlock = std::unique_ptr<void, LocalFreer>;

X509Ptr toX509(const BYTE* der, DWORD length) {
  BioPtr bio(BIO_new_mem_buf(der, static_cast<int>(length)));
  return X509Ptr(bio ? d2i_X509_bio(bio.get(), nullptr) : nullptr);
}

std::string derOf(X509* x) {
  unsigned char* out = nullptr;
  const int n = i2d_X509(x, &out);
  std::string der(reinterpret_cast<char*>(out), n > 0 ? static_cast<size_t>(n) : 0);
  OPENSSL_free(out);
  return der;
}

// A wide URL as a text of its own: "" when it does not fit MAX_URL_LENGTH.
std::string ansiOf(LPCWSTR wide) {
  if (!wide) return "";
  size_t length = 0;
  while (wide[length] && length <= MAX_URL_LENGTH) ++length;
  if (length == 0 || length > MAX_URL_LENGTH) return "";
  char buffer[4 * (MAX_URL_LENGTH + 1)];
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), buffer, sizeof buffer - 1, nullptr, nullptr);
  if (n <= 0 || static_cast<size_t>(n) > MAX_URL_LENGTH) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

FILETIME validationFileTime(const VOQ_Time* validationTime) {
  VOQ_Time copy = validationTime ? *validationTime : VOQ_Time();
  return copy.getFileTime();
}

long long validationMilliseconds(const VOQ_Time* validationTime) {
  VOQ_Time copy = validationTime ? *validationTime : VOQ_Time();
  return copy.getMilliseconds();
}

bool buildChain(PCCERT_CONTEXT certificate, FILETIME* time, DWORD flags, ChainPtr& chain) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT context = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, time, nullptr, &para, flags, nullptr, &context)) return false;
  chain.reset(context);
  return context->cChain > 0;
}

// The OCSP address of the authority information access: 0 with `url` set, 0
// with `url` empty when there is no OCSP description, or a code.
DWORD ocspAddress(const CERT_EXTENSION* extension, std::string& url) {
  url.clear();
  DWORD size = 0;
  if (!CryptDecodeObject(X509_ASN_ENCODING, X509_AUTHORITY_INFO_ACCESS, extension->Value.pbData,
                         extension->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, &size))
    return 0x80090001;
  LocalBlock block(LocalAlloc(LPTR, size));
  if (!block) return 0x80090002;
  if (!CryptDecodeObject(X509_ASN_ENCODING, X509_AUTHORITY_INFO_ACCESS, extension->Value.pbData,
                         extension->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, block.get(), &size))
    return 0x80090002;
  const CERT_AUTHORITY_INFO_ACCESS* access = static_cast<const CERT_AUTHORITY_INFO_ACCESS*>(block.get());
  if (access->cAccDescr == 0) return 0x80090003;
  for (DWORD i = 0; i < access->cAccDescr; ++i) {
    const CERT_ACCESS_DESCRIPTION& d = access->rgAccDescr[i];
    // A location that is no URL (a directory name, ...) is skipped.
    if (!d.pszAccessMethod || strcmp(d.pszAccessMethod, kOcspMethod) != 0 ||
        d.AccessLocation.dwAltNameChoice != CERT_ALT_NAME_URL)
      continue;
    const LPCWSTR wide = d.AccessLocation.pwszURL;
    if (!wide || wide[0] == 0) return 0x80090004;
    url = ansiOf(wide);
    // Too long to send: no address that can be used.
    if (url.empty()) return 0x80070005;
    return 0;
  }
  return 0;
}

// Step b: the request for subject by issuer.
DWORD makeRequest(X509* subject, X509* issuer, RequestPtr& request, OCSP_CERTID** idOut) {
  request.reset(OCSP_REQUEST_new());
  if (!request) return 0x80070001;
  if (!OCSP_request_add1_nonce(request.get(), nullptr, -1)) return 0x80070002;
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, subject, issuer);
  if (!id) return 0x80070003;
  OCSP_CERTID* kept = OCSP_CERTID_dup(id);
  if (!kept || !OCSP_request_add0_id(request.get(), id)) {
    OCSP_CERTID_free(kept);
    OCSP_CERTID_free(id);
    return 0x80070004;
  }
  *idOut = kept;
  return 0;
}

// OpenSSL's own OCSP client on a direct HTTP connection, with the deadline.
OCSP_RESPONSE* sendDirect(HttpConnection& connection, const std::string& path, OCSP_REQUEST* request) {
  BIO* bio = connection.bio();
  if (!bio) return nullptr;
  OCSP_REQ_CTX* context = OCSP_sendreq_new(bio, path.c_str(), request, -1);
  if (!context) return nullptr;
  OSSL_HTTP_REQ_CTX_set_max_response_length(context, OCSP_REPLY_CAP);
  OCSP_RESPONSE* response = nullptr;
  for (;;) {
    const int r = OCSP_sendreq_nbio(&response, context);
    if (r != -1) break;
    if (!connection.wait(BIO_should_read(bio) != 0)) break;
  }
  OCSP_REQ_CTX_free(context);
  return response;
}

// Step c: the transport the proxy records and the URL's scheme choose.
OCSP_RESPONSE* transport(const std::string& url, const ParsedUrl& parts, OCSP_REQUEST* request,
                         VOQ_ProxySettings* http, VOQ_ProxySettings* https, DWORD* result) {
  if (http && https) {
    if (parts.ssl) {
      if (!https->isHostReachable()) {
        *result = 0x8007001d;
        return nullptr;
      }
      return sendOCSPRequestThroughHTTPSProxy(url.c_str(), parts.host.c_str(), parts.port.c_str(), request, https,
                                              result);
    }
    if (!http->isHostReachable()) {
      *result = 0x8007001c;
      return nullptr;
    }
    return sendOCSPRequestThroughHTTPProxy(url.c_str(), request, http, result);
  }
  HttpConnection connection;
  if (!connection.prepare(parts.host, parts.port)) {
    *result = 0x80070006;
    return nullptr;
  }
  if (!connection.connect()) {
    *result = 0x80070007;
    return nullptr;
  }
  OCSP_RESPONSE* response = parts.ssl
                                ? sendOCSPRequestOverSSL(connection, parts.host.c_str(), parts.path.c_str(), request)
                                : sendDirect(connection, parts.path, request);
  if (!response) *result = 0x80070008;
  return response;
}

// How the road at hand judges the responder certificate's own chain (0 or 0x8007000e/0x8007000f).
using ResponderCheck = DWORD (*)(X509* responder, void* data);

// Steps d to g. 0 (or 0x8007000f) for good; 0x80070014 when revoked at or
// before the validation time; `revokedLater` when revoked after it.
DWORD judgeResponse(OCSP_RESPONSE* response, OCSP_REQUEST* request, OCSP_CERTID* id, X509* issuer,
                    const VOQ_Time* validationTime, ResponderCheck responderCheck, void* data, bool& revokedLater) {
  revokedLater = false;
  DWORD result = 0;
  if (OCSP_response_status(response) != OCSP_RESPONSE_STATUS_SUCCESSFUL) return 0x80070009;
  BasicPtr basic(OCSP_response_get1_basic(response));
  if (!basic) return 0x8007000a;
  if (OCSP_check_nonce(request, basic.get()) <= 0) return 0x8007000b;
  X509StackPtr issuerOnly(sk_X509_new_null());
  StorePtr issuerStore(X509_STORE_new());
  if (!issuerOnly || !issuerStore || !X509_up_ref(issuer)) return 0x8007000c;
  sk_X509_push(issuerOnly.get(), issuer);
  X509_STORE_add_cert(issuerStore.get(), issuer);
  // The signature with the response's own certificates only: an answer that
  // carries none, the issuer's included, does not verify.
  if (OCSP_basic_verify(basic.get(), nullptr, issuerStore.get(), OCSP_NOVERIFY) <= 0) return 0x8007000c;

  X509* responder =
      findResponderCertificate(const_cast<STACK_OF(X509)*>(OCSP_resp_get0_certs(basic.get())), basic.get());
  if (!responder) return 0x8007000d;
  const DWORD chainCheck = responderCheck(responder, data);
  if (chainCheck == 0x8007000e) return chainCheck;
  if (chainCheck) result = 0x8007000f;
  // The responder's authority: the issuer itself, or a certificate the issuer
  // issued with id-kp-OCSPSigning. The issuer is the only anchor here.
  X509_STORE_set_flags(issuerStore.get(), X509_V_FLAG_PARTIAL_CHAIN);
  // No explicit-trust fallback: a self-signed issuer would otherwise vouch for any certificate it issued.
  if (OCSP_basic_verify(basic.get(), issuerOnly.get(), issuerStore.get(), OCSP_NOEXPLICIT) <= 0) result = 0x8007000f;
  ERR_clear_error();

  int status = -1, reason = 0;
  ASN1_GENERALIZEDTIME *revoked = nullptr, *thisUpdate = nullptr, *nextUpdate = nullptr;
  if (!OCSP_resp_find_status(basic.get(), id, &status, &reason, &revoked, &thisUpdate, &nextUpdate)) return 0x80070012;
  if (!OCSP_check_validity(thisUpdate, nextUpdate, 300, -1)) return 0x80070013;
  if (status == V_OCSP_CERTSTATUS_GOOD) return result;
  if (status != V_OCSP_CERTSTATUS_REVOKED) return 0x80070015;
  char text[64];
  if (!asn1TimeToPDFDate(revoked, text)) return 0x80070013;
  VOQ_Time revocation;
  try {
    revocation.parse(text, VOQ_Time::FORMAT_PDF);
  } catch (const VOQ_TimeException&) {
    return 0x80070013;
  }
  if (validationMilliseconds(validationTime) < revocation.getMilliseconds()) {
    revokedLater = true;
    return result;
  }
  return 0x80070014;
}

// Steps b to g for one pair.
DWORD checkOcsp(X509* subject, X509* issuer, const std::string& url, const VOQ_Time* validationTime,
                VOQ_ProxySettings* http, VOQ_ProxySettings* https, ResponderCheck responderCheck, void* data,
                bool& revokedLater) {
  RequestPtr request;
  OCSP_CERTID* rawId = nullptr;
  DWORD code = makeRequest(subject, issuer, request, &rawId);
  CertIdPtr id(rawId);
  if (code) return code;
  ParsedUrl parts;
  if (!splitUrl(url.c_str(), parts)) return 0x80070005;
  DWORD result = 0;
  ResponsePtr response(transport(url, parts, request.get(), http, https, &result));
  if (!response) return result;
  return judgeResponse(response.get(), request.get(), id.get(), issuer, validationTime, responderCheck, data,
                       revokedLater);
}

// The responder's chain on the CryptoAPI road: built now with status 0.
DWORD platformResponderCheck(X509* responder, void*) {
  const std::string der = derOf(responder);
  ContextPtr context(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                  reinterpret_cast<const BYTE*>(der.data()),
                                                  static_cast<DWORD>(der.size())));
  if (!context) return 0x8007000e;
  ChainPtr chain;
  if (!buildChain(context.get(), nullptr, 0, chain) || chain->TrustStatus.dwErrorStatus != 0) return 0x8007000f;
  return 0;
}

// The responder's chain on the trusted-certificates road: against the second store, now.
DWORD trustedStoreResponderCheck(X509* responder, void* data) {
  const std::string der = derOf(responder);
  return verifyWithTrustedStore(static_cast<X509_STORE*>(data), reinterpret_cast<const unsigned char*>(der.data()),
                                static_cast<unsigned int>(der.size()), nullptr, nullptr)
             ? 0x8007000f
             : 0;
}

// Whether a fetched CRL can be believed for the certificate: signed by the
// issuer's key, naming the certificate's issuer, and not past its nextUpdate.
bool crlIsTrustworthy(const std::string& der, PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer) {
  if (!issuer) return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  CrlPtr crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
  X509Ptr subject = toX509(certificate->pbCertEncoded, certificate->cbCertEncoded);
  X509Ptr signer = toX509(issuer->pbCertEncoded, issuer->cbCertEncoded);
  if (!crl || !subject || !signer) return false;
  EVP_PKEY* key = X509_get0_pubkey(signer.get());
  const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl.get());
  // X509_cmp_time answers 0 for a time it cannot read: such a CRL is stale, never fresh.
  return key && X509_CRL_verify(crl.get(), key) == 1 &&
         X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), X509_get_issuer_name(subject.get())) == 0 && next &&
         X509_cmp_time(next, nullptr) > 0;
}

// Decodes the CRL and searches it: 0, 0x8003000b, 0x8003000c, or `undecodable`.
DWORD searchCrl(const std::string& der, PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer, DWORD undecodable) {
  CrlContextPtr crl(CertCreateCRLContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                         reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
  if (!crl) return undecodable;
  if (!crlIsTrustworthy(der, certificate, issuer)) return 0x8003000c;
  PCRL_ENTRY entry = nullptr;
  if (!CertFindCertificateInCRL(certificate, crl.get(), 0, nullptr, &entry)) return 0x8003000c;
  return entry ? 0x8003000b : 0;
}

std::string ocspPost(const char* target, OCSP_REQUEST* request, const std::string& authorization, bool trailer,
                     bool& ok) {
  ok = false;
  unsigned char* der = nullptr;
  const int length = i2d_OCSP_REQUEST(request, &der);
  if (length <= 0) return "";
  std::string bytes = std::string("POST ") + target + " HTTP/1.0\r\n" + authorization +
                      "Content-Type: application/ocsp-request\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  bytes.append(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  if (trailer) bytes += "\r\n\r\n";
  ok = true;
  return bytes;
}

// The response after the header of a read reply.
OCSP_RESPONSE* responseOf(BIO* reply) {
  skipHeader(reply);
  return d2i_OCSP_RESPONSE_bio(reply, nullptr);
}

void raiseHttpError(int status) {
  ERR_raise_data(ERR_LIB_HTTP, HTTP_R_RECEIVED_ERROR, "Code=%d,Reason=%s", status, "not 200");
}

// Reads an OCSP reply: 0 with the response, or the code for the status line.
OCSP_RESPONSE* readOcspReply(HttpConnection& connection, DWORD* result) {
  BioPtr reply(BIO_new(BIO_s_mem()));
  if (!reply) return nullptr;
  int status = 0;
  switch (readReply(connection, reply.get(), OCSP_REPLY_CAP, &status)) {
    case ReplyOutcome::Ok:
      break;
    case ReplyOutcome::BadStatusLine:
      if (result) *result = 0x80070020;
      return nullptr;
    case ReplyOutcome::NotOk:
      raiseHttpError(status);
      if (result) *result = 0x8007001f;
      return nullptr;
    case ReplyOutcome::ReadFailed:
      return nullptr;
  }
  connection.shutdown();
  return responseOf(reply.get());
}

// A reply's outcome as the caller's code (0 for a reply to go on with).
DWORD replyCode(ReplyOutcome outcome, DWORD readFailed, DWORD badStatusLine, DWORD notOk) {
  switch (outcome) {
    case ReplyOutcome::Ok:
      return 0;
    case ReplyOutcome::ReadFailed:
      return readFailed;
    case ReplyOutcome::BadStatusLine:
      return badStatusLine;
    case ReplyOutcome::NotOk:
      return notOk;
  }
  return readFailed;
}

// A tunnel's outcome as the caller's code (0 for a tunnel to go on with).
DWORD tunnelCode(TunnelOutcome outcome, DWORD refused, DWORD connectFailed, DWORD readFailed, DWORD badStatusLine,
                 DWORD notOk, DWORD tlsFailed) {
  switch (outcome) {
    case TunnelOutcome::Ok:
      return 0;
    case TunnelOutcome::Refused:
      return refused;
    case TunnelOutcome::ConnectFailed:
      return connectFailed;
    case TunnelOutcome::ReadFailed:
      return readFailed;
    case TunnelOutcome::BadStatusLine:
      return badStatusLine;
    case TunnelOutcome::NotOk:
      return notOk;
    case TunnelOutcome::TlsFailed:
      return tlsFailed;
  }
  return refused;
}

// The extended key usages under which a certificate signs documents, compared whole.
const char* const kSigningUsages[] = {
    "2.5.29.37.0",              // anyExtendedKeyUsage
    "1.3.6.1.5.5.7.3.4",        // emailProtection
    "1.3.6.1.5.5.7.3.36",       // documentSigning
    "1.2.840.113583.1.1.5",     // the viewer maker's document signing
    "1.3.6.1.4.1.311.10.3.12",  // the platform's document signing
};

// An extension decoded as OpenSSL reads it. `present` tells whether the
// certificate carries it; the value is NULL when it is present but unreadable
// or there more than once.
template <typename T>
std::unique_ptr<T, void (*)(T*)> extensionOf(const X509* certificate, int nid, void (*free)(T*), bool& present) {
  int critical = -1;
  T* value = static_cast<T*>(X509_get_ext_d2i(certificate, nid, &critical, nullptr));
  present = critical != -1;
  return std::unique_ptr<T, void (*)(T*)>(value, free);
}

void freeUsages(EXTENDED_KEY_USAGE* usages) { sk_ASN1_OBJECT_pop_free(usages, ASN1_OBJECT_free); }

bool namesSigningUsage(const EXTENDED_KEY_USAGE* usages) {
  for (int i = 0; i < sk_ASN1_OBJECT_num(usages); ++i) {
    char text[256] = "";
    if (OBJ_obj2txt(text, sizeof text, sk_ASN1_OBJECT_value(usages, i), 1) <= 0) continue;
    for (const char* listed : kSigningUsages)
      if (strcmp(text, listed) == 0) return true;
  }
  return false;
}

// The chain status bit the platform's road adds for a signer not meant for signing.
DWORD usageStatus(const BYTE* der, DWORD length) {
  X509Ptr signer = toX509(der, length);
  return signer && isMeantForSigning(signer.get()) ? 0 : CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
}

}  // namespace

bool isMeantForSigning(X509* certificate) {
  if (!certificate) return false;
  bool present = false;
  auto keyUsage = extensionOf<ASN1_BIT_STRING>(certificate, NID_key_usage, ASN1_BIT_STRING_free, present);
  // Bit 0 digitalSignature, bit 1 nonRepudiation.
  if (present && (!keyUsage || (!ASN1_BIT_STRING_get_bit(keyUsage.get(), 0) &&
                                !ASN1_BIT_STRING_get_bit(keyUsage.get(), 1))))
    return false;
  auto usages = extensionOf<EXTENDED_KEY_USAGE>(certificate, NID_ext_key_usage, freeUsages, present);
  if (present && (!usages || !namesSigningUsage(usages.get()))) return false;
  auto constraints = extensionOf<BASIC_CONSTRAINTS>(certificate, NID_basic_constraints, BASIC_CONSTRAINTS_free, present);
  if (present && (!constraints || constraints->ca)) return false;
  return true;
}

bool isMaskSet(DWORD low, DWORD high, DWORD maskLow, DWORD maskHigh) {
  return (low & maskLow) == maskLow && (high & maskHigh) == maskHigh;
}

DWORD mapChainStatus(DWORD s) {
  if (s == 0) return 0;
  if (s & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED)) return 0x8004000b;
  if (s & (CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID)) return 0x80040003;
  if (s & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return 0x80030008;
  if (s & CERT_TRUST_IS_UNTRUSTED_ROOT) return 0x8003000d;
  if (s & (CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN)) return 0x80030006;
  if (s & CERT_TRUST_IS_REVOKED) return 0x8003000b;
  if (s & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) return 0x8003000c;
  if (s & (CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_INVALID_BASIC_CONSTRAINTS |
           CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT |
           CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT | CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT |
           CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY))
    return 0x80030009;
  if (s & CERT_TRUST_INVALID_EXTENSION) return 0x8003000a;
  if (s & CERT_TRUST_CTL_IS_NOT_TIME_VALID) return 0x8003000e;
  return 0x8004000c;
}

DWORD mapOpenSSLError(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return 0x8003000d;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
      return 0x8003000c;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
      return 0x80040003;
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_NO_ISSUER_PUBLIC_KEY:
      return 0x8004000a;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return 0x8004000b;
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
      return 0x8003000e;
    case X509_V_ERR_OUT_OF_MEM:
      return 0x80000007;
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return 0x80030001;
    case X509_V_ERR_CERT_REVOKED:
    case X509_V_ERR_CERT_REJECTED:
      return 0x8003000b;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
      return 0x80040004;
    case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
    case X509_V_ERR_AKID_SKID_MISMATCH:
    case X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH:
    case X509_V_ERR_APPLICATION_VERIFICATION:
      return 0x8004000c;
    case X509_V_ERR_INVALID_EXTENSION:
    case X509_V_ERR_INVALID_POLICY_EXTENSION:
    case X509_V_ERR_NO_EXPLICIT_POLICY:
      return 0x8003000a;
    default:
      return 0x80040000;
  }
}

bool fileTimeToUnixTime(const FILETIME& fileTime, unsigned long* out) {
  const unsigned long long ticks =
      (static_cast<unsigned long long>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  const long long seconds = static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
  if (seconds < 0 || seconds > 0xFFFFFFFFLL) return false;
  *out = static_cast<unsigned long>(seconds);
  return true;
}

DWORD verifyWithTrustedStore(X509_STORE* store, const unsigned char* certificate, unsigned int length,
                             const VOQ_Time* validationTime, STACK_OF(X509) * chainOut) {
  unsigned long seconds = 0;
  const FILETIME fileTime = validationFileTime(validationTime);
  if (!fileTimeToUnixTime(fileTime, &seconds)) seconds = 0;
  X509_VERIFY_PARAM* param = X509_VERIFY_PARAM_new();
  if (!param) return 0x80030001;
  X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(seconds));
  X509_STORE_set1_param(store, param);
  X509_VERIFY_PARAM_free(param);
  BioPtr bio(BIO_new_mem_buf(certificate, static_cast<int>(length)));
  X509Ptr x(bio ? d2i_X509_bio(bio.get(), nullptr) : nullptr);
  if (!x) return 0x80030002;
  std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>> context(X509_STORE_CTX_new());
  if (!context || !X509_STORE_CTX_init(context.get(), store, x.get(), nullptr)) return 0x80030001;
  if (X509_verify_cert(context.get()) <= 0) return static_cast<DWORD>(X509_STORE_CTX_get_error(context.get()));
  STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
  if (!chain) return 0x80030001;
  if (chainOut) {
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      X509* c = sk_X509_value(chain, i);
      if (!X509_up_ref(c)) return 0x80000008;
      if (!sk_X509_push(chainOut, c)) {
        X509_free(c);
        return 0x80000008;
      }
    }
  }
  return 0;
}

bool asn1TimeToPDFDate(const ASN1_GENERALIZEDTIME* time, char* buffer) {
  const char* bad = "Bad time value";
  const unsigned char* text = time ? ASN1_STRING_get0_data(time) : nullptr;
  const int length = time ? ASN1_STRING_length(time) : 0;
  bool ok = text && length >= 12;
  for (int i = 0; ok && i < 12; ++i) ok = text[i] >= '0' && text[i] <= '9';
  int v[6] = {};
  if (ok) {
    v[0] = (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
    for (int k = 1; k < 5; ++k) v[k] = (text[2 * k + 2] - '0') * 10 + (text[2 * k + 3] - '0');
    ok = v[1] >= 1 && v[1] <= 12;
  }
  if (!ok) {
    strcpy(buffer, bad);
    return false;
  }
  if (length >= 14 && text[12] >= '0' && text[12] <= '9' && text[13] >= '0' && text[13] <= '9')
    v[5] = (text[12] - '0') * 10 + (text[13] - '0');
  const char* zone = text[length - 1] == 'Z' ? "Z" : "+01'00'";
  _snprintf(buffer, 32, "D:%d%02d%02d%02d%02d%02d%s", v[0], v[1], v[2], v[3], v[4], v[5], zone);
  buffer[31] = 0;
  return true;
}

X509* findResponderCertificate(STACK_OF(X509) * certs, const OCSP_BASICRESP* response) {
  if (!certs || !response) return nullptr;
  const X509_NAME* name = nullptr;
  const ASN1_OCTET_STRING* keyHash = nullptr;
  if (!OCSP_resp_get0_id(response, &keyHash, &name)) return nullptr;
  if (name) return X509_find_by_subject(certs, const_cast<X509_NAME*>(name));
  if (!keyHash || ASN1_STRING_length(keyHash) != SHA_DIGEST_LENGTH) return nullptr;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* c = sk_X509_value(certs, i);
    unsigned char digest[SHA_DIGEST_LENGTH];
    unsigned int size = 0;
    if (X509_pubkey_digest(c, EVP_sha1(), digest, &size) && size == SHA_DIGEST_LENGTH &&
        memcmp(digest, ASN1_STRING_get0_data(keyHash), SHA_DIGEST_LENGTH) == 0)
      return c;
  }
  return nullptr;
}

void formatBits64(DWORD low, DWORD high, char* buffer) {
  const unsigned long long value = (static_cast<unsigned long long>(high) << 32) | low;
  char* p = buffer;
  for (int bit = 63; bit >= 0; --bit) {
    *p++ = (value >> bit) & 1 ? '1' : '0';
    // Blanks only between the groups: 71 characters and the NUL fill the 72 bytes.
    if (bit % 8 == 0 && bit > 0) *p++ = ' ';
  }
  *p = 0;
}

void clearTimeBitsWhenValidAt(PCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT certificate, const FILETIME& time) {
  if (!chain || !certificate) return;
  const CERT_INFO* info = certificate->pCertInfo;
  auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  if (ticks(time) >= ticks(info->NotBefore) && ticks(time) <= ticks(info->NotAfter))
    chain->TrustStatus.dwErrorStatus &= ~(CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED);
}

OCSP_RESPONSE* sendOCSPRequestThroughHTTPProxy(const char* url, OCSP_REQUEST* request, VOQ_ProxySettings* http,
                                               DWORD* result) {
  *result = 0x80070017;
  std::string authorization;
  if (!http || !isSafeUrl(url) || !proxyAuthorizationLine(*http, authorization)) return nullptr;
  HttpConnection connection;
  if (!connection.connect(*http)) {
    *result = 0x80070016;
    return nullptr;
  }
  bool encoded = false;
  const std::string bytes = ocspPost(url, request, authorization, false, encoded);
  if (!encoded || !connection.send(bytes)) return nullptr;
  return readOcspReply(connection, result);
}

OCSP_RESPONSE* sendOCSPRequestOverSSL(HttpConnection& connection, const char* host, const char* path,
                                      OCSP_REQUEST* request) {
  if (!connection.startTls(host)) return nullptr;
  bool encoded = false;
  const std::string bytes = ocspPost(path, request, "", true, encoded);
  if (!encoded || !connection.send(bytes)) return nullptr;
  return readOcspReply(connection, nullptr);
}

OCSP_RESPONSE* sendOCSPRequestThroughHTTPSProxy(const char* url, const char* host, const char* port,
                                                OCSP_REQUEST* request, VOQ_ProxySettings* https, DWORD* result) {
  *result = 0x80070018;
  if (!https || !isSafeUrl(url) || !host || !port) return nullptr;
  HttpConnection connection;
  const DWORD code = tunnelCode(openTunnel(connection, *https, host, port), 0x80070018, 0x80070019, 0x80070021,
                                0x80070020, 0x8007001a, 0x8007001b);
  if (code) {
    *result = code;
    return nullptr;
  }
  bool encoded = false;
  const std::string bytes = ocspPost(url, request, "", true, encoded);
  if (!encoded || !connection.send(bytes)) return nullptr;
  return readOcspReply(connection, result);
}

DWORD checkCRLThroughHTTPProxy(VOQ_ProxySettings* http, const char* url, PCCERT_CONTEXT certificate,
                               PCCERT_CONTEXT issuer) {
  std::string authorization;
  if (!isSafeUrl(url)) return 0x800b000a;
  if (!http || !proxyAuthorizationLine(*http, authorization)) return 0x800a0009;
  HttpConnection connection;
  if (!connection.connect(*http)) return 0x800a0009;
  if (!connection.send(std::string("GET ") + url + " HTTP/1.0\r\n" + authorization + "\r\n")) return 0x800a000a;
  BioPtr reply(BIO_new(BIO_s_mem()));
  if (!reply) return 0x800a000f;
  if (const DWORD code = replyCode(readReply(connection, reply.get(), CRL_REPLY_CAP, nullptr), 0x800a000a, 0x800a0010,
                                   0x800a0011))
    return code;
  // Without a Content-Length no byte of the body is taken: nothing that decodes.
  const int length = readContentLength(reply.get());
  if (length == 0) return 0x800a000e;
  std::string body;
  if (!takeBody(reply.get(), length, body)) return 0x800a000a;
  return searchCrl(body, certificate, issuer, 0x800a000e);
}

DWORD checkCRLThroughHTTPSProxy(const char* host, const char* port, VOQ_ProxySettings* https, const char* url,
                                PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer) {
  if (!isSafeUrl(url) || !isSafeUrl(host) || !isSafeUrl(port)) return 0x800b000a;
  if (!https) return 0x800b0002;
  HttpConnection connection;
  if (const DWORD code = tunnelCode(openTunnel(connection, *https, host, port), 0x800b0002, 0x800b0002, 0x800b0008,
                                    0x800b000b, 0x800b000c, 0x800b0005))
    return code;
  if (!connection.send(std::string("GET ") + url + " HTTP/1.0\r\n\r\n")) return 0x800b0008;
  BioPtr reply(BIO_new(BIO_s_mem()));
  if (!reply) return 0x800a000f;
  if (const DWORD code = replyCode(readReply(connection, reply.get(), CRL_REPLY_CAP, nullptr), 0x800b0008, 0x800b000b,
                                   0x800b000c))
    return code;
  connection.shutdown();
  std::string body;
  if (!takeBody(reply.get(), readContentLength(reply.get()), body)) return 0x800b0008;
  return searchCrl(body, certificate, issuer, 0x800b0009);
}

namespace {

// Step 5 with proxies: every CRL address of every element but the root.
// `usage` is the signer's own status bit (usageStatus).
DWORD checkCrls(PCCERT_CONTEXT certificate, FILETIME* time, VOQ_ProxySettings* http, VOQ_ProxySettings* https,
                DWORD usage) {
  ChainPtr chain;
  if (!buildChain(certificate, time, 0, chain)) return 0x80030001;
  if (const DWORD status = mapChainStatus(chain->TrustStatus.dwErrorStatus | usage)) return status;
  for (DWORD c = 0; c < chain->cChain; ++c) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
    for (DWORD e = 0; e + 1 < simple->cElement; ++e) {
      PCCERT_CONTEXT element = simple->rgpElement[e]->pCertContext;
      PCCERT_CONTEXT issuer = simple->rgpElement[e + 1]->pCertContext;
      const CERT_INFO* info = element->pCertInfo;
      const CERT_EXTENSION* extension = CertFindExtension(szOID_CRL_DIST_POINTS, info->cExtension, info->rgExtension);
      if (!extension) return 0x800a0003;
      DWORD size = 0;
      if (!CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_NOCOPY_FLAG, nullptr, &size))
        return 0x800a0004;
      LocalBlock block(LocalAlloc(LMEM_FIXED, size));
      if (!block) return 0x800a0005;
      if (!CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_NOCOPY_FLAG, block.get(), &size))
        return 0x800a0006;
      const CRL_DIST_POINTS_INFO* points = static_cast<const CRL_DIST_POINTS_INFO*>(block.get());
      if (points->cDistPoint == 0) return 0x800a0007;
      bool anyUrl = false;
      for (DWORD p = 0; p < points->cDistPoint; ++p) {
        const CRL_DIST_POINT& point = points->rgDistPoint[p];
        if (point.DistPointName.dwDistPointNameChoice != CRL_DIST_POINT_FULL_NAME) continue;
        const CERT_ALT_NAME_INFO& names = point.DistPointName.FullName;
        for (DWORD n = 0; n < names.cAltEntry; ++n) {
          const CERT_ALT_NAME_ENTRY& entry = names.rgAltEntry[n];
          if (entry.dwAltNameChoice != CERT_ALT_NAME_URL) continue;
          anyUrl = true;
          if (!entry.pwszURL || entry.pwszURL[0] == 0) return 0x800a0008;
          const std::string url = ansiOf(entry.pwszURL);
          if (!isSafeUrl(url.c_str())) return 0x800b000a;
          const std::string scheme = url.substr(0, url.find(':'));
          DWORD code = 0;
          if (url.find(':') != std::string::npos && scheme == "http") {
            if (!http->isHostReachable()) return 0x800a0002;
            code = checkCRLThroughHTTPProxy(http, url.c_str(), element, issuer);
          } else if (url.find(':') != std::string::npos && scheme == "https") {
            if (!https->isHostReachable()) return 0x800b0001;
            ParsedUrl parts;
            if (!splitUrl(url.c_str(), parts)) return 0x800b000a;
            code = checkCRLThroughHTTPSProxy(parts.host.c_str(), parts.port.c_str(), https, url.c_str(), element,
                                             issuer);
          } else {
            // Another scheme (or none): the platform's own revocation check.
            ChainPtr checked;
            if (!buildChain(certificate, time, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, checked))
              return 0x80030001;
            code = mapChainStatus(checked->TrustStatus.dwErrorStatus | usage);
          }
          if (code) return code;
        }
      }
      // Distribution points without a URL (directory or relative names only):
      // no CRL could be fetched, so the status is unknown, as on the direct road.
      if (!anyUrl) return 0x8003000c;
    }
  }
  return 0;
}

}  // namespace

DWORD validateCertificate(const unsigned char* certificate, unsigned int length, bool* qualified,
                          const VOQ_Time* validationTime, VOQ_ProxySettings* http, VOQ_ProxySettings* https) {
  OPENSSL_init_ssl(0, nullptr);
  if (!certificate || length == 0) return 0x80000002;
  ContextPtr context(CertCreateCertificateContext(X509_ASN_ENCODING, certificate, length));
  if (!context) return 0x8004000a;
  if (qualified) *qualified = hasQCStatements(context.get());
  if (!(http && https)) http = https = nullptr;
  FILETIME time = validationFileTime(validationTime);
  DWORD result = 0;
  // A signer not meant for signing makes its chain not valid for this usage.
  const DWORD usage = usageStatus(certificate, length);

  const CERT_INFO* info = context->pCertInfo;
  const CERT_EXTENSION* aia = CertFindExtension(szOID_AUTHORITY_INFO_ACCESS, info->cExtension, info->rgExtension);
  std::string url;
  if (aia) {
    if (const DWORD code = ocspAddress(aia, url)) return code;
  }
  if (!url.empty()) {
    ChainPtr chain;
    if (!buildChain(context.get(), &time, 0, chain)) return 0x80030001;
    if (const DWORD status = mapChainStatus(chain->TrustStatus.dwErrorStatus | usage)) return status;
    for (DWORD c = 0; c < chain->cChain; ++c) {
      const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
      if (simple->cElement < 2) return 0x8007001e;
      PCCERT_CONTEXT s = simple->rgpElement[0]->pCertContext;
      PCCERT_CONTEXT i = simple->rgpElement[1]->pCertContext;
      X509Ptr subject = toX509(s->pbCertEncoded, s->cbCertEncoded);
      X509Ptr issuer = toX509(i->pbCertEncoded, i->cbCertEncoded);
      if (!subject || !issuer) return 0x80070003;
      bool revokedLater = false;
      result = checkOcsp(subject.get(), issuer.get(), url, validationTime, http, https, platformResponderCheck, nullptr,
                         revokedLater);
      if (!revokedLater) return result;
    }
    // Every chain was revoked only after the validation time: the CRLs decide.
  }
  if (http && https) {
    const DWORD code = checkCrls(context.get(), &time, http, https, usage);
    return code ? code : result;
  }
  ChainPtr chain;
  if (!buildChain(context.get(), &time, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, chain)) return 0x80030001;
  const DWORD status = mapChainStatus(chain->TrustStatus.dwErrorStatus | usage);
  return status ? status : result;
}

DWORD validateCertificateWithTrustedCerts(STACK_OF(X509) * trustedCerts, const unsigned char* certificate,
                                          unsigned int length, bool* qualified, const VOQ_Time* validationTime,
                                          VOQ_ProxySettings* http, VOQ_ProxySettings* https) {
  OPENSSL_init_ssl(0, nullptr);
  if (!certificate || length == 0) return 0x80000002;
  ContextPtr context(CertCreateCertificateContext(X509_ASN_ENCODING, certificate, length));
  if (!context) return 0x8004000a;
  if (qualified) *qualified = hasQCStatements(context.get());
  if (!(http && https)) http = https = nullptr;

  StorePtr signerStore(X509_STORE_new());
  StorePtr responderStore(X509_STORE_new());
  if (!signerStore || !responderStore) return 0x80000007;
  // Critical extensions OpenSSL does not know are refused, never ignored: what
  // such an extension restricts would be left unchecked.
  for (X509_STORE* s : {signerStore.get(), responderStore.get()}) {
    for (int i = 0; i < sk_X509_num(trustedCerts); ++i) X509_STORE_add_cert(s, sk_X509_value(trustedCerts, i));
  }
  X509StackPtr chain(sk_X509_new_null());
  if (!chain) return 0x80000007;

  const CERT_INFO* info = context->pCertInfo;
  const CERT_EXTENSION* aia = CertFindExtension(szOID_AUTHORITY_INFO_ACCESS, info->cExtension, info->rgExtension);
  std::string url;
  if (aia) {
    if (const DWORD code = ocspAddress(aia, url)) return code;
  }
  if (const DWORD code = verifyWithTrustedStore(signerStore.get(), certificate, length, validationTime, chain.get()))
    return mapOpenSSLError(static_cast<int>(code));
  if (sk_X509_num(chain.get()) < 2) return 0x8007001e;
  if (!isMeantForSigning(sk_X509_value(chain.get(), 0))) return 0x80040004;
  if (url.empty()) return 0x80070022;
  bool revokedLater = false;
  return checkOcsp(sk_X509_value(chain.get(), 0), sk_X509_value(chain.get(), 1), url, validationTime, http, https,
                   trustedStoreResponderCheck, responderStore.get(), revokedLater);
}
