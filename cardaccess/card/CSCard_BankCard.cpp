#include "cardaccess/card/CSCard_BankCard.h"

#include "cardaccess/reader/CReader.h"
#include "cardaccess/reader/CardResult.h"
#include "foundation/base/FormatString.h"

#include <algorithm>

namespace {
const std::string kApplication("\xA0\x00\x00\x01\x18\x45\x43", 7);
const std::string kMarkerFile("\xD0\x02", 2);
const std::string kCINDirectory("\xDF\x71", 2);
const std::string kCINFile("\xD0\x01", 2);
constexpr int kCINBytes = 8;
constexpr int kSignDigits = 6;
constexpr int kCardPinDigits = 4;
}  // namespace

CSCard_BankCard::CSCard_BankCard(CICC_base* channel, CReader* reader, const std::string& atr, int hashAlg)
    : CSCard(channel, reader, atr, hashAlg) {
  logObject(this, kConstructed);
  // The probes only decide the generation; they never fail the construction.
  if (changeDirectory(CAID(kApplication)) == 0) {
    const int handle = CSCard::open(CFID(kMarkerFile));
    if (handle >= 0) {
      m_generation = 2;
      close(handle);
    }
  }
  m_hashAlg = 2;
}

CSCard_BankCard::~CSCard_BankCard() { logObject(this, kDestroyed); }

bool CSCard_BankCard::isACOS04() const {
  logLazy("isACOS04", 3, kPop, [&] { return VOQ::formatString("ACOS_Generation: %d.\n", m_generation); });
  return m_generation == 2;
}

int CSCard_BankCard::signInit(int kid, std::string parameter, int hashAlg) {
  logLazy("signInit", 3, kPush, [&] { return VOQ::formatString("kid=0x%x. started.\n", static_cast<unsigned>(kid)); });
  m_unadjustedParameter = parameter;
  if (parameter.size() >= 3) parameter[2] = (m_generation == 1 || hashAlg == 1) ? '\x14' : '\x44';
  m_signParameter = parameter;
  // A refused environment stops the PSO road before anything is sent, since the
  // card would sign with the key current before; the TLS form sets its own.
  m_environment = initOnCard(kid, parameter);
  setHashAlgorithm(hashAlg);
  m_keyReference = kid;
  m_pendingData.clear();
  return logReturn("signInit", 0);
}

int CSCard_BankCard::initOnCard(int, std::string parameter) {
  logEnter("initOnCard", 4);
  return logReturn("initOnCard", putMSE(parameter, 0x81, 0xB6), 4);
}

int CSCard_BankCard::signUpdate(const std::string& data) {
  logEnter("signUpdate");
  return logReturn("signUpdate", CSCard::signUpdate(data));
}

int CSCard_BankCard::signFinal(int kid, const std::string& pin, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, &pin, out) : finalNormal(kid, &pin, out));
}

int CSCard_BankCard::signFinal(int kid, std::string& out, bool tls) {
  logEnter("signFinal");
  return logReturn("signFinal", tls ? finalSSL(kid, nullptr, out) : finalNormal(kid, nullptr, out));
}

int CSCard_BankCard::pinStep(int kid, const std::string* pin, int fixedLength) {
  if (pin != nullptr) return verifyPIN(kid, *pin, 0);
  if (m_reader == nullptr) return cardresult::kSecureEntryImpossible;
  return m_reader->performVerification(static_cast<unsigned char>(kid), 0, fixedLength, 6, 0, nullptr, nullptr,
                                       nullptr);
}

int CSCard_BankCard::finalNormal(int kid, const std::string* pin, std::string& out) {
  logEnter("finalNormal");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalNormal", result);
  if (m_environment != 0) return logReturn("finalNormal", m_environment);
  result = PutHash(hash);
  if (result < 0) return logReturn("finalNormal", result);
  result = pinStep(kid, pin, kSignDigits);
  if (result != 0) return logReturn("finalNormal", result);
  return logReturn("finalNormal", checkSignature(plainCommand(0x00, 0x2A, 0x9E, 0x9A, nullptr, 0x00, &out), out));
}

