#include "cardsim/card.h"

#include <algorithm>
#include <chrono>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace cardsim {

namespace {

// One BER-TLV object of a control reference template (one-byte tags).
struct Tlv {
  std::uint8_t tag;
  Bytes value;
};

std::optional<std::vector<Tlv>> parseTlvs(const Bytes& data) {
  std::vector<Tlv> out;
  std::size_t i = 0;
  while (i < data.size()) {
    if (i + 1 >= data.size()) return std::nullopt;
    std::uint8_t tag = data[i++];
    std::size_t len = data[i++];
    if (len == 0x81) {
      if (i >= data.size()) return std::nullopt;
      len = data[i++];
    } else if (len == 0x82) {
      if (i + 1 >= data.size()) return std::nullopt;
      len = static_cast<std::size_t>(data[i]) << 8 | data[i + 1];
      i += 2;
    } else if (len > 0x80) {
      return std::nullopt;
    }
    if (i + len > data.size()) return std::nullopt;
    out.push_back({tag, Bytes(data.begin() + static_cast<std::ptrdiff_t>(i),
                              data.begin() + static_cast<std::ptrdiff_t>(i + len))});
    i += len;
  }
  return out;
}

void appendTlv(Bytes& out, std::uint8_t tag, const Bytes& value) {
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

Bytes fidBytes(std::uint16_t fid) { return {static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid)}; }

std::uint8_t descriptor(FileStructure s) {
  switch (s) {
    case FileStructure::Dedicated: return 0x38;
    case FileStructure::Transparent: return 0x01;
    case FileStructure::LinearFixed: return 0x02;
    case FileStructure::LinearVariable: return 0x04;
    case FileStructure::Cyclic: return 0x06;
  }
  return 0;
}

bool isRecordFile(FileStructure s) {
  return s == FileStructure::LinearFixed || s == FileStructure::LinearVariable || s == FileStructure::Cyclic;
}

std::size_t fileSize(const FileSpec& f) {
  if (!isRecordFile(f.structure)) return f.content.size();
  std::size_t n = 0;
  for (auto& r : f.records) n += r.size();
  return n;
}

// File control parameters (62) or file control information (6F).
Bytes controlInformation(const FileSpec& f, bool fcp) {
  Bytes inner;
  const std::size_t size = fileSize(f);
  const Bytes sizeBytes{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
  if (f.structure == FileStructure::Dedicated) {
    appendTlv(inner, 0x82, {descriptor(f.structure)});
    appendTlv(inner, 0x83, fidBytes(f.path.back()));
    if (!f.dfName.empty()) appendTlv(inner, 0x84, f.dfName);
  } else if (fcp) {
    appendTlv(inner, 0x82, {descriptor(f.structure)});
    appendTlv(inner, 0x80, sizeBytes);
    appendTlv(inner, 0x83, fidBytes(f.path.back()));
  } else {
    appendTlv(inner, 0x80, sizeBytes);
    appendTlv(inner, 0x82, {descriptor(f.structure)});
    appendTlv(inner, 0x83, fidBytes(f.path.back()));
  }
  if (fcp) appendTlv(inner, 0x8A, {0x05});  // life cycle: operational, activated
  Bytes out;
  appendTlv(out, fcp ? 0x62 : 0x6F, inner);
  return out;
}

bool startsWith(const Bytes& b, const Bytes& prefix) {
  return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}

std::optional<Bytes> digest(HashAlg alg, const Bytes& data) {
  const EVP_MD* md = alg == HashAlg::Sha1 ? EVP_sha1() : alg == HashAlg::Sha256 ? EVP_sha256() : EVP_ripemd160();
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (!md || EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr) != 1) return std::nullopt;
  out.resize(len);
  return out;
}

}  // namespace

Bytes digestInfoPrefix(HashAlg alg) {
  switch (alg) {
    case HashAlg::Sha1: return fromHex("3021300906052B0E03021A05000414");
    case HashAlg::Sha256: return fromHex("3031300D060960864801650304020105000420");
    case HashAlg::Ripemd160: return fromHex("3021300906052B2403020105000414");
  }
  return {};
}

std::size_t hashLength(HashAlg alg) { return alg == HashAlg::Sha256 ? 32 : 20; }

