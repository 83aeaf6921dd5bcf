#include "registry_journal.h"

#include <algorithm>

#include "registry_bytes.h"

namespace platform::registry {

namespace {

constexpr size_t kRecordHeaderSize = 12;
// Time and edit count: the smallest payload.
constexpr size_t kMinPayload = 12;
// Kind and depth: the smallest edit.
constexpr size_t kMinEdit = 3;

// The key at the end of the path, or nullptr when a key on the way is missing.
Key* find(Key& root, const std::vector<std::string>& path, size_t depth) {
  Key* key = &root;
  for (size_t i = 0; i < depth && key; ++i) key = key->findSubkey(path[i]);
  return key;
}

bool readEdit(ByteReader& r, Edit& edit) {
  uint8_t kind;
  uint16_t depth;
  if (!r.u8(kind) || kind < Edit::CreateKey || kind > Edit::ClearKey || !r.u16(depth) || depth > kMaxKeyDepth)
    return false;
  edit.kind = static_cast<Edit::Kind>(kind);
  // Each name takes at least three bytes, so a false depth cannot make us reserve much.
  if (depth > r.left() / 3) return false;
  edit.path.resize(depth);
  for (std::string& name : edit.path)
    if (!r.text(name) || name.empty() || name.size() > kMaxKeyNameLength) return false;
  if (edit.kind == Edit::DeleteKey && depth == 0) return false;
  if (edit.kind != Edit::SetValue && edit.kind != Edit::DeleteValue) return true;
  if (!r.text(edit.name) || edit.name.size() > kMaxValueNameLength) return false;
  if (edit.kind == Edit::DeleteValue) return true;
  uint32_t length;
  const uint8_t* data;
  if (!r.u32(edit.type) || !r.u32(length) || !r.bytes(length, data)) return false;
  edit.data.assign(data, data + length);
  return true;
}

void writeEdit(ByteWriter& w, const Edit& edit) {
  w.u8(edit.kind);
  w.u16(static_cast<uint16_t>(edit.path.size()));
  for (const std::string& name : edit.path) w.name(name);
  if (edit.kind != Edit::SetValue && edit.kind != Edit::DeleteValue) return;
  w.name(edit.name);
  if (edit.kind == Edit::DeleteValue) return;
  w.u32(edit.type);
  w.u32(static_cast<uint32_t>(edit.data.size()));
  w.bytes(edit.data.data(), edit.data.size());
}

// Applies one record's payload; false when it is malformed or an edit does not apply.
bool applyPayload(const uint8_t* payload, size_t size, Key& root) {
  ByteReader r(payload, size);
  uint64_t time;
  uint32_t count;
  if (!r.u64(time) || !r.u32(count) || count > r.left() / kMinEdit) return false;
  Edit edit;
  for (uint32_t i = 0; i < count; ++i)
    if (!readEdit(r, edit) || !applyEdit(root, edit, time)) return false;
  return r.left() == 0;
}

uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool applyEdit(Key& root, const Edit& edit, uint64_t time) {
  switch (edit.kind) {
    case Edit::CreateKey: {
      Key* key = &root;
      for (const std::string& name : edit.path) {
        Key* child = key->findSubkey(name);
        if (!child) {
          child = &key->addSubkey(name);
          child->setLastWriteTime(time);
          key->setLastWriteTime(time);
        }
        key = child;
      }
      return true;
    }
    case Edit::SetValue: {
      Key* key = find(root, edit.path, edit.path.size());
      if (!key) return false;
      key->setValue(edit.name, edit.type, edit.data);
      key->setLastWriteTime(time);
      return true;
    }
    case Edit::DeleteValue: {
      Key* key = find(root, edit.path, edit.path.size());
      if (!key || !key->removeValue(edit.name)) return false;
      key->setLastWriteTime(time);
      return true;
    }
    case Edit::DeleteKey: {
      Key* parent = edit.path.empty() ? nullptr : find(root, edit.path, edit.path.size() - 1);
      if (!parent || !parent->removeSubkey(edit.path.back())) return false;
      parent->setLastWriteTime(time);
      return true;
    }
    case Edit::ClearKey: {
      Key* key = find(root, edit.path, edit.path.size());
      if (!key) return false;
      key->clear();
      key->setLastWriteTime(time);
      return true;
    }
  }
  return false;
}

uint32_t journalSeed(const uint8_t* header) { return hiveCrc(0, header, kHiveHeaderSize); }

void appendRecord(std::vector<uint8_t>& out, uint32_t& check, uint64_t time, const std::vector<Edit>& edits) {
  const size_t start = out.size();
  out.resize(start + kRecordHeaderSize);
  ByteWriter w(out);
  w.u64(time);
  w.u32(static_cast<uint32_t>(edits.size()));
  for (const Edit& edit : edits) writeEdit(w, edit);
  const size_t length = out.size() - start - kRecordHeaderSize;
  check = hiveCrc(check, out.data() + start + kRecordHeaderSize, length);
  uint8_t* header = out.data() + start;
  for (uint32_t word : {static_cast<uint32_t>(length), ~static_cast<uint32_t>(length), check})
    for (int i = 0; i < 4; ++i) *header++ = static_cast<uint8_t>(word >> (8 * i));
}

JournalStatus replayJournal(const uint8_t* data, size_t size, uint32_t& check, Key& root, size_t& consumed) {
  consumed = 0;
  while (consumed < size) {
    const uint8_t* record = data + consumed;
    const size_t left = size - consumed;
    if (std::all_of(record, record + left, [](uint8_t b) { return b == 0; })) return JournalStatus::Unfinished;
    if (left < 8) return JournalStatus::Unfinished;
    const uint32_t length = get32(record);
    if (get32(record + 4) != ~length || length < kMinPayload) return JournalStatus::Damaged;
    if (left < kRecordHeaderSize || length > left - kRecordHeaderSize) return JournalStatus::Unfinished;
    const uint8_t* payload = record + kRecordHeaderSize;
    const uint32_t next = hiveCrc(check, payload, length);
    if (get32(record + 8) != next || !applyPayload(payload, length, root)) return JournalStatus::Damaged;
    check = next;
    consumed += kRecordHeaderSize + length;
  }
  return JournalStatus::Complete;
}

}  // namespace platform::registry
