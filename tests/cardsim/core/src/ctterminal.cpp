#include "cardsim/ctterminal.h"

#include "words.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cardsim {

namespace {

Bytes swBytes(std::uint16_t s) { return {static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)}; }

}  // namespace

DriverFault DriverFault::parse(const std::string& text) {
  DriverFault f;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    auto eq = word.find('=');
    std::string k = word.substr(0, eq), v = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (k == "call") f.call = std::stoul(v);
    else if (k == "result") f.result = std::stoi(v);
    else if (k == "lenr" && v == "0") f.length = Length::Zero;
    else if (k == "lenr" && v == "1") f.length = Length::One;
    else if (k == "lenr" && v == "over") f.length = Length::OverCapacity;
    else throw std::invalid_argument("unknown driver fault word: " + word);
  }
  if (!f.call) throw std::invalid_argument("driver fault without call=: " + text);
  return f;
}

CtApiConfig CtApiConfig::load(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return parse(s.str(), path);
}

CtApiConfig CtApiConfig::parse(const std::string& text, const std::string& origin) {
  CtApiConfig c;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    auto w = words(line);
    if (w.empty()) continue;
    try {
      const std::string& d = w[0];
      if (d == "log") {
        c.log = w.at(1);
        continue;
      }
      if (d == "terminal") {
        CtTerminalConfig t;
        t.port = static_cast<std::uint16_t>(std::stoul(w.at(1)));
        for (std::size_t i = 2; i < w.size(); ++i)
          if (w[i].rfind("driver=", 0) == 0) t.driver = w[i].substr(7);
        std::string maker = "QUARVEL SIMCT " + std::to_string(t.port);
        t.maker.assign(maker.begin(), maker.end());
        c.terminals.push_back(t);
        continue;
      }
      if (c.terminals.empty()) throw std::invalid_argument(d + " before the first terminal line");
      CtTerminalConfig& t = c.terminals.back();
      const std::string& v = w.at(1);
      if (d == "maker") t.maker = v.rfind("hex:", 0) == 0 ? fromHex(v.substr(4)) : Bytes(v.begin(), v.end());
      else if (d == "units") t.units = fromHex(v);
      else if (d == "status") t.bareStatus = v == "bare";
      else if (d == "atr-status") t.atrStatus = static_cast<std::uint16_t>(std::stoul(v, nullptr, 16));
      else if (d == "request-icc") t.requestIccAnswer = fromHex(v);
      else if (d == "card") t.cardProfile = v.find('/') == std::string::npos ? CardProfile::installedPath(v) : v;
      else if (d == "present") t.cardPresent = v == "yes";
      else if (d == "keypad") t.keypad = v;
      else if (d == "position-base") t.positionBase = std::stoul(v);
      else if (d == "short-objects") t.shortObjects = v == "yes";
      else if (d == "card-fault") {
        FaultRule::parse(v);  // rejects a bad rule here, with the line number
        t.cardFaults.push_back(v);
      }
      else if (d == "fault") t.driverFaults.push_back(DriverFault::parse(v));
      else throw std::invalid_argument("unknown directive " + d);
    } catch (const std::exception& e) {
      throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + e.what());
    }
  }
  return c;
}

const CtTerminalConfig* CtApiConfig::terminal(const std::string& driver, std::uint16_t port) const {
  const CtTerminalConfig* any = nullptr;
  for (auto& t : terminals) {
    if (t.port != port) continue;
    if (t.driver == driver) return &t;
    if (t.driver == "*" && !any) any = &t;
  }
  return any;
}

CtTerminal::CtTerminal(CtTerminalConfig config) {
  config_.cardPresent = false;
  reconfigure(config);
}

void CtTerminal::reconfigure(const CtTerminalConfig& config) {
  const bool cardChanged = config.cardProfile != config_.cardProfile || config.cardPresent != config_.cardPresent;
  const bool keypadChanged = config.keypad != config_.keypad || !card_;
  config_ = config;
  if (cardChanged) {
    if (config_.cardPresent && !config_.cardProfile.empty())
      insert(CardProfile::load(config_.cardProfile));
    else
      remove();
  }
  if (keypadChanged) setKeypad(config_.keypad);
}

void CtTerminal::insert(const CardProfile& profile) {
  card_ = std::make_unique<Card>(profile);
  active_ = false;
  for (auto& f : config_.cardFaults) card_->addFault(FaultRule::parse(f));
}

void CtTerminal::remove() {
  card_.reset();
  active_ = false;
}

std::uint8_t CtTerminal::iccStatus() const {
  if (!card_) return 0x00;
  return active_ ? 0x05 : 0x03;
}

Bytes CtTerminal::answer(Bytes data, std::uint16_t status) {
  Bytes s = swBytes(status);
  data.insert(data.end(), s.begin(), s.end());
  return data;
}

