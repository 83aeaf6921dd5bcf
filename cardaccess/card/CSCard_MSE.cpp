#include "cardaccess/card/CSCard_MSE.h"

#include "cardaccess/card/PinBlock.h"
#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

CSCard_MSEBase::CSCard_MSEBase(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
  m_hashAlg = 2;
}

CSCard_MSEBase::~CSCard_MSEBase() { logObject(this, kDestroyed); }

int CSCard_MSEBase::open(const CFID& fid) { return openWith(fid, 0x02, 0x04, true, true); }

int CSCard_MSEBase::read(int handle, std::string& out, int count) { return readWith(handle, out, count, 0x02, true); }

int CSCard_MSEBase::signInit(int kid, std::string parameter, int hashAlg) {
  logLazy("signInit", 3, kPush, [&] { return VOQ::formatString("kid=0x%x. started.\n", static_cast<unsigned>(kid)); });
  m_signParameter = parameter;
  // Were the environment refused, a card with another key current would sign
  // with that one: the signature is not begun.
  const int result = setSecurityEnvironment(kid, parameter);
  if (result != 0) {
    dropDigest();
    return logReturn("signInit", result);
  }
  setHashAlgorithm(hashAlg);
  m_keyReference = kid;
  if (emptiesPendingDataAtSignInit()) m_pendingData.clear();
  return logReturn("signInit", 0);
}

int CSCard_MSEBase::setSecurityEnvironment(int, std::string templ) {
  logEnter("setSecurityEnvironment");
  if (templ.empty() && !sendsEmptyTemplate()) return logReturn("setSecurityEnvironment", 0);
  return logReturn("setSecurityEnvironment", plainCommand(0x00, 0x22, 0x41, 0xB6, &templ, -1));
}

int CSCard_MSEBase::signUpdate(const std::string& data) {
  logEnter("signUpdate");
  return logReturn("signUpdate", CSCard::signUpdate(data));
}

int CSCard_MSEBase::signFinal(int kid, const std::string& pin, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, &pin, out) : finalNormal(kid, &pin, out));
}

int CSCard_MSEBase::signFinal(int kid, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, nullptr, out) : finalNormal(kid, nullptr, out));
}

int CSCard_MSEBase::pinStep(int kid, const std::string* pin, bool verifyEmpty) {
  if (pin != nullptr) return pin->empty() && !verifyEmpty ? 0 : verifyPIN(kid, *pin, 0);
  if (m_reader == nullptr) return cardresult::kSecureEntryImpossible;
  return m_reader->performVerification(static_cast<unsigned char>(kid), 2, 0, 6, 0, nullptr, nullptr, nullptr);
}

int CSCard_MSEBase::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalNormal", result);
  result = pinStep(kid, pin, false);
  if (result != 0) return logReturn("finalNormal", result);
  sendHashTemplate();
  return logReturn("finalNormal", checkSignature(plainCommand(0x00, 0x2A, 0x9E, 0x9A, &hash, 0x00, &out), out));
}

int CSCard_MSEBase::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalSSL", result);
  const std::string data = digestInfoPrefix(m_digestAlgorithm) + hash;
  result = pinStep(kid, pin, false);
  if (result != 0) return logReturn("finalSSL", result);
  return logReturn("finalSSL", checkSignature(plainCommand(0x00, 0x2A, 0x9E, 0x9A, &data, 0x00, &out), out));
}

int CSCard_MSEBase::verifyPIN(int kid, const std::string& pin, int) {
  logEnter("verifyPIN");
  if (pin.empty()) return logReturn("verifyPIN", pinCommand(0x00, 0x20, 0x00, kid & 0xFF, nullptr));
  std::string block;
  if (!pinblock::fromText(pin, block)) return logReturn("verifyPIN", cardresult::kNotSupported);
  return logReturn("verifyPIN", pinCommand(0x00, 0x20, 0x00, kid & 0xFF, &block));
}

int CSCard_MSEBase::decryptInit(int kid, std::string parameter) {
  logLazy("decryptInit", 3, kPush,
          [&] { return VOQ::formatString("kid=0x%x. started.\n", static_cast<unsigned>(kid)); });
  m_signParameter = parameter;
  return logReturn("decryptInit", 0);
}

int CSCard_MSEBase::decryptFinal(int kid, const std::string& pin, const std::string& data, std::string& out) {
  logEnter("decryptFinal");
  return logReturn("decryptFinal", decrypt(kid, &pin, data, out));
}

int CSCard_MSEBase::decryptFinal(int kid, const std::string& data, std::string& out) {
  logEnter("decryptFinal");
  return logReturn("decryptFinal", decrypt(kid, nullptr, data, out));
}

int CSCard_MSEBase::decrypt(int kid, const std::string* pin, const std::string& cryptogram, std::string& out) {
  logEnter("decrypt");
  int result = pinStep(kid, pin, true);
  if (result != 0) return logReturn("decrypt", result);
  result = putMSE(m_signParameter, 0x41, 0xB8);
  if (result != 0) return logReturn("decrypt", result);
  return logReturn("decrypt", decipher(std::string(1, '\x81') + cryptogram, out));
}

int CSCard_MSEBase::changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int) {
  logEnter("changeReferenceData");
  std::string oldBlock, newBlock;
  if (!pinblock::fromText(oldPin, oldBlock) || !pinblock::fromText(newPin, newBlock))
    return logReturn("changeReferenceData", cardresult::kNotSupported);
  const std::string data = oldBlock + newBlock;
  return logReturn("changeReferenceData", pinCommand(0x00, 0x24, 0x00, kid & 0xFF, &data));
}

int CSCard_MSEBase::activatePIN(int kid, const std::string& pin, int digits) {
  logEnter("activatePIN");
  std::string block;
  if (!pinblock::fromPacked(pin, digits, block)) return logReturn("activatePIN", cardresult::kNotSupported);
  return logReturn("activatePIN", pinCommand(0x00, 0x24, 0x01, kid & 0xFF, &block));
}

int CSCard_MSEBase::unblockPIN(int kid, const std::string& puk, const std::string& newPin, int) {
  logEnter("unblockPIN");
  std::string pukBlock, pinBlock;
  if (!pinblock::fromPacked(puk, pinblock::packedDigits(puk), pukBlock) ||
      !pinblock::fromPacked(newPin, pinblock::packedDigits(newPin), pinBlock))
    return logReturn("unblockPIN", cardresult::kNotSupported);
  const std::string data = pukBlock + pinBlock;
  return logReturn("unblockPIN", pinCommand(0x00, 0x2C, 0x00, kid & 0xFF, &data));
}

int CSCard_MSEBase::emptyOperation(int, int, int) { return 0; }

int CSCard_MSEBase::PutHash(const std::string&) { return 0; }

int CSCard_MSEBase::makeHashObject(const std::string&, std::string&) { return 0; }

void CSCard_ECardng::sendHashTemplate() {
  const std::string templ = {'\x80', '\x01', m_digestAlgorithm == 2 ? '\x40' : '\x10'};
  putMSE(templ, 0x41, 0xAA);  // a refused template shows at the signature
}

int CSCard_ECardng::makeHashObject(const std::string& hash, std::string& out) {
  // The length byte says how long the hash is (20 or 32 bytes).
  out = std::string{'\x90', static_cast<char>(hash.size() & 0xFF)} + hash;
  return 0;
}

int CSCard_ECardng::PutHash(const std::string& hash) {
  logEnter("PutHash", 4);
  std::string object;
  makeHashObject(hash, object);
  return logReturn("PutHash", plainCommand(0x00, 0x2A, 0x90, 0xA0, &object, -1), 4);
}
