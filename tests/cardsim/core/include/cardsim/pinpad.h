// The keypad of a reader or terminal with secure PIN entry: the keys a
// scripted user presses, how a reader collects PIN entries from them, and how
// it writes the PIN into the command for the card.
#pragma once

#include "cardsim/bytes.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

struct PadKey {
  enum class Kind { Digit, Ok, Backspace, Clear, Cancel, Timeout } kind = Kind::Timeout;
  char digit = 0;
  // The code a reader reports for the key (PC/SC part 10 GET_KEY_PRESSED).
  std::uint8_t code() const;
};

// The user at the keypad. Text form: digits, and the words OK, BS, CLEAR,
// CANCEL, TIMEOUT, separated by blanks ("1234 OK", "12 BS 34 OK", "CANCEL").
// Once the script is used up the user no longer reacts: the entry times out.
class KeypadScript {
 public:
  KeypadScript() = default;
  static KeypadScript parse(const std::string& text);
  bool empty() const { return keys_.empty(); }
  PadKey next();

 private:
  std::deque<PadKey> keys_;
};

// How the reader ends one entry.
struct EntryRules {
  std::size_t minLength = 4, maxLength = 12;
  bool endAtMaxLength = false;  // the entry ends by itself when maxLength digits are in
  bool endOnOk = true;
};

// Collects one or more PIN entries (old PIN, new PIN, confirmation) key by key.
class PinEntry {
 public:
  enum class State { Collecting, Done, Cancelled, TimedOut };
  PinEntry(EntryRules rules, int entries);
  // Feeds one key; the result is the code the reader reports for it.
  std::uint8_t press(const PadKey& key);
  void run(KeypadScript& script);  // feeds keys until the entries end
  State state() const { return state_; }
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  void finishEntry();
  EntryRules rules_;
  int wanted_;
  std::string current_;
  std::vector<std::string> entries_;
  State state_ = State::Collecting;
};

// PC/SC part 10 PIN_VERIFY_STRUCTURE and PIN_MODIFY_STRUCTURE (packed, little-endian).
struct PinBlockFormat {
  std::uint8_t formatString = 0, blockString = 0, lengthFormat = 0;
};

struct PinVerifyStructure {
  std::uint8_t timeOut = 0, timeOut2 = 0;
  PinBlockFormat format;
  std::uint16_t maxExtraDigit = 0;
  std::uint8_t entryValidation = 0, numberMessage = 0;
  std::uint16_t langId = 0;
  std::uint8_t msgIndex = 0;
  Bytes apdu;
  static std::optional<PinVerifyStructure> parse(const Bytes& bytes);
};

struct PinModifyStructure {
  std::uint8_t timeOut = 0, timeOut2 = 0;
  PinBlockFormat format;
  std::uint8_t offsetOld = 0, offsetNew = 0;
  std::uint16_t maxExtraDigit = 0;
  std::uint8_t confirmPin = 0, entryValidation = 0, numberMessage = 0;
  std::uint16_t langId = 0;
  std::uint8_t msgIndex1 = 0, msgIndex2 = 0, msgIndex3 = 0;
  Bytes apdu;
  static std::optional<PinModifyStructure> parse(const Bytes& bytes);
};

EntryRules entryRules(std::uint16_t maxExtraDigit, std::uint8_t entryValidation);
// Writes the PIN into the APDU as the format bytes say: system units, PIN
// position, BCD/ASCII/binary digits and the PIN length field, starting at the
// APDU's data field plus `offset` bytes. False when it does not fit.
bool insertPin(Bytes& apdu, const PinBlockFormat& format, std::size_t offset, const std::string& pin);

// CT-BCS: the control byte of PERFORM/MODIFY VERIFICATION (high nibble: fixed
// PIN length or 0; low bits: 1 ASCII, 2 ISO 9564 format-2 block, 0 BCD), and a
// 1-based insertion position counted from `positionBase` (1 for most terminals).
bool insertPinCtBcs(Bytes& apdu, std::uint8_t control, std::size_t position, std::size_t positionBase,
                    const std::string& pin);

}  // namespace cardsim
