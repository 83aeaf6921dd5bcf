#include "cardvariant/CSCard_BankCard.h"

#include "foundation/base/FormatString.h"

namespace cardvariant {

namespace {

// The older generation cannot sign SHA-256 with this security environment.
bool isRefusedOnOlderCards(const std::string& parameter) {
  static const std::string refused("\x80\x01\x14\x84\x01\x88", 6);
  // The parameter counts up to its first zero byte, or to its end.
  const size_t end = parameter.find('\0');
  return parameter.substr(0, end) == refused;
}

}  // namespace

CSCard_BankCard::CSCard_BankCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
  if (changeDirectory(CAID(std::string("\xA0\x00\x00\x01\x18\x45\x43", 7))) == 0) {
    const int handle = open(CFID(std::string("\xD0\x02", 2)));
    if (handle >= 0) {
      m_generation = 2;
      if (m_hashAlg != 1) m_hashAlg = 2;
      close(handle);
    }
  }
}

CSCard_BankCard::~CSCard_BankCard() { logObject(this, kDestroyed); }

int CSCard_BankCard::signInit(int kid, std::string parameter, int hashAlg) {
  logEnter("signInit", VOQ::formatString("kid=0x%x. started.\n", kid).c_str());
  if (m_generation != 2 && hashAlg == 2 && isRefusedOnOlderCards(parameter)) return logReturn("signInit", kRefused);
  m_callerParameter = parameter;
  std::string rewritten = parameter;
  if (rewritten.size() >= 3) rewritten[2] = (m_generation == 1 || hashAlg == 1) ? '\x14' : '\x44';
  // A refusal shows at the final: the result is not used here.
  putMSE(rewritten, 0x81, 0xB6);
  startSignature(kid, rewritten, hashAlg);
  return logReturn("signInit", 0);
}

int CSCard_BankCard::signUpdate(const std::string& data) { return CSCard::signUpdate(data); }

int CSCard_BankCard::signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) {
  logEnter("signFinal");
  return logReturn("signFinal", ssl ? finalSSL(kid, pin, out) : finalNormal(kid, pin, out));
}

int CSCard_BankCard::signFinal(int kid, std::string& out, unsigned char ssl) {
  return signFinal(kid, nullptr, out, ssl);
}

int CSCard_BankCard::pinStep(int kid, const std::string* pin, int padLength) {
  return pin ? verifyPIN(kid, *pin, 0x00) : padVerification(kid, 0, padLength);
}

int CSCard_BankCard::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = PutHash(hash);
  if (result == 0) result = pinStep(kid, pin, 6);
  if (result == 0) result = command(0x00, 0x2A, 0x9E, 0x9A, nullptr, 0x00, &out);
  return logReturn("finalNormal", result);
}

int CSCard_BankCard::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = pinStep(kid, pin, 4);
  if (result == 0) result = putMSE(m_callerParameter, 0x41, 0xA4);
  if (result == 0) {
    const std::string data = digestInfo(hash);
    result = command(0x00, 0x88, 0x10, 0x00, &data, 0x00, &out);
  }
  return logReturn("finalSSL", result);
}

int CSCard_BankCard::verifyPIN(int kid, const std::string& pin, int pad) { return verifyPaddedPIN(kid, pin, pad); }

int CSCard_BankCard::unblockPIN(int kid, const std::string& puk, int pad) { return unblockWithCode(kid, puk, pad); }

int CSCard_BankCard::getCIN(char* buffer) { return readCINFromDF71(buffer); }

}  // namespace cardvariant
