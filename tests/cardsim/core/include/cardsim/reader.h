// Simulated PC/SC readers, with and without secure PIN pad, and the host that
// serves them to the reader driver inside pcscd over a Unix socket. The test
// owns the host: it inserts and removes cards, scripts the PIN pad and reads
// the logs while pcscd talks to the same readers.
#pragma once

#include "cardsim/card.h"
#include "cardsim/pinpad.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cardsim {

// PC/SC part 10 feature tags.
namespace feature {
constexpr std::uint8_t kVerifyPinStart = 0x01, kVerifyPinFinish = 0x02, kModifyPinStart = 0x03,
                       kModifyPinFinish = 0x04, kGetKeyPressed = 0x05, kVerifyPinDirect = 0x06,
                       kModifyPinDirect = 0x07, kExecutePace = 0x20;
// The control code the simulated readers give a feature (the pcsc-lite convention).
constexpr std::uint32_t controlCode(std::uint8_t tag) { return 0x42330000u + tag; }
constexpr std::uint32_t kGetFeatureRequest = 0x42000D48u;  // SCARD_CTL_CODE(3400)
}  // namespace feature

struct ReaderConfig {
  std::string name;
  // Features reported in this order; empty: a reader without PIN pad.
  std::vector<std::uint8_t> features;

  static ReaderConfig plain(std::string name) { return {std::move(name), {}}; }
  static ReaderConfig pinPadDirect(std::string name) {
    return {std::move(name), {feature::kVerifyPinDirect, feature::kModifyPinDirect}};
  }
  static ReaderConfig pinPadStartFinish(std::string name) {
    return {std::move(name),
            {feature::kVerifyPinStart, feature::kVerifyPinFinish, feature::kModifyPinStart,
             feature::kModifyPinFinish, feature::kGetKeyPressed}};
  }
};

// A structure or request the PIN pad received, for byte-exact assertions.
struct ControlRecord {
  std::uint32_t code = 0;
  Bytes input;
  Bytes output;
};

class SimReader {
 public:
  explicit SimReader(ReaderConfig config);

  // The next command that starts with a prefix waits at the reader, before the card
  // sees it, until release() or the end of this object: the test acts while that
  // command is surely under way, whatever the machine's load.
  class Hold {
   public:
    ~Hold() { release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // Until the command waits (false if none came within `bound`).
    bool waitArrived(std::chrono::milliseconds bound = std::chrono::seconds(20));
    void release();

   private:
    friend class SimReader;
    explicit Hold(SimReader& reader) : reader_(reader) {}
    SimReader& reader_;
  };
  Hold hold(Bytes prefix);

  const ReaderConfig& config() const { return config_; }

  // Test side.
  void insert(const CardProfile& profile);
  void insert(std::unique_ptr<Card> card);
  void remove();
  bool hasCard() const;
  // Runs f on the card under the reader's lock; throws std::logic_error without a card.
  void withCard(const std::function<void(Card&)>& f);
  void setKeypad(const std::string& script);
  // The PIN pad answers these bytes to the next PIN operation instead of the
  // card's answer (64 00 time-out, 64 01 cancel, 64 02 mismatch, a wrong length...).
  void setPinPadAnswer(std::optional<Bytes> answer);
  std::vector<ControlRecord> controlRecords() const;
  std::vector<LogEntry> cardLog() const;
  // How often the driver asked whether a card is present: pcscd polls, so a
  // test can wait until pcscd has seen a change.
  std::size_t presenceQueries() const;

  // Driver side: IFD handler result codes and data.
  long presence();
  long power(std::uint32_t action, Bytes& atr);
  long transmit(const Bytes& command, std::size_t capacity, Bytes& response);
  long control(std::uint32_t code, const Bytes& input, std::size_t capacity, Bytes& output);
  long capability(std::uint32_t tag, std::size_t capacity, Bytes& value);

 private:
  bool hasFeature(std::uint8_t tag) const;
  std::optional<Bytes> sendToCard(const Bytes& apdu);
  Bytes verifyResult(const PinVerifyStructure& s, PinEntry& entry);
  Bytes modifyResult(const PinModifyStructure& s, PinEntry& entry);
  long pinControl(std::uint8_t tag, const Bytes& input, Bytes& output);
  void waitIfHeld(const Bytes& command);

  ReaderConfig config_;
  mutable std::mutex mutex_;
  std::unique_ptr<Card> card_;
  Bytes atr_;  // of the powered card, empty when unpowered
  KeypadScript keypad_;
  std::optional<Bytes> pinPadAnswer_;
  std::optional<PinVerifyStructure> pendingVerify_;
  std::optional<PinModifyStructure> pendingModify_;
  std::unique_ptr<PinEntry> entry_;
  std::vector<ControlRecord> records_;
  std::vector<LogEntry> removedCardLog_;
  std::size_t presenceQueries_ = 0;
  // A hold has its own lock: the reader's stays free while a command waits.
  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  std::optional<Bytes> holdPrefix_;
  bool holdArrived_ = false;
  bool holdReleased_ = true;
};

class ReaderHost {
 public:
  explicit ReaderHost(std::string socketPath);
  ~ReaderHost();
  ReaderHost(const ReaderHost&) = delete;
  ReaderHost& operator=(const ReaderHost&) = delete;

  SimReader& addReader(ReaderConfig config);  // before start()
  SimReader& reader(std::size_t index) { return *readers_.at(index); }
  const SimReader& reader(std::size_t index) const { return *readers_.at(index); }
  std::size_t readerCount() const { return readers_.size(); }
  const std::string& socketPath() const { return socketPath_; }

  void start();
  void stop();

 private:
  void serve();
  std::vector<std::uint8_t> handle(const std::vector<std::uint8_t>& request);

  std::string socketPath_;
  std::vector<std::unique_ptr<SimReader>> readers_;
  int listenFd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace cardsim
