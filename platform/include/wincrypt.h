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
#define szOID_AUTHORITY_INFO_ACCESS "1.3.6.1.5.5.7.1.1"
#define szOID_CRL_DIST_POINTS "2.5.29.31"
#define szOID_PKIX_OCSP "1.3.6.1.5.5.7.48.1"
#define szOID_PKIX_CA_ISSUERS "1.3.6.1.5.5.7.48.2"

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

// ---- Decoding (CryptDecodeObject) ----

// Structure types are small numbers passed as the text pointer.
#define X509_AUTHORITY_INFO_ACCESS ((LPCSTR)32)
#define X509_CRL_DIST_POINTS ((LPCSTR)35)
#define CRYPT_DECODE_NOCOPY_FLAG 0x8u

#define CERT_ALT_NAME_OTHER_NAME 1
#define CERT_ALT_NAME_RFC822_NAME 2
#define CERT_ALT_NAME_DNS_NAME 3
#define CERT_ALT_NAME_X400_ADDRESS 4
#define CERT_ALT_NAME_DIRECTORY_NAME 5
#define CERT_ALT_NAME_EDI_PARTY_NAME 6
#define CERT_ALT_NAME_URL 7
#define CERT_ALT_NAME_IP_ADDRESS 8
#define CERT_ALT_NAME_REGISTERED_ID 9

typedef struct _CERT_OTHER_NAME {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Value;
} CERT_OTHER_NAME, *PCERT_OTHER_NAME;

typedef struct _CERT_ALT_NAME_ENTRY {
  DWORD dwAltNameChoice;
  union {
    PCERT_OTHER_NAME pOtherName;
    LPWSTR pwszRfc822Name;
    LPWSTR pwszDNSName;
    CERT_NAME_BLOB DirectoryName;
    LPWSTR pwszURL;
    CRYPT_DATA_BLOB IPAddress;
    LPSTR pszRegisteredID;
  };
} CERT_ALT_NAME_ENTRY, *PCERT_ALT_NAME_ENTRY;

typedef struct _CERT_ALT_NAME_INFO {
  DWORD cAltEntry;
  PCERT_ALT_NAME_ENTRY rgAltEntry;
} CERT_ALT_NAME_INFO, *PCERT_ALT_NAME_INFO;

typedef struct _CERT_ACCESS_DESCRIPTION {
  LPSTR pszAccessMethod;
  CERT_ALT_NAME_ENTRY AccessLocation;
} CERT_ACCESS_DESCRIPTION, *PCERT_ACCESS_DESCRIPTION;

typedef struct _CERT_AUTHORITY_INFO_ACCESS {
  DWORD cAccDescr;
  PCERT_ACCESS_DESCRIPTION rgAccDescr;
} CERT_AUTHORITY_INFO_ACCESS, *PCERT_AUTHORITY_INFO_ACCESS;

#define CRL_DIST_POINT_NO_NAME 0
#define CRL_DIST_POINT_FULL_NAME 1
#define CRL_DIST_POINT_ISSUER_RDN_NAME 2

typedef struct _CRL_DIST_POINT_NAME {
  DWORD dwDistPointNameChoice;
  union {
    CERT_ALT_NAME_INFO FullName;
  };
} CRL_DIST_POINT_NAME, *PCRL_DIST_POINT_NAME;

typedef struct _CRL_DIST_POINT {
  CRL_DIST_POINT_NAME DistPointName;
  CRYPT_BIT_BLOB ReasonFlags;
  CERT_ALT_NAME_INFO CRLIssuer;
} CRL_DIST_POINT, *PCRL_DIST_POINT;

typedef struct _CRL_DIST_POINTS_INFO {
  DWORD cDistPoint;
  PCRL_DIST_POINT rgDistPoint;
} CRL_DIST_POINTS_INFO, *PCRL_DIST_POINTS_INFO;

// ---- CRLs ----

