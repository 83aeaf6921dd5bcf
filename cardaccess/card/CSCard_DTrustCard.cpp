#include "cardaccess/card/CSCard_DTrustCard.h"

#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

namespace {
const std::string kKeyDirectory("\x50\x15\x50\x72\x4B\x01", 6);
constexpr std::size_t kBlockSize = 256;
}  // namespace

CSCard_DTrustCard::CSCard_DTrustCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
  m_hashAlg = 2;
}

CSCard_DTrustCard::~CSCard_DTrustCard() { logObject(this, kDestroyed); }

int CSCard_DTrustCard::signInit(int kid, std::string parameter, int hashAlg) {
  logLazy("signInit", 3, kPush, [&] { return VOQ::formatString("kid=0x%x. started.\n", static_cast<unsigned>(kid)); });
  m_signParameter = parameter;
  setHashAlgorithm(hashAlg);
  m_keyReference = kid;
  m_pendingData.clear();
  return logReturn("signInit", 0);
}

int CSCard_DTrustCard::signUpdate(const std::string& data) {
  logEnter("signUpdate");
  return logReturn("signUpdate", CSCard::signUpdate(data));
}

int CSCard_DTrustCard::signFinal(int kid, const std::string& pin, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, &pin, out) : finalNormal(kid, &pin, out));
}

int CSCard_DTrustCard::signFinal(int kid, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, nullptr, out) : finalNormal(kid, nullptr, out));
}

int CSCard_DTrustCard::pinStep(int kid, const std::string* pin) {
  if (pin != nullptr) return verifyPIN(kid, *pin, 0);
  if (m_reader == nullptr) return cardresult::kSecureEntryImpossible;
  return m_reader->performVerification(static_cast<unsigned char>(kid), 0, 0, 6, 0, nullptr, nullptr, nullptr);
}

int CSCard_DTrustCard::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalNormal", result);
  const std::string data = digestInfoPrefix(m_digestAlgorithm) + hash;
  result = pinStep(kid, pin);
  if (result != 0) return logReturn("finalNormal", result);
  return logReturn("finalNormal", checkSignature(plainCommand(0x00, 0x2A, 0x9E, 0x9A, &data, 0x00, &out), out));
}

int CSCard_DTrustCard::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalSSL", result);
  const std::string data = digestInfoPrefix(m_digestAlgorithm) + hash;
  result = changeDirectoryPath(CAID(kKeyDirectory));
  if (result < 0) return logReturn("finalSSL", result);
  result = pinStep(kid, pin);
  if (result != 0) return logReturn("finalSSL", result);
  result = putMSE(m_signParameter, 0x01, 0xB8);
  if (result != 0) return logReturn("finalSSL", result);
  // The channel's extended form puts 00 01 01 (Lc 257) and the first three bytes
  // of the data (00 padding indicator, then 00 01 of the PKCS#1 type-1 block) in
  // place of Lc; the block's last two bytes 01 00 are the extended Le (256).
  std::string block(kBlockSize - 3 - data.size(), '\xFF');
  block += '\x00';
  block += data;
  block += std::string("\x01\x00", 2);
  // The block is the key's size, and so is what the card sends back.
  return logReturn("finalSSL",
                   checkSignature(plainCommand(0x00, 0x2A, 0x80, 0x86, &block, -1, &out, true), out, kBlockSize));
}

int CSCard_DTrustCard::verifyPIN(int kid, const std::string& pin, int pad) {
  logEnter("verifyPIN");
  const std::string data = padTo8(pin, pad);
  return logReturn("verifyPIN", pinCommand(0x00, 0x20, 0x00, kid & 0xFF, &data));
}

int CSCard_DTrustCard::emptyOperation(int, int, int) { return 0; }

int CSCard_DTrustCard::activatePIN(int, const std::string&, int) { return 0; }
