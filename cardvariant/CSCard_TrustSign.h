// TrustSign cards: signatures after PSO HASH with the security environment set
// after the PIN, TLS signatures by INTERNAL AUTHENTICATE, the card number in the
// master file's 2F02 and the public keys in a key file of the card's own layout.
#pragma once

#include "cardvariant/CSCard.h"

namespace cardvariant {

class CSCard_TrustSign : public CSCard {
 public:
  // The key whose signatures go by INTERNAL AUTHENTICATE with the caller's own environment.
  static constexpr int kWorkaroundKey = 0x93;

  CSCard_TrustSign(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_TrustSign() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) override;
  int signFinal(int kid, std::string& out, unsigned char ssl) override;
  using CSCard::unblockPIN;
  int verifyPIN(int kid, const std::string& pin, int pad) override;
  int getCIN(char* buffer) override;
  int getPublicKey(std::string& modulus, std::string& exponent, int keyNumber) override;
  int reserved3(int, int, int) override { return 0; }
  int activatePIN(int, const std::string&, int) override { return 0; }
  int getCardType() override { return 0; }
  int reserved4(int, int) override { return 0; }
  // RESET RETRY COUNTER with the unblocking code and the new PIN, each padded to 8 bytes.
  virtual int unblockPIN(int kid, const std::string& puk, const std::string& newPin, int pad);

 private:
  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int pinStep(int kid, const std::string* pin);
};

}  // namespace cardvariant