FaultRule FaultRule::parse(const std::string& text) {
  FaultRule r;
  std::istringstream in(text);
  std::string word;
  bool haveAction = false;
  while (in >> word) {
    auto eq = word.find('=');
    std::string k = word.substr(0, eq), v = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (k == "at") r.at = std::stoul(v);
    else if (k == "match") r.prefix = fromHex(v);
    else if (k == "times") r.times = std::stoi(v);
    else if (k == "execute") r.execute = v.empty() || v == "yes";
    else if (k == "sw") {
      Bytes b = fromHex(v);
      if (b.size() != 2) throw std::invalid_argument("sw needs two bytes: " + v);
      r.action = Action::Status, r.sw = static_cast<std::uint16_t>(b[0] << 8 | b[1]), haveAction = true;
    } else if (k == "short") r.action = Action::ShortAnswer, r.length = std::stoul(v), haveAction = true;
    else if (k == "oversize") r.action = Action::Oversize, r.length = std::stoul(v), haveAction = true;
    else if (k == "mute") r.action = Action::Mute, haveAction = true;
    else if (k == "remove") r.action = Action::Remove, haveAction = true;
    else if (k == "delay") r.action = Action::Delay, r.delayMs = std::stoi(v), haveAction = true;
    else throw std::invalid_argument("unknown fault word: " + word);
  }
  if (!haveAction) throw std::invalid_argument("fault without action: " + text);
  if (r.at == 0 && r.prefix.empty()) throw std::invalid_argument("fault needs at= or match=: " + text);
  return r;
}

Card::Card(CardProfile profile) : profile_(std::move(profile)) {
  for (auto& k : profile_.keys) keys_.emplace(k.ref, RsaKey::fromPemFile(k.keyFile));
  for (auto& p : profile_.pins) {
    PinState s;
    s.definition = p;
    s.tries = p.tries;
    s.unblockTries = p.unblockTries;
    s.transport = p.transport;
    pins_[p.ref] = s;
  }
  startSession();
}

void Card::startSession() {
  for (auto& [ref, pin] : pins_) pin.verified = false;
  currentDf_ = {0x3F00};
  currentEf_.reset();
  se_ = {};
  se_.signKey = profile_.defaultSignKey;
  se_.decipherKey = profile_.defaultDecipherKey;
  se_.authKey = profile_.defaultAuthKey;
  storedHash_.reset();
  hashInput_.clear();
}

Bytes Card::powerOn() {
  startSession();
  powered_ = true;
  log_.push_back({"power-on", {}, profile_.atr});
  return profile_.atr;
}

Bytes Card::reset() {
  startSession();
  powered_ = true;
  log_.push_back({"reset", {}, profile_.atr});
  return profile_.atr;
}

void Card::powerOff() {
  startSession();
  powered_ = false;
  log_.push_back({"power-off", {}, {}});
}

void Card::addFault(FaultRule rule) {
  std::size_t trigger = rule.at ? commandCount_ + rule.at : 0;
  faults_.push_back({std::move(rule), trigger});
}

std::vector<Bytes> Card::commands() const {
  std::vector<Bytes> out;
  for (auto& e : log_)
    if (e.event == "apdu") out.push_back(e.command);
  return out;
}

CardAnswer Card::transmit(const Bytes& command) {
  ++commandCount_;
  std::optional<FaultRule> fault;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    bool hit = it->trigger ? it->trigger == commandCount_ : startsWith(command, it->rule.prefix);
    if (!hit) continue;
    fault = it->rule;
    if (it->trigger || (it->rule.times > 0 && --it->rule.times == 0)) faults_.erase(it);
    break;
  }

  CardAnswer answer;
  if (!powered_) {
    log_.push_back({"apdu", command, {}});
    answer.kind = CardAnswer::Kind::Mute;
    return answer;
  }
  if (fault && fault->action == FaultRule::Action::Remove) {
    log_.push_back({"apdu", command, {}});
    powerOff();
    answer.kind = CardAnswer::Kind::Removed;
    return answer;
  }
  if (fault && fault->action == FaultRule::Action::Mute) {
    log_.push_back({"apdu", command, {}});
    answer.kind = CardAnswer::Kind::Mute;
    return answer;
  }
  if (fault && fault->action == FaultRule::Action::Delay)
    std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));

  Bytes response;
  if (fault && fault->action == FaultRule::Action::Status && !fault->execute) {
    response = {static_cast<std::uint8_t>(fault->sw >> 8), static_cast<std::uint8_t>(fault->sw)};
  } else {
    response = execute(command);
    if (fault) {
      switch (fault->action) {
        case FaultRule::Action::Status:
          response[response.size() - 2] = static_cast<std::uint8_t>(fault->sw >> 8);
          response[response.size() - 1] = static_cast<std::uint8_t>(fault->sw);
          break;
        case FaultRule::Action::ShortAnswer:
          if (response.size() > fault->length) response.resize(fault->length);
          break;
        case FaultRule::Action::Oversize:
          response.insert(response.end() - 2, fault->length, 0xEE);
          break;
        default:
          break;
      }
    }
  }
  log_.push_back({"apdu", command, response});
  answer.bytes = std::move(response);
  return answer;
}

