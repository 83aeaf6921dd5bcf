// Bank cards with an ACOS signature application. The hash goes to the card with
// PSO HASH before PSO COMPUTE DIGITAL SIGNATURE; the TLS signature is INTERNAL
// AUTHENTICATE over a DigestInfo; the PIN can be unblocked with the unblocking
// code alone. Only generation 2 (ACOS04) is served.
#pragma once

#include "cardaccess/card/CSCard.h"

class CSCard_BankCard : public CSCard {
 public:
  // Probes the generation: the application, then its marker file D0 02.
  CSCard_BankCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_BankCard() override;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string& pin, std::string& out, bool tls) override;
  int signFinal(int kid, std::string& out, bool tls) override;
  int unblockPIN(int kid, const std::string& code, int pad) override;
  int verifyPIN(int kid, const std::string& pin, int pad) override;
  int decryptInit(int kid, std::string parameter) override;
  int decryptFinal(int kid, const std::string& pin, const std::string& data, std::string& out) override;
  int decryptFinal(int kid, const std::string& data, std::string& out) override;
  // At most 8 bytes of the CIN as 16 hex characters and a zero; capacity at least 17.
  int getCIN(char* out, std::size_t capacity) override;
  int emptyOperation(int first, int second, int third) override;
  int activatePIN(int kid, const std::string& pin, int digits) override;
  int finalOnCard() override;
  virtual int initOnCard(int kid, std::string parameter);

  bool isACOS04() const;

 private:
  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int decrypt(int kid, const std::string* pin, const std::string& cryptogram, std::string& out);
  int pinStep(int kid, const std::string* pin, int fixedLength);

  int m_generation = 1;
  std::string m_unadjustedParameter;
  // What the card answered to signInit's environment: the signature template
  // serves the PSO road only (the TLS form chooses its key on its own).
  int m_environment = 0;
};
