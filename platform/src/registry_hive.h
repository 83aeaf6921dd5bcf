// One registry hive in memory, and its file format.
//
// Hive file, all integers little-endian:
//   header, 32 bytes:
//     magic     8 bytes  "QRVLHIVE"
//     version   u32      1 or 2 (a reader refuses any other)
//     flags     u32      0
//     length    u64      bytes of the body that follows
//     checksum  u32      CRC-32 (IEEE) of the body
//     generation u32     version 2: new with every rewrite of the file; version 1: 0
//   body: the hive's root key (empty name), then nothing else:
//     key   := u16 nameLength, name, u64 lastWriteTime (FILETIME ticks),
//              u32 valueCount, value * valueCount, u32 subkeyCount, key * subkeyCount
//     value := u16 nameLength, name, u32 type, u32 dataLength, data
// Version 1 ends right after the body: saved hives (RegSaveKeyA) and every hive
// written before journals. In version 2 a journal of later changes follows the body
// up to the end of the file (registry_journal.h).
// Names are stored in their original spelling (UTF-8). A reader checks every length
// against the bytes left, the nesting depth, the checksum and that no two siblings
// share a name, so that a damaged file is refused as a whole rather than half read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

// Windows limits: a key name component, a value name, and the nesting depth of keys.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxKeyDepth = 512;

// Names compare case-insensitively (ASCII), ordered as Windows orders them: by upper case.
std::string foldName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

struct Value {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

class Key {
 public:
  explicit Key(std::string name = std::string()) : name_(std::move(name)) {}
  // A deep copy: a writer changes its own copy of the cached hive.
  Key(const Key& other);
  Key& operator=(const Key& other);
  Key(Key&&) = default;
  Key& operator=(Key&&) = default;

  const std::string& name() const { return name_; }
  // Renames a key no parent holds (a copy about to become the root of a hive file).
  void setName(std::string name) { name_ = std::move(name); }
  uint64_t lastWriteTime() const { return lastWrite_; }
  void setLastWriteTime(uint64_t time) { lastWrite_ = time; }

  // Values keep the order in which they were first set.
  const std::vector<Value>& values() const { return values_; }
  const Value* findValue(std::string_view name) const;
  // Replaces data and type of an existing value (its spelling stays) or appends a new one.
  void setValue(std::string_view name, uint32_t type, std::vector<uint8_t> data);
  // Appends a value; false when one of that name exists already.
  bool addValue(Value value);
  bool removeValue(std::string_view name);
  // Makes room for this many values in all, so that filling a key moves nothing.
  void reserveValues(size_t count);

  // Subkeys enumerate in case-insensitive order.
  const std::map<std::string, std::unique_ptr<Key>>& subkeys() const { return subkeys_; }
  Key* findSubkey(std::string_view name) const;
  // Returns the existing subkey of that name, or a new one.
  Key& addSubkey(std::string_view name);
  bool removeSubkey(std::string_view name);
  void clear();

 private:
  std::string name_;
  uint64_t lastWrite_ = 0;
  // The slot where a value of that name is, or the free slot where it would go.
  size_t slotOf(std::string_view name) const;
  // Makes the index at least `slots` slots (a power of two) and fills it from values_.
  void reindex(size_t slots);

  std::vector<Value> values_;
  // The values by name, so that a lookup costs the same in a key of ten values and of
  // ten thousand: an open-addressing table of positions in values_ plus one (0 is a
  // free slot), keyed by a hash of the case-folded name, at most half full. One flat
  // array: no allocation per value, and a copy of the key copies it in one go.
  std::vector<uint32_t> slots_;
  std::map<std::string, std::unique_ptr<Key>> subkeys_;  // by folded name
};

constexpr size_t kHiveHeaderSize = 32;
constexpr uint32_t kSavedHiveVersion = 1;
constexpr uint32_t kJournaledHiveVersion = 2;

// CRC-32 (IEEE) of the bytes, continued from `previous` (0 to start).
uint32_t hiveCrc(uint32_t previous, const uint8_t* data, size_t size);

// Writes a whole hive file into `out`, reusing its memory.
void writeHive(const Key& root, std::vector<uint8_t>& out, uint32_t version, uint32_t generation);
// A hive file of version 1, as RegSaveKeyA writes it.
std::vector<uint8_t> serializeHive(const Key& root);
// A complete version 1 hive file around a body: the header with its length and checksum.
std::vector<uint8_t> sealHiveBody(const uint8_t* body, size_t size);

// Where the parts of a hive file end, as the reader found them.
struct HiveLayout {
  uint32_t version = 0;
  size_t bodyEnd = 0;   // header and body: the journal begins here
  size_t validEnd = 0;  // after the last whole record (the file's end for version 1)
  uint32_t check = 0;   // the journal's check at validEnd
};

// False when the bytes are not an intact hive of a known version. For version 2 the
// journal's whole records are applied too; an unfinished last record is left out
// (layout->validEnd tells where the whole records end).
bool parseHive(const uint8_t* data, size_t size, Key& root, HiveLayout* layout = nullptr);

// The current time as FILETIME ticks (100 ns since 1601-01-01).
uint64_t fileTimeNow();

}  // namespace platform::registry