Bytes Card::execute(const Bytes& raw) {
  Response r;
  auto a = CommandApdu::parse(raw);
  if (!a || (a->extended && !profile_.extendedLength)) {
    r.sw = sw::kWrongLength;
  } else {
    r = dispatch(*a);
    if (r.sw == sw::kOk || (r.sw & 0xFF00) == 0x6200) {
      if (!a->ne) {
        r.data.clear();  // case 1 and 3: the card returns no data
      } else if (r.data.size() > *a->ne) {
        r.data.clear();
        r.sw = a->extended ? sw::kWrongLength : static_cast<std::uint16_t>(0x6C00 | (r.data.size() & 0xFF));
      }
    } else {
      r.data.clear();
    }
  }
  Bytes out = r.data;
  out.push_back(static_cast<std::uint8_t>(r.sw >> 8));
  out.push_back(static_cast<std::uint8_t>(r.sw));
  return out;
}

Card::Response Card::dispatch(const CommandApdu& a) {
  if (a.cla == 0x80 && a.ins == 0xF6) return getSerial(a);
  if (a.cla != 0x00 && a.cla != 0x10) return {{}, sw::kClaUnknown};
  if (a.cla == 0x10 && !(a.ins == 0x2A && a.p1 == 0x90)) return {{}, sw::kChainingUnsupported};
  switch (a.ins) {
    case 0xA4: return select(a);
    case 0xB0: return readBinary(a);
    case 0xB2: return readRecord(a);
    case 0xD6: return updateBinary(a);
    case 0x20: return verify(a);
    case 0x24: return changeReference(a);
    case 0x2C: return resetRetryCounter(a);
    case 0x22: return manageSecurityEnvironment(a);
    case 0x2A: return performSecurityOperation(a);
    case 0x88: return internalAuthenticate(a);
    case 0x84: return getChallenge(a);
    case 0xDA: return putData(a);
    default: return {{}, sw::kInsUnknown};
  }
}

FileSpec* Card::findFile(const FilePath& path) { return profile_.file(path); }

std::optional<FilePath> Card::resolveSelect(const CommandApdu& a) {
  auto child = [&](const FilePath& df, std::uint16_t fid, bool wantDf, bool wantEf) -> std::optional<FilePath> {
    FilePath p = df;
    p.push_back(fid);
    FileSpec* f = findFile(p);
    if (!f) return std::nullopt;
    bool isDf = f->structure == FileStructure::Dedicated;
    if ((isDf && !wantDf) || (!isDf && !wantEf)) return std::nullopt;
    return p;
  };
  auto fid = [&]() -> std::optional<std::uint16_t> {
    if (a.data.size() != 2) return std::nullopt;
    return static_cast<std::uint16_t>(a.data[0] << 8 | a.data[1]);
  };
  FilePath parent = currentDf_.size() > 1 ? FilePath(currentDf_.begin(), currentDf_.end() - 1) : currentDf_;
  switch (a.p1) {
    case 0x00: {
      if (a.data.empty()) return FilePath{0x3F00};
      auto f = fid();
      if (!f) return std::nullopt;
      if (*f == 0x3F00) return FilePath{0x3F00};
      if (auto p = child(currentDf_, *f, true, true)) return p;
      if (currentDf_.back() == *f) return currentDf_;
      if (parent.back() == *f) return parent;
      return child(parent, *f, true, true);
    }
    case 0x01: {
      auto f = fid();
      return f ? child(currentDf_, *f, true, false) : std::nullopt;
    }
    case 0x02: {
      auto f = fid();
      return f ? child(currentDf_, *f, false, true) : std::nullopt;
    }
    case 0x03:
      return parent;
    case 0x04: {
      if (a.data.empty()) return std::nullopt;
      for (auto& f : profile_.files)
        if (f.structure == FileStructure::Dedicated && startsWith(f.dfName, a.data)) return f.path;
      return std::nullopt;
    }
    case 0x08:
    case 0x09: {
      if (a.data.empty() || a.data.size() % 2) return std::nullopt;
      FilePath p = a.p1 == 0x08 ? FilePath{0x3F00} : currentDf_;
      for (std::size_t i = 0; i < a.data.size(); i += 2) {
        p.push_back(static_cast<std::uint16_t>(a.data[i] << 8 | a.data[i + 1]));
        FileSpec* f = findFile(p);
        if (!f || (i + 2 < a.data.size() && f->structure != FileStructure::Dedicated)) return std::nullopt;
      }
      return p;
    }
    default:
      return std::nullopt;
  }
}

