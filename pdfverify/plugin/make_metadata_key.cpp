// Build-time tool: writes a C++ source that defines the plug-in's metadata signature key
// text, a fresh RSA-1024 key as eight upper-case hexadecimal fields e|d|n|p|q|dmp1|dmq1|iqmp.
// The key is made anew for each build tree and never kept in the sources.
//
//   make_metadata_key OUT.cpp [--broken]
// --broken writes a key whose private exponent does not belong to its modulus (for the
// start-up test of a key that fails to load).
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

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
  return std::fclose(out) == 0 ? 0 : 1;
}
