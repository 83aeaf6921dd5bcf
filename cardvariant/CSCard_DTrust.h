// D-Trust signature cards: PSO COMPUTE DIGITAL SIGNATURE over a DigestInfo, and
// the TLS signature as a raw PSO DECIPHER of a 2048-bit PKCS#1 type-1 block.
#pragma once

#include "cardvariant/CSCard.h"

namespace cardvariant {

class CSCard_DTrust : public CSCard {
 public:
  CSCard_DTrust(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_DTrust() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) override;
  int signFinal(int kid, std::string& out, unsigned char ssl) override;
  int unblockPIN(int kid, const std::string& puk, int pad) override;
  int verifyPIN(int kid, const std::string& pin, int pad) override;
  int getCIN(char* buffer) override;
  int reserved3(int, int, int) override { return 0; }
  int activatePIN(int, const std::string&, int) override { return 0; }
  int getCardType() override { return 4; }
  // MANAGE SECURITY ENVIRONMENT for deciphering (00 22 01 B8).
  virtual int putMSEDecipher(std::string parameter);

 private:
  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int pinStep(int kid, const std::string* pin);
};

}  // namespace cardvariant