Card::Response Card::select(const CommandApdu& a) {
  if (a.p1 > 0x09 || (a.p1 > 0x04 && a.p1 < 0x08) || (a.p2 & 0xF0) != 0) return {{}, sw::kWrongP1P2};
  auto path = resolveSelect(a);
  if (!path) return {{}, sw::kFileNotFound};
  FileSpec* f = findFile(*path);
  if (f->structure == FileStructure::Dedicated) {
    currentDf_ = *path;
    currentEf_.reset();
  } else {
    currentDf_ = FilePath(path->begin(), path->end() - 1);
    currentEf_ = *path;
  }
  switch (a.p2 & 0x0C) {
    case 0x00: return {controlInformation(*f, false), sw::kOk};
    case 0x04: return {controlInformation(*f, true), sw::kOk};
    case 0x08: return {fromHex("6400"), sw::kOk};
    default: return {{}, sw::kOk};
  }
}

std::uint16_t Card::checkAccess(const Access& access) const {
  switch (access.kind) {
    case Access::Kind::Always: return sw::kOk;
    case Access::Kind::Never: return sw::kConditions;
    case Access::Kind::Pin: {
      auto it = pins_.find(access.pin);
      return it != pins_.end() && it->second.verified ? sw::kOk : sw::kSecurityStatus;
    }
  }
  return sw::kConditions;
}

Card::Response Card::readBinary(const CommandApdu& a) {
  if (a.p1 & 0x80) return {{}, sw::kFileNotFound};  // no short file identifiers on these cards
  if (!a.ne) return {{}, sw::kWrongLength};
  if (!currentEf_) return {{}, sw::kNoCurrentEf};
  FileSpec* f = findFile(*currentEf_);
  if (f->structure != FileStructure::Transparent) return {{}, sw::kIncompatibleFile};
  if (auto s = checkAccess(f->read); s != sw::kOk) return {{}, s};
  const std::size_t offset = static_cast<std::size_t>(a.p1) << 8 | a.p2;
  if (offset >= f->content.size()) return {{}, sw::kWrongOffset};
  const std::size_t left = f->content.size() - offset;
  const std::size_t n = std::min(left, *a.ne);
  Response r{Bytes(f->content.begin() + static_cast<std::ptrdiff_t>(offset),
                   f->content.begin() + static_cast<std::ptrdiff_t>(offset + n)),
             sw::kOk};
  if (n < *a.ne && !a.neMax && profile_.endOfFile == sw::kEndOfFile) r.sw = sw::kEndOfFile;
  return r;
}

Card::Response Card::readRecord(const CommandApdu& a) {
  if ((a.p2 & 0x07) != 0x04) return {{}, sw::kWrongP1P2};
  if (a.p2 >> 3) return {{}, sw::kFileNotFound};
  if (!a.ne) return {{}, sw::kWrongLength};
  if (!currentEf_) return {{}, sw::kNoCurrentEf};
  FileSpec* f = findFile(*currentEf_);
  if (!isRecordFile(f->structure)) return {{}, sw::kIncompatibleFile};
  if (auto s = checkAccess(f->read); s != sw::kOk) return {{}, s};
  if (a.p1 == 0 || a.p1 > f->records.size()) return {{}, sw::kRecordNotFound};
  const Bytes& rec = f->records[a.p1 - 1];
  if (rec.size() > *a.ne && !a.neMax) return {{}, static_cast<std::uint16_t>(0x6C00 | (rec.size() & 0xFF))};
  return {rec, sw::kOk};
}

