// ISO 7816-4 command APDUs, short and extended length.
#pragma once

#include "cardsim/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace cardsim {

struct CommandApdu {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  Bytes data;
  // Ne, the number of response bytes the terminal accepts; absent = case 1 or 3,
  // where the card must not return data. Le 00 means 256 (short) or 65536 (extended).
  std::optional<std::size_t> ne;
  bool extended = false;
  // Le was all zeros: "as much as there is", up to Ne.
  bool neMax = false;

  // nullopt when the bytes are no well-formed APDU of any of the seven cases.
  static std::optional<CommandApdu> parse(const Bytes& bytes);
  Bytes encode() const;
};

// Status words the simulated cards answer.
namespace sw {
constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kEndOfFile = 0x6282;
constexpr std::uint16_t kWrongLength = 0x6700;
constexpr std::uint16_t kChainingUnsupported = 0x6884;
constexpr std::uint16_t kIncompatibleFile = 0x6981;
constexpr std::uint16_t kSecurityStatus = 0x6982;
constexpr std::uint16_t kBlocked = 0x6983;
constexpr std::uint16_t kReferenceUnusable = 0x6984;
constexpr std::uint16_t kConditions = 0x6985;
constexpr std::uint16_t kNoCurrentEf = 0x6986;
constexpr std::uint16_t kWrongData = 0x6A80;
constexpr std::uint16_t kFunctionUnsupported = 0x6A81;
constexpr std::uint16_t kFileNotFound = 0x6A82;
constexpr std::uint16_t kRecordNotFound = 0x6A83;
constexpr std::uint16_t kNotEnoughMemory = 0x6A84;
constexpr std::uint16_t kWrongP1P2 = 0x6A86;
constexpr std::uint16_t kReferenceNotFound = 0x6A88;
constexpr std::uint16_t kWrongOffset = 0x6B00;
constexpr std::uint16_t kInsUnknown = 0x6D00;
constexpr std::uint16_t kClaUnknown = 0x6E00;
}  // namespace sw

}  // namespace cardsim
