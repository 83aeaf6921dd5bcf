// Bank cards of both generations (the newer one has the file D0 02 under the bank
// application): signatures after PSO HASH, and the TLS signature by INTERNAL AUTHENTICATE.
#pragma once

#include "cardvariant/CSCard.h"

namespace cardvariant {

class CSCard_BankCard : public CSCard {
 public:
  // Tells the generations apart; on the newer one the hash becomes SHA-256 unless it is SHA-1.
  CSCard_BankCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_BankCard() override;
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
  int getCardType() override { return 1; }
  int reserved4(int, int) override { return 0; }

  int getGeneration() const { return m_generation; }

 private:
  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int pinStep(int kid, const std::string* pin, int padLength);

  int m_generation = 1;
  std::string m_callerParameter;
};

}  // namespace cardvariant