Card::Response Card::updateBinary(const CommandApdu& a) {
  if (a.p1 & 0x80) return {{}, sw::kFileNotFound};
  if (a.data.empty()) return {{}, sw::kWrongLength};
  if (!currentEf_) return {{}, sw::kNoCurrentEf};
  FileSpec* f = findFile(*currentEf_);
  if (f->structure != FileStructure::Transparent) return {{}, sw::kIncompatibleFile};
  if (auto s = checkAccess(f->update); s != sw::kOk) return {{}, s};
  const std::size_t offset = static_cast<std::size_t>(a.p1) << 8 | a.p2;
  if (offset > f->content.size()) return {{}, sw::kWrongOffset};
  if (offset + a.data.size() > f->content.size()) return {{}, sw::kNotEnoughMemory};
  std::copy(a.data.begin(), a.data.end(), f->content.begin() + static_cast<std::ptrdiff_t>(offset));
  return {};
}

Card::PinState* Card::pinState(std::uint8_t ref) {
  auto it = pins_.find(ref);
  return it == pins_.end() ? nullptr : &it->second;
}

std::optional<std::string> Card::decodePin(const PinSpec& definition, const Bytes& block) const {
  if (block.size() != definition.block) return std::nullopt;
  std::string pin;
  if (definition.format == PinFormat::Format2) {
    if ((block[0] >> 4) != 0x2) return std::nullopt;
    const std::size_t len = block[0] & 0x0F;
    if (len > (block.size() - 1) * 2) return std::nullopt;
    for (std::size_t i = 0; i < (block.size() - 1) * 2; ++i) {
      std::uint8_t nib = (i % 2 == 0) ? block[1 + i / 2] >> 4 : block[1 + i / 2] & 0x0F;
      if (i < len) {
        if (nib > 9) return std::nullopt;
        pin += static_cast<char>('0' + nib);
      } else if (nib != 0x0F) {
        return std::nullopt;
      }
    }
    return pin;
  }
  std::size_t end = block.size();
  while (end > 0 && block[end - 1] == definition.pad) --end;
  return std::string(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(end));
}

std::uint16_t Card::tryPin(PinState& pin, const std::string& candidate) {
  if (candidate == pin.definition.value) {
    pin.tries = pin.definition.tries;
    pin.verified = true;
    return sw::kOk;
  }
  pin.verified = false;
  if (--pin.tries <= 0) {
    pin.tries = 0;
    return profile_.lastTryAnswer;
  }
  return static_cast<std::uint16_t>(0x63C0 | pin.tries);
}

Card::Response Card::verify(const CommandApdu& a) {
  if (a.p1 != 0x00) return {{}, sw::kWrongP1P2};
  PinState* pin = pinState(a.p2);
  if (!pin) return {{}, sw::kReferenceNotFound};
  if (pin->tries == 0) return {{}, sw::kBlocked};
  if (pin->transport) return {{}, sw::kReferenceUnusable};
  if (a.data.empty()) {
    if (pin->verified) return {};
    return {{}, static_cast<std::uint16_t>(0x63C0 | pin->tries)};
  }
  if (a.data.size() != pin->definition.block) return {{}, sw::kWrongLength};
  auto candidate = decodePin(pin->definition, a.data);
  if (!candidate) return {{}, sw::kWrongData};
  return {{}, tryPin(*pin, *candidate)};
}

