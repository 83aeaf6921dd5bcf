#include "registry_hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/random.h>

#include <zlib.h>

#include "registry_bytes.h"
#include "registry_journal.h"

namespace platform::registry {

namespace {

constexpr char kMagic[8] = {'Q', 'R', 'V', 'L', 'H', 'I', 'V', 'E'};

void putHeader(uint8_t* header, const uint8_t* body, uint64_t size, uint32_t version, uint32_t generation) {
  auto put = [&header](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) *header++ = static_cast<uint8_t>(v >> (8 * i));
  };
  std::memcpy(header, kMagic, sizeof kMagic);
  header += sizeof kMagic;
  put(version, 4);
  put(0, 4);
  put(size, 8);
  put(hiveCrc(0, body, static_cast<size_t>(size)), 4);
  put(generation, 4);
}

void writeKey(ByteWriter& w, const Key& key) {
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

constexpr uint32_t kReservedValues = 65536;

// Fills `key` (already named) from the reader; depth counts the levels above it.
bool readKeyBody(ByteReader& r, Key& key, size_t depth) {
  uint64_t time;
  uint32_t valueCount;
  if (!r.u64(time) || !r.u32(valueCount)) return false;
  key.setLastWriteTime(time);
  // Each value needs at least 10 bytes, so a huge count cannot make us loop long.
  if (valueCount > r.left() / 10) return false;
  // Room for the values up front, but only for as many as a large key holds: a count
  // is only a claim until the values are read, and a false one must not claim memory.
  key.reserveValues(std::min<uint32_t>(valueCount, kReservedValues));
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
    : name_(other.name_), lastWrite_(other.lastWrite_), values_(other.values_), slots_(other.slots_) {
  for (const auto& entry : other.subkeys_) subkeys_.emplace(entry.first, std::make_unique<Key>(*entry.second));
}

Key& Key::operator=(const Key& other) {
  if (this != &other) *this = Key(other);
  return *this;
}

const Value* Key::findValue(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const uint32_t position = slots_[slotOf(name)];
  return position ? &values_[position - 1] : nullptr;
}

void Key::setValue(std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  reserveValues(values_.size() + 1);
  uint32_t& slot = slots_[slotOf(name)];
  if (slot) {
    Value& v = values_[slot - 1];
    v.type = type;
    v.data = std::move(data);
    return;
  }
  values_.push_back(Value{std::string(name), type, std::move(data)});
  slot = static_cast<uint32_t>(values_.size());
}

bool Key::addValue(Value value) {
  reserveValues(values_.size() + 1);
  uint32_t& slot = slots_[slotOf(value.name)];
  if (slot) return false;
  values_.push_back(std::move(value));
  slot = static_cast<uint32_t>(values_.size());
  return true;
}

bool Key::removeValue(std::string_view name) {
  if (slots_.empty()) return false;
  const uint32_t position = slots_[slotOf(name)];
  if (!position) return false;
  // Every later value moves down one place: the index is made again, as linear in the
  // key's size as the move itself.
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position - 1));
  reindex(slots_.size());
  return true;
}

void Key::reserveValues(size_t count) {
  if (count > values_.capacity()) values_.reserve(std::max(count, values_.capacity() * 2));
  if (count * 2 > slots_.size()) reindex(std::max(count * 2, slots_.size() * 2));
}

namespace {

// A hash of the name as foldName would spell it, without making that spelling, mixed
// with a random seed of the process's own: which names of a file collide differs from
// process to process.
uint64_t hashFolded(std::string_view name) {
  static const uint64_t seed = [] {
    uint64_t s = 0;
    if (getrandom(&s, sizeof s, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof s))
      s = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return s;
  }();
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  uint64_t h = seed ^ (name.size() * kMultiplier);
  for (size_t i = 0; i < name.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, name.data() + i, std::min<size_t>(8, name.size() - i));
    // The bytes 'a' to 'z' of the eight made upper case at once: a high bit marks a
    // byte (below 0x80) at or above 'a' and another one above 'z'; where only the
    // first is set, 0x20 is taken away.
    const uint64_t low = word & (0x7F * kOnes);
    const uint64_t atLeastA = low + (0x80 - 'a') * kOnes;
    const uint64_t aboveZ = low + (0x7F - 'z') * kOnes;
    word ^= ((atLeastA ^ aboveZ) & ~word & (0x80 * kOnes)) >> 2;
    h = (h ^ word) * kMultiplier;
    h ^= h >> 29;
  }
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

}  // namespace

size_t Key::slotOf(std::string_view name) const {
  const size_t mask = slots_.size() - 1;
  size_t slot = static_cast<size_t>(hashFolded(name)) & mask;
  while (slots_[slot] && !sameName(values_[slots_[slot] - 1].name, name)) slot = (slot + 1) & mask;
  return slot;
}

void Key::reindex(size_t slots) {
  size_t size = 8;
  while (size < slots) size *= 2;
  slots_.assign(size, 0);
  const size_t mask = size - 1;
  for (size_t i = 0; i < values_.size(); ++i) {
    size_t slot = static_cast<size_t>(hashFolded(values_[i].name)) & mask;
    while (slots_[slot]) slot = (slot + 1) & mask;
    slots_[slot] = static_cast<uint32_t>(i + 1);
  }
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
  slots_.clear();
  subkeys_.clear();
}

uint32_t hiveCrc(uint32_t previous, const uint8_t* data, size_t size) {
  // zlib computes the IEEE CRC-32, several bytes per step.
  uLong c = previous;
  while (size > 0) {
    const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    c = ::crc32(c, data, n);
    data += n;
    size -= n;
  }
  return static_cast<uint32_t>(c);
}

void writeHive(const Key& root, std::vector<uint8_t>& out, uint32_t version, uint32_t generation) {
  // The body is written after room for the header, which is filled in at the end.
  out.assign(kHiveHeaderSize, 0);
  ByteWriter w(out);
  writeKey(w, root);
  putHeader(out.data(), out.data() + kHiveHeaderSize, out.size() - kHiveHeaderSize, version,
            version == kSavedHiveVersion ? 0 : generation);
}

std::vector<uint8_t> serializeHive(const Key& root) {
  std::vector<uint8_t> file;
  writeHive(root, file, kSavedHiveVersion, 0);
  return file;
}

std::vector<uint8_t> sealHiveBody(const uint8_t* body, size_t size) {
  std::vector<uint8_t> file(kHiveHeaderSize + size);
  if (size) std::memcpy(file.data() + kHiveHeaderSize, body, size);
  putHeader(file.data(), file.data() + kHiveHeaderSize, size, kSavedHiveVersion, 0);
  return file;
}

bool parseHive(const uint8_t* data, size_t size, Key& root, HiveLayout* layout) {
  if (size < kHiveHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  ByteReader header(data + sizeof kMagic, kHiveHeaderSize - sizeof kMagic);
  uint32_t version, flags, checksum, generation;
  uint64_t length;
  header.u32(version);
  header.u32(flags);
  header.u64(length);
  header.u32(checksum);
  header.u32(generation);
  if (version != kSavedHiveVersion && version != kJournaledHiveVersion) return false;
  // Version 1 ends with the body; in version 2 the journal follows it.
  if (version == kSavedHiveVersion ? length != size - kHiveHeaderSize : length > size - kHiveHeaderSize) return false;
  const uint8_t* body = data + kHiveHeaderSize;
  const size_t bodyLength = static_cast<size_t>(length);
  if (hiveCrc(0, body, bodyLength) != checksum) return false;

  ByteReader r(body, bodyLength);
  std::string rootName;
  Key parsed;
  if (!r.text(rootName) || !rootName.empty() || !readKeyBody(r, parsed, 0) || r.left() != 0) return false;
  HiveLayout found;
  found.version = version;
  found.bodyEnd = kHiveHeaderSize + bodyLength;
  found.validEnd = found.bodyEnd;
  if (version == kJournaledHiveVersion) {
    found.check = journalSeed(data);
    size_t consumed = 0;
    if (replayJournal(data + found.bodyEnd, size - found.bodyEnd, found.check, parsed, consumed) ==
        JournalStatus::Damaged)
      return false;
    found.validEnd += consumed;
  }
  root = std::move(parsed);
  if (layout) *layout = found;
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
