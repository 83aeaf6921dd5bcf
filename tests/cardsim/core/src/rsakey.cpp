#include "cardsim/rsakey.h"

#include <cstdio>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <stdexcept>

namespace cardsim {

namespace {
struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

struct FileClose {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::unique_ptr<FILE, FileClose> openFile(const std::string& path) {
  std::unique_ptr<FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
  if (!f) throw std::runtime_error("cannot open " + path);
  return f;
}
}  // namespace

void RsaKey::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

RsaKey RsaKey::fromPemFile(const std::string& path) {
  auto f = openFile(path);
  EVP_PKEY* key = PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr);
  if (!key || EVP_PKEY_base_id(key) != EVP_PKEY_RSA) {
    EVP_PKEY_free(key);
    throw std::runtime_error("no RSA private key in " + path);
  }
  return RsaKey(std::shared_ptr<EVP_PKEY>(key, Free()));
}

namespace {

Bytes bigNumber(EVP_PKEY* key, const char* name) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) throw std::runtime_error(std::string("RSA key without ") + name);
  Bytes out(static_cast<std::size_t>(BN_num_bytes(value)));
  BN_bn2bin(value, out.data());
  BN_free(value);
  return out;
}

}  // namespace

Bytes RsaKey::modulus() const { return bigNumber(key_.get(), "n"); }

Bytes RsaKey::publicExponent() const { return bigNumber(key_.get(), "e"); }

std::size_t RsaKey::modulusBytes() const { return static_cast<std::size_t>(EVP_PKEY_get_size(key_.get())); }

std::optional<Bytes> RsaKey::signPkcs1(const Bytes& data) const {
  Ctx ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0)
    return std::nullopt;
  std::size_t len = modulusBytes();
  Bytes out(len);
  if (EVP_PKEY_sign(ctx.get(), out.data(), &len, data.data(), data.size()) <= 0) return std::nullopt;
  out.resize(len);
  return out;
}

std::optional<Bytes> RsaKey::privateRaw(const Bytes& block) const {
  if (block.size() != modulusBytes()) return std::nullopt;
  Ctx ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) <= 0)
    return std::nullopt;
  std::size_t len = modulusBytes();
  Bytes out(len);
  if (EVP_PKEY_decrypt(ctx.get(), out.data(), &len, block.data(), block.size()) <= 0) return std::nullopt;
  out.resize(len);
  return out;
}

std::optional<Bytes> RsaKey::decryptPkcs1(const Bytes& cryptogram) const {
  if (cryptogram.size() != modulusBytes()) return std::nullopt;
  // A card checks the padding itself: take the raw result and unpad it here, so
  // that a bad block is an error and not OpenSSL's implicit-rejection output.
  auto raw = privateRaw(cryptogram);
  if (!raw || raw->size() < 11 || (*raw)[0] != 0x00 || (*raw)[1] != 0x02) return std::nullopt;
  std::size_t i = 2;
  while (i < raw->size() && (*raw)[i] != 0x00) ++i;
  if (i >= raw->size() || i < 10) return std::nullopt;
  return Bytes(raw->begin() + static_cast<std::ptrdiff_t>(i + 1), raw->end());
}

Bytes certificateDer(const std::string& pemPath) {
  auto f = openFile(pemPath);
  X509* cert = PEM_read_X509(f.get(), nullptr, nullptr, nullptr);
  if (!cert) throw std::runtime_error("no certificate in " + pemPath);
  unsigned char* der = nullptr;
  int len = i2d_X509(cert, &der);
  X509_free(cert);
  if (len <= 0) throw std::runtime_error("cannot encode certificate of " + pemPath);
  Bytes out(der, der + len);
  OPENSSL_free(der);
  return out;
}

}  // namespace cardsim
