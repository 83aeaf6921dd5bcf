// Reading messages from a stream: every byte is checked against the capacity,
// which is an exact-size heap block here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 16) return 0;
  // The first byte picks the capacity, so that small capacities are reached too.
  uint32_t capacity = 1 + data[0] % 64 * (data[0] >= 128 ? 64 : 1);
  auto* bytes = static_cast<uint8_t*>(std::malloc(size));
  std::memcpy(bytes, data, size);

  FILE* file = fmemopen(bytes + 1, size - 1, "rb");
  if (file != nullptr) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(capacity));
    uint32_t used = 0;
    for (int i = 0; i < 64 && berReadMessage(file, buffer, capacity, &used) == BER_OK; ++i) {
      if (used > capacity) std::abort();
      berCheckLengths(buffer, used);
    }
    std::rewind(file);
    if (capacity >= 6) berReadMessageHeaderFirst(file, buffer, capacity);
    std::free(buffer);
    std::fclose(file);
  }
  std::free(bytes);
  return 0;
}