Card::Response Card::changeReference(const CommandApdu& a) {
  if (a.p1 > 0x01) return {{}, sw::kWrongP1P2};
  PinState* pin = pinState(a.p2);
  if (!pin) return {{}, sw::kReferenceNotFound};
  const std::size_t block = pin->definition.block;
  if (a.data.size() != (a.p1 == 0x00 ? 2 * block : block)) return {{}, sw::kWrongLength};
  if (pin->tries == 0) return {{}, sw::kBlocked};
  auto newPin = decodePin(pin->definition, Bytes(a.data.end() - static_cast<std::ptrdiff_t>(block), a.data.end()));
  if (!newPin || newPin->size() < pin->definition.minLength || newPin->size() > pin->definition.maxLength)
    return {{}, sw::kWrongData};
  if (a.p1 == 0x01) {
    // New reference data alone only activate a PIN that is still in transport state.
    if (!pin->transport) return {{}, sw::kConditions};
    pin->definition.value = *newPin;
    pin->transport = false;
    pin->tries = pin->definition.tries;
    pin->verified = false;
    return {};
  }
  auto oldPin = decodePin(pin->definition, Bytes(a.data.begin(), a.data.begin() + static_cast<std::ptrdiff_t>(block)));
  if (!oldPin) return {{}, sw::kWrongData};
  std::uint16_t s = tryPin(*pin, *oldPin);
  if (s != sw::kOk) return {{}, s};
  pin->definition.value = *newPin;
  pin->transport = false;
  return {};
}

Card::Response Card::resetRetryCounter(const CommandApdu& a) {
  if (a.p1 > 0x01) return {{}, sw::kWrongP1P2};
  PinState* pin = pinState(a.p2);
  if (!pin) return {{}, sw::kReferenceNotFound};
  if (pin->definition.unblockCode.empty()) return {{}, sw::kConditions};
  const std::size_t block = pin->definition.block;
  if (a.data.size() != (a.p1 == 0x00 ? 2 * block : block)) return {{}, sw::kWrongLength};
  if (pin->unblockTries == 0) return {{}, sw::kBlocked};
  auto code = decodePin(pin->definition, Bytes(a.data.begin(), a.data.begin() + static_cast<std::ptrdiff_t>(block)));
  std::optional<std::string> newPin;
  if (a.p1 == 0x00) {
    newPin = decodePin(pin->definition, Bytes(a.data.begin() + static_cast<std::ptrdiff_t>(block), a.data.end()));
    if (!newPin || newPin->size() < pin->definition.minLength || newPin->size() > pin->definition.maxLength)
      return {{}, sw::kWrongData};
  }
  if (!code) return {{}, sw::kWrongData};
  if (*code != pin->definition.unblockCode) {
    if (--pin->unblockTries <= 0) {
      pin->unblockTries = 0;
      return {{}, profile_.lastTryAnswer};
    }
    return {{}, static_cast<std::uint16_t>(0x63C0 | pin->unblockTries)};
  }
  pin->unblockTries = pin->definition.unblockTries;
  pin->tries = pin->definition.tries;
  pin->verified = false;
  if (newPin) pin->definition.value = *newPin;
  return {};
}

Card::Response Card::manageSecurityEnvironment(const CommandApdu& a) {
  const std::uint8_t op = a.p1 & 0x0F;
  if (op == 0x03) {  // RESTORE: back to the environment the card starts with
    se_ = {};
    se_.signKey = profile_.defaultSignKey;
    se_.decipherKey = profile_.defaultDecipherKey;
    se_.authKey = profile_.defaultAuthKey;
    return {};
  }
  if (op != 0x01) return {{}, sw::kWrongP1P2};
  auto tlvs = parseTlvs(a.data);
  if (!tlvs) return {{}, sw::kWrongData};
  std::optional<std::uint8_t> keyRef, alg;
  for (auto& t : *tlvs) {
    if ((t.tag == 0x84 || t.tag == 0x83) && !t.value.empty()) keyRef = t.value.back();
    if (t.tag == 0x80 && t.value.size() == 1) alg = t.value[0];
  }
  auto checkKey = [&](bool KeySpec::*usage, std::optional<std::uint8_t> fallback,
                      std::optional<std::uint8_t>& slot) -> std::uint16_t {
    std::optional<std::uint8_t> ref = keyRef ? keyRef : fallback;
    if (ref) {
      const KeySpec* k = profile_.key(*ref);
      if (!k || (!k->df.empty() && k->df != currentDf_)) return sw::kReferenceNotFound;
      if (!(k->*usage)) return sw::kWrongData;
    }
    slot = ref;
    return sw::kOk;
  };
  std::uint16_t s = sw::kOk;
  switch (a.p2) {
    case 0xB6:
      s = checkKey(&KeySpec::sign, profile_.defaultSignKey, se_.signKey);
      if (s == sw::kOk) se_.signAlg = alg;
      break;
    case 0xB8: s = checkKey(&KeySpec::decipher, profile_.defaultDecipherKey, se_.decipherKey); break;
    case 0xA4: s = checkKey(&KeySpec::authenticate, profile_.defaultAuthKey, se_.authKey); break;
    case 0xAA: se_.hashAlg = alg; break;
    default: return {{}, sw::kWrongP1P2};
  }
  return {{}, s};
}

