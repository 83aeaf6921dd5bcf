#include "cardsim/pinpad.h"

#include <sstream>
#include <stdexcept>

namespace cardsim {

std::uint8_t PadKey::code() const {
  switch (kind) {
    case Kind::Digit: return 0x2B;
    case Kind::Ok: return 0x0D;
    case Kind::Backspace: return 0x08;
    case Kind::Clear: return 0x0A;
    case Kind::Cancel: return 0x1B;
    case Kind::Timeout: return 0x40;
  }
  return 0;
}

KeypadScript KeypadScript::parse(const std::string& text) {
  KeypadScript s;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word == "OK") s.keys_.push_back({PadKey::Kind::Ok});
    else if (word == "BS") s.keys_.push_back({PadKey::Kind::Backspace});
    else if (word == "CLEAR") s.keys_.push_back({PadKey::Kind::Clear});
    else if (word == "CANCEL") s.keys_.push_back({PadKey::Kind::Cancel});
    else if (word == "TIMEOUT") s.keys_.push_back({PadKey::Kind::Timeout});
    else {
      for (char c : word) {
        if (c < '0' || c > '9') throw std::invalid_argument("unknown keypad key: " + word);
        s.keys_.push_back({PadKey::Kind::Digit, c});
      }
    }
  }
  return s;
}

PadKey KeypadScript::next() {
  if (keys_.empty()) return {PadKey::Kind::Timeout};
  PadKey k = keys_.front();
  keys_.pop_front();
  return k;
}

PinEntry::PinEntry(EntryRules rules, int entries) : rules_(rules), wanted_(entries) {
  if (wanted_ <= 0) state_ = State::Done;
}

void PinEntry::finishEntry() {
  entries_.push_back(current_);
  current_.clear();
  if (static_cast<int>(entries_.size()) == wanted_) state_ = State::Done;
}

std::uint8_t PinEntry::press(const PadKey& key) {
  if (state_ != State::Collecting) return 0x00;
  switch (key.kind) {
    case PadKey::Kind::Digit:
      if (current_.size() < rules_.maxLength) current_ += key.digit;
      if (rules_.endAtMaxLength && current_.size() == rules_.maxLength) finishEntry();
      break;
    case PadKey::Kind::Ok:
      // A reader ignores OK before the minimum length is reached.
      if (rules_.endOnOk && current_.size() >= rules_.minLength) finishEntry();
      break;
    case PadKey::Kind::Backspace:
      if (!current_.empty()) current_.pop_back();
      break;
    case PadKey::Kind::Clear:
      current_.clear();
      break;
    case PadKey::Kind::Cancel:
      state_ = State::Cancelled;
      break;
    case PadKey::Kind::Timeout:
      state_ = State::TimedOut;
      break;
  }
  return key.code();
}

void PinEntry::run(KeypadScript& script) {
  while (state_ == State::Collecting) press(script.next());
}

namespace {
std::uint16_t le16(const Bytes& b, std::size_t i) { return static_cast<std::uint16_t>(b[i] | b[i + 1] << 8); }
std::uint32_t le32(const Bytes& b, std::size_t i) {
  return static_cast<std::uint32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16) | static_cast<std::uint32_t>(b[i + 3]) << 24;
}

void writeBits(Bytes& out, std::size_t bitPos, std::size_t bits, unsigned value) {
  for (std::size_t i = 0; i < bits; ++i) {
    std::size_t pos = bitPos + i;
    bool bit = (value >> (bits - 1 - i)) & 1u;
    std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (pos % 8));
    if (bit) out[pos / 8] |= mask;
    else out[pos / 8] &= static_cast<std::uint8_t>(~mask);
  }
}
}  // namespace

std::optional<PinVerifyStructure> PinVerifyStructure::parse(const Bytes& b) {
  if (b.size() < 19) return std::nullopt;
  PinVerifyStructure s;
  s.timeOut = b[0];
  s.timeOut2 = b[1];
  s.format = {b[2], b[3], b[4]};
  s.maxExtraDigit = le16(b, 5);
  s.entryValidation = b[7];
  s.numberMessage = b[8];
  s.langId = le16(b, 9);
  s.msgIndex = b[11];
  std::uint32_t length = le32(b, 15);
  if (length != b.size() - 19 || length < 5) return std::nullopt;
  s.apdu.assign(b.begin() + 19, b.end());
  return s;
}

