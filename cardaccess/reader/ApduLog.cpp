#include "cardaccess/reader/ApduLog.h"

#include "cardaccess/reader/CICC.h"

QUARVEL_CARD_NAMESPACE_BEGIN

namespace apdulog {

namespace {

unsigned char byteAt(const std::string& bytes, size_t i) {
  return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
}

bool carriesPin(const std::string& c) {
  if (c.size() < 2) return false;
  const unsigned char ins = byteAt(c, 1);
  return ins == 0x20 || ins == 0x24 || ins == 0x2C;
}

bool isDecipher(const std::string& c) {
  return c.size() >= 4 && byteAt(c, 1) == 0x2A && byteAt(c, 2) == 0x80 && byteAt(c, 3) == 0x86;
}

}  // namespace

std::string command(const std::string& bytes) {
  std::string hex = toHex(bytes);
  // The header and Lc stay readable: ten hex characters.
  if (carriesPin(bytes))
    for (size_t i = 10; i < hex.size(); ++i) hex[i] = 'x';
  return hex;
}

std::string response(const std::string& command, const std::string& bytes) {
  std::string hex = toHex(bytes);
  if (isDecipher(command) && hex.size() > 4)
    for (size_t i = 0; i + 4 < hex.size(); ++i) hex[i] = 'x';
  return hex;
}

}  // namespace apdulog

QUARVEL_CARD_NAMESPACE_END
