#include "cardsim/apdu.h"

namespace cardsim {

std::optional<CommandApdu> CommandApdu::parse(const Bytes& b) {
  if (b.size() < 4) return std::nullopt;
  CommandApdu a;
  a.cla = b[0];
  a.ins = b[1];
  a.p1 = b[2];
  a.p2 = b[3];
  const std::size_t n = b.size();
  if (n == 4) return a;                                    // case 1
  if (n == 5) {                                            // case 2 short
    a.ne = b[4] ? b[4] : 256;
    a.neMax = b[4] == 0;
    return a;
  }
  if (b[4] != 0) {                                         // case 3 or 4 short
    const std::size_t lc = b[4];
    if (n == 5 + lc) {
      a.data.assign(b.begin() + 5, b.end());
      return a;
    }
    if (n == 6 + lc) {
      a.data.assign(b.begin() + 5, b.end() - 1);
      a.ne = b.back() ? b.back() : 256;
      a.neMax = b.back() == 0;
      return a;
    }
    return std::nullopt;
  }
  // b[4] == 0 and more bytes follow: extended length.
  if (n < 7) return std::nullopt;
  a.extended = true;
  const std::size_t first = static_cast<std::size_t>(b[5]) << 8 | b[6];
  if (n == 7) {                                            // case 2 extended
    a.ne = first ? first : 65536;
    a.neMax = first == 0;
    return a;
  }
  if (first == 0) return std::nullopt;
  if (n == 7 + first) {                                    // case 3 extended
    a.data.assign(b.begin() + 7, b.end());
    return a;
  }
  if (n == 9 + first) {                                    // case 4 extended
    a.data.assign(b.begin() + 7, b.end() - 2);
    const std::size_t le = static_cast<std::size_t>(b[n - 2]) << 8 | b[n - 1];
    a.ne = le ? le : 65536;
    a.neMax = le == 0;
    return a;
  }
  return std::nullopt;
}

Bytes CommandApdu::encode() const {
  Bytes out{cla, ins, p1, p2};
  const bool ext = extended || data.size() > 255 || (ne && *ne > 256);
  if (!data.empty()) {
    if (ext) {
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(data.size() >> 8));
      out.push_back(static_cast<std::uint8_t>(data.size()));
    } else {
      out.push_back(static_cast<std::uint8_t>(data.size()));
    }
    out.insert(out.end(), data.begin(), data.end());
  }
  if (ne) {
    if (ext) {
      if (data.empty()) out.push_back(0);
      out.push_back(static_cast<std::uint8_t>((*ne >> 8) & 0xFF));
      out.push_back(static_cast<std::uint8_t>(*ne & 0xFF));
    } else {
      out.push_back(static_cast<std::uint8_t>(*ne & 0xFF));
    }
  }
  return out;
}

}  // namespace cardsim
