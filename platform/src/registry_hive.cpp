#include "registry_hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <zlib.h>

namespace platform::registry {

namespace {

constexpr char kMagic[8] = {'Q', 'R', 'V', 'L', 'H', 'I', 'V', 'E'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 32;

uint32_t crc32(const uint8_t* data, size_t size) {
  // zlib computes the same IEEE CRC-32, several bytes per step.
  uLong c = ::crc32(0L, Z_NULL, 0);
  while (size > 0) {
    const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    c = ::crc32(c, data, n);
    data += n;
    size -= n;
  }
  return static_cast<uint32_t>(c);
}

void putHeader(uint8_t* header, const uint8_t* body, uint64_t size) {
  auto put = [&header](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) *header++ = static_cast<uint8_t>(v >> (8 * i));
  };
  std::memcpy(header, kMagic, sizeof kMagic);
  header += sizeof kMagic;
  put(kVersion, 4);
  put(0, 4);
  put(size, 8);
  put(crc32(body, static_cast<size_t>(size)), 4);
  put(0, 4);
}

class Writer {
 public:
  void u16(uint16_t v) { put(v, 2); }
  void u32(uint32_t v) { put(v, 4); }
  void u64(uint64_t v) { put(v, 8); }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  void name(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    bytes(s.data(), s.size());
  }
  std::vector<uint8_t> out;

