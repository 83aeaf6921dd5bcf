#include "cardsim/bytes.h"

#include <stdexcept>

namespace cardsim {

namespace {
int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

Bytes fromHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ':' || c == '-' || c == '\n' || c == '\r') continue;
    int n = nibble(c);
    if (n < 0) throw std::invalid_argument("not a hex digit in '" + std::string(text) + "'");
    if (high < 0) {
      high = n;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | n));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits in '" + std::string(text) + "'");
  return out;
}

std::string toHex(const Bytes& bytes, bool spaced) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace cardsim
