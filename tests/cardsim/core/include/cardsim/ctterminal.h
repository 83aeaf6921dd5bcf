// A CT-API card terminal with one card slot and a keypad, answering the CT-BCS
// terminal commands, and the configuration file of the CT-API driver.
#pragma once

#include "cardsim/card.h"
#include "cardsim/pinpad.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

// A scripted misbehaviour of the driver for one CT_data call.
struct DriverFault {
  std::size_t call = 0;          // the call-th CT_data on this terminal (1-based, counted from its start)
  std::optional<int> result;     // CT_data returns this instead (-1, -10, -127, ...)
  enum class Length { Keep, Zero, One, OverCapacity } length = Length::Keep;
  static DriverFault parse(const std::string& text);  // "call=3 result=-10", "call=2 lenr=0|1|over"
};

struct CtTerminalConfig {
  std::string driver = "*";      // file name of the driver this terminal belongs to; "*": any
  std::uint16_t port = 1;
  Bytes maker;                   // GET STATUS manufacturer object (46)
  Bytes units{0x01, 0x40, 0x50}; // GET STATUS functional units object (81): ICC1, display, keypad
  bool bareStatus = false;       // GET STATUS answers "SB 90 00" instead of "80 01 SB 90 00"
  std::uint16_t atrStatus = 0x9001;          // after REQUEST/RESET ICC: 9000 or 9001
  std::optional<Bytes> requestIccAnswer;     // REQUEST ICC answers this instead
  std::string cardProfile;       // profile file; empty: no card
  bool cardPresent = true;
  std::string keypad;
  std::size_t positionBase = 1;  // PIN insertion positions count from here
  bool shortObjects = false;     // status objects whose length byte says more than follows
  std::vector<std::string> cardFaults;
  std::vector<DriverFault> driverFaults;
};

struct CtApiConfig {
  std::string log;  // call log file; empty: none
  std::vector<CtTerminalConfig> terminals;
  static CtApiConfig parse(const std::string& text, const std::string& origin = "config");
  static CtApiConfig load(const std::string& path);
  // The terminal for this driver file name and port, or none.
  const CtTerminalConfig* terminal(const std::string& driver, std::uint16_t port) const;
};

class CtTerminal {
 public:
  explicit CtTerminal(CtTerminalConfig config);

  const CtTerminalConfig& config() const { return config_; }
  // Takes new settings; the card is changed only when its profile or presence changed.
  void reconfigure(const CtTerminalConfig& config);

  void insert(const CardProfile& profile);
  void remove();
  Card* card() { return card_.get(); }
  void setKeypad(const std::string& script) { keypad_ = KeypadScript::parse(script); }

  // A CT-BCS command (destination address 1); the answer ends with the status word.
  Bytes terminalCommand(const Bytes& command);
  // An APDU for the card (destination 0); none when nothing answered.
  std::optional<Bytes> cardCommand(const Bytes& apdu);

  const std::vector<LogEntry>& terminalLog() const { return log_; }

 private:
  Bytes answer(Bytes data, std::uint16_t sw);
  Bytes requestIcc(const Bytes& c);
  Bytes resetIcc(const Bytes& c);
  Bytes getStatus(const Bytes& c);
  Bytes verification(const Bytes& c, bool modify);
  std::uint8_t iccStatus() const;

  CtTerminalConfig config_;
  std::unique_ptr<Card> card_;
  bool active_ = false;
  KeypadScript keypad_;
  std::vector<LogEntry> log_;
};

}  // namespace cardsim