std::optional<PinModifyStructure> PinModifyStructure::parse(const Bytes& b) {
  if (b.size() < 24) return std::nullopt;
  PinModifyStructure s;
  s.timeOut = b[0];
  s.timeOut2 = b[1];
  s.format = {b[2], b[3], b[4]};
  s.offsetOld = b[5];
  s.offsetNew = b[6];
  s.maxExtraDigit = le16(b, 7);
  s.confirmPin = b[9];
  s.entryValidation = b[10];
  s.numberMessage = b[11];
  s.langId = le16(b, 12);
  s.msgIndex1 = b[14];
  s.msgIndex2 = b[15];
  s.msgIndex3 = b[16];
  std::uint32_t length = le32(b, 20);
  if (length != b.size() - 24 || length < 5) return std::nullopt;
  s.apdu.assign(b.begin() + 24, b.end());
  return s;
}

EntryRules entryRules(std::uint16_t maxExtraDigit, std::uint8_t entryValidation) {
  EntryRules r;
  r.minLength = maxExtraDigit >> 8;
  r.maxLength = maxExtraDigit & 0xFF;
  if (r.maxLength == 0) r.maxLength = 16;
  r.endAtMaxLength = entryValidation & 0x01;
  r.endOnOk = (entryValidation & 0x02) || !(entryValidation & 0x01);
  return r;
}

bool insertPin(Bytes& apdu, const PinBlockFormat& f, std::size_t offset, const std::string& pin) {
  const std::size_t unit = (f.formatString & 0x80) ? 8 : 1;
  const std::size_t base = (5 + offset) * 8;
  const std::size_t pinPos = base + ((f.formatString >> 3) & 0x0F) * unit;
  const unsigned type = f.formatString & 0x03;
  const std::size_t digitBits = type == 1 ? 4 : 8;
  const std::size_t lengthBits = f.blockString >> 4;
  const std::size_t lengthUnit = (f.lengthFormat & 0x10) ? 8 : 1;
  const std::size_t lengthPos = base + (f.lengthFormat & 0x0F) * lengthUnit;
  if (pinPos + pin.size() * digitBits > apdu.size() * 8) return false;
  for (std::size_t i = 0; i < pin.size(); ++i) {
    unsigned d = static_cast<unsigned>(pin[i] - '0');
    writeBits(apdu, pinPos + i * digitBits, digitBits, type == 2 ? static_cast<unsigned>(pin[i]) : d);
  }
  if (lengthBits) {
    if (lengthPos + lengthBits > apdu.size() * 8) return false;
    writeBits(apdu, lengthPos, lengthBits, static_cast<unsigned>(pin.size()));
  }
  return true;
}

bool insertPinCtBcs(Bytes& apdu, std::uint8_t control, std::size_t position, std::size_t positionBase,
                    const std::string& pin) {
  if (position < positionBase) return false;
  std::size_t at = position - positionBase;
  switch (control & 0x03) {
    case 0x01:  // ASCII characters
      if (at + pin.size() > apdu.size()) return false;
      for (std::size_t i = 0; i < pin.size(); ++i) apdu[at + i] = static_cast<std::uint8_t>(pin[i]);
      return true;
    case 0x02: {  // ISO 9564 format-2 block: 2L, then the digits packed in BCD
      if (at + 1 + (pin.size() + 1) / 2 > apdu.size()) return false;
      apdu[at] = static_cast<std::uint8_t>(0x20 | (pin.size() & 0x0F));
      for (std::size_t i = 0; i < pin.size(); ++i) writeBits(apdu, (at + 1) * 8 + i * 4, 4, static_cast<unsigned>(pin[i] - '0'));
      return true;
    }
    default:  // packed BCD
      if (at + (pin.size() + 1) / 2 > apdu.size()) return false;
      for (std::size_t i = 0; i < pin.size(); ++i) writeBits(apdu, at * 8 + i * 4, 4, static_cast<unsigned>(pin[i] - '0'));
      return true;
  }
}

}  // namespace cardsim