typedef struct _CRL_ENTRY {
  CRYPT_INTEGER_BLOB SerialNumber;  // little-endian
  FILETIME RevocationDate;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CRL_ENTRY, *PCRL_ENTRY;

typedef struct _CRL_INFO {
  DWORD dwVersion;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
  FILETIME ThisUpdate;
  FILETIME NextUpdate;  // zero when the CRL has none
  DWORD cCRLEntry;
  PCRL_ENTRY rgCRLEntry;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CRL_INFO, *PCRL_INFO;

typedef struct _CRL_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCrlEncoded;
  DWORD cbCrlEncoded;
  PCRL_INFO pCrlInfo;
  HCERTSTORE hCertStore;
} CRL_CONTEXT, *PCRL_CONTEXT;
typedef const CRL_CONTEXT* PCCRL_CONTEXT;

// ---- Stores ----

#define CERT_STORE_PROV_FILENAME_A ((LPCSTR)7)
#define CERT_STORE_PROV_FILENAME_W ((LPCSTR)8)
#define CERT_STORE_PROV_SYSTEM_A ((LPCSTR)9)
#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4
#define CERT_STORE_READONLY_FLAG 0x00008000u
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000u
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000u

#define CERT_NAME_SIMPLE_DISPLAY_TYPE 4
#define CERT_NAME_RDN_TYPE 2
#define CERT_NAME_ISSUER_FLAG 0x1u
#define CERT_SIMPLE_NAME_STR 1
#define CERT_X500_NAME_STR 3

// ---- Chains ----

#define CERT_TRUST_NO_ERROR 0x00000000u
#define CERT_TRUST_IS_NOT_TIME_VALID 0x00000001u
#define CERT_TRUST_IS_NOT_TIME_NESTED 0x00000002u
#define CERT_TRUST_IS_REVOKED 0x00000004u
#define CERT_TRUST_IS_NOT_SIGNATURE_VALID 0x00000008u
#define CERT_TRUST_IS_NOT_VALID_FOR_USAGE 0x00000010u
#define CERT_TRUST_IS_UNTRUSTED_ROOT 0x00000020u
#define CERT_TRUST_REVOCATION_STATUS_UNKNOWN 0x00000040u
#define CERT_TRUST_IS_CYCLIC 0x00000080u
#define CERT_TRUST_INVALID_EXTENSION 0x00000100u
#define CERT_TRUST_INVALID_POLICY_CONSTRAINTS 0x00000200u
#define CERT_TRUST_INVALID_BASIC_CONSTRAINTS 0x00000400u
#define CERT_TRUST_INVALID_NAME_CONSTRAINTS 0x00000800u
#define CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT 0x00001000u
#define CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT 0x00002000u
#define CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT 0x00004000u
#define CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT 0x00008000u
#define CERT_TRUST_IS_PARTIAL_CHAIN 0x00010000u
#define CERT_TRUST_CTL_IS_NOT_TIME_VALID 0x00020000u
#define CERT_TRUST_CTL_IS_NOT_SIGNATURE_VALID 0x00040000u
#define CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE 0x00080000u
#define CERT_TRUST_IS_OFFLINE_REVOCATION 0x01000000u
#define CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY 0x02000000u

#define CERT_TRUST_HAS_EXACT_MATCH_ISSUER 0x00000001u
#define CERT_TRUST_HAS_KEY_MATCH_ISSUER 0x00000002u
#define CERT_TRUST_HAS_NAME_MATCH_ISSUER 0x00000004u
#define CERT_TRUST_IS_SELF_SIGNED 0x00000008u

#define CERT_CHAIN_REVOCATION_CHECK_END_CERT 0x10000000u
#define CERT_CHAIN_REVOCATION_CHECK_CHAIN 0x20000000u
#define CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT 0x40000000u

typedef void* HCERTCHAINENGINE;

typedef struct _CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
} CERT_TRUST_STATUS, *PCERT_TRUST_STATUS;

typedef struct _CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
} CERT_ENHKEY_USAGE, CTL_USAGE;

#define USAGE_MATCH_TYPE_AND 0
#define USAGE_MATCH_TYPE_OR 1
typedef struct _CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
} CERT_USAGE_MATCH;

// Any cbSize from 16 (the 32-bit layout of the first two fields) up is accepted.
typedef struct _CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
} CERT_CHAIN_PARA, *PCERT_CHAIN_PARA;

typedef struct _CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
  void* pRevocationInfo;
  void* pIssuanceUsage;
  void* pApplicationUsage;
  LPCWSTR pwszExtendedErrorInfo;
} CERT_CHAIN_ELEMENT, *PCERT_CHAIN_ELEMENT;

typedef struct _CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cElement;
  PCERT_CHAIN_ELEMENT* rgpElement;
  void* pTrustListInfo;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
} CERT_SIMPLE_CHAIN, *PCERT_SIMPLE_CHAIN;

typedef struct _CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  PCERT_SIMPLE_CHAIN* rgpChain;
  DWORD cLowerQualityChainContext;
  void* rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
} CERT_CHAIN_CONTEXT, *PCERT_CHAIN_CONTEXT;
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;

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

// Decodes an extension's value into the structure lpszStructType names
// (X509_AUTHORITY_INFO_ACCESS, X509_CRL_DIST_POINTS), all in one block the
// caller provides: with pvStructInfo NULL it only reports the size needed in
// *pcbStructInfo; a short buffer gives ERROR_MORE_DATA with the size. The block
// holds its own copies, so CRYPT_DECODE_NOCOPY_FLAG changes nothing. URLs and
// other names become 16-bit wide texts.
BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                              DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);

