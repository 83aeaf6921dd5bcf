// An RSA private key of a simulated card, through OpenSSL.
#pragma once

#include "cardsim/bytes.h"

#include <memory>
#include <optional>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace cardsim {

class RsaKey {
 public:
  // Loads a PEM private key; throws std::runtime_error when it cannot.
  static RsaKey fromPemFile(const std::string& path);

  std::size_t modulusBytes() const;
  // The public modulus and exponent, most significant byte first.
  Bytes modulus() const;
  Bytes publicExponent() const;
  // PKCS#1 v1.5 block type 1 over `data` (a DigestInfo), then the private operation.
  std::optional<Bytes> signPkcs1(const Bytes& data) const;
  // The bare private operation on a block as long as the modulus.
  std::optional<Bytes> privateRaw(const Bytes& block) const;
  // PKCS#1 v1.5 decryption; nullopt when the padding is wrong.
  std::optional<Bytes> decryptPkcs1(const Bytes& cryptogram) const;

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const;
  };
  explicit RsaKey(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)) {}
  std::shared_ptr<EVP_PKEY> key_;
};

// The DER bytes of the first certificate in a PEM file; throws when unreadable.
Bytes certificateDer(const std::string& pemPath);

}  // namespace cardsim
