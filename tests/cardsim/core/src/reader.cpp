#include "cardsim/reader.h"

#include "cardsim/relay_protocol.h"

#include <algorithm>
#include <cstring>
#include <ifdhandler.h>
#include <fcntl.h>
#include <poll.h>
#include <reader.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>

namespace cardsim {

SimReader::SimReader(ReaderConfig config) : config_(std::move(config)) {}

void SimReader::insert(const CardProfile& profile) { insert(std::make_unique<Card>(profile)); }

void SimReader::insert(std::unique_ptr<Card> card) {
  std::lock_guard<std::mutex> lock(mutex_);
  card_ = std::move(card);
  atr_.clear();
}

void SimReader::remove() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (card_) removedCardLog_ = card_->log();
  card_.reset();
  atr_.clear();
  entry_.reset();
  pendingVerify_.reset();
  pendingModify_.reset();
}

bool SimReader::hasCard() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return card_ != nullptr;
}

void SimReader::withCard(const std::function<void(Card&)>& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!card_) throw std::logic_error("no card in " + config_.name);
  f(*card_);
}

void SimReader::setKeypad(const std::string& script) {
  std::lock_guard<std::mutex> lock(mutex_);
  keypad_ = KeypadScript::parse(script);
}

void SimReader::setPinPadAnswer(std::optional<Bytes> answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  pinPadAnswer_ = std::move(answer);
}

std::vector<ControlRecord> SimReader::controlRecords() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<LogEntry> SimReader::cardLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return card_ ? card_->log() : removedCardLog_;
}

SimReader::Hold SimReader::hold(Bytes prefix) {
  std::lock_guard<std::mutex> lock(holdMutex_);
  holdPrefix_ = std::move(prefix);
  holdArrived_ = false;
  holdReleased_ = false;
  return Hold(*this);
}

bool SimReader::Hold::waitArrived(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(reader_.holdMutex_);
  return reader_.holdChanged_.wait_for(lock, bound, [this] { return reader_.holdArrived_; });
}

void SimReader::Hold::release() {
  std::lock_guard<std::mutex> lock(reader_.holdMutex_);
  reader_.holdPrefix_.reset();
  reader_.holdReleased_ = true;
  reader_.holdChanged_.notify_all();
}

void SimReader::waitIfHeld(const Bytes& command) {
  std::unique_lock<std::mutex> lock(holdMutex_);
  if (!holdPrefix_ || command.size() < holdPrefix_->size() ||
      !std::equal(holdPrefix_->begin(), holdPrefix_->end(), command.begin()))
    return;
  holdPrefix_.reset();
  holdArrived_ = true;
  holdChanged_.notify_all();
  holdChanged_.wait(lock, [this] { return holdReleased_; });
}

std::size_t SimReader::presenceQueries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return presenceQueries_;
}

long SimReader::presence() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++presenceQueries_;
  return card_ ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
}

long SimReader::power(std::uint32_t action, Bytes& atr) {
  std::lock_guard<std::mutex> lock(mutex_);
  atr.clear();
  if (!card_) return action == IFD_POWER_DOWN ? IFD_SUCCESS : IFD_ERROR_POWER_ACTION;
  switch (action) {
    case IFD_POWER_UP: atr_ = card_->powerOn(); break;
    case IFD_RESET: atr_ = card_->reset(); break;
    case IFD_POWER_DOWN:
      card_->powerOff();
      atr_.clear();
      break;
    default: return IFD_NOT_SUPPORTED;
  }
  atr = atr_;
  return IFD_SUCCESS;
}

std::optional<Bytes> SimReader::sendToCard(const Bytes& apdu) {
  if (!card_ || !card_->powered()) return std::nullopt;
  CardAnswer answer = card_->transmit(apdu);
  if (answer.kind == CardAnswer::Kind::Removed) {
    removedCardLog_ = card_->log();
    card_.reset();
    atr_.clear();
  }
  if (answer.kind != CardAnswer::Kind::Answered) return std::nullopt;
  return answer.bytes;
}

long SimReader::transmit(const Bytes& command, std::size_t capacity, Bytes& response) {
  waitIfHeld(command);
  std::lock_guard<std::mutex> lock(mutex_);
  response.clear();
  if (!card_) return IFD_ICC_NOT_PRESENT;
  if (!card_->powered()) return IFD_COMMUNICATION_ERROR;
  CardAnswer answer = card_->transmit(command);
  if (answer.kind == CardAnswer::Kind::Removed) {
    removedCardLog_ = card_->log();
    card_.reset();
    atr_.clear();
    return IFD_ICC_NOT_PRESENT;
  }
  if (answer.kind == CardAnswer::Kind::Mute) return IFD_RESPONSE_TIMEOUT;
  if (answer.bytes.size() > capacity) return IFD_ERROR_INSUFFICIENT_BUFFER;
  response = std::move(answer.bytes);
  return IFD_SUCCESS;
}

