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