std::uint16_t Card::useKey(std::optional<std::uint8_t> ref, bool KeySpec::*usage, const KeySpec** definition) {
  if (!ref) return sw::kConditions;
  const KeySpec* k = profile_.key(*ref);
  if (!k || !(k->*usage)) return sw::kConditions;
  if (!k->df.empty() && k->df != currentDf_) return sw::kConditions;
  PinState* pin = pinState(k->pin);
  if (pin && !pin->verified) return sw::kSecurityStatus;
  *definition = k;
  return sw::kOk;
}

std::optional<HashAlg> Card::hashFor(std::size_t length) const {
  for (auto ref : {se_.hashAlg, se_.signAlg}) {
    if (!ref) continue;
    auto it = profile_.algorithms.find(*ref);
    if (it != profile_.algorithms.end()) return hashLength(it->second) == length ? std::optional(it->second) : std::nullopt;
  }
  if (length == 20) return HashAlg::Sha1;
  if (length == 32) return HashAlg::Sha256;
  return std::nullopt;
}

Card::Response Card::performSecurityOperation(const CommandApdu& a) {
  if (a.p1 == 0x9E && a.p2 == 0x9A) return computeSignature(a);
  if (a.p1 == 0x80 && a.p2 == 0x86) return decipher(a);
  if (a.p1 == 0x90) return hash(a);
  return {{}, sw::kWrongP1P2};
}

Card::Response Card::computeSignature(const CommandApdu& a) {
  Bytes input;
  if (a.data.empty()) {
    if (!storedHash_) return {{}, sw::kConditions};
    auto alg = hashFor(storedHash_->size());
    if (!alg) return {{}, sw::kWrongData};
    input = digestInfoPrefix(*alg) + *storedHash_;
  } else if (a.data[0] == 0x30 && a.data.size() > 34) {
    input = a.data;  // a complete DigestInfo, padded as given
  } else {
    auto alg = hashFor(a.data.size());
    if (!alg) return {{}, sw::kWrongData};
    input = digestInfoPrefix(*alg) + a.data;
  }
  const KeySpec* key = nullptr;
  if (auto s = useKey(se_.signKey, &KeySpec::sign, &key); s != sw::kOk) return {{}, s};
  auto signature = keys_.at(key->ref).signPkcs1(input);
  if (!signature) return {{}, sw::kWrongData};
  storedHash_.reset();
  if (key->pinPerUse) pinState(key->pin)->verified = false;
  return {*signature, sw::kOk};
}

Card::Response Card::decipher(const CommandApdu& a) {
  if (a.data.size() < 2) return {{}, sw::kWrongLength};
  const KeySpec* key = nullptr;
  if (auto s = useKey(se_.decipherKey, &KeySpec::decipher, &key); s != sw::kOk) return {{}, s};
  const RsaKey& rsa = keys_.at(key->ref);
  Bytes cryptogram(a.data.begin() + 1, a.data.end());
  if (cryptogram.size() != rsa.modulusBytes()) return {{}, sw::kWrongLength};
  std::optional<Bytes> plain;
  switch (a.data[0]) {
    case 0x00: plain = rsa.privateRaw(cryptogram); break;  // no padding indicated
    case 0x02:
    case 0x81: plain = rsa.decryptPkcs1(cryptogram); break;  // PKCS#1 v1.5
    default: return {{}, sw::kWrongData};
  }
  if (!plain) return {{}, sw::kWrongData};
  return {*plain, sw::kOk};
}