Bytes CtTerminal::terminalCommand(const Bytes& c) {
  Bytes out;
  if (c.size() < 4) out = swBytes(0x6700);
  else if (c[0] != 0x20) out = swBytes(0x6E00);
  else {
    switch (c[1]) {
      case 0x11:
        if (c[2] == 0x00) {  // RESET CT: the card is deactivated with the terminal
          if (card_ && active_) card_->powerOff();
          active_ = false;
          out = swBytes(0x9000);
        } else {
          out = resetIcc(c);
        }
        break;
      case 0x12: out = requestIcc(c); break;
      case 0x13: out = getStatus(c); break;
      case 0x15:
        if (card_ && active_) card_->powerOff();
        active_ = false;
        out = swBytes(0x9000);
        break;
      case 0x18: out = verification(c, false); break;
      case 0x19: out = verification(c, true); break;
      default: out = swBytes(0x6D00); break;
    }
  }
  log_.push_back({"ct-bcs", c, out});
  return out;
}

Bytes CtTerminal::requestIcc(const Bytes& c) {
  if (config_.requestIccAnswer) return *config_.requestIccAnswer;
  if (!card_) return swBytes(0x6200);
  if (active_) return swBytes(0x6201);
  Bytes atr = card_->powerOn();
  active_ = true;
  const bool wantAtr = c.size() > 3 && (c[3] & 0x0F) == 0x01;
  return answer(wantAtr ? atr : Bytes(), config_.atrStatus);
}

Bytes CtTerminal::resetIcc(const Bytes& c) {
  if (!card_) return swBytes(0x6400);
  Bytes atr = active_ ? card_->reset() : card_->powerOn();
  active_ = true;
  const bool wantAtr = c.size() > 3 && (c[3] & 0x0F) == 0x01;
  return answer(wantAtr ? atr : Bytes(), config_.atrStatus);
}

Bytes CtTerminal::getStatus(const Bytes& c) {
  auto object = [&](std::uint8_t tag, const Bytes& value) {
    Bytes out{tag, static_cast<std::uint8_t>(value.size() + (config_.shortObjects ? 5 : 0))};
    out.insert(out.end(), value.begin(), value.end());
    return answer(out, 0x9000);
  };
  switch (c[3]) {
    case 0x80:
      if (config_.bareStatus) return answer({iccStatus()}, 0x9000);
      return object(0x80, {iccStatus()});
    case 0x46: return object(0x46, config_.maker);
    case 0x81: return object(0x81, config_.units);
    default: return swBytes(0x6A00);
  }
}

Bytes CtTerminal::verification(const Bytes& c, bool modify) {
  if (c.size() < 5) return swBytes(0x6700);
  if (!card_ || !active_) return swBytes(0x6400);
  const std::size_t lc = c[4];
  if (c.size() < 5 + lc) return swBytes(0x6700);
  // Command-to-perform object 52: control byte, insertion position(s), APDU.
  std::size_t i = 5;
  const std::size_t end = 5 + lc;
  if (lc < 2 || c[i] != 0x52) return swBytes(0x6A80);
  const std::size_t len = c[i + 1];
  const std::size_t header = modify ? 3 : 2;
  if (i + 2 + len > end || len < header + 4) return swBytes(0x6A80);
  const std::uint8_t control = c[i + 2];
  const std::size_t posOld = c[i + 3];
  const std::size_t posNew = modify ? c[i + 4] : posOld;
  Bytes apdu(c.begin() + static_cast<std::ptrdiff_t>(i + 2 + header),
             c.begin() + static_cast<std::ptrdiff_t>(i + 2 + len));
  // Optional objects after it (80 time-out, 50 display text) only shape the dialogue.

  EntryRules rules;
  const std::size_t fixed = control >> 4;
  if (fixed) {
    rules.minLength = rules.maxLength = fixed;
    rules.endAtMaxLength = true;
  }
  const bool activation = modify && posOld == posNew;
  const int entries = modify ? (activation ? 2 : 3) : 1;
  PinEntry entry(rules, entries);
  entry.run(keypad_);
  if (entry.state() == PinEntry::State::Cancelled) return swBytes(0x6401);
  if (entry.state() != PinEntry::State::Done) return swBytes(0x6400);
  const auto& e = entry.entries();
  if (modify && e[entries - 1] != e[entries - 2]) return swBytes(0x6402);
  if (modify && !activation && !insertPinCtBcs(apdu, control, posOld, config_.positionBase, e[0]))
    return swBytes(0x6A80);
  if (!insertPinCtBcs(apdu, control, posNew, config_.positionBase, modify ? e[entries - 2] : e[0]))
    return swBytes(0x6A80);
  auto reply = cardCommand(apdu);
  if (!reply || reply->size() < 2) return swBytes(0x6400);
  return Bytes(reply->end() - 2, reply->end());
}

std::optional<Bytes> CtTerminal::cardCommand(const Bytes& apdu) {
  if (!card_ || !active_) return std::nullopt;
  CardAnswer a = card_->transmit(apdu);
  if (a.kind == CardAnswer::Kind::Removed) {
    card_.reset();
    active_ = false;
  }
  if (a.kind != CardAnswer::Kind::Answered) return std::nullopt;
  return a.bytes;
}

}  // namespace cardsim
