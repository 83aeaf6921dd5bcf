#include "cardvariant/CSCard_OCard.h"

#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

// Digits of a packed value: two a byte, one less when the last low half-byte is F.
int packedDigits(const std::string& packed) {
  const int digits = static_cast<int>(packed.size()) * 2;
  return (static_cast<unsigned char>(packed.back()) & 0x0F) == 0x0F ? digits - 1 : digits;
}

}  // namespace

CSCard_OCard::CSCard_OCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
}

CSCard_OCard::~CSCard_OCard() { logObject(this, kDestroyed); }

bool CSCard_OCard::format2Block(const std::string& digits, std::string& block) {
  if (digits.size() > 14) return false;
  block.assign(8, '\xFF');
  block[0] = static_cast<char>(0x20 | digits.size());
  for (size_t i = 0; i < digits.size(); ++i) {
    const int nibble = (digits[i] - '0') & 0x0F;
    char& b = block[1 + i / 2];
    b = static_cast<char>(i % 2 == 0 ? (nibble << 4) | 0x0F : (static_cast<unsigned char>(b) & 0xF0) | nibble);
  }
  return true;
}

bool CSCard_OCard::packedBlock(const std::string& packed, int digits, std::string& block) {
  if (packed.empty() || packed.size() > 7 || digits < 0 || digits > 15) return false;
  block.assign(8, '\xFF');
  block[0] = static_cast<char>(0x20 | digits);
  block.replace(1, packed.size(), packed);
  return true;
}

int CSCard_OCard::open(const CFID& fid) {
  logEnter("open");
  return logReturn("open", openWith(fid, 0x02, 0x04, true, true));
}

int CSCard_OCard::read(int handle, std::string& out, int length) {
  logEnter("read");
  return logReturn("read", readWith(handle, out, length, 0x02, true));
}

int CSCard_OCard::putMSESignature(int, std::string parameter) { return command(0x00, 0x22, 0x41, 0xB6, &parameter, -1); }

int CSCard_OCard::signInit(int kid, std::string parameter, int hashAlg) {
  logEnter("signInit", VOQ::formatString("kid=0x%x. started.\n", kid).c_str());
  // A refused environment shows at PSO HASH or at the signature.
  putMSESignature(kid, parameter);
  startSignature(kid, parameter, hashAlg);
  return logReturn("signInit", 0);
}

int CSCard_OCard::signUpdate(const std::string& data) { return CSCard::signUpdate(data); }

int CSCard_OCard::signFinal(int kid, const std::string* pin, std::string& out, unsigned char) {
  logEnter("signFinal");
  return logReturn("signFinal", finalNormal(kid, pin, out));
}

int CSCard_OCard::signFinal(int kid, std::string& out, unsigned char ssl) { return signFinal(kid, nullptr, out, ssl); }

int CSCard_OCard::buildHashObject(const std::string& hash, std::string& out) {
  // The object's length is the hash's own: 0x14 for SHA-1, 0x20 for SHA-256.
  out = std::string(1, '\x90') + static_cast<char>(hash.size()) + hash;
  return 0;
}

int CSCard_OCard::PutHash(const std::string& hash) {
  log("PutHash", "started.\n", 4, 0);
  std::string object;
  buildHashObject(hash, object);
  const int result = command(0x00, 0x2A, 0x90, 0xA0, &object, -1);
  logLazy("PutHash", 4, 0, [&] { return VOQ::formatString("returned: 0x%x.\n", result); });
  return result;
}

int CSCard_OCard::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = PutHash(hash);
  if (result == 0 && pin == nullptr) result = padVerification(kid, 2, 0);
  // An empty PIN counts as verified already.
  if (result == 0 && pin != nullptr && !pin->empty()) result = verifyPIN(kid, *pin, 0x00);
  if (result == 0) result = command(0x00, 0x2A, 0x9E, 0x9A, nullptr, 0x00, &out);
  return logReturn("finalNormal", result);
}

int CSCard_OCard::verifyPIN(int kid, const std::string& pin, int) {
  logEnter("verifyPIN");
  if (pin.empty()) return logReturn("verifyPIN", pinCommand(0x20, 0x00, kid, nullptr));
  std::string block;
  if (!format2Block(pin, block)) return logReturn("verifyPIN", kNotSupported);
  return logReturn("verifyPIN", pinCommand(0x20, 0x00, kid, &block));
}

int CSCard_OCard::changeReferenceData(int kid, const std::string& oldPin, const std::string& newPin, int) {
  logEnter("changeReferenceData");
  std::string oldBlock, newBlock;
  if (!format2Block(oldPin, oldBlock) || !format2Block(newPin, newBlock))
    return logReturn("changeReferenceData", kNotSupported);
  const std::string data = oldBlock + newBlock;
  return logReturn("changeReferenceData", pinCommand(0x24, 0x00, kid, &data));
}

int CSCard_OCard::activatePIN(int kid, const std::string& pin, int digits) {
  logEnter("verifyPIN");
  std::string block;
  if (!packedBlock(pin, digits, block)) return logReturn("verifyPIN", kNotSupported);
  return logReturn("verifyPIN", pinCommand(0x24, 0x01, kid, &block));
}

int CSCard_OCard::unblockPIN(int kid, const std::string& puk, const std::string& newPin, int) {
  logEnter("unblockPIN");
  std::string pukBlock, pinBlock;
  if (puk.empty() || newPin.empty() || !packedBlock(puk, packedDigits(puk), pukBlock) ||
      !packedBlock(newPin, packedDigits(newPin), pinBlock))
    return logReturn("unblockPIN", kNotSupported);
  const std::string data = pukBlock + pinBlock;
  return logReturn("unblockPIN", pinCommand(0x2C, 0x00, kid, &data));
}

CSCard_ECard::CSCard_ECard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard_OCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
}

CSCard_ECard::~CSCard_ECard() { logObject(this, kDestroyed); }

int CSCard_ECard::signInit(int kid, std::string parameter, int hashAlg) {
  logEnter("signInit", VOQ::formatString("kid=0x%x. started.\n", kid).c_str());
  if (hashAlg == 2) return logReturn("signInit", kRefused);
  const int result = putMSESignature(kid, parameter);
  startSignature(kid, parameter, hashAlg);
  return logReturn("signInit", result);
}

int CSCard_ECard::unblockPIN(int, const std::string&, const std::string&, int) { return kNotSupported; }

}  // namespace cardvariant
