#include "cardsim/profile.h"

#include "cardsim/rsakey.h"
#include "words.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef CARDSIM_PROFILE_DIR
#define CARDSIM_PROFILE_DIR ""
#endif

namespace cardsim {

namespace {

std::uint8_t byteValue(const std::string& text) {
  Bytes b = fromHex(text);
  if (b.size() != 1) throw std::invalid_argument("not one byte: " + text);
  return b[0];
}

bool yes(const std::string& v) { return v == "yes" || v == "1" || v == "true"; }

std::string resolve(const std::string& baseDir, const std::string& name) {
  if (name.empty() || name[0] == '/' || baseDir.empty()) return name;
  return baseDir + "/" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A key file of public keys, one entry per key: key number, entry length L (the
// entry has L + 12 bytes), 8 bytes not read, three element headers (tag, length),
// the values least significant byte first, 2 bytes not read. The modulus (tag 10)
// goes in two halves when it does not fit one length byte; the exponent is tag 13.
Bytes keyFile(const std::string& list, const std::string& baseDir) {
  std::vector<std::pair<std::uint8_t, RsaKey>> keys;
  std::stringstream s(list);
  std::string item;
  while (std::getline(s, item, ',')) {
    auto eq = item.find('=');
    if (eq == std::string::npos) throw std::invalid_argument("keyfile needs number=key file: " + item);
    keys.emplace_back(byteValue(item.substr(0, eq)), RsaKey::fromPemFile(resolve(baseDir, item.substr(eq + 1))));
  }
  Bytes out{static_cast<std::uint8_t>(keys.size())};
  for (auto& [number, key] : keys) {
    const Bytes modulus = key.modulus(), exponent = key.publicExponent();
    std::vector<std::pair<std::uint8_t, Bytes>> elements;
    if (modulus.size() > 255) {
      const auto half = modulus.begin() + static_cast<std::ptrdiff_t>(modulus.size() / 2);
      elements.push_back({0x10, Bytes(modulus.begin(), half)});
      elements.push_back({0x10, Bytes(half, modulus.end())});
    } else {
      elements.push_back({0x10, modulus});
    }
    elements.push_back({0x13, exponent});
    while (elements.size() < 3) elements.push_back({0x00, {}});
    Bytes values;
    for (auto& e : elements) values.insert(values.end(), e.second.rbegin(), e.second.rend());
    const std::size_t length = 17 + values.size() + 2 - 12;
    Bytes entry{number, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    entry.resize(11, 0x00);
    for (auto& e : elements) {
      entry.push_back(e.first);
      entry.push_back(static_cast<std::uint8_t>(e.second.size()));
    }
    entry.insert(entry.end(), values.begin(), values.end());
    entry.push_back(0x00);
    entry.push_back(0x00);
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

// hex:..., text:..., cert:<pem file>, file:<raw file>, keyfile:<n>=<pem key>,...
Bytes contentValue(const std::string& v, const std::string& baseDir) {
  auto colon = v.find(':');
  if (colon == std::string::npos) return fromHex(v);
  std::string kind = v.substr(0, colon), rest = v.substr(colon + 1);
  if (kind == "hex") return fromHex(rest);
  if (kind == "text") return Bytes(rest.begin(), rest.end());
  if (kind == "cert") return certificateDer(resolve(baseDir, rest));
  if (kind == "keyfile") return keyFile(rest, baseDir);
  if (kind == "file") {
    std::string s = readFile(resolve(baseDir, rest));
    return Bytes(s.begin(), s.end());
  }
  throw std::invalid_argument("unknown content kind: " + kind);
}

Access accessValue(const std::string& v) {
  if (v == "always") return {Access::Kind::Always, 0};
  if (v == "never") return {Access::Kind::Never, 0};
  if (v.rfind("pin:", 0) == 0) return {Access::Kind::Pin, byteValue(v.substr(4))};
  throw std::invalid_argument("unknown access rule: " + v);
}

HashAlg hashValue(const std::string& v) {
  if (v == "sha1") return HashAlg::Sha1;
  if (v == "sha256") return HashAlg::Sha256;
  if (v == "ripemd160") return HashAlg::Ripemd160;
  throw std::invalid_argument("unknown hash: " + v);
}

FileStructure structureValue(const std::string& v) {
  if (v == "transparent") return FileStructure::Transparent;
  if (v == "linear-fixed") return FileStructure::LinearFixed;
  if (v == "linear-variable") return FileStructure::LinearVariable;
  if (v == "cyclic") return FileStructure::Cyclic;
  throw std::invalid_argument("unknown file structure: " + v);
}

// key=value arguments after the positional ones.
std::multimap<std::string, std::string> options(const std::vector<std::string>& w, std::size_t from) {
  std::multimap<std::string, std::string> out;
  for (std::size_t i = from; i < w.size(); ++i) {
    auto eq = w[i].find('=');
    if (eq == std::string::npos) throw std::invalid_argument("expected key=value: " + w[i]);
    out.emplace(w[i].substr(0, eq), w[i].substr(eq + 1));
  }
  return out;
}

}  // namespace

FilePath parseFilePath(const std::string& text) {
  FilePath path;
  std::stringstream s(text);
  std::string part;
  while (std::getline(s, part, '/')) {
    Bytes b = fromHex(part);
    if (b.size() != 2) throw std::invalid_argument("bad file path: " + text);
    path.push_back(static_cast<std::uint16_t>(b[0] << 8 | b[1]));
  }
  if (path.empty() || path[0] != 0x3F00) throw std::invalid_argument("file path must start at 3F00: " + text);
  return path;
}

std::string formatFilePath(const FilePath& path) {
  std::string out;
  for (auto fid : path) {
    if (!out.empty()) out += '/';
    out += toHex(Bytes{static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid)});
  }
  return out;
}

CardProfile CardProfile::load(const std::string& path) {
  auto slash = path.find_last_of('/');
  return parse(readFile(path), slash == std::string::npos ? "." : path.substr(0, slash), path);
}

std::string CardProfile::installedPath(const std::string& name) {
  const char* dir = std::getenv("QUARVEL_CARDSIM_PROFILES");
  std::string base = dir && *dir ? dir : CARDSIM_PROFILE_DIR;
  return base + "/" + name + ".profile";
}

CardProfile CardProfile::parse(const std::string& text, const std::string& baseDir, const std::string& origin) {
  CardProfile p;
  p.baseDir = baseDir;
  p.files.push_back(FileSpec{{0x3F00}, FileStructure::Dedicated, {}, {}, {}, {}, {}});
  std::stringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    auto w = words(line);
    if (w.empty()) continue;
    try {
      const std::string& d = w[0];
      if (d == "name") {
        p.name = w.at(1);
      } else if (d == "atr") {
        std::string hex;
        for (std::size_t i = 1; i < w.size(); ++i) hex += w[i];
        p.atr = fromHex(hex);
      } else if (d == "extended-length") {
        p.extendedLength = yes(w.at(1));
      } else if (d == "last-try-answer") {
        Bytes b = fromHex(w.at(1));
        p.lastTryAnswer = static_cast<std::uint16_t>(b.at(0) << 8 | b.at(1));
      } else if (d == "end-of-file") {
        Bytes b = fromHex(w.at(1));
        p.endOfFile = static_cast<std::uint16_t>(b.at(0) << 8 | b.at(1));
        if (p.endOfFile != 0x6282 && p.endOfFile != 0x6B00) throw std::invalid_argument("end-of-file is 6282 or 6B00");
      } else if (d == "serial") {
        std::string hex;
        for (std::size_t i = 1; i < w.size(); ++i) hex += w[i];
        p.serial = fromHex(hex);
      } else if (d == "algorithm") {
        p.algorithms[byteValue(w.at(1))] = hashValue(w.at(2));
      } else if (d == "pin") {
        PinSpec s;
        s.ref = byteValue(w.at(1));
        for (auto& [k, v] : options(w, 2)) {
          if (k == "format") {
            if (v == "format2") s.format = PinFormat::Format2;
            else if (v == "padded") s.format = PinFormat::Padded;
            else throw std::invalid_argument("unknown PIN format: " + v);
          } else if (k == "pad") s.pad = byteValue(v);
          else if (k == "block") s.block = std::stoul(v);
          else if (k == "value") s.value = v;
          else if (k == "tries") s.tries = std::stoi(v);
          else if (k == "unblock") s.unblockCode = v;
          else if (k == "unblock-tries") s.unblockTries = std::stoi(v);
          else if (k == "min") s.minLength = std::stoul(v);
          else if (k == "max") s.maxLength = std::stoul(v);
          else if (k == "transport") s.transport = yes(v);
          else throw std::invalid_argument("unknown PIN option: " + k);
        }
        p.pins.push_back(s);
      } else if (d == "key") {
        KeySpec s;
        s.ref = byteValue(w.at(1));
        for (auto& [k, v] : options(w, 2)) {
          if (k == "file") s.keyFile = resolve(baseDir, v);
          else if (k == "pin") s.pin = byteValue(v);
          else if (k == "per-use") s.pinPerUse = yes(v);
          else if (k == "df") s.df = parseFilePath(v);
          else if (k == "usage") {
            s.sign = v.find("sign") != std::string::npos;
            s.decipher = v.find("decipher") != std::string::npos;
            s.authenticate = v.find("auth") != std::string::npos;
          } else throw std::invalid_argument("unknown key option: " + k);
        }
        p.keys.push_back(s);
      } else if (d == "se") {
        for (auto& [k, v] : options(w, 1)) {
          if (k == "sign") p.defaultSignKey = byteValue(v);
          else if (k == "decipher") p.defaultDecipherKey = byteValue(v);
          else if (k == "auth") p.defaultAuthKey = byteValue(v);
          else throw std::invalid_argument("unknown se option: " + k);
        }
      } else if (d == "df" || d == "ef") {
        FileSpec f;
        f.path = parseFilePath(w.at(1));
        std::size_t from = 2;
        if (d == "df") {
          f.structure = FileStructure::Dedicated;
          f.update = {};
        } else {
          f.structure = structureValue(w.at(2));
          from = 3;
        }
        std::size_t size = 0;
        for (auto& [k, v] : options(w, from)) {
          if (k == "name") f.dfName = fromHex(v);
          else if (k == "content") f.content = contentValue(v, baseDir);
          else if (k == "record") f.records.push_back(contentValue(v, baseDir));
          else if (k == "size") size = std::stoul(v);
          else if (k == "read") f.read = accessValue(v);
          else if (k == "update") f.update = accessValue(v);
          else throw std::invalid_argument("unknown file option: " + k);
        }
        if (f.content.size() < size) f.content.resize(size, 0x00);
        if (f.path.size() == 1) {
          p.files[0].dfName = f.dfName;
        } else {
          if (!p.file(FilePath(f.path.begin(), f.path.end() - 1)))
            throw std::invalid_argument("parent of " + w[1] + " not declared");
          p.files.push_back(f);
        }
      } else {
        throw std::invalid_argument("unknown directive " + d);
      }
    } catch (const std::exception& e) {
      throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + e.what());
    }
  }
  if (p.atr.empty()) throw std::runtime_error(origin + ": no atr");
  return p;
}

const PinSpec* CardProfile::pin(std::uint8_t ref) const {
  for (auto& s : pins)
    if (s.ref == ref) return &s;
  return nullptr;
}

const KeySpec* CardProfile::key(std::uint8_t ref) const {
  for (auto& s : keys)
    if (s.ref == ref) return &s;
  return nullptr;
}

const FileSpec* CardProfile::file(const FilePath& path) const {
  for (auto& f : files)
    if (f.path == path) return &f;
  return nullptr;
}

FileSpec* CardProfile::file(const FilePath& path) {
  for (auto& f : files)
    if (f.path == path) return &f;
  return nullptr;
}

}  // namespace cardsim
