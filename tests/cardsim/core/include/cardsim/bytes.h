// Byte strings and their hexadecimal text, as the test bed writes them in
// profiles, scripts and logs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

using Bytes = std::vector<std::uint8_t>;

// Parses hexadecimal text; blanks, ':' and '-' between digits are ignored.
// Throws std::invalid_argument on anything else or an odd digit count.
Bytes fromHex(std::string_view text);
// Upper-case hex; with `spaced` one blank between bytes.
std::string toHex(const Bytes& bytes, bool spaced = false);

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::uint16_t statusWord(const Bytes& response) {
  if (response.size() < 2) return 0;
  return static_cast<std::uint16_t>(response[response.size() - 2] << 8 | response.back());
}

}  // namespace cardsim
