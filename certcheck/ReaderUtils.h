// ReaderUtils: the checks of a PDF signature's value against the signed bytes
// (PKCS#1 with a separate signer certificate, PKCS#7 SignedData carrying its
// own), and whether the signer's certificate is qualified.
//
// Result codes: 0 valid; 0x80000001 missing or malformed input; 0x80000008 not
// supported or not decodable; 0x80050001 the signature does not match;
// 0x80080010 a plain ECDSA value of odd length. All inputs are untrusted.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <memory>

class VOQ_String;

// A raw signature value: PKCS#1 v1.5 RSA over the SHA-1 of the data, or for an
// EC key (48 to 50 key bytes) a plain r||s ECDSA value over its SHA-1.
// qualified is set once the certificate is decoded.
DWORD verifyPKCS1Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signature,
                           unsigned int signatureLength, const unsigned char* certificate,
                           unsigned int certificateLength, bool* qualified);

// A PKCS#7 SignedData (DER, detached or carrying the content) over the data,
// with one SignerInfo whose certificate the PKCS#7 holds.
DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified);
// The same, also handing back the DER of the signer certificate the value was
// checked with (empty until it is found), so that exactly that certificate is
// validated afterwards.
DWORD verifyPKCS7Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                           unsigned int signedDataLength, bool* qualified, VOQ_String* signerCertificate);

// The same checks for data that arrive in pieces: the value (and for PKCS#1
// the certificate) is read first, each piece of data is digested as it comes
// and none is kept, and finish answers what the functions above answer for the
// whole data, with the same outputs. One check per value; finish once.
class SignedDataCheck {
 public:
  static SignedDataCheck pkcs1(const unsigned char* signature, unsigned int signatureLength,
                               const unsigned char* certificate, unsigned int certificateLength);
  static SignedDataCheck pkcs7(const unsigned char* signedData, unsigned int signedDataLength);
  SignedDataCheck(SignedDataCheck&&) noexcept;
  SignedDataCheck& operator=(SignedDataCheck&&) noexcept;
  ~SignedDataCheck();

  void update(const unsigned char* data, size_t length);
  // signerCertificate: PKCS#7 only (may be NULL).
  DWORD finish(bool* qualified, VOQ_String* signerCertificate);

 private:
  SignedDataCheck();
  struct Plan;
  std::unique_ptr<Plan> plan;
};

// True when the certificate carries the QCStatements extension, whatever it states.
bool hasQCStatements(PCCERT_CONTEXT certificate);
// Sets qualified to false, then to hasQCStatements of the DER certificate: 0, or
// 0x80000001 without a certificate, 0x80000008 when it does not decode.
DWORD isQualifiedCertificate(const unsigned char* certificate, unsigned int certificateLength, bool* qualified);

// Variants for a SignedData that carries the SHA-1 digest of the data as its
// content and is signed over that content without signed attributes: RSA
// through CryptoAPI's RSA provider, EC keys of 48 to 50 bytes on P-192. The
// first compares the content with the SHA-1 of the data, the second with the
// digest given. Both hand back the signer certificate's DER. Nothing in the
// plug-in's verification calls them.
DWORD verifyPKCS7SHA1Signature(const unsigned char* data, unsigned int dataLength, const unsigned char* signedData,
                               unsigned int signedDataLength, bool* qualified, VOQ_String* signerCertificate);
DWORD verifyPKCS7DigestSignature(const unsigned char* digest, unsigned int digestLength,
                                 const unsigned char* signedData, unsigned int signedDataLength, bool* qualified,
                                 VOQ_String* signerCertificate);

// ---- Certificate validation ----
//
// Whether the signer's certificate was valid, trusted and not revoked at the
// validation time (NULL: now): 0, or a code of the families 0x8003 (chain),
// 0x8004 (the certificate), 0x8007 (OCSP and its transport), 0x8009 (authority
// information access), 0x800A and 0x800B (CRLs over HTTP and HTTPS). With both
// proxy records every request goes through the proxy that fits the URL's
// scheme; with neither, directly. qualified is set once the certificate decodes.

#include <openssl/ocsp.h>
#include <openssl/x509.h>

class VOQ_Time;
class VOQ_ProxySettings;
class HttpConnection;

// The chain from the platform's certificate stores; OCSP from the certificate's
// authority information access, else CRLs (through the proxies) or the
// platform's revocation check.
DWORD validateCertificate(const unsigned char* certificate, unsigned int length, bool* qualified,
                          const VOQ_Time* validationTime, VOQ_ProxySettings* http, VOQ_ProxySettings* https);