 private:
  void put(uint64_t v, int n) {
    uint8_t b[8];
    for (int i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    out.insert(out.end(), b, b + n);
  }
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool u16(uint16_t& v) { return get(v, 2); }
  bool u32(uint32_t& v) { return get(v, 4); }
  bool u64(uint64_t& v) { return get(v, 8); }
  bool bytes(size_t n, const uint8_t*& out) {
    if (n > left_) return false;
    out = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  bool text(std::string& s) {
    uint16_t n;
    const uint8_t* b;
    if (!u16(n) || !bytes(n, b)) return false;
    s.assign(reinterpret_cast<const char*>(b), n);
    return true;
  }
  size_t left() const { return left_; }

 private:
  template <typename T>
  bool get(T& v, int n) {
    if (left_ < static_cast<size_t>(n)) return false;
    uint64_t r = 0;
    for (int i = 0; i < n; ++i) r |= static_cast<uint64_t>(p_[i]) << (8 * i);
    v = static_cast<T>(r);
    p_ += n;
    left_ -= n;
    return true;
  }
  const uint8_t* p_;
  size_t left_;
};

void writeKey(Writer& w, const Key& key) {
  w.name(key.name());
  w.u64(key.lastWriteTime());
  w.u32(static_cast<uint32_t>(key.values().size()));
  for (const Value& v : key.values()) {
    w.name(v.name);
    w.u32(v.type);
    w.u32(static_cast<uint32_t>(v.data.size()));
    w.bytes(v.data.data(), v.data.size());
  }
  w.u32(static_cast<uint32_t>(key.subkeys().size()));
  for (const auto& entry : key.subkeys()) writeKey(w, *entry.second);
}

// Fills `key` (already named) from the reader; depth counts the levels above it.
bool readKeyBody(Reader& r, Key& key, size_t depth) {
  uint64_t time;
  uint32_t valueCount;
  if (!r.u64(time) || !r.u32(valueCount)) return false;
  key.setLastWriteTime(time);
  // Each value needs at least 10 bytes, so a huge count cannot make us loop long.
  if (valueCount > r.left() / 10) return false;
  for (uint32_t i = 0; i < valueCount; ++i) {
    Value value;
    uint32_t length;
    const uint8_t* data;
    if (!r.text(value.name) || value.name.size() > kMaxValueNameLength || !r.u32(value.type) || !r.u32(length) ||
        !r.bytes(length, data))
      return false;
    value.data.assign(data, data + length);
    if (!key.addValue(std::move(value))) return false;
  }
  uint32_t subkeyCount;
  if (!r.u32(subkeyCount)) return false;
  if (subkeyCount > r.left() / 18) return false;
  if (subkeyCount > 0 && depth + 1 > kMaxKeyDepth) return false;
  for (uint32_t i = 0; i < subkeyCount; ++i) {
    std::string name;
    if (!r.text(name) || name.empty() || name.size() > kMaxKeyNameLength || key.findSubkey(name)) return false;
    if (!readKeyBody(r, key.addSubkey(name), depth + 1)) return false;
  }
  return true;
}

}  // namespace

std::string foldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

Key::Key(const Key& other)
    : name_(other.name_), lastWrite_(other.lastWrite_), values_(other.values_), valueIndex_(other.valueIndex_) {
  for (const auto& entry : other.subkeys_) subkeys_.emplace(entry.first, std::make_unique<Key>(*entry.second));
}

Key& Key::operator=(const Key& other) {
  if (this != &other) *this = Key(other);
  return *this;
}

const Value* Key::findValue(std::string_view name) const {
  auto it = valueIndex_.find(foldName(name));
  return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

void Key::setValue(std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  auto [it, added] = valueIndex_.emplace(foldName(name), values_.size());
  if (!added) {
    Value& v = values_[it->second];
    v.type = type;
    v.data = std::move(data);
    return;
  }
  values_.push_back(Value{std::string(name), type, std::move(data)});
}

bool Key::addValue(Value value) {
  if (!valueIndex_.emplace(foldName(value.name), values_.size()).second) return false;
  values_.push_back(std::move(value));
  return true;
}

bool Key::removeValue(std::string_view name) {
  auto it = valueIndex_.find(foldName(name));
  if (it == valueIndex_.end()) return false;
  const size_t position = it->second;
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
  for (auto& entry : valueIndex_)
    if (entry.second > position) --entry.second;
  return true;
}

Key* Key::findSubkey(std::string_view name) const {
  auto it = subkeys_.find(foldName(name));
  return it == subkeys_.end() ? nullptr : it->second.get();
}

Key& Key::addSubkey(std::string_view name) {
  auto& slot = subkeys_[foldName(name)];
  if (!slot) slot = std::make_unique<Key>(std::string(name));
  return *slot;
}

bool Key::removeSubkey(std::string_view name) { return subkeys_.erase(foldName(name)) > 0; }

void Key::clear() {
  values_.clear();
  valueIndex_.clear();
  subkeys_.clear();
}

std::vector<uint8_t> serializeHive(const Key& root) {
  // The body is written after room for the header, which is filled in at the end.
  Writer file;
  file.out.resize(kHeaderSize);
  writeKey(file, root);
  putHeader(file.out.data(), file.out.data() + kHeaderSize, file.out.size() - kHeaderSize);
  return std::move(file.out);
}

std::vector<uint8_t> sealHiveBody(const uint8_t* body, size_t size) {
  std::vector<uint8_t> file(kHeaderSize + size);
  if (size) std::memcpy(file.data() + kHeaderSize, body, size);
  putHeader(file.data(), file.data() + kHeaderSize, size);
  return file;
}

bool parseHive(const uint8_t* data, size_t size, Key& root) {
  if (size < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  Reader header(data + sizeof kMagic, kHeaderSize - sizeof kMagic);
  uint32_t version, flags, checksum, reserved;
  uint64_t length;
  header.u32(version);
  header.u32(flags);
  header.u64(length);
  header.u32(checksum);
  header.u32(reserved);
  if (version != kVersion || length != size - kHeaderSize) return false;
  const uint8_t* body = data + kHeaderSize;
  if (crc32(body, static_cast<size_t>(length)) != checksum) return false;

  Reader r(body, static_cast<size_t>(length));
  std::string rootName;
  Key parsed;
  if (!r.text(rootName) || !rootName.empty() || !readKeyBody(r, parsed, 0) || r.left() != 0) return false;
  root = std::move(parsed);
  return true;
}

uint64_t fileTimeNow() {
  // 1601-01-01 to 1970-01-01 in 100 ns ticks.
  constexpr uint64_t kEpochOffset = 116444736000000000ull;
  auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return kEpochOffset + static_cast<uint64_t>(since1970.count()) / 100;
}

}  // namespace platform::registry
