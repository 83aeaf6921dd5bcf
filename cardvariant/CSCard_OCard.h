// OCard and ECard: files under the current directory with FCP answers, ISO 9564
// format-2 PIN blocks, and signatures in three steps (MSE SET, PSO HASH with the
// hash in a data object, PSO COMPUTE DIGITAL SIGNATURE without data).
#pragma once

#include "cardvariant/CSCard.h"

namespace cardvariant {

class CSCard_OCard : public CSCard {
 public:
  CSCard_OCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_OCard() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  int open(const CFID& fid) override;
  int read(int handle, std::string& out, int length) override;
  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) override;
  int signFinal(int kid, std::string& out, unsigned char ssl) override;
  using CSCard::unblockPIN;
  // An empty PIN asks the card for the tries left.
  int verifyPIN(int kid, const std::string& pin, int pad) override;
  int changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int pad) override;
  int reserved3(int, int, int) override { return 0; }
  // pin holds the digits packed, F-filled.
  int activatePIN(int kid, const std::string& pin, int digits) override;
  int getCardType() override { return 3; }
  // RESET RETRY COUNTER with the unblocking code and the new PIN, both packed.
  virtual int unblockPIN(int kid, const std::string& puk, const std::string& newPin, int unused);

  int putMSESignature(int kid, std::string parameter);
  // PSO HASH 00 2A 90 A0 with the hash as data object 90.
  int PutHash(const std::string& hash);
  static int buildHashObject(const std::string& hash, std::string& out);

  // An 8-byte format-2 block of ASCII digits; false for more than 14 digits.
  static bool format2Block(const std::string& digits, std::string& block);
  // An 8-byte block around packed digits; false for an empty value, more than 7
  // bytes or a digit count above 15.
  static bool packedBlock(const std::string& packed, int digits, std::string& block);

 protected:
  int finalNormal(int kid, const std::string* pin, std::string& out);
};

class CSCard_ECard : public CSCard_OCard {
 public:
  CSCard_ECard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_ECard() override;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }

  // SHA-256 is refused (0x80080001) before anything is sent.
  int signInit(int kid, std::string parameter, int hashAlg) override;
  using CSCard_OCard::unblockPIN;
  int unblockPIN(int kid, const std::string& puk, const std::string& newPin, int unused) override;
  int getCardType() override { return 2; }
};

}  // namespace cardvariant
