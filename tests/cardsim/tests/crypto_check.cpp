#include "crypto_check.h"

#include "cardsim/profile.h"

#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdexcept>

namespace cardsimtest {

namespace {
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct MdFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::unique_ptr<X509, X509Free> parse(const Bytes& der) {
  const unsigned char* p = der.data();
  std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) throw std::runtime_error("not a certificate");
  return cert;
}

Bytes digest(const EVP_MD* md, const std::string& message) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(message.data(), message.size(), out.data(), &len, md, nullptr);
  out.resize(len);
  return out;
}
}  // namespace

Bytes sha1(const std::string& message) { return digest(EVP_sha1(), message); }
Bytes sha256(const std::string& message) { return digest(EVP_sha256(), message); }

bool verifySignature(const Bytes& certificateDer, const std::string& message, const Bytes& signature,
                     const std::string& hash) {
  auto cert = parse(certificateDer);
  std::unique_ptr<EVP_PKEY, KeyFree> key(X509_get_pubkey(cert.get()));
  std::unique_ptr<EVP_MD_CTX, MdFree> ctx(EVP_MD_CTX_new());
  const EVP_MD* md = EVP_get_digestbyname(hash.c_str());
  if (!key || !ctx || !md || EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

Bytes encryptFor(const Bytes& certificateDer, const Bytes& plain) {
  auto cert = parse(certificateDer);
  std::unique_ptr<EVP_PKEY, KeyFree> key(X509_get_pubkey(cert.get()));
  std::unique_ptr<EVP_PKEY_CTX, CtxFree> ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    throw std::runtime_error("cannot encrypt");
  std::size_t len = 0;
  EVP_PKEY_encrypt(ctx.get(), nullptr, &len, plain.data(), plain.size());
  Bytes out(len);
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &len, plain.data(), plain.size()) != 1)
    throw std::runtime_error("cannot encrypt");
  out.resize(len);
  return out;
}

Bytes keyCertificate(const std::string& keyName) {
  std::string path = cardsim::CardProfile::installedPath("keys/" + keyName);
  path = path.substr(0, path.size() - std::string(".profile").size()) + ".crt";
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) throw std::runtime_error("no certificate " + path);
  std::unique_ptr<X509, X509Free> cert(PEM_read_X509(f.get(), nullptr, nullptr, nullptr));
  unsigned char* der = nullptr;
  const int length = cert ? i2d_X509(cert.get(), &der) : -1;
  if (length <= 0) throw std::runtime_error("unreadable certificate " + path);
  Bytes out(der, der + length);
  OPENSSL_free(der);
  return out;
}

bool issuedByTestCa(const Bytes& certificateDer) {
  auto cert = parse(certificateDer);
  std::string caPath = cardsim::CardProfile::installedPath("keys/ca");
  caPath = caPath.substr(0, caPath.size() - std::string(".profile").size()) + ".crt";
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(caPath.c_str(), "rb"), std::fclose);
  if (!f) return false;
  std::unique_ptr<X509, X509Free> ca(PEM_read_X509(f.get(), nullptr, nullptr, nullptr));
  if (!ca) return false;
  std::unique_ptr<EVP_PKEY, KeyFree> caKey(X509_get_pubkey(ca.get()));
  return X509_verify(cert.get(), caKey.get()) == 1;
}

}  // namespace cardsimtest
