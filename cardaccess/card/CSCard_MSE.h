// Signature cards that choose key and algorithm with MANAGE SECURITY ENVIRONMENT,
// sign with PSO COMPUTE DIGITAL SIGNATURE over a host-computed hash, decipher
// with PSO DECIPHER and carry PINs in format-2 blocks. CSCard_aSignPCS and
// CSCard_ECardG4 are the same card to this program; CSCard_ECardng adds a hash
// template before the signature and always sends the signature template.
#pragma once

#include "cardaccess/card/CSCard.h"

class CSCard_MSEBase : public CSCard {
 public:
  CSCard_MSEBase(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg);
  ~CSCard_MSEBase() override;

  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int open(const CFID& fid) override;
  int read(int handle, std::string& out, int count) override;
  int signInit(int kid, std::string parameter, int hashAlg) override;
  int signUpdate(const std::string& data) override;
  int signFinal(int kid, const std::string& pin, std::string& out, bool tls) override;
  int signFinal(int kid, std::string& out, bool tls) override;
  using CSCard::unblockPIN;
  int verifyPIN(int kid, const std::string& pin, int unused) override;
  int decryptInit(int kid, std::string parameter) override;
  int decryptFinal(int kid, const std::string& pin, const std::string& data, std::string& out) override;
  int decryptFinal(int kid, const std::string& data, std::string& out) override;
  int changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int unused) override;
  int emptyOperation(int first, int second, int third) override;
  int activatePIN(int kid, const std::string& pin, int digits) override;

  // The PUK form: PUK and new PIN as packed digits.
  virtual int unblockPIN(int kid, const std::string& puk, const std::string& newPin, int unused);
  virtual int setSecurityEnvironment(int kid, std::string templ);
  virtual int PutHash(const std::string& hash);
  virtual int makeHashObject(const std::string& hash, std::string& out);

 protected:
  // What CSCard_ECardng does differently.
  virtual bool sendsEmptyTemplate() const { return false; }
  virtual bool emptiesPendingDataAtSignInit() const { return false; }
  virtual void sendHashTemplate() {}

  int finalNormal(int kid, const std::string* pin, std::string& out);
  int finalSSL(int kid, const std::string* pin, std::string& out);
  int decrypt(int kid, const std::string* pin, const std::string& cryptogram, std::string& out);

 private:
  // PIN given and not empty: VERIFY; given but empty: nothing (signing) or a
  // VERIFY without data (deciphering); none: the reader's PIN pad.
  int pinStep(int kid, const std::string* pin, bool verifyEmpty);
};

class CSCard_aSignPCS : public CSCard_MSEBase {
 public:
  using CSCard_MSEBase::CSCard_MSEBase;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
};

class CSCard_ECardG4 : public CSCard_MSEBase {
 public:
  using CSCard_MSEBase::CSCard_MSEBase;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
};

class CSCard_ECardng : public CSCard_MSEBase {
 public:
  using CSCard_MSEBase::CSCard_MSEBase;
  int getSize() const override { return static_cast<int>(sizeof(*this)); }
  int PutHash(const std::string& hash) override;
  int makeHashObject(const std::string& hash, std::string& out) override;

 protected:
  bool sendsEmptyTemplate() const override { return true; }
  bool emptiesPendingDataAtSignInit() const override { return true; }
  // MSE SET 41 AA with the hash algorithm: 40 for SHA-256, 10 otherwise.
  void sendHashTemplate() override;
};
