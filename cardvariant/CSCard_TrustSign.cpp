#include "cardvariant/CSCard_TrustSign.h"

#include <cstring>

#include "foundation/base/FormatString.h"

namespace cardvariant {

CSCard_TrustSign::CSCard_TrustSign(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
}

CSCard_TrustSign::~CSCard_TrustSign() { logObject(this, kDestroyed); }

int CSCard_TrustSign::signInit(int kid, std::string parameter, int hashAlg) {
  logEnter("signInit", VOQ::formatString("kid=0x%x. started.\n", kid).c_str());
  if (kid == kWorkaroundKey) {
    log("signInit", "Internal Authenticate Workaround selected.\n", 2, 0);
  } else if (parameter.size() >= 3) {
    parameter[2] = hashAlg == 1 ? '\x12' : '\x22';
  }
  startSignature(kid, parameter, hashAlg);
  return logReturn("signInit", 0);
}

int CSCard_TrustSign::signUpdate(const std::string& data) { return CSCard::signUpdate(data); }

int CSCard_TrustSign::signFinal(int kid, const std::string* pin, std::string& out, unsigned char ssl) {
  logEnter("signFinal");
  return logReturn("signFinal", ssl ? finalSSL(kid, pin, out) : finalNormal(kid, pin, out));
}

int CSCard_TrustSign::signFinal(int kid, std::string& out, unsigned char ssl) {
  return signFinal(kid, nullptr, out, ssl);
}

int CSCard_TrustSign::pinStep(int kid, const std::string* pin) {
  return pin ? verifyPIN(kid, *pin, 0x00) : padVerification(kid, 0, 0);
}

int CSCard_TrustSign::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = PutHash(hash);
  if (result == 0) result = pinStep(kid, pin);
  if (result == 0) result = putMSE(m_signParameter, 0x81, 0xB6);
  if (result == 0) result = command(0x00, 0x2A, 0x9E, 0x9A, nullptr, 0x00, &out);
  return logReturn("finalNormal", result);
}

int CSCard_TrustSign::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result == 0) result = pinStep(kid, pin);
  if (result == 0) result = putMSE(m_signParameter, 0x41, 0xA4);
  if (result == 0) {
    const std::string data = digestInfo(hash);
    result = command(0x00, 0x88, 0x10, 0x00, &data, 0x00, &out);
  }
  return logReturn("finalSSL", result);
}

int CSCard_TrustSign::verifyPIN(int kid, const std::string& pin, int pad) { return verifyPaddedPIN(kid, pin, pad); }

int CSCard_TrustSign::unblockPIN(int kid, const std::string& puk, const std::string& newPin, int pad) {
  logEnter("unblockPIN");
  const std::string data = padTo8(puk, pad) + padTo8(newPin, pad);
  return logReturn("unblockPIN", pinCommand(0x2C, 0x00, kid, &data));
}

int CSCard_TrustSign::getCIN(char* buffer) {
  if (buffer == nullptr) return kNotSupported;
  int result = changeDirectory(CFID(std::string("\x3F\x00", 2)));
  if (result != 0) return result;
  const int handle = open(CFID(std::string("\x2F\x02", 2)));
  if (handle < 0) return handle;
  std::string content;
  result = readUpToSize(handle, content, 100);
  close(handle);
  if (result < 0) return result;
  // The number is bytes 7 to 14: shorter content has none.
  if (content.size() < 15) return kEndOfFile;
  std::memcpy(buffer, CBuffer(content.substr(7, 8)).toHex().data(), kCINLength);
  return 0;
}

int CSCard_TrustSign::getPublicKey(std::string& modulus, std::string& exponent, int keyNumber) {
  int result = changeDirectory(CFID(std::string("\xDF\x01", 2)));
  if (result != 0) return result;
  const int handle = open(CFID(std::string("\x00\x10", 2)));
  if (handle < 0) return handle;
  std::string content;
  result = readUpToSize(handle, content, 512);
  close(handle);
  if (result < 0) return result;
  return parsePublicKey(content, modulus, exponent, keyNumber);
}

}  // namespace cardvariant