bool SimReader::hasFeature(std::uint8_t tag) const {
  return std::find(config_.features.begin(), config_.features.end(), tag) != config_.features.end();
}

long SimReader::control(std::uint32_t code, const Bytes& input, std::size_t capacity, Bytes& output) {
  std::lock_guard<std::mutex> lock(mutex_);
  output.clear();
  long rc = IFD_ERROR_NOT_SUPPORTED;
  if (code == feature::kGetFeatureRequest) {
    for (std::uint8_t tag : config_.features) {
      std::uint32_t c = feature::controlCode(tag);
      output.insert(output.end(), {tag, 4, static_cast<std::uint8_t>(c >> 24), static_cast<std::uint8_t>(c >> 16),
                                   static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
    }
    rc = IFD_SUCCESS;
  } else if ((code & 0xFFFFFF00u) == feature::controlCode(0) && hasFeature(code & 0xFF)) {
    rc = pinControl(static_cast<std::uint8_t>(code & 0xFF), input, output);
  }
  if (rc == IFD_SUCCESS && output.size() > capacity) {
    output.clear();
    rc = IFD_ERROR_INSUFFICIENT_BUFFER;
  }
  records_.push_back({code, input, output});
  return rc;
}

Bytes SimReader::verifyResult(const PinVerifyStructure& s, PinEntry& entry) {
  if (pinPadAnswer_) {
    Bytes forced = *pinPadAnswer_;
    pinPadAnswer_.reset();
    return forced;
  }
  if (entry.state() == PinEntry::State::Cancelled) return {0x64, 0x01};
  if (entry.state() != PinEntry::State::Done) return {0x64, 0x00};
  Bytes apdu = s.apdu;
  if (!insertPin(apdu, s.format, 0, entry.entries()[0])) return {0x6B, 0x80};
  auto answer = sendToCard(apdu);
  return answer ? *answer : Bytes{0x64, 0x00};
}

Bytes SimReader::modifyResult(const PinModifyStructure& s, PinEntry& entry) {
  if (pinPadAnswer_) {
    Bytes forced = *pinPadAnswer_;
    pinPadAnswer_.reset();
    return forced;
  }
  if (entry.state() == PinEntry::State::Cancelled) return {0x64, 0x01};
  if (entry.state() != PinEntry::State::Done) return {0x64, 0x00};
  const auto& e = entry.entries();
  std::size_t i = 0;
  Bytes apdu = s.apdu;
  if (s.confirmPin & 0x02) {
    if (!insertPin(apdu, s.format, s.offsetOld, e[i++])) return {0x6B, 0x80};
  }
  const std::string& newPin = e[i++];
  if ((s.confirmPin & 0x01) && e[i] != newPin) return {0x64, 0x02};
  if (!insertPin(apdu, s.format, s.offsetNew, newPin)) return {0x6B, 0x80};
  auto answer = sendToCard(apdu);
  return answer ? *answer : Bytes{0x64, 0x00};
}

long SimReader::pinControl(std::uint8_t tag, const Bytes& input, Bytes& output) {
  switch (tag) {
    case feature::kVerifyPinDirect:
    case feature::kVerifyPinStart: {
      auto s = PinVerifyStructure::parse(input);
      if (!s) return IFD_COMMUNICATION_ERROR;
      auto entry = std::make_unique<PinEntry>(entryRules(s->maxExtraDigit, s->entryValidation), 1);
      if (tag == feature::kVerifyPinStart) {
        pendingVerify_ = s;
        pendingModify_.reset();
        entry_ = std::move(entry);
        return IFD_SUCCESS;
      }
      entry->run(keypad_);
      output = verifyResult(*s, *entry);
      return IFD_SUCCESS;
    }
    case feature::kModifyPinDirect:
    case feature::kModifyPinStart: {
      auto s = PinModifyStructure::parse(input);
      if (!s) return IFD_COMMUNICATION_ERROR;
      int entries = 1 + ((s->confirmPin & 0x02) ? 1 : 0) + ((s->confirmPin & 0x01) ? 1 : 0);
      auto entry = std::make_unique<PinEntry>(entryRules(s->maxExtraDigit, s->entryValidation), entries);
      if (tag == feature::kModifyPinStart) {
        pendingModify_ = s;
        pendingVerify_.reset();
        entry_ = std::move(entry);
        return IFD_SUCCESS;
      }
      entry->run(keypad_);
      output = modifyResult(*s, *entry);
      return IFD_SUCCESS;
    }
    case feature::kGetKeyPressed:
      output = {entry_ && entry_->state() == PinEntry::State::Collecting ? entry_->press(keypad_.next())
                                                                          : std::uint8_t{0x00}};
      return IFD_SUCCESS;
    case feature::kVerifyPinFinish:
      if (!pendingVerify_ || !entry_) return IFD_COMMUNICATION_ERROR;
      output = verifyResult(*pendingVerify_, *entry_);
      pendingVerify_.reset();
      entry_.reset();
      return IFD_SUCCESS;
    case feature::kModifyPinFinish:
      if (!pendingModify_ || !entry_) return IFD_COMMUNICATION_ERROR;
      output = modifyResult(*pendingModify_, *entry_);
      pendingModify_.reset();
      entry_.reset();
      return IFD_SUCCESS;
    default:
      return IFD_ERROR_NOT_SUPPORTED;
  }
}

long SimReader::capability(std::uint32_t tag, std::size_t capacity, Bytes& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  value.clear();
  switch (tag) {
    case TAG_IFD_ATR:
    case SCARD_ATTR_ATR_STRING:
      if (!card_) return IFD_ICC_NOT_PRESENT;
      value = atr_;
      break;
    case SCARD_ATTR_ICC_PRESENCE: value = {static_cast<std::uint8_t>(card_ ? 2 : 0)}; break;
    case SCARD_ATTR_ICC_INTERFACE_STATUS: value = {static_cast<std::uint8_t>(atr_.empty() ? 0 : 1)}; break;
    case TAG_IFD_SLOTS_NUMBER: value = {1}; break;
    case TAG_IFD_SIMULTANEOUS_ACCESS: value = {16}; break;
    case TAG_IFD_THREAD_SAFE:
    case TAG_IFD_SLOT_THREAD_SAFE: value = {0}; break;
    case SCARD_ATTR_MAXINPUT: value = {0x08, 0x00, 0x01, 0x00}; break;  // 65544: extended APDUs
    case SCARD_ATTR_VENDOR_NAME: {
      const char name[] = "Quarvel Test";
      value.assign(name, name + sizeof name);
      break;
    }
    default: return IFD_ERROR_TAG;
  }
  if (value.size() > capacity) {
    value.clear();
    return IFD_ERROR_INSUFFICIENT_BUFFER;
  }
  return IFD_SUCCESS;
}

ReaderHost::ReaderHost(std::string socketPath) : socketPath_(std::move(socketPath)) {}

ReaderHost::~ReaderHost() { stop(); }

SimReader& ReaderHost::addReader(ReaderConfig config) {
  if (thread_.joinable()) throw std::logic_error("add readers before the host starts");
  readers_.push_back(std::make_unique<SimReader>(std::move(config)));
  return *readers_.back();
}

void ReaderHost::start() {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath_.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + socketPath_);
  std::strcpy(addr.sun_path, socketPath_.c_str());
  ::unlink(socketPath_.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot listen on " + socketPath_ + ": " + std::strerror(errno));
  thread_ = std::thread([this] { serve(); });
}

void ReaderHost::stop() {
  if (thread_.joinable()) {
    char c = 0;
    while (::write(wake_[1], &c, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int* fd : {&listenFd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
}

void ReaderHost::serve() {
  std::vector<int> clients;
  for (;;) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    for (int c : clients) fds.push_back({c, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c >= 0) clients.push_back(c);
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      std::vector<std::uint8_t> request;
      if (!relay::receiveFrame(fds[i].fd, request) || !relay::sendFrame(fds[i].fd, handle(request))) {
        ::close(fds[i].fd);
        clients.erase(std::find(clients.begin(), clients.end(), fds[i].fd));
      }
    }
  }
  for (int c : clients) ::close(c);
}

std::vector<std::uint8_t> ReaderHost::handle(const std::vector<std::uint8_t>& request) {
  std::vector<std::uint8_t> answer;
  long rc = IFD_COMMUNICATION_ERROR;
  Bytes data;
  if (request.size() >= 13) {
    const std::uint8_t op = request[0];
    const std::uint32_t index = relay::get32(&request[1]);
    const std::uint32_t arg1 = relay::get32(&request[5]);
    const std::uint32_t arg2 = relay::get32(&request[9]);
    const Bytes payload(request.begin() + 13, request.end());
    if (index < readers_.size()) {
      SimReader& r = *readers_[index];
      switch (op) {
        case relay::kHello: rc = IFD_SUCCESS; break;
        case relay::kPresence: rc = r.presence(); break;
        case relay::kPower: rc = r.power(arg1, data); break;
        case relay::kTransmit: rc = r.transmit(payload, arg1, data); break;
        case relay::kControl: rc = r.control(arg1, payload, arg2, data); break;
        case relay::kCapability: rc = r.capability(arg1, arg2, data); break;
        default: break;
      }
    }
  }
  relay::put32(answer, static_cast<std::uint32_t>(rc));
  answer.insert(answer.end(), data.begin(), data.end());
  return answer;
}

}  // namespace cardsim
