// The archive container: stored ZIP entries read as three runs of records
// (local entries, central directory, end records) that must end exactly at EOF.
// The central directory must repeat the local entries and the end record must
// close it, so no two readers can see different archives in the same bytes.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

struct CrcTable {
  uint32_t values[256];
  CrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      values[n] = c;
    }
  }
};

uint32_t u16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t u32(const unsigned char* p) { return u16(p) | u16(p + 2) << 16; }

const uint32_t kLocalSignature = 0x04034B50u;
const uint32_t kCentralSignature = 0x02014B50u;
const uint32_t kEndSignature = 0x06054B50u;
const uint32_t kStored = 0;  // the only method the format allows

// A run goes on while more than 4 bytes remain and the next 4 are its signature.
bool runContinues(Blob file, uint64_t position, uint32_t signature) {
  return file.length - position > 4 && u32(file.data + position) == signature;
}

}  // namespace

uint32_t crc32Zip(const unsigned char* data, size_t length) {
  static const CrcTable table;
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = table.values[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

int readZipRuns(AllocList* list, Blob file, ZipEntry** entries) {
  *entries = nullptr;
  ZipEntry** tail = entries;
  const uint64_t size = file.length;
  uint64_t position = 0;
  uint64_t localCount = 0;

  while (runContinues(file, position, kLocalSignature)) {
    if (size - position < 30) return -1;
    const unsigned char* h = file.data + position;
    const uint32_t flags = u16(h + 6);
    const uint32_t crc = u32(h + 14);
    const uint64_t compressed = u32(h + 18);
    const uint64_t uncompressed = u32(h + 22);
    const uint64_t nameLength = u16(h + 26);
    const uint64_t extraLength = u16(h + 28);
    const bool descriptor = (flags & 0x0008) != 0;
    const uint64_t dataStart = position + 30 + nameLength + extraLength;
    const uint64_t dataEnd = dataStart + compressed;
    const uint64_t recordEnd = dataEnd + (descriptor ? 12 : 0);
    if (recordEnd > size) return -1;
    if (u16(h + 8) != kStored) return -1;
    if (descriptor) {
      if (u32(file.data + dataEnd + 4) != u32(file.data + dataEnd + 8)) return -1;
    } else if (compressed != uncompressed) {
      return -1;
    }
    if (crc32Zip(file.data + dataStart, static_cast<size_t>(compressed)) != crc) return -1;
    auto* entry = static_cast<ZipEntry*>(arcAlloc(list, sizeof(ZipEntry)));
    if (entry == nullptr) return -1;
    entry->name = makeBlob(h + 30, nameLength);
    entry->extra = makeBlob(h + 30 + nameLength, extraLength);
    entry->data = makeBlob(file.data + dataStart, compressed);
    entry->crc = crc;
    entry->offset = static_cast<uint32_t>(position);
    *tail = entry;
    tail = &entry->next;
    position = recordEnd;
    ++localCount;
  }

  // Each central entry must describe the local entry of the same rank: a reader
  // that trusts the directory (as ZIP tools do) then sees the entries we check.
  const uint64_t centralStart = position;
  const ZipEntry* local = *entries;
  uint64_t centralCount = 0;
  while (runContinues(file, position, kCentralSignature)) {
    if (size - position < 46) return -1;
    const unsigned char* h = file.data + position;
    const uint64_t nameLength = u16(h + 28);
    const uint64_t recordEnd = position + 46 + nameLength + u16(h + 30) + u16(h + 32);
    if (recordEnd > size) return -1;
    if (u32(h + 20) != u32(h + 24)) return -1;
    if (local == nullptr || u16(h + 10) != kStored || u32(h + 16) != local->crc || u32(h + 20) != local->data.length ||
        u32(h + 42) != local->offset || nameLength != local->name.length ||
        std::memcmp(h + 46, local->name.data, local->name.length) != 0) {
      return -1;
    }
    local = local->next;
    position = recordEnd;
    ++centralCount;
  }
  if (centralCount != localCount) return -1;

  // The end record closes the archive: without it (an archive cut after any
  // record) nothing loads. Its counts and directory place must be this directory's.
  bool ended = false;
  while (runContinues(file, position, kEndSignature)) {
    if (size - position < 22) return -1;
    const unsigned char* h = file.data + position;
    const uint64_t recordEnd = position + 22 + u16(h + 20);
    if (recordEnd > size) return -1;
    if (!ended && (u16(h + 8) != centralCount || u16(h + 10) != centralCount ||
                   u32(h + 12) != position - centralStart || u32(h + 16) != centralStart)) {
      return -1;
    }
    ended = true;
    position = recordEnd;
  }

  return ended && position == size ? 0 : -1;
}

void splitEntryName(Blob name, Blob* baseName, Blob* extension) {
  uint32_t start = 0;
  for (uint32_t i = 0; i < name.length; ++i) {
    if (name.data[i] == '/' || name.data[i] == '\\') start = i + 1;
  }
  uint32_t dot = start;
  while (dot < name.length && name.data[dot] != '.') ++dot;
  *baseName = makeBlob(name.data + start, dot - start);
  if (dot < name.length) *extension = makeBlob(name.data + dot + 1, name.length - dot - 1);
  else *extension = makeBlob(name.data + name.length, 0);
}
