// Changes appended to a hive file after its body, so that a write costs the size of
// the change rather than of the hive, and a process that sees another's write reads
// only the records it has not seen yet.
//
// A hive file of version 2 is the layout of registry_hive.h followed, up to the end
// of the file, by records, all integers little-endian:
//   record  := u32 length, u32 ~length, u32 check, payload (length bytes)
//   check   := CRC-32 of the payload continued from the check before it; the first
//              record continues from the CRC-32 of the file's 32-byte header, so a
//              record counts only after the very bytes it was written after
//   payload := u64 time (FILETIME ticks), u32 editCount, edit * editCount
//   edit    := u8 kind, u16 depth, name * depth (the key's path below the hive's
//              root), then by kind: set value: name, u32 type, u32 dataLength, data;
//              delete value: name; the others nothing
//   name    := u16 length, bytes (key names 1 to 255 bytes, value names up to 16383)
// One record holds the edits of one registry call, written with one write: a writer
// killed on the way leaves the beginning of a record at the end of the file, which
// is unfinished, not damage. Readers leave it out (the call's change is absent), and
// the next writer rewrites the hive without it. A tail of zero bytes counts as
// unfinished too (what some file systems leave of an append cut by a power loss).
// A record that is there whole but does not check, is malformed or does not apply
// to the hive is damage, and the hive is refused as a whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry_hive.h"

namespace platform::registry {

// One change to a hive. Every kind sets the last-write time of the key it changes.
struct Edit {
  enum Kind : uint8_t {
    CreateKey = 1,    // makes the missing keys of the path; each new key's parent counts as changed
    SetValue = 2,     // the key must exist
    DeleteValue = 3,  // the key and the value must exist
    DeleteKey = 4,    // removes the key with its subtree from its parent; both must exist
    ClearKey = 5,     // removes all values and subkeys of an existing key
  };
  Kind kind = CreateKey;
  std::vector<std::string> path;
  std::string name;  // the value's, for SetValue and DeleteValue
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Applies an edit as of `time`; false, with the hive unchanged, when it does not apply.
bool applyEdit(Key& root, const Edit& edit, uint64_t time);

// The check the first record of a version 2 file continues from.
uint32_t journalSeed(const uint8_t* header);

// Appends the record of one call's edits to `out`; `check` goes from the check before
// the record to the record's own.
void appendRecord(std::vector<uint8_t>& out, uint32_t& check, uint64_t time, const std::vector<Edit>& edits);

enum class JournalStatus {
  Complete,    // every byte belonged to a whole record
  Unfinished,  // whole records, then the beginning of one that was never completed
  Damaged,     // a whole record that does not check, is malformed or does not apply
};

// Applies the records in data[0, size) to `root`, in order. `consumed` is set to the
// bytes of the whole records applied and `check` follows them. When damaged, `root`
// may hold some of the records and is to be dropped.
JournalStatus replayJournal(const uint8_t* data, size_t size, uint32_t& check, Key& root, size_t& consumed);

}  // namespace platform::registry
