// A simulated smart card: an ISO 7816-4 file system, PIN objects, a security
// environment and RSA keys, driven by a card profile. Not thread-safe: the
// reader or terminal that holds the card serialises access.
#pragma once

#include "cardsim/apdu.h"
#include "cardsim/bytes.h"
#include "cardsim/profile.h"
#include "cardsim/rsakey.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

// A scripted misbehaviour of the card for one or more commands.
struct FaultRule {
  enum class Action {
    Status,      // answer this status word (after running the command when `execute`)
    ShortAnswer, // run the command, then cut the answer to `length` bytes
    Oversize,    // run the command, then add `length` bytes before the status word
    Mute,        // no answer at all
    Remove,      // the card leaves the reader during the command
    Delay,       // answer normally after `delayMs`
  };
  std::size_t at = 0;  // the at-th command after the rule was added (1 = the next one); 0: by prefix
  Bytes prefix;        // with at == 0: every command that starts with these bytes
  int times = 1;       // how often the rule fires; -1: always
  Action action = Action::Status;
  std::uint16_t sw = 0;
  bool execute = false;
  std::size_t length = 0;
  int delayMs = 0;

  // Text form, e.g. "at=3 sw=6A83", "match=00B0 sw=6282 execute=yes times=-1",
  // "at=1 short=1", "at=2 oversize=300", "at=1 mute", "at=1 remove", "at=1 delay=200".
  static FaultRule parse(const std::string& text);
};

struct CardAnswer {
  enum class Kind { Answered, Mute, Removed } kind = Kind::Answered;
  Bytes bytes;  // response data and status word
};

struct LogEntry {
  std::string event;  // "apdu", "power-on", "reset", "power-off"
  Bytes command;
  Bytes response;     // empty when the card gave no answer
};

class Card {
 public:
  explicit Card(CardProfile profile);

  const CardProfile& profile() const { return profile_; }
  const Bytes& atr() const { return profile_.atr; }

  Bytes powerOn();  // cold reset: the security state starts afresh
  Bytes reset();    // warm reset: the same for this card
  void powerOff();
  bool powered() const { return powered_; }

  CardAnswer transmit(const Bytes& command);

  void addFault(FaultRule rule);
  void clearFaults() { faults_.clear(); }

  const std::vector<LogEntry>& log() const { return log_; }
  std::vector<Bytes> commands() const;  // the APDUs received, in order
  void clearLog() { log_.clear(); }

  // State a test may look at or prepare, as a card personaliser could.
  int triesLeft(std::uint8_t pin) const;
  int unblockTriesLeft(std::uint8_t pin) const;
  bool verified(std::uint8_t pin) const;
  bool inTransportState(std::uint8_t pin) const;
  std::string pinValue(std::uint8_t pin) const;
  Bytes fileContent(const FilePath& path) const;
  std::vector<Bytes> fileRecords(const FilePath& path) const;
  // What PUT DATA stored under the tag (P1 P2); empty when nothing.
  Bytes dataObject(std::uint16_t tag) const;

 private:
  struct Response {
    Bytes data;
    std::uint16_t sw = sw::kOk;
  };
  struct PinState {
    PinSpec definition;
    int tries = 0;
    int unblockTries = 0;
    bool transport = false;
    bool verified = false;
  };
  struct SecurityEnvironment {
    std::optional<std::uint8_t> signKey, decipherKey, authKey;
    std::optional<std::uint8_t> signAlg, hashAlg;
  };
  struct ActiveFault {
    FaultRule rule;
    std::size_t trigger;  // absolute command number, 0: by prefix
  };

  void startSession();
  Bytes execute(const Bytes& raw);
  Response dispatch(const CommandApdu& a);
  Response select(const CommandApdu& a);
  Response readBinary(const CommandApdu& a);
  Response readRecord(const CommandApdu& a);
  Response updateBinary(const CommandApdu& a);
  Response verify(const CommandApdu& a);
  Response changeReference(const CommandApdu& a);
  Response resetRetryCounter(const CommandApdu& a);
  Response manageSecurityEnvironment(const CommandApdu& a);
  Response performSecurityOperation(const CommandApdu& a);
  Response computeSignature(const CommandApdu& a);
  Response decipher(const CommandApdu& a);
  Response hash(const CommandApdu& a);
  Response internalAuthenticate(const CommandApdu& a);
  Response getChallenge(const CommandApdu& a);
  Response getSerial(const CommandApdu& a);
  Response putData(const CommandApdu& a);

  FileSpec* findFile(const FilePath& path);
  std::optional<FilePath> resolveSelect(const CommandApdu& a);
  std::uint16_t checkAccess(const Access& access) const;
  PinState* pinState(std::uint8_t ref);
  std::optional<std::string> decodePin(const PinSpec& definition, const Bytes& block) const;
  std::uint16_t tryPin(PinState& pin, const std::string& candidate);
  // Resolves a key for an operation: 0 and the key, or a status word.
  std::uint16_t useKey(std::optional<std::uint8_t> ref, bool KeySpec::*usage, const KeySpec** definition);
  std::optional<HashAlg> hashFor(std::size_t length) const;

  CardProfile profile_;
  std::map<std::uint8_t, RsaKey> keys_;
  std::map<std::uint8_t, PinState> pins_;
  bool powered_ = false;
  FilePath currentDf_{0x3F00};
  std::optional<FilePath> currentEf_;
  SecurityEnvironment se_;
  std::optional<Bytes> storedHash_;
  Bytes hashInput_;
  std::size_t commandCount_ = 0;
  std::vector<ActiveFault> faults_;
  std::vector<LogEntry> log_;
  std::map<std::uint16_t, Bytes> dataObjects_;
};

// The DigestInfo prefix of PKCS#1 v1.5 for a hash.
Bytes digestInfoPrefix(HashAlg alg);
std::size_t hashLength(HashAlg alg);

}  // namespace cardsim
