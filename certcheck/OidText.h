// Object identifiers of the checking library, compared as dotted numeric texts:
// an identifier matches a listed one when it is that one or lies below it, so a
// listed text is a prefix only at a whole arc (1.2.840.113549.1.1.10, RSA-PSS,
// is no 1.2.840.113549.1.1.1).
#pragma once

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstring>
#include <string>

namespace certcheck {

// The dotted text of an identifier, as OpenSSL writes it into a 256-byte
// buffer; empty when there is none.
inline std::string oidText(const ASN1_OBJECT* object) {
  char buffer[256] = "";
  if (object == nullptr || OBJ_obj2txt(buffer, sizeof buffer, object, 1) <= 0) return std::string();
  return buffer;
}

inline bool oidMatches(const std::string& oid, const char* listed) {
  const size_t length = std::strlen(listed);
  return oid.compare(0, length, listed) == 0 && (oid.size() == length || oid[length] == '.');
}

// The digest an ECDSA signature algorithm names: SHA-1, SHA-256, else RIPEMD-160.
inline const EVP_MD* ecdsaDigest(const std::string& signatureOid) {
  if (oidMatches(signatureOid, "1.2.840.10045.4.1")) return EVP_sha1();
  if (oidMatches(signatureOid, "1.2.840.10045.4.3.2")) return EVP_sha256();
  return EVP_ripemd160();
}

// The digest a digest algorithm names: SHA-1, SHA-256, else RIPEMD-160.
inline const EVP_MD* namedDigest(const std::string& digestOid) {
  if (oidMatches(digestOid, "1.3.14.3.2.26")) return EVP_sha1();
  if (oidMatches(digestOid, "2.16.840.1.101.3.4.2.1")) return EVP_sha256();
  return EVP_ripemd160();
}

}  // namespace certcheck
