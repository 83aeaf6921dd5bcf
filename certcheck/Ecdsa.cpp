// ECDSA verification over OpenSSL. r and s are range-checked (1 <= r, s < n)
// before any arithmetic: with s = 0 the textbook verification degenerates and
// r = s = 0 would verify for every message and key.
#include "certcheck/Ecdsa.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include "certcheck/OidText.h"

namespace {

using BigNumber = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Group = std::shared_ptr<const EC_GROUP>;

BigNumber bigNumber(const unsigned char* bytes, unsigned int length) {
  return BigNumber(bytes != nullptr ? BN_bin2bn(bytes, static_cast<int>(length), nullptr) : nullptr, BN_free);
}

// The DER ECDSA-Sig-Value of r and s when both lie in [1, order - 1]; empty otherwise.
std::vector<unsigned char> checkedSignature(const unsigned char* r, unsigned int rLength, const unsigned char* s,
                                            unsigned int sLength, const BIGNUM* order) {
  BigNumber bigR = bigNumber(r, rLength), bigS = bigNumber(s, sLength);
  if (!bigR || !bigS || order == nullptr) return {};
  for (const BIGNUM* value : {bigR.get(), bigS.get()}) {
    if (BN_is_zero(value) || BN_cmp(value, order) >= 0) return {};
  }
  std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> signature(ECDSA_SIG_new(), ECDSA_SIG_free);
  if (!signature || !ECDSA_SIG_set0(signature.get(), bigR.get(), bigS.get())) return {};
  bigR.release();
  bigS.release();
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(signature.get(), &der);
  if (length <= 0) return {};
  std::vector<unsigned char> result(der, der + length);
  OPENSSL_free(der);
  return result;
}

// 1 when r and s sign the digest for the EC key.
int verifyDigest(EVP_PKEY* key, const unsigned char* r, unsigned int rLength, const unsigned char* s,
                 unsigned int sLength, const unsigned char* digest, size_t digestLength) {
  BIGNUM* order = nullptr;
  if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_ORDER, &order) != 1) return 0;
  const std::vector<unsigned char> der = checkedSignature(r, rLength, s, sLength, order);
  BN_free(order);
  if (der.empty()) return 0;
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new(key, nullptr),
                                                                     EVP_PKEY_CTX_free);
  if (!context || EVP_PKEY_verify_init(context.get()) != 1) return 0;
  return EVP_PKEY_verify(context.get(), der.data(), der.size(), digest, digestLength) == 1 ? 1 : 0;
}

std::mutex p192Lock;
Group p192Curve;

Group currentP192Curve() {
  std::lock_guard<std::mutex> lock(p192Lock);
  return p192Curve;
}

}  // namespace

namespace {

// The EC key of a DER certificate; null when there is none.
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
Certificate ecCertificate(const unsigned char* certificate, unsigned int certificateLength) {
  if (certificate == nullptr || certificateLength == 0) return Certificate(nullptr, X509_free);
  const unsigned char* p = certificate;
  Certificate cert(d2i_X509(nullptr, &p, static_cast<long>(certificateLength)), X509_free);
  EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) cert.reset();
  return cert;
}

}  // namespace

int verifyECDSASignature(const unsigned char* r, unsigned int rLength, const unsigned char* s, unsigned int sLength,
                         const unsigned char* data, unsigned int dataLength, const char* oid,
                         const unsigned char* certificate, unsigned int certificateLength) {
  if (data == nullptr && dataLength != 0) return 0;
  const Certificate cert = ecCertificate(certificate, certificateLength);
  if (!cert) return 0;
  // One pass over the caller's bytes, no copy.
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  const EVP_MD* md = certcheck::ecdsaDigest(oid != nullptr ? oid : "");
  if (EVP_Digest(data, dataLength, digest, &digestLength, md, nullptr) != 1) return 0;
  return verifyDigest(X509_get0_pubkey(cert.get()), r, rLength, s, sLength, digest, digestLength);
}

int verifyECDSADigest(const unsigned char* r, unsigned int rLength, const unsigned char* s, unsigned int sLength,
                      const unsigned char* digest, unsigned int digestLength, const unsigned char* certificate,
                      unsigned int certificateLength) {
  if (digest == nullptr || digestLength == 0) return 0;
  const Certificate cert = ecCertificate(certificate, certificateLength);
  if (!cert) return 0;
  return verifyDigest(X509_get0_pubkey(cert.get()), r, rLength, s, sLength, digest, digestLength);
}

int initP192Curve() {
  std::shared_ptr<EC_GROUP> group(EC_GROUP_new_by_curve_name(NID_X9_62_prime192v1), EC_GROUP_free);
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> bn(BN_CTX_new(), BN_CTX_free);
  if (!group || !bn) return 0;
  const EC_POINT* generator = EC_GROUP_get0_generator(group.get());
  if (generator == nullptr || EC_POINT_is_on_curve(group.get(), generator, bn.get()) != 1) {
    std::fputs("Problem - point (x,y) is not on the curve\n", stdout);
    return 0;
  }
  std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> work(EC_POINT_new(group.get()), EC_POINT_free);
  if (!work ||
      EC_POINT_mul(group.get(), work.get(), nullptr, generator, EC_GROUP_get0_order(group.get()), bn.get()) != 1 ||
      EC_POINT_is_at_infinity(group.get(), work.get()) != 1) {
    std::fputs("Problem 2- point (x,y) is not of order q\n", stdout);
    return 0;
  }
  std::lock_guard<std::mutex> lock(p192Lock);
  p192Curve = group;
  return 1;
}

int verifyP192Signature(const unsigned char* x, const unsigned char* y, const unsigned char* hash,
                        const unsigned char* r, const unsigned char* s) {
  constexpr unsigned int kSize = 24;
  const Group group = currentP192Curve();
  if (!group || x == nullptr || y == nullptr || hash == nullptr) return 0;
  // The public point must lie on the curve.
  std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> point(EC_POINT_new(group.get()), EC_POINT_free);
  BigNumber bigX = bigNumber(x, kSize), bigY = bigNumber(y, kSize);
  if (!point || !bigX || !bigY ||
      EC_POINT_set_affine_coordinates(group.get(), point.get(), bigX.get(), bigY.get(), nullptr) != 1 ||
      EC_POINT_is_on_curve(group.get(), point.get(), nullptr) != 1) {
    return 0;
  }
  unsigned char encoded[1 + 2 * kSize];
  encoded[0] = POINT_CONVERSION_UNCOMPRESSED;
  std::copy(x, x + kSize, encoded + 1);
  std::copy(y, y + kSize, encoded + 1 + kSize);
  std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> build(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
  if (!build ||
      !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, SN_X9_62_prime192v1, 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded)) {
    return 0;
  }
  std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(build.get()),
                                                                 OSSL_PARAM_free);
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr),
                                                                     EVP_PKEY_CTX_free);
  EVP_PKEY* raw = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return 0;
  }
  Key key(raw, EVP_PKEY_free);
  // The 160-bit hash is shorter than the order, so it enters untruncated.
  return verifyDigest(key.get(), r, kSize, s, kSize, hash, 20);
}
