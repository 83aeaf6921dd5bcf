// CryptoAPI (crypt32, advapi32): certificate contexts decoded from DER, and the
// RSA provider's hashing and signature verification, over OpenSSL.
//
// A certificate context owns one block that holds the encoded certificate and
// every decoded field its CERT_INFO points to; CertFreeCertificateContext
// releases it when the last reference goes. Provider, hash and key handles are
// numbers in tables of their own, so a stale handle fails cleanly.
#pragma once

#include "windef.h"
#include "winerror.h"

#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u

#define szOID_RSA_RSA "1.2.840.113549.1.1.1"
#define szOID_ECC_PUBLIC_KEY "1.2.840.10045.2.1"
#define szOID_QC_STATEMENTS_EXT "1.3.6.1.5.5.7.1.3"

#define CERT_V1 0
#define CERT_V2 1
#define CERT_V3 2

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_OBJID_BLOB, *PCRYPT_OBJID_BLOB, CERT_NAME_BLOB,
    *PCERT_NAME_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_DER_BLOB, *PCRYPT_DER_BLOB;

// A BIT STRING's content octets, without the unused-bits octet.
typedef struct _CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;                // dotted text
  CRYPT_OBJID_BLOB Parameters;   // DER of the parameters; empty when absent
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;  // the DER of the extension's value (extnValue's octets)
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _CERT_INFO {
  DWORD dwVersion;                 // CERT_V1 .. CERT_V3
  CRYPT_INTEGER_BLOB SerialNumber;  // little-endian, as CryptoAPI keeps integers
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;           // DER of the name
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef void* HCERTSTORE;

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

// The RSA provider.
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTKEY;
typedef unsigned int ALG_ID;

#define PROV_RSA_FULL 1u
#define PROV_RSA_AES 24u
#define CRYPT_VERIFYCONTEXT 0xF0000000u

#define CALG_MD5 0x00008003u
#define CALG_SHA1 0x00008004u
#define CALG_SHA 0x00008004u
#define CALG_SHA_256 0x0000800Cu

#ifdef __cplusplus
extern "C" {
#endif

// Decodes a DER certificate (X509_ASN_ENCODING); NULL with CRYPT_E_ASN1_BADTAG
// when it is none, E_INVALIDARG for another encoding type.
PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                   DWORD cbCertEncoded);
PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
// TRUE also for NULL; FALSE (E_INVALIDARG) for a pointer that is no live context.
BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
// The first extension with exactly this identifier, or NULL.
PCERT_EXTENSION WINAPI CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]);

// Only ephemeral contexts (CRYPT_VERIFYCONTEXT): there are no key containers.
BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider, DWORD dwProvType,
                                 DWORD dwFlags);
BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash);
BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash);
// RSA public keys only, as the RSA provider imports them.
BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pInfo,
                                     HCRYPTKEY* phKey);
BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey);
// A PKCS#1 v1.5 signature over the hash; the signature bytes are little-endian.
// The hash is finished by the call and takes no more data.
BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                                  LPCSTR szDescription, DWORD dwFlags);

#ifdef __cplusplus
}
#endif

#ifndef UNICODE
#define CryptAcquireContext CryptAcquireContextA
#define CryptVerifySignature CryptVerifySignatureA
#endif
