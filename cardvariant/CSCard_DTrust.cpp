#include "cardvariant/CSCard_DTrust.h"

#include "foundation/base/FormatString.h"

namespace cardvariant {

CSCard_DTrust::CSCard_DTrust(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
}

CSCard_DTrust::~CSCard_DTrust() { logObject(this, kDestroyed); }

int CSCard_DTrust::signInit(int kid, std::string parameter, int hashAlg) {
  logEnter("signInit", VOQ::formatString("kid=0x%x. started.\n", kid).c_str());
  startSignature(kid, parameter, hashAlg);
  return logReturn("signInit", 0);
}

int CSCard_DTrust::signUpdate(const std::string& data) { return CSCard::signUpdate(data); }

int CSCard_DTrust::signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) {
  logEnter("signFinal");
  return logReturn("signFinal", ssl ? finalSSL(kid, pin, out) : finalNormal(kid, pin, out));
}

int CSCard_DTrust::signFinal(int kid, std::string& out, unsigned char ssl) { return signFinal(kid, nullptr, out, ssl); }

int CSCard_DTrust::pinStep(int kid, const std::string* pin) {
  return pin ? verifyPIN(kid, *pin, 0x00) : padVerification(kid, 0, 8);
}

int CSCard_DTrust::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = pinStep(kid, pin);
  if (result == 0) {
    const std::string data = digestInfo(hash);
    result = command(0x00, 0x2A, 0x9E, 0x9A, &data, 0x00, &out);
  }
  return logReturn("finalNormal", result);
}

int CSCard_DTrust::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = pinStep(kid, pin);
  if (result == 0) result = putMSEDecipher(m_signParameter);
  if (result == 0) {
    // The channel sends the first bytes (Lc 257, indicator 00, block type 00 01);
    // the rest of the 256-byte block follows, then the extended Le 01 00.
    const std::string info = digestInfo(hash);
    const std::string data = std::string(253 - info.size(), '\xFF') + std::string(1, '\0') + info + std::string("\x01\x00", 2);
    result = command(0x00, 0x2A, 0x80, 0x86, &data, -1, &out);
  }
  return logReturn("finalSSL", result);
}

int CSCard_DTrust::verifyPIN(int kid, const std::string& pin, int pad) { return verifyPaddedPIN(kid, pin, pad); }

int CSCard_DTrust::unblockPIN(int kid, const std::string& puk, int pad) { return unblockWithCode(kid, puk, pad); }

int CSCard_DTrust::getCIN(char* buffer) { return readCINFromDF71(buffer); }

int CSCard_DTrust::putMSEDecipher(std::string parameter) { return command(0x00, 0x22, 0x01, 0xB8, &parameter, -1); }

}  // namespace cardvariant
