// First byte: 0 = the rest is an archive; 1 = the rest is a manifest text,
// 2 = a signature block, 3 = a certificate, each stored in an archive with
// correct CRCs and a matching central directory so that the fuzzer reaches past
// the ZIP checks.
#include "foundation/archive/ArchiveInternal.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

void put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// Stored entries with their central directory and end record, as the reader
// requires them to agree.
std::string zipOf(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string zip, central;
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(zip.size());
    const uint32_t crc = crc32Zip(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    const auto size = static_cast<uint32_t>(data.size());
    put32(zip, 0x04034B50);
    put16(zip, 10);
    put16(zip, 0);
    put16(zip, 0);
    put32(zip, 0);
    put32(zip, crc);
    put32(zip, size);
    put32(zip, size);
    put16(zip, static_cast<uint32_t>(name.size()));
    put16(zip, 0);
    zip += name;
    zip += data;
    put32(central, 0x02014B50);
    put16(central, 10);
    put16(central, 10);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, crc);
    put32(central, size);
    put32(central, size);
    put16(central, static_cast<uint32_t>(name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, offset);
    central += name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(zip.size());
  zip += central;
  put32(zip, 0x06054B50);
  put16(zip, 0);
  put16(zip, 0);
  put16(zip, static_cast<uint32_t>(entries.size()));
  put16(zip, static_cast<uint32_t>(entries.size()));
  put32(zip, static_cast<uint32_t>(central.size()));
  put32(zip, centralOffset);
  put16(zip, 0);
  return zip;
}

const char kManifest[] =
    "Manifest-Version: 2.0\r\n\r\nName: config:Quarvel\r\nSectionName: Quarvel\r\nKey: value\r\n\r\n";

void exercise(const std::string& bytes) {
  unsigned char key[1024];
  Blob rootKey = makeBlob(key, sizeof key);
  getArchiveRootKey(&rootKey);
  const char directory[] = "C:\\Quarvel";
  SignedArchive* archive =
      loadSignedArchive(makeBlob(bytes.data(), bytes.size()), makeBlob(directory, sizeof directory - 1),
                        makeBlob("", 0), makeBlob("", 0));
  if (archive == nullptr) {
    archive = loadSignedArchive(makeBlob(bytes.data(), bytes.size()), makeBlob(directory, sizeof directory - 1),
                                makeBlob("", 0), rootKey);
  }
  if (archive == nullptr) return;
  for (ManifestSection* s = archive->block->archive->sections; s != nullptr; s = s->next) {
    if (findSection(archive, s->name.length, reinterpret_cast<const char*>(s->name.data)) == nullptr) continue;
    AttributeIterator* it = getAttributes(s);
    Blob name, value;
    while (nextAttribute(it, &name, &value) == 0) {
    }
    freeAttributes(it);
  }
  releaseArchive(archive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string zip;
  switch (data[0] % 4) {
    case 0:
      exercise(rest);
      return 0;
    case 1:
      zip = zipOf({{"META-INF/MANIFEST.MF", rest}});
      break;
    case 2:
      zip = zipOf({{"META-INF/MANIFEST.MF", kManifest}, {"META-INF/SIGNER.DSA", rest}});
      break;
    default:
      zip = zipOf({{"META-INF/MANIFEST.MF", kManifest}, {"META-INF/ROOT.CER", rest}});
      break;
  }
  exercise(zip);
  // The grammar alone, over the raw bytes as a signer-info text.
  AllocList list{};
  CaptureList slots[kGrammarSlots];
  unsigned char rules[2048];
  Blob r = makeBlob(rules, sizeof rules);
  loadManifestGrammar(&r);
  matchGrammar(&list, r, makeBlob("<signer_info>", 13), makeBlob(rest.data(), rest.size()), slots, kGrammarSlots);
  arcFreeAll(&list);
  return 0;
}
