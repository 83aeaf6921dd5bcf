// D-Trust signature cards: PSO COMPUTE DIGITAL SIGNATURE over a host-built
// DigestInfo; the TLS signature is a raw PSO DECIPHER over a 256-byte block in
// the key directory 5015/5072/4B01; PINs are their characters padded to 8 bytes.
#pragma once

#include "cardaccess/card/CSCard.h"

class CSCard_DTrustCard : public CSCard {
 public:
  CSCard_DTrustCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_DTrustCard() override;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string& pin, std::string& out, bool tls) override;
  int signFinal(int kid, std::string& out, bool tls) override;
  int verifyPIN(int kid, const std::string& pin, int pad) override;
  int emptyOperation(int first, int second, int third) override;
  int activatePIN(int kid, const std::string& pin, int digits) override;

 private:
  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int pinStep(int kid, const std::string* pin);
};