// The chain from the viewer's trusted certificates (may be NULL); OCSP only.
DWORD validateCertificateWithTrustedCerts(STACK_OF(X509) * trustedCerts, const unsigned char* certificate,
                                          unsigned int length, bool* qualified, const VOQ_Time* validationTime,
                                          VOQ_ProxySettings* http, VOQ_ProxySettings* https);

// Whether the certificate is meant for signing documents. Not when its keyUsage
// is present and allows neither digitalSignature nor nonRepudiation; nor when
// its extendedKeyUsage is present and names none of anyExtendedKeyUsage,
// emailProtection, documentSigning (1.3.6.1.5.5.7.3.36), the viewer maker's
// document signing (1.2.840.113583.1.1.5) and the platform's document signing
// (1.3.6.1.4.1.311.10.3.12); nor when its basicConstraints make it a CA. One of
// these extensions that is present but unreadable or repeated counts against it.
// Both roads refuse such a signer: 0x80030008 (the platform's chain) and
// 0x80040004 (the viewer's trusted certificates).
bool isMeantForSigning(X509* certificate);

// True when (low & maskLow) == maskLow and (high & maskHigh) == maskHigh.
bool isMaskSet(DWORD low, DWORD high, DWORD maskLow, DWORD maskHigh);
// A CryptoAPI chain status to its code; 0 stays 0.
DWORD mapChainStatus(DWORD status);
// An OpenSSL verification error (X509_V_ERR_*) to its code.
DWORD mapOpenSSLError(int error);
// Verifies the DER certificate against the store at the time (NULL: now): 0, or
// 0x80030001 (no chain), 0x80030002 (not decodable), 0x80000008 (chain copy
// failed) or the OpenSSL verification error. The chain, end certificate first,
// is pushed onto chainOut when given.
DWORD verifyWithTrustedStore(X509_STORE* store, const unsigned char* certificate, unsigned int length,
                             const VOQ_Time* validationTime, STACK_OF(X509) * chainOut);
// FILETIME to seconds since 1970; false (nothing stored) outside 32 unsigned bits.
bool fileTimeToUnixTime(const FILETIME& fileTime, unsigned long* out);
// "D:YYYYMMDDHHMMSS" and "Z" or "+01'00'" from a GeneralizedTime; on failure
// "Bad time value" and false. The buffer holds at least 32 bytes.
bool asn1TimeToPDFDate(const ASN1_GENERALIZEDTIME* time, char* buffer);
// The certificate the response's responder id names (by name, or by the SHA-1
// of its key when the id is 20 bytes), or NULL.
X509* findResponderCertificate(STACK_OF(X509) * certs, const OCSP_BASICRESP* response);
// The 64-bit value as '0'/'1' characters, bit 63 first, a blank between groups
// of 8: 71 characters and the NUL, 72 bytes. Nothing calls it.
void formatBits64(DWORD low, DWORD high, char* buffer);
// Clears the not-time-valid and not-time-nested bits of the chain's status when
// the time lies within the certificate's validity. Nothing calls it.
void clearTimeBitsWhenValidAt(PCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT certificate, const FILETIME& time);

// OCSP transports; each returns the response or NULL with *result set.
OCSP_RESPONSE* sendOCSPRequestThroughHTTPProxy(const char* url, OCSP_REQUEST* request, VOQ_ProxySettings* http,
                                               DWORD* result);
// Over an established connection to the responder: TLS, then the POST of the path.
OCSP_RESPONSE* sendOCSPRequestOverSSL(HttpConnection& connection, const char* host, const char* path,
                                      OCSP_REQUEST* request);
OCSP_RESPONSE* sendOCSPRequestThroughHTTPSProxy(const char* url, const char* host, const char* port,
                                                OCSP_REQUEST* request, VOQ_ProxySettings* https, DWORD* result);
// CRL transports: 0 when the CRL, verified with the issuer's key, does not list
// the certificate; 0x8003000b when it does; 0x8003000c when it cannot be trusted.
DWORD checkCRLThroughHTTPProxy(VOQ_ProxySettings* http, const char* url, PCCERT_CONTEXT certificate,
                               PCCERT_CONTEXT issuer);
DWORD checkCRLThroughHTTPSProxy(const char* host, const char* port, VOQ_ProxySettings* https, const char* url,
                                PCCERT_CONTEXT certificate, PCCERT_CONTEXT issuer);