int CSCard_BankCard::finalSSL(int kid, const std::string* pin, std::string& out) {
  logEnter("finalSSL");
  std::string hash;
  int result = finishDigest(hash);
  if (result != 0) return logReturn("finalSSL", result);
  const std::string data = digestInfoPrefix(m_digestAlgorithm) + hash;
  result = pinStep(kid, pin, kCardPinDigits);
  if (result != 0) return logReturn("finalSSL", result);
  result = putMSE(m_unadjustedParameter, 0x41, 0xA4);
  if (result != 0) return logReturn("finalSSL", result);
  return logReturn("finalSSL", checkSignature(plainCommand(0x00, 0x88, 0x10, 0x00, &data, 0x00, &out), out));
}

int CSCard_BankCard::decryptInit(int kid, std::string parameter) {
  logLazy("decryptInit", 3, kPush,
          [&] { return VOQ::formatString("kid=0x%x. started.\n", static_cast<unsigned>(kid)); });
  m_signParameter = parameter;
  return logReturn("decryptInit", 0);
}

int CSCard_BankCard::decryptFinal(int kid, const std::string& pin, const std::string& data, std::string& out) {
  logEnter("decryptFinal");
  return logReturn("decryptFinal", decrypt(kid, &pin, data, out));
}

int CSCard_BankCard::decryptFinal(int kid, const std::string& data, std::string& out) {
  logEnter("decryptFinal");
  return logReturn("decryptFinal", decrypt(kid, nullptr, data, out));
}

int CSCard_BankCard::decrypt(int kid, const std::string* pin, const std::string& cryptogram, std::string& out) {
  logEnter("decrypt");
  int result = pinStep(kid, pin, kCardPinDigits);
  if (result != 0) return logReturn("decrypt", result);
  result = putMSE(m_signParameter, 0x41, 0xB8);
  if (result != 0) return logReturn("decrypt", result);
  return logReturn("decrypt", decipher(std::string(1, '\x81') + cryptogram, out));
}

int CSCard_BankCard::verifyPIN(int kid, const std::string& pin, int pad) {
  logEnter("verifyPIN");
  const std::string data = padTo8(pin, pad);
  return logReturn("verifyPIN", pinCommand(0x00, 0x20, 0x00, kid & 0xFF, &data));
}

int CSCard_BankCard::unblockPIN(int kid, const std::string& code, int pad) {
  logEnter("unblockPIN");
  const std::string data = padTo8(code, pad);
  return logReturn("unblockPIN", pinCommand(0x00, 0x2C, 0x01, kid & 0xFF, &data));
}

int CSCard_BankCard::getCIN(char* out, std::size_t capacity) {
  logEnter("getCIN");
  // 16 hex characters and the terminating zero.
  if (out == nullptr || capacity < 2 * kCINBytes + 1) return logReturn("getCIN", cardresult::kNotSupported);
  int result = changeDirectory(CFID(kCINDirectory));
  if (result != 0) return logReturn("getCIN", result);
  const int handle = open(CFID(kCINFile));
  if (handle < 0) return logReturn("getCIN", handle);
  std::string cin;
  result = read(handle, cin, kCINBytes);
  if (result < 0) {
    close(handle);
    return logReturn("getCIN", result);
  }
  // A card may answer more than it was asked for; the CIN is 8 bytes.
  static const char kDigits[] = "0123456789abcdef";
  const std::size_t n = std::min<std::size_t>(cin.size(), kCINBytes);
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(cin[i]);
    out[2 * i] = kDigits[b >> 4];
    out[2 * i + 1] = kDigits[b & 0x0F];
  }
  out[2 * n] = '\0';
  close(handle);
  return logReturn("getCIN", 0);
}

int CSCard_BankCard::finalOnCard() {
  logEnter("finalOnCard", 4);
  std::string object;
  const int encoded = encodeHashBlock(m_pendingData, object);
  if (encoded != 0) return logReturn("finalOnCard", kEncodeFailed, 4);
  return logReturn("finalOnCard", plainCommand(0x00, 0x2A, 0x90, 0xA0, &object, 0x00), 4);
}

int CSCard_BankCard::emptyOperation(int, int, int) { return 0; }

int CSCard_BankCard::activatePIN(int, const std::string&, int) { return 0; }