// A DER CRL; NULL with CRYPT_E_ASN1_BADTAG when it is none.
PCCRL_CONTEXT WINAPI CertCreateCRLContext(DWORD dwCertEncodingType, const BYTE* pbCrlEncoded, DWORD cbCrlEncoded);
PCCRL_CONTEXT WINAPI CertDuplicateCRLContext(PCCRL_CONTEXT pCrlContext);
BOOL WINAPI CertFreeCRLContext(PCCRL_CONTEXT pCrlContext);
// TRUE when the search was made; *ppCrlEntry is the entry with the certificate's
// serial number, or NULL when the CRL does not list it. The serial alone decides:
// whether the CRL is the issuer's is the caller's check.
BOOL WINAPI CertFindCertificateInCRL(PCCERT_CONTEXT pCert, PCCRL_CONTEXT pCrlContext, DWORD dwFlags,
                                     void* pvReserved, PCRL_ENTRY* ppCrlEntry);

// Stores. CERT_STORE_PROV_FILENAME_A (pvPara an ANSI path) and _W (UTF-16) read a
// file (a PKCS#7 certs-only bundle in DER or PEM, one DER certificate, or PEM
// certificates) into a store in memory, whatever the encoding type says (0 too);
// anything else fails with CRYPT_E_FILE_ERROR. Nothing is written back. A system store ("Root", "CA", "My", ...) is the current user's
// (CertOpenSystemStoreA, or CERT_STORE_PROV_SYSTEM_A with
// CERT_SYSTEM_STORE_CURRENT_USER) or the machine's (CERT_SYSTEM_STORE_LOCAL_MACHINE)
// file-backed store under the machine root; an add is written at once.
HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV hCryptProv,
                                DWORD dwFlags, const void* pvPara);
HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV hProv, LPCSTR szSubsystemProtocol);
BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
// The certificate after pPrevCertContext (which it frees), or the first one; NULL
// with CRYPT_E_NOT_FOUND at the end.
PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
// CERT_STORE_ADD_NEW fails with CRYPT_E_EXISTS for a certificate of the same
// SHA-1 thumbprint; ppStoreContext, when given, receives the store's copy.
BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppStoreContext);
// The subject's (or with CERT_NAME_ISSUER_FLAG the issuer's) name: CERT_NAME_RDN_TYPE
// as "CN=..., O=..., C=..." (pvTypePara NULL renders as CERT_SIMPLE_NAME_STR, the
// values only), CERT_NAME_SIMPLE_DISPLAY_TYPE the common name (or the first
// attribute). Returns the characters written with the terminator (truncated to
// cchNameString), or the size needed when psz is NULL; 1 (an empty text) on failure.
DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                                LPSTR pszNameString, DWORD cchNameString);
// TRUE when the two encoded names are the same bytes (no text rendering, no length limit).
BOOL WINAPI CertCompareCertificateName(DWORD dwCertEncodingType, PCERT_NAME_BLOB pCertName1,
                                       PCERT_NAME_BLOB pCertName2);
// Verifies the signature of an encoded certificate or CRL with the public key
// (RSA, EC, DSA, ...): TRUE when it verifies; FALSE with NTE_BAD_SIGNATURE when it
// does not, CRYPT_E_ASN1_BADTAG when the bytes are neither, NTE_BAD_KEY for a key
// that does not decode. The provider handle is not used.
BOOL WINAPI CryptVerifyCertificateSignature(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType, const BYTE* pbEncoded,
                                            DWORD cbEncoded, PCERT_PUBLIC_KEY_INFO pPublicKey);

// The chain of the certificate at *pTime (NULL: now), built from the Root
// stores (trust anchors) and CA stores of the current user and the machine and
// the additional store; each element's and the chain's TrustStatus carry the
// CERT_TRUST_* bits. With a CERT_CHAIN_REVOCATION_CHECK_* flag each element's
// CRL is fetched from its http distribution points and counts only when it
// verifies with the issuer's key, names the issuer and is not past its
// nextUpdate; a revocation dated after *pTime does not count. FALSE only for
// bad arguments; the engine is always the default one.
BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                                    HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara, DWORD dwFlags,
                                    LPVOID pvReserved, PCCERT_CHAIN_CONTEXT* ppChainContext);
VOID WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

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
#define CertOpenSystemStore CertOpenSystemStoreA
#define CertGetNameString CertGetNameStringA
#endif
