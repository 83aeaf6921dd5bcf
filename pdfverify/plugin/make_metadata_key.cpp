// Build-time tool: writes a C++ source that defines the plug-in's metadata signature key
// text, a fresh RSA-1024 key as eight upper-case hexadecimal fields e|d|n|p|q|dmp1|dmq1|iqmp.
// The key is made anew for each build tree and never kept in the sources.
//
// The text is read back and put through OpenSSL's consistency check here, once, as the
// plug-in's start-up would put it at every start; the source then also defines the text's
// SHA-256 as kMetadataKeyProof, with which the start-up loads that very text unchecked. A
// text that fails gets no proof (null) and is checked, and refused, at start-up.
//
//   make_metadata_key OUT.cpp [--broken]
// --broken writes a key whose private exponent does not belong to its modulus (for the
// start-up test of a key that fails to load).
#define OPENSSL_SUPPRESS_DEPRECATED  // RSA_check_key, as the plug-in calls it
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string field(EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) return std::string();
  char* hex = BN_bn2hex(bn);
  std::string text = hex != nullptr ? hex : "";
  OPENSSL_free(hex);
  BN_free(bn);
  return text;
}

// Whether the text's fields, read back as the plug-in reads them, form a key that passes
// RSA_check_key.
bool passesCheck(const std::string& text) {
  BIGNUM* bn[8] = {};  // e, d, n, p, q, dmp1, dmq1, iqmp
  size_t start = 0;
  bool read = true;
  for (int i = 0; i < 8; ++i) {
    const size_t end = i < 7 ? text.find('|', start) : text.size();
    read = read && end != std::string::npos && BN_hex2bn(&bn[i], text.substr(start, end - start).c_str()) > 0;
    start = end + 1;
  }
  RSA* rsa = RSA_new();
  bool passed = false;
  if (read && rsa != nullptr && RSA_set0_key(rsa, bn[2], bn[0], bn[1]) == 1) {
    bn[0] = bn[1] = bn[2] = nullptr;
    if (RSA_set0_factors(rsa, bn[3], bn[4]) == 1) {
      bn[3] = bn[4] = nullptr;
      if (RSA_set0_crt_params(rsa, bn[5], bn[6], bn[7]) == 1) {
        bn[5] = bn[6] = bn[7] = nullptr;
        passed = RSA_check_key(rsa) == 1;
      }
    }
  }
  RSA_free(rsa);
  for (BIGNUM* b : bn) BN_free(b);
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_metadata_key OUT.cpp [--broken]\n");
    return 2;
  }
  const bool broken = argc > 2 && std::strcmp(argv[2], "--broken") == 0;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  BIGNUM* e = BN_new();
  BN_set_word(e, 0xA0499);
  EVP_PKEY* key = nullptr;
  if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 1024) != 1 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, e) != 1 || EVP_PKEY_keygen(ctx, &key) != 1) {
    std::fprintf(stderr, "make_metadata_key: key generation failed\n");
    return 1;
  }
  const char* names[] = {OSSL_PKEY_PARAM_RSA_E,         OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_N,
                         OSSL_PKEY_PARAM_RSA_FACTOR1,   OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                         OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
  std::string text;
  for (int i = 0; i < 8; ++i) {
    std::string f = field(key, names[i]);
    if (f.empty()) return 1;
    if (broken && i == 1) f[f.size() - 1] = f[f.size() - 1] == '1' ? '3' : '1';
    if (i > 0) text += '|';
    text += f;
  }
  EVP_PKEY_free(key);
  EVP_PKEY_CTX_free(ctx);
  BN_free(e);
  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) return 1;
  std::fprintf(out, "// Made at build time by make_metadata_key; never kept in the sources.\n");
  std::fprintf(out, "extern const char kMetadataKeyText[];\nconst char kMetadataKeyText[] = \"%s\";\n", text.c_str());
  std::fprintf(out, "extern const unsigned char* const kMetadataKeyProof;\n");
  if (passesCheck(text)) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    std::fprintf(out, "static const unsigned char proof[] = {");
    for (unsigned char byte : digest) std::fprintf(out, "%u,", byte);
    std::fprintf(out, "};\nconst unsigned char* const kMetadataKeyProof = proof;\n");
  } else {
    std::fprintf(out, "const unsigned char* const kMetadataKeyProof = nullptr;\n");
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
