#include "ber_test_util.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace bertest {

Bytes hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd hex: " + text);
  for (size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string toHex(const uint8_t* data, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) out += ' ';
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

Encoder::Encoder(uint32_t size) : storage_(size) {
  berInitEncode(&ctx_, size > 0 ? storage_.data() : nullptr, size);
}

Encoder::~Encoder() { berFreeContext(&ctx_); }

Bytes Encoder::message() const {
  return Bytes(ctx_.buffer + ctx_.position, ctx_.buffer + ctx_.size - 1);
}

Decoder::Decoder(const Bytes& bytes) : copy_(static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()))) {
  if (!bytes.empty()) std::memcpy(copy_, bytes.data(), bytes.size());
  status_ = berInitDecode(&ctx_, copy_, static_cast<uint32_t>(bytes.size()), &tag_, &length_);
}

Decoder::~Decoder() {
  berFreeContext(&ctx_);
  std::free(copy_);
}

}  // namespace bertest

namespace bertest {
const char* const kAnnexA =
    "60 81 85"
    " 61 10 1A 04 4A 6F 68 6E 1A 01 50 1A 05 53 6D 69 74 68"        // John P Smith
    " A0 0A 1A 08 44 69 72 65 63 74 6F 72"                          // Director
    " 42 01 33"                                                     // 51
    " A1 0A 43 08 31 39 37 31 30 39 31 37"                          // 19710917
    " A2 12 61 10 1A 04 4D 61 72 79 1A 01 54 1A 05 53 6D 69 74 68"  // Mary T Smith
    " A3 42"
    " 31 1F 61 11 1A 05 52 61 6C 70 68 1A 01 54 1A 05 53 6D 69 74 68"  // Ralph T Smith
    " A0 0A 43 08 31 39 35 37 31 31 31 31"                             // 19571111
    " 31 1F 61 11 1A 05 53 75 73 61 6E 1A 01 42 1A 05 4A 6F 6E 65 73"  // Susan B Jones
    " A0 0A 43 08 31 39 35 39 30 37 31 37";                            // 19590717
}  // namespace bertest
