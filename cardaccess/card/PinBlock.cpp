#include "cardaccess/card/PinBlock.h"

namespace pinblock {

bool fromText(const std::string& pin, std::string& block) {
  if (pin.size() > static_cast<std::size_t>(kMaxDigits)) return false;
  block.assign(8, static_cast<char>(0xFF));
  block[0] = static_cast<char>(0x20 | pin.size());
  for (std::size_t k = 0; k < pin.size(); k += 2) {
    const unsigned high = static_cast<unsigned char>(pin[k]) & 0x0F;
    const unsigned low = k + 1 < pin.size() ? (static_cast<unsigned char>(pin[k + 1]) - 0x30) & 0x0F : 0x0F;
    block[1 + k / 2] = static_cast<char>(high << 4 | low);
  }
  return true;
}

bool fromPacked(const std::string& packed, int digits, std::string& block) {
  if (packed.size() > kMaxPackedBytes || digits < 0 || digits > kMaxDigitCount) return false;
  block.assign(8, static_cast<char>(0xFF));
  block[0] = static_cast<char>(0x20 | digits);
  block.replace(1, packed.size(), packed);
  return true;
}

int packedDigits(const std::string& packed) {
  if (packed.empty()) return 0;
  const int digits = static_cast<int>(packed.size()) * 2;
  return (static_cast<unsigned char>(packed.back()) & 0x0F) == 0x0F ? digits - 1 : digits;
}

}  // namespace pinblock
