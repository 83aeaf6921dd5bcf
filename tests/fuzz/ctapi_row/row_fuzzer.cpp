// The reader scan turns two GET STATUS answers of a terminal into a row of the
// selection dialog. The input is split at its first byte into the units answer and
// the maker answer, each handed over with exactly its own length, so that the
// address sanitizer sees any read past what the terminal returned. Lengths that
// claim more than the bytes given are exercised through a stated length byte.
#include "cardaccess/scan/CwxReaderScan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t split = data[0] % size;
  std::vector<unsigned char> units(data + 1, data + 1 + (split > 0 ? split - 1 : 0));
  std::vector<unsigned char> maker(data + 1 + units.size(), data + size);
  char row[CwxReaderScan::kCTAPIRowLength];
  std::memset(row, 0x7F, sizeof row);
  formatCTAPIRow(1 + data[1] % 9, units.empty() ? nullptr : units.data(), static_cast<int>(units.size()),
                 maker.empty() ? nullptr : maker.data(), static_cast<int>(maker.size()), row);
  // A negative length must count as nothing returned.
  formatCTAPIRow(1, units.data(), -static_cast<int>(units.size()) - 1, maker.data(), -1, row);
  return 0;
}
