// ISO 9564 format-2 PIN blocks: 2L, the digits as packed BCD, F fill.
#pragma once

#include <string>

namespace pinblock {

// A block carries at most 14 digits in 7 bytes.
constexpr int kMaxDigits = 14;
constexpr std::size_t kMaxPackedBytes = 7;
constexpr int kMaxDigitCount = 15;

// From PIN text (ASCII digits): true and the 8-byte block, false when it does not fit.
bool fromText(const std::string& pin, std::string& block);
// From packed digits with the digit count: false when the bytes or the count do not fit.
bool fromPacked(const std::string& packed, int digits, std::string& block);
// The digit count of packed digits: two per byte, one less when the last low
// nibble is F; 0 for none.
int packedDigits(const std::string& packed);

}  // namespace pinblock
