// Any bytes as the journal of a small hive. The input is a series of payloads, each a
// u16 length and its bytes, framed here with correct length words and checks so that
// the checks do not stop the reader early; what is left after the last whole payload
// is appended as it is, as a writer's unfinished or damaged last bytes. The reader
// refuses or accepts without fault, and what it accepts holds up:
// - the whole records alone read the same (the rest was unfinished),
// - read in two parts, as a process that saw the first part earlier reads it, the
//   records give the same hive,
// - the hive written again as one body reads the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "registry_hive.h"
#include "registry_journal.h"

namespace {

using namespace platform::registry;

std::vector<uint8_t> baseFile() {
  Key root;
  Key& vendor = root.addSubkey("Software").addSubkey("Vendor");
  vendor.setValue("Name", 1, {'Q', 0});
  vendor.addSubkey("Sub");
  std::vector<uint8_t> file;
  writeHive(root, file, kJournaledHiveVersion, 0x5EED);
  return file;
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> hiveOf(const Key& root) {
  std::vector<uint8_t> bytes;
  writeHive(root, bytes, kSavedHiveVersion, 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> base = baseFile();
  std::vector<uint8_t> file = base;
  uint32_t check = journalSeed(file.data());
  size_t at = 0;
  while (size - at >= 2) {
    const size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
    if (length > size - at - 2) break;
    const uint8_t* payload = data + at + 2;
    check = hiveCrc(check, payload, length);
    put32(file, static_cast<uint32_t>(length));
    put32(file, ~static_cast<uint32_t>(length));
    put32(file, check);
    file.insert(file.end(), payload, payload + length);
    at += 2 + length;
  }
  file.insert(file.end(), data + at, data + size);

  Key whole;
  HiveLayout layout;
  if (!parseHive(file.data(), file.size(), whole, &layout)) return 0;
  const std::vector<uint8_t> expected = hiveOf(whole);
  if (layout.validEnd > file.size() || layout.bodyEnd != base.size()) std::abort();

  Key prefix;
  HiveLayout prefixLayout;
  if (!parseHive(file.data(), layout.validEnd, prefix, &prefixLayout) || prefixLayout.validEnd != layout.validEnd ||
      prefixLayout.check != layout.check || hiveOf(prefix) != expected)
    std::abort();

  Key parts;
  HiveLayout start;
  if (!parseHive(base.data(), base.size(), parts, &start)) std::abort();
  uint32_t partsCheck = start.check;
  const size_t journal = file.size() - base.size();
  size_t first = 0, second = 0;
  if (replayJournal(file.data() + base.size(), journal / 2, partsCheck, parts, first) == JournalStatus::Damaged ||
      replayJournal(file.data() + base.size() + first, journal - first, partsCheck, parts, second) ==
          JournalStatus::Damaged ||
      base.size() + first + second != layout.validEnd || partsCheck != layout.check || hiveOf(parts) != expected)
    std::abort();

  std::vector<uint8_t> rewritten;
  writeHive(whole, rewritten, kJournaledHiveVersion, 1);
  Key again;
  if (!parseHive(rewritten.data(), rewritten.size(), again) || hiveOf(again) != expected) std::abort();
  return 0;
}