Card::Response Card::hash(const CommandApdu& a) {
  const bool chained = a.cla & 0x10;
  Bytes plain;
  bool havePlain = false;
  if (a.p2 == 0x81) {  // the hash value itself
    if (a.data.empty()) return {{}, sw::kWrongLength};
    storedHash_ = a.data;
    hashInput_.clear();
    return {};
  }
  if (a.p2 == 0x80) {
    plain = a.data;
    havePlain = true;
  } else if (a.p2 == 0xA0) {
    auto tlvs = parseTlvs(a.data);
    if (!tlvs || tlvs->empty()) return {{}, sw::kWrongData};
    for (auto& t : *tlvs) {
      if (t.tag == 0x90) {
        storedHash_ = t.value;
        hashInput_.clear();
      } else if (t.tag == 0x80) {
        plain.insert(plain.end(), t.value.begin(), t.value.end());
        havePlain = true;
      } else {
        return {{}, sw::kWrongData};
      }
    }
    if (!havePlain) return {};
  } else {
    return {{}, sw::kWrongP1P2};
  }
  hashInput_.insert(hashInput_.end(), plain.begin(), plain.end());
  if (chained) return {};
  HashAlg alg = HashAlg::Sha256;
  for (auto ref : {se_.hashAlg, se_.signAlg})
    if (ref && profile_.algorithms.count(*ref)) {
      alg = profile_.algorithms.at(*ref);
      break;
    }
  storedHash_ = digest(alg, hashInput_);
  hashInput_.clear();
  if (!storedHash_) return {{}, sw::kConditions};
  return {*storedHash_, sw::kOk};
}

Card::Response Card::internalAuthenticate(const CommandApdu& a) {
  if (a.data.empty()) return {{}, sw::kWrongLength};
  const KeySpec* key = nullptr;
  if (auto s = useKey(se_.authKey, &KeySpec::authenticate, &key); s != sw::kOk) return {{}, s};
  const RsaKey& rsa = keys_.at(key->ref);
  if (a.data.size() + 11 > rsa.modulusBytes()) return {{}, sw::kWrongLength};
  auto signature = rsa.signPkcs1(a.data);
  if (!signature) return {{}, sw::kWrongData};
  return {*signature, sw::kOk};
}

Card::Response Card::getChallenge(const CommandApdu& a) {
  if (a.p1 || a.p2) return {{}, sw::kWrongP1P2};
  if (!a.ne || *a.ne > 256) return {{}, sw::kWrongLength};
  Bytes out(a.neMax ? 8 : *a.ne);
  RAND_bytes(out.data(), static_cast<int>(out.size()));
  return {out, sw::kOk};
}

Card::Response Card::getSerial(const CommandApdu& a) {
  if (profile_.serial.empty()) return {{}, sw::kInsUnknown};
  if (a.p1 || a.p2) return {{}, sw::kWrongP1P2};
  if (!a.ne) return {{}, sw::kWrongLength};
  return {profile_.serial, sw::kOk};
}

Card::Response Card::putData(const CommandApdu& a) {
  if (a.data.empty()) return {{}, sw::kWrongLength};
  dataObjects_[static_cast<std::uint16_t>(a.p1 << 8 | a.p2)] = a.data;
  return {};
}

Bytes Card::dataObject(std::uint16_t tag) const {
  auto it = dataObjects_.find(tag);
  return it == dataObjects_.end() ? Bytes() : it->second;
}

int Card::triesLeft(std::uint8_t pin) const {
  auto it = pins_.find(pin);
  return it == pins_.end() ? -1 : it->second.tries;
}

int Card::unblockTriesLeft(std::uint8_t pin) const {
  auto it = pins_.find(pin);
  return it == pins_.end() ? -1 : it->second.unblockTries;
}

bool Card::verified(std::uint8_t pin) const {
  auto it = pins_.find(pin);
  return it != pins_.end() && it->second.verified;
}

bool Card::inTransportState(std::uint8_t pin) const {
  auto it = pins_.find(pin);
  return it != pins_.end() && it->second.transport;
}

std::string Card::pinValue(std::uint8_t pin) const {
  auto it = pins_.find(pin);
  return it == pins_.end() ? std::string() : it->second.definition.value;
}

Bytes Card::fileContent(const FilePath& path) const {
  const FileSpec* f = profile_.file(path);
  return f ? f->content : Bytes();
}

std::vector<Bytes> Card::fileRecords(const FilePath& path) const {
  const FileSpec* f = profile_.file(path);
  return f ? f->records : std::vector<Bytes>();
}

}  // namespace cardsim
